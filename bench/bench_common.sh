# Sourced by the benchmark scripts: their messages, named after the script,
# and the checks each makes before it starts.

BENCH_SCRIPT=$(basename "$0")
die() { printf '%s: %s\n' "$BENCH_SCRIPT" "$*" >&2; exit 1; }
say() { printf '\033[1m--> %s\033[0m\n' "$*" >&2; }

# Each argument a program of a build tree; `hint` says how to build it.
require_built() {
  local hint=$1 tool; shift
  for tool; do [ -x "$tool" ] || die "$tool is missing; $hint"; done
}

# Each argument a program the set-up installs (./build.sh setup).
require_installed() {
  local program
  for program; do
    command -v "$program" >/dev/null || die "$program is not installed (./build.sh setup installs it)"
  done
}

# The raw measurements a report is written from (corvane-bench-stats), one
# figure a line: "SERIES KEY=VALUE". The script names its file in MEASUREMENTS.
# record SERIES KEY=VALUE...: figures the script took or knows itself.
record() {
  local series=$1 figure; shift
  for figure; do printf '%s %s\n' "$series" "$figure"; done >> "$MEASUREMENTS"
}
# record_output SERIES: the key=value lines of a measuring program's output,
# on stdin.
record_output() { tr -d '\r' | sed -n "s|^[A-Za-z0-9_]*=|$1 &|p" >> "$MEASUREMENTS"; }
