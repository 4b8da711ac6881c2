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

MB=175 STUBS=10 RUNS=3
host_arguments "usage: tag_bench.sh HOST_BUILD [--mb M] [--stubs N] [--runs R]" \
  --mb=MB --stubs=STUBS --runs=RUNS -- "$@"
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

# Nanoseconds that running "$@" takes.
nanoseconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo $((end - start))
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
# Each run's nanoseconds as corvane-bench-stats tag-report takes them: the
# measure's name is its option.
measured=()
for measure in copies set_many set_each; do
  say "$measure: $STUBS files of $SIZE bytes, $RUNS runs"
  for _ in $(seq 1 "$RUNS"); do
    rm -f out/*
    measured+=("--${measure//_/-}" "$(nanoseconds "$measure")")
  done
done
rm -f out/*

"$STATS" tag-report --stubs "$STUBS" --size "$SIZE" --runs "$RUNS" "${measured[@]}" | tee results.md
