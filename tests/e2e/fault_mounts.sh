#!/bin/sh
# Runs the fault suites of the end-to-end tests, each on a work root prepared
# for it: Wine runs the stub as an administrator, whose work directories go to
# the Windows folder's SystemTemp when it exists, else to Program Files'
# CorvaneSoftware\Temp. Mounting needs root; without it the suites skip and say
# why.
#
#   fault_mounts.sh WINE_RUN TEST_PROGRAM PROGRAM_FILES
#
# PROGRAM_FILES is the folder the stub sees as Program Files: "Program Files
# (x86)" for a 32-bit stub, "Program Files" for a 64-bit one.
set -u
run=$1
program=$2
program_files=$3
here=$(cd "$(dirname "$0")" && pwd)
prefix=${WINEPREFIX:-$here/../../build/wine}
system_temp="$prefix/drive_c/windows/SystemTemp"
program_temp="$prefix/drive_c/$program_files/CorvaneSoftware/Temp"

cleanup() {
  umount "$system_temp" 2>/dev/null
  umount "$program_temp" 2>/dev/null
  rmdir "$system_temp" 2>/dev/null
}
trap cleanup EXIT INT TERM

if [ "$(id -u)" != 0 ] || ! mkdir -p "$system_temp" "$program_temp" ||
   ! mount -t tmpfs -o size=1m tmpfs "$system_temp"; then
  echo "fault_mounts.sh: cannot mount file systems here (needs root); the fault suites skip"
  exec "$run" "$program"
fi
umount "$system_temp"

status=0
# CASE FILTER: one suite with CORVANE_FAULT_ROOT naming how its root was prepared.
suite() {
  echo "== $1 work root"
  CORVANE_FAULT_ROOT=$1 "$run" "$program" --gtest_filter="$2" || status=1
}

# A small file system that the tests fill up to the byte count they need.
mount -t tmpfs -o size=48m tmpfs "$system_temp"
suite small 'SmallWorkRoot.*'
umount "$system_temp"

# Nearly every name the platform could give the work directory and the tar
# file is taken by an empty file: all but PKM8000 to PKM80ff and PKT8000 to
# PKT80ff (Wine's temporary names: prefix, hex number 1 to ffff without
# leading zeros, ".tmp").
mount -t tmpfs -o size=64m tmpfs "$system_temp"
( cd "$system_temp" &&
  for prefix in PKM PKT; do
    printf "$prefix%x.tmp\n" $(seq 1 32767) $(seq 33024 65535) | xargs touch
  done )
suite squatted 'SquattedWorkRoot.*'
umount "$system_temp"

# Only the first administrator root is read-only; the second can be written.
mount -t tmpfs -o ro,size=1m tmpfs "$system_temp"
suite system-temp-read-only 'ReadOnlySystemTemp.*'
umount "$system_temp"

# Neither administrator root can be written.
mount -t tmpfs -o ro,size=1m tmpfs "$system_temp"
mount -t tmpfs -o ro,size=1m tmpfs "$program_temp"
suite read-only 'ReadOnlyWorkRoot.*'
umount "$program_temp"
umount "$system_temp"

exit $status
