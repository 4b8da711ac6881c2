#!/bin/sh
# Runs a Windows program under Wine in the build tree's own prefix (the emulator
# CTest uses for every Windows test).
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/../build/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# A 64-bit program (machine 0x8664 in its PE header) goes straight to Wine's
# 64-bit loader: `wine` is the 32-bit one, which on a kernel without 32-bit
# support runs only under an emulator, and would hand the program over anyway.
loader=wine
if [ -f "$1" ]; then
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  machine=$(od -An -tx1 -j"$((${pe:-0} + 4))" -N2 "$1" 2>/dev/null | tr -d ' ')
  [ "$machine" = 6486 ] && loader=${WINE64_LOADER:-/usr/lib/wine/wine64}
fi
exec "$loader" "$@"
