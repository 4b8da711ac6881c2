#!/usr/bin/env bash
# The tagging server's benchmark: `corvane-tag serve` on the loopback address
# sending tagged stubs, side by side in the same run with the same server
# sending the untagged stub as it is (a plain static file sent with sendfile:
# the ceiling), for a small stub and one of the shipped stub's size, to 1, 16
# and 64 concurrent clients (wrk, keep-alive). Tagged downloads are measured
# twice: all with one tag (planned once, then kept ready), and each with a tag
# of its own (bench/fresh_tag_requests.lua), which the server plans anew.
#
#   bench/tag_server_bench.sh HOST_BUILD [--seconds S] [--small-mb M] [--large-mb M]
#                                        [--clients "1 16 64"]
#
#   HOST_BUILD   a built host tree (tools/corvane-tag, bench/tag-bench-image,
#                bench/corvane-bench-stats)
#   --seconds    length of each measurement (default 5; the large stub gets three times as
#                long, as one of its downloads takes seconds when 64 share the loopback)
#   --small-mb, --large-mb   the two stubs' sizes (default 1 and 175 MB)
#
# Reports requests per second, throughput, latency percentiles, and the
# server's memory: resident and anonymous memory sampled in the middle of each
# measurement, and its peak (VmHWM) per stub. Everything stays on 127.0.0.1
# and every measurement ends after its time. The figures go to
# HOST_BUILD/tag-server-bench/measurements.txt beside wrk's outputs, from
# which corvane-bench-stats tag-server-report writes the report: printed as
# Markdown and written to HOST_BUILD/tag-server-bench/results.md.
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SECONDS_EACH=5 SMALL_MB=1 LARGE_MB=175 CLIENTS="1 16 64"
host_arguments "usage: tag_server_bench.sh HOST_BUILD [--seconds S] [--small-mb M] [--large-mb M] [--clients LIST]" \
  --seconds=SECONDS_EACH --small-mb=SMALL_MB --large-mb=LARGE_MB --clients=CLIENTS -- "$@"
require_built "build the host tree first" "$TAGGER" "$IMAGE_MAKER" "$STATS"
require_installed wrk curl osslsigncode openssl

WORK="$HOST/tag-server-bench"
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"
MEASUREMENTS="$WORK/measurements.txt"
record machine "cores=$(nproc)"
SERVER=""
trap '[ -z "$SERVER" ] || { kill "$SERVER" 2>/dev/null; wait "$SERVER" 2>/dev/null; }; rm -f "$WORK"/*.exe' EXIT

TAG='appguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Benchmark Distributor&needsadmin=false&ap=bench'
# curl encodes the tag (the discard port on loopback refuses the connection).
ENCODED_TAG=$({ curl -s -o /dev/null -w '%{url_effective}' -G --data-urlencode "tag=$TAG" \
  "http://127.0.0.1:9/" || true; } | sed 's/^[^?]*?tag=//')
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 1 -subj "/CN=server benchmark" \
  -keyout key.pem -out cert.pem >/dev/null 2>&1

status_kb() { sed -n "s/^$1:[[:space:]]*\\([0-9]*\\) kB/\\1/p" "/proc/$SERVER/status"; }

measure() {  # stub label, mode, clients, url, seconds [wrk script]
  local label=$1 mode=$2 clients=$3 url=$4 seconds=$5 threads=$(( $3 < 2 ? 1 : 2 ))
  local script=() out="wrk-$label-$mode-$clients.txt"
  [ -z "${6:-}" ] || script=(-s "$6")
  say "$label, $mode, $clients client(s), $seconds s"
  wrk -t "$threads" -c "$clients" -d "${seconds}s" --timeout 120s --latency "${script[@]}" "$url" \
    > "$out" 2>&1 &
  local client=$!
  # The server's memory halfway through.
  sleep "$((seconds / 2)).$((seconds % 2 * 5))"
  local rss anon
  rss=$(status_kb VmRSS) anon=$(status_kb RssAnon)
  wait "$client"
  # wrk says so only when a response was not a success.
  local bad
  bad=$(sed -n 's/.*Non-2xx or 3xx responses: *//p' "$out")
  [ "${bad:-0}" = 0 ] || die "wrk saw $bad error responses ($out)"
  record "run/${label// /}-$mode-$clients" "stub=$label" "mode=$mode" "clients=$clients" \
    "wrk=$out" "rss_kb=$rss" "anon_kb=$anon"
}

for size in "$SMALL_MB" "$LARGE_MB"; do
  label="${size} MB"
  say "signing a $size MB stub"
  "$IMAGE_MAKER" "unsigned-$size.exe" "$size"
  osslsigncode sign -h sha256 -certs cert.pem -key key.pem -in "unsigned-$size.exe" \
    -out "stub-$size.exe" >/dev/null
  rm "unsigned-$size.exe"
  bytes=$(stat -c %s "stub-$size.exe")
  "$TAGGER" serve --stub "stub-$size.exe" --listen 127.0.0.1:0 --max-connections-per-client 0 \
    --access-log "access-$size.log" 2> "server-$size.err" &
  SERVER=$!
  port=$("$ROOT/tools/tag_server/served_port.sh" "server-$size.err")
  static_url="http://127.0.0.1:$port/CorvaneUpdateSetup.exe"
  tagged_url="http://127.0.0.1:$port/CorvaneUpdateSetup-ACS219.exe?tag=$ENCODED_TAG"
  # The stub in the page cache, and the tag's plan made, before measuring.
  curl -s -o /dev/null "$static_url"
  curl -s -o tagged.bin "$tagged_url"
  "$TAGGER" set "stub-$size.exe" "$TAG" -o expected.exe >/dev/null
  cmp -s tagged.bin expected.exe || die "the tagged download differs from corvane-tag set"
  rm -f tagged.bin expected.exe
  after_load=$(status_kb VmHWM)
  seconds=$SECONDS_EACH
  [ "$size" = "$LARGE_MB" ] && seconds=$((SECONDS_EACH * 3))
  for clients in $CLIENTS; do
    measure "$label" static "$clients" "$static_url" "$seconds"
    measure "$label" tagged "$clients" "$tagged_url" "$seconds"
    measure "$label" fresh "$clients" "$tagged_url" "$seconds" "$ROOT/bench/fresh_tag_requests.lua"
  done
  record "stub/${size}MB" "stub=$label" "bytes=$bytes" "peak_after_load_kb=$after_load" \
    "peak_after_all_kb=$(status_kb VmHWM)"
  kill "$SERVER"
  wait "$SERVER" 2>/dev/null || true
  SERVER=""
  rm -f "stub-$size.exe"
done

"$STATS" tag-server-report "$MEASUREMENTS" | tee results.md
