#!/bin/sh
# Runs a Windows program under Wine in the build tree's own prefix (the emulator
# CTest uses for every Windows test).
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/../build/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Where 32-bit programs run under QEMU, the fixes that build.sh set-up built
# (see tests/emulation/qemu_wine_fixups.c).
fixups="$here/../.cache/qemu-wine-fixups"
if [ -z "${QEMU_SET_ENV:-}" ] && [ -f "$fixups/lib/i386-linux-gnu/qemu_wine_fixups.so" ] &&
   grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
  export QEMU_SET_ENV="LD_PRELOAD=$(cd "$fixups" && pwd)/\$LIB/qemu_wine_fixups.so"
fi
exec wine "$@"
