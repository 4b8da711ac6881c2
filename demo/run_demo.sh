#!/usr/bin/env bash
# Runs the stub built with the demo payload under Wine, then shows what its
# child received, the stub's exit code and that the work directory is gone.
# Called by ./build.sh demo, which builds everything and starts the wineserver.
set -euo pipefail
build=$1
stub="$build/app/CorvaneUpdateSetup.exe"
runner="$build/demo/run-and-report.exe"

bold() { printf '\033[1m%s\033[0m\n' "$*"; }
winpath() { winepath -w "$1" 2>/dev/null; }

record=$(mktemp)
trap 'rm -f "$record"' EXIT
export CORVANE_CHILD_RECORD
CORVANE_CHILD_RECORD=$(winpath "$record")

bold "Stub: $stub ($(stat -c %s "$stub") bytes, payload included)"
bold "Running it under Wine, without parameters (as a double-click does)..."
# The child inherits the runner's console: its own line comes first.
report=$(wine "$runner" "$(winpath "$stub")" | tr -d '\r')
exit_line=$(grep '^exit code' <<<"$report")

cmdline=$(tr -d '\r' < "$record" | head -n 1)
echo
bold "The child (setup.exe from the payload) received this command line:"
echo "  $cmdline"
echo
bold "The stub's $exit_line"

# The work directory is the folder of the program the stub started.
exe=${cmdline#\"}
exe=${exe%%.exe*}.exe
work_dir=${exe%\\*}
work_dir_unix=$(winepath -u "$work_dir" 2>/dev/null)
echo
if [ -e "$work_dir_unix" ]; then
  bold "Work directory $work_dir is still there:"
  ls -la "$work_dir_unix"
  exit 1
fi
bold "Work directory $work_dir is gone."
root_unix=$(dirname "$work_dir_unix")
leftovers=$(find "$root_unix" -maxdepth 1 \( -iname 'PKM*' -o -iname 'PKT*' \) 2>/dev/null | wc -l)
bold "PKM/PKT entries left in ${work_dir%\\*}: $leftovers"
[ "$leftovers" -eq 0 ]
