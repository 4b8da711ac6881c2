#!/usr/bin/env bash
# How large a payload the 32-bit (or 64-bit) stub can unpack before its
# allocations fail, with and without large-address awareness. ./build.sh
# bench-limit builds the presets, starts the wineserver and calls
#
#   bench/payload_limit.sh BUILD [--arch x86|x64] [--resources "MB ..."] [--step MB]
#
#   --arch        x86: the 32-bit stub (default); x64: the 64-bit stub, with the
#                 windows-x64 preset's toolchain, run natively by Wine's 64-bit
#                 loader
#   --resources   payload resource sizes to try, in MB (default 1 256 512 768 1024 1280)
#   --step        precision of the search for the largest decoded block (default 32 MB)
#
# A run holds at once the image, which carries the payload resource, and the
# decoded block, one contiguous allocation about the size of the tar image
# (the LZMA dictionary is that block itself; the rest is a few MiB). So for each
# resource size R the stub is built around a payload of R MB (an LZMA-alone
# header, then random bytes), and the header's decoded size is raised until
# the stub logs the block's allocation as failed ("DecodePayloadToSink failed
# status:N", out of memory) instead of failing on the random data after it. A
# stub whose image does not load at all does not start. Each run is the real
# stub under Wine, in a Wine prefix of its own that logs to a file.
#
# A real payload of tar size T whose resource is R fits when R is at most a
# loadable resource and T at most the largest block for that R; the report
# prints both, per R, for the image as linked (large-address aware) and with
# that flag cleared. The container's sizes are 32-bit: a decoded block claims
# at most 4 GiB - 1 byte, which the search reports as "4096 MiB" when even that
# allocates (the 64-bit stub's bound).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

[ $# -ge 1 ] || die "usage: payload_limit.sh BUILD [--arch x86|x64] [--resources \"MB ...\"] [--step MB]"
BUILD=$(cd "$1" && pwd); shift
RESOURCES="1 256 512 768 1024 1280" STEP=32 ARCH=x86
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) ARCH=${2:?--arch needs x86 or x64}; shift 2;;
    --resources) RESOURCES=${2:?--resources needs a list}; shift 2;;
    --step) STEP=${2:?--step needs a number}; shift 2;;
    *) die "unknown option '$1'";;
  esac
done

case "$ARCH" in
  x86) WINDOWS="$BUILD/windows" OUT="$BUILD/bench/limit" TOOLCHAIN=mingw-i686 LOADER=wine;;
  x64) WINDOWS="$BUILD/windows-x64" OUT="$BUILD/bench/limit-x64" TOOLCHAIN=mingw-x86_64
       LOADER=${WINE64_LOADER:-/usr/lib/wine/wine64};;
  *) die "--arch takes x86 or x64";;
esac
HOST="$BUILD/host"
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$WINDOWS/CMakeCache.txt" 2>/dev/null; }
SDK_DIR=$(cache_value CORVANE_LZMA_SDK_DIR)
[ -f "$SDK_DIR/LzmaDec.c" ] || die "no LZMA SDK in the Windows build's cache; build the windows preset first"
RUNNER="$WINDOWS/bench/bench-run.exe"
[ -f "$RUNNER" ] || die "$RUNNER is missing; build the windows preset first"
mkdir -p "$OUT"
PAYLOAD="$OUT/payload.bin" STUB_DIR="$OUT/win"

# A prefix of its own, so that the logging switch set here reaches no other run.
export WINEPREFIX="$OUT/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  say "copying the Wine prefix"
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"; cp -a "${BUILD}/wine" "$WINEPREFIX"
fi
printf '[LoggingSettings]\r\nEnableLogging=1\r\nLogToFile=1\r\nLogToOutputDebug=0\r\nAppendToFile=0\r\nLogFileWide=0\r\n' \
  > "$WINEPREFIX/drive_c/CorvaneUpdate.ini"
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
winpath() { winepath -w "$1" 2>/dev/null; }

cmake -S "$ROOT" -B "$STUB_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$TOOLCHAIN.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCORVANE_LZMA_SDK_DIR="$SDK_DIR" -DCORVANE_HOST_TOOLS_DIR="$HOST/tools" \
  -DCORVANE_BENCH_PAYLOAD="$PAYLOAD" > "$OUT/configure.log" 2>&1 ||
  { cat "$OUT/configure.log" >&2; die "configuring $STUB_DIR failed"; }
STUB="$STUB_DIR/bench/CorvaneUpdateSetup.exe"

put_le32() {  # FILE OFFSET VALUE
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($3 & 255)) $(($3 >> 8 & 255)) \
    $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
le16() { od -An -tu2 -j "$2" -N2 --endian=little "$1" | tr -d ' '; }
le32() { od -An -tu4 -j "$2" -N4 --endian=little "$1" | tr -d ' '; }

# Large-address awareness is bit 0x20 of the file header's Characteristics.
set_large_address_aware() {  # 1 or 0
  local pe; pe=$(le32 "$STUB" 60)
  local at=$((pe + 4 + 18)) c; c=$(le16 "$STUB" "$at")
  if [ "$1" = 1 ]; then c=$((c | 0x20)); else c=$((c & ~0x20 & 0xFFFF)); fi
  printf "$(printf '\\x%02x\\x%02x' $((c & 255)) $((c >> 8)))" |
    dd of="$STUB" bs=1 seek="$at" conv=notrunc status=none
}

LOG="$WINEPREFIX/drive_c/ProgramData/CorvaneSoftware/Update/Log/CorvaneUpdate.log"
# probe MB: runs the stub with a decoded size of MB MiB; prints "started",
# "oom" (the block's allocation failed), "allocated" (it failed after) or
# "no-start" (the image did not load).
probe() {
  put_le32 "$STUB" $((HEADER_AT + 5)) $(( $1 >= 4096 ? 0xFFFFFFFF : $1 * 1048576 ))
  rm -f "$LOG"
  local result
  result=$("$LOADER" "$RUNNER" "$(winpath "$STUB")" 2>&1 | tr -d '\r') || true
  if ! grep -q '^exit_code=' <<<"$result"; then echo no-start; return; fi
  [ -f "$LOG" ] || { echo "unknown"; return; }
  if grep -q 'DecodePayloadToSink failed status:[0-9]* err:8' "$LOG"; then echo oom
  elif grep -q 'DecodePayloadToSink failed' "$LOG"; then echo allocated
  else echo "unknown"; fi
}

# The largest decoded size, in MiB (a multiple of STEP), that allocates;
# 4096 when the most the container can claim does.
largest_block() {
  local low=0 high=4096 mid outcome
  outcome=$(probe 1)
  [ "$outcome" = allocated ] || { echo "$outcome"; return; }
  [ "$(probe 4096)" = allocated ] && { echo 4096; return; }
  while [ $((high - low)) -gt "$STEP" ]; do
    mid=$(( (low + high) / 2 / STEP * STEP )); [ "$mid" -gt "$low" ] || mid=$((low + STEP))
    outcome=$(probe "$mid")
    case "$outcome" in
      allocated) low=$mid;;
      oom) high=$mid;;
      *) echo "$outcome"; return;;
    esac
  done
  echo "$low"
}

REPORT="$OUT/results.md"
shown() {
  case "$1" in
    4096) echo "4 GiB - 1 byte, the most the container claims";;
    [0-9]*) echo "$1 MiB";;
    no-start) echo "the image does not load";;
    *) echo "$1";;
  esac
}
MARKER="payload-limit-probe:"
{
  echo "# The largest payload the $ARCH stub unpacks"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(wine --version). The real $ARCH stub under Wine, one run per probe;" \
       "a block size is found to within $STEP MiB."
  echo
  echo "| Payload resource | Largest decoded block, large-address aware | Largest decoded block, not large-address aware |"
  echo "|---|---|---|"
} > "$REPORT"
for mb in $RESOURCES; do
  say "stub with a $mb MB payload resource"
  # Header: lc 3, lp 0, pb 2; an 8 MiB dictionary; the decoded size is patched.
  # A marker after it finds it in the image (and is no LZMA stream's start).
  { printf '\x5d\x00\x00\x80\x00\x00\x00\x00\x00\x00\x00\x00\x00%s' "$MARKER"
    head -c $((mb * 1000000 - 13 - ${#MARKER})) /dev/urandom; } > "$PAYLOAD"
  cmake --build "$STUB_DIR" --target bench_stub > "$OUT/build.log" 2>&1 ||
    { tail -n 30 "$OUT/build.log" >&2; die "building the stub around $mb MB failed"; }
  HEADER_AT=$(LC_ALL=C grep -obUaF -m1 "$MARKER" "$STUB" | head -n 1 | cut -d: -f1)
  [ -n "$HEADER_AT" ] || die "cannot find the payload in the stub"
  HEADER_AT=$((HEADER_AT - 13))
  set_large_address_aware 1; aware=$(largest_block)
  set_large_address_aware 0; unaware=$(largest_block)
  say "$mb MB: $(shown "$aware") (large-address aware), $(shown "$unaware") (not)"
  echo "| $mb MB | $(shown "$aware") | $(shown "$unaware") |" >> "$REPORT"
done
cat "$REPORT"
say "written to $REPORT"
