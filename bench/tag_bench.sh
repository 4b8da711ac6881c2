#!/usr/bin/env bash
# The tagging benchmark: how many tagged stubs `corvane-tag set-many` writes per
# second from one signed stub of the shipped stub's size, against a plain copy
# of the same file (the disk's write speed) and `corvane-tag set` run per stub.
#
#   bench/tag_bench.sh HOST_BUILD [--mb M] [--stubs N] [--runs R]
#
#   HOST_BUILD   a built host tree (corvane-tag, bench/tag-bench-image)
#   --mb         size of the signed stub (default 175 MB)
#   --stubs      stubs written per measurement (default 10)
#   --runs       runs per measurement; the median is reported (default 3)
#
# Every file written is synced to disk before the next one, as corvane-tag
# does and as the copies here do. The report is printed as Markdown and
# written to HOST_BUILD/tag-bench/results.md.
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

[ $# -ge 1 ] || die "usage: tag_bench.sh HOST_BUILD [--mb M] [--stubs N] [--runs R]"
HOST=$(cd "$1" && pwd); shift
MB=175 STUBS=10 RUNS=3
while [ $# -gt 0 ]; do
  case "$1" in
    --mb) MB=${2:?--mb needs a number}; shift 2;;
    --stubs) STUBS=${2:?--stubs needs a number}; shift 2;;
    --runs) RUNS=${2:?--runs needs a number}; shift 2;;
    *) die "unknown option '$1'";;
  esac
done
TAGGER="$HOST/tools/corvane-tag"
IMAGE_MAKER="$HOST/bench/tag-bench-image"
STATS="$HOST/bench/corvane-bench-stats"
require_built "build the host tree first" "$TAGGER" "$IMAGE_MAKER" "$STATS"
require_installed osslsigncode

WORK="$HOST/tag-bench"
rm -rf "$WORK"
mkdir -p "$WORK/out"
cd "$WORK"

say "signing a $MB MB image with a throwaway certificate"
"$IMAGE_MAKER" unsigned.exe "$MB"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 1 -subj "/CN=tagging benchmark" \
  -keyout key.pem -out cert.pem >/dev/null 2>&1
osslsigncode sign -h sha256 -certs cert.pem -key key.pem -in unsigned.exe -out signed.exe >/dev/null
rm unsigned.exe
SIZE=$(stat -c %s signed.exe)
for i in $(seq 1 "$STUBS"); do
  printf 'CorvaneUpdateSetup-%03d.exe\tappguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Distributor%03d&needsadmin=false&ap=bench\n' "$i" "$i"
done > tags.txt

# Seconds (3 decimals) that running "$@" takes.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e9 }'
}

copies() {
  local i
  for i in $(seq 1 "$STUBS"); do dd if=signed.exe of="out/copy-$i.exe" bs=4M conv=fsync status=none; done
}
set_many() { "$TAGGER" set-many signed.exe tags.txt -o out; }
set_each() {
  local name tag
  while IFS=$'\t' read -r name tag; do "$TAGGER" set signed.exe "$tag" -o "out/$name"; done < tags.txt
}

# Warm the page cache so that every measurement reads the stub from memory.
cat signed.exe >/dev/null
declare -A results
for measure in copies set_many set_each; do
  say "$measure: $STUBS files of $SIZE bytes, $RUNS runs"
  times=()
  for _ in $(seq 1 "$RUNS"); do
    rm -f out/*
    times+=("$(seconds "$measure")")
  done
  results[$measure]=$("$STATS" median --decimals 3 "${times[@]}")
done
rm -f out/*

row() {  # name, seconds
  awk -v name="$1" -v s="$2" -v n="$STUBS" -v size="$SIZE" \
    'BEGIN { printf "| %s | %.2f s | %.2f | %.0f |\n", name, s, n / s, n * size / 1e6 / s }'
}
{
  printf '### Tagging: %s stubs from one signed stub of %s bytes (median of %s runs)\n\n' "$STUBS" "$SIZE" "$RUNS"
  printf '| Measure | Time | Files per second | MB/s written |\n|---|---|---|---|\n'
  row "plain copy (dd, synced), the disk's write speed" "${results[copies]}"
  row "corvane-tag set-many" "${results[set_many]}"
  row "corvane-tag set, once per stub" "${results[set_each]}"
} | tee results.md
