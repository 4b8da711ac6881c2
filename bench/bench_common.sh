# Sourced by the benchmark scripts: their messages, named after the script,
# and the checks each makes before it starts.

BENCH_SCRIPT=$(basename "$0")
die() { printf '%s: %s\n' "$BENCH_SCRIPT" "$*" >&2; exit 1; }
say() { printf '\033[1m--> %s\033[0m\n' "$*" >&2; }

# host_arguments USAGE --NAME=VARIABLE... -- ARGUMENT...: the command line of
# a benchmark of the host tree, HOST_BUILD [--NAME VALUE]...: HOST and the
# paths of its programs (host_programs) from the first argument, and each
# option's VALUE into its VARIABLE. Dies with USAGE when HOST_BUILD is missing.
host_arguments() {
  local usage=$1; shift
  local -A variable_of
  while [ "$1" != -- ]; do variable_of[${1%%=*}]=${1#*=}; shift; done
  shift
  [ $# -ge 1 ] || die "$usage"
  HOST=$(cd "$1" && pwd); shift
  host_programs "$HOST"
  while [ $# -gt 0 ]; do
    [ -n "${variable_of[$1]:-}" ] || die "unknown option '$1'"
    [ $# -ge 2 ] || die "$1 needs a value"
    printf -v "${variable_of[$1]}" '%s' "$2"
    shift 2
  done
}

# The programs of the built host tree HOST that the benchmarks run.
host_programs() {
  PACKER="$1/tools/corvane-pack" TAGGER="$1/tools/corvane-tag"
  GENERATOR="$1/bench/corvane-bench-payload" IMAGE_MAKER="$1/bench/tag-bench-image"
  STATS="$1/bench/corvane-bench-stats"
}

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
