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
