#!/usr/bin/env bash
# The packing benchmark: corvane-pack on a payload shaped like the shipped one
# (the whole-run benchmark's generator), with the LZMA encoder on one thread
# and with its match finder on a second one; checks that both give the same
# payload bytes.
#
#   bench/pack_bench.sh HOST_BUILD [--mb M] [--files N] [--runs R]
#
#   HOST_BUILD   a built host tree (corvane-pack, bench/corvane-bench-payload)
#   --mb, --files size and file count of the payload (default 175 MB, 73 files)
#   --runs       runs per thread count, interleaved; the median is reported (default 1)
#
# The report is printed as Markdown and written to HOST_BUILD/pack-bench/results.md.
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

MB=175 FILES=73 RUNS=1
host_arguments "usage: pack_bench.sh HOST_BUILD [--mb M] [--files N] [--runs R]" \
  --mb=MB --files=FILES --runs=RUNS -- "$@"
require_built "build the host tree first" "$PACKER" "$GENERATOR" "$STATS"

WORK="$HOST/pack-bench"
rm -rf "$WORK"
mkdir -p "$WORK"
# Any program stands in for the child: only its bytes are packed.
pe=$(dpkg -L libwine:i386 2>/dev/null | grep -m1 '/i386-windows/kernel32\.dll$' || true)
child=${pe:-$PACKER}
say "generating $MB MB in $FILES files"
"$GENERATOR" --out "$WORK/files" --child "$child" ${pe:+--pe-dir "$(dirname "$pe")"} \
  --mb "$MB" --files "$FILES" --seed 20240917 >&2

now_ns() { date +%s%N; }
# Each run's milliseconds as corvane-bench-stats pack-report takes them.
times=()
for run in $(seq "$RUNS"); do
  for threads in 1 2; do
    say "packing with $threads thread(s), run $run of $RUNS"
    start=$(now_ns)
    "$PACKER" pack "$WORK/files" -o "$WORK/payload-$threads.bin" --threads "$threads" >/dev/null
    [ "$threads" = 1 ] && option=--one || option=--two
    times+=("$option" "$(( ($(now_ns) - start) / 1000000 ))")
  done
done
cmp -s "$WORK/payload-1.bin" "$WORK/payload-2.bin" && same="yes" || same="no"
"$STATS" pack-report --mb "$MB" --files "$FILES" --runs "$RUNS" --cores "$(nproc)" \
  --bytes "$(stat -c %s "$WORK/payload-2.bin")" --same "$same" "${times[@]}" |
  tee "$WORK/results.md"
[ "$same" = yes ] || die "the payload differs between thread counts"
