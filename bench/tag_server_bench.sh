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
#   HOST_BUILD   a built host tree (tools/corvane-tag, bench/tag-bench-image)
#   --seconds    length of each measurement (default 5; the large stub gets three times as
#                long, as one of its downloads takes seconds when 64 share the loopback)
#   --small-mb, --large-mb   the two stubs' sizes (default 1 and 175 MB)
#
# Reports requests per second, throughput, latency percentiles, and the
# server's memory: resident and anonymous memory sampled in the middle of each
# measurement, and its peak (VmHWM) per stub. Everything stays on 127.0.0.1
# and every measurement ends after its time. The report is printed as
# Markdown and written to HOST_BUILD/tag-server-bench/results.md.
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

[ $# -ge 1 ] || die "usage: tag_server_bench.sh HOST_BUILD [--seconds S] [--small-mb M] [--large-mb M] [--clients LIST]"
HOST=$(cd "$1" && pwd); shift
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SECONDS_EACH=5 SMALL_MB=1 LARGE_MB=175 CLIENTS="1 16 64"
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) SECONDS_EACH=${2:?--seconds needs a number}; shift 2;;
    --small-mb) SMALL_MB=${2:?--small-mb needs a number}; shift 2;;
    --large-mb) LARGE_MB=${2:?--large-mb needs a number}; shift 2;;
    --clients) CLIENTS=${2:?--clients needs a list}; shift 2;;
    *) die "unknown option '$1'";;
  esac
done
TAGGER="$HOST/tools/corvane-tag"
IMAGE_MAKER="$HOST/bench/tag-bench-image"
require_built "build the host tree first" "$TAGGER" "$IMAGE_MAKER"
require_installed wrk curl osslsigncode openssl

WORK="$HOST/tag-server-bench"
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"
SERVER=""
trap '[ -z "$SERVER" ] || { kill "$SERVER" 2>/dev/null; wait "$SERVER" 2>/dev/null; }; rm -f "$WORK"/*.exe' EXIT

TAG='appguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Benchmark Distributor&needsadmin=false&ap=bench'
# curl encodes the tag (the discard port on loopback refuses the connection).
ENCODED_TAG=$({ curl -s -o /dev/null -w '%{url_effective}' -G --data-urlencode "tag=$TAG" \
  "http://127.0.0.1:9/" || true; } | sed 's/^[^?]*?tag=//')
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 1 -subj "/CN=server benchmark" \
  -keyout key.pem -out cert.pem >/dev/null 2>&1

status_kb() { sed -n "s/^$1:[[:space:]]*\\([0-9]*\\) kB/\\1/p" "/proc/$SERVER/status"; }

# wrk's figures in fixed units: requests/s, MB/s, latency percentiles in ms.
parse_wrk() {
  awk '
    function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0;
                     if (v ~ /m$/) return v * 60000; if (v ~ /s$/) return v * 1000; return v }
    function mb(v) { if (v ~ /GB$/) return v * 1073.741824; if (v ~ /MB$/) return v * 1.048576;
                     if (v ~ /KB$/) return v * 0.001024; if (v ~ /B$/) return v / 1e6; return v }
    /^ +50%/ { p50 = ms($2) } /^ +90%/ { p90 = ms($2) } /^ +99%/ { p99 = ms($2) }
    /^Requests\/sec:/ { rps = $2 } /^Transfer\/sec:/ { tput = mb($2) }
    /Non-2xx or 3xx responses:/ { bad = $NF }
    /Socket errors:/ { errors = $0 }
    END { printf "%s %s %s %s %s %s\n", rps, tput, p50, p90, p99, (bad == "" ? 0 : bad) }
  ' "$1"
}

ROWS=()
measure() {  # stub label, mode, clients, url, seconds [wrk script]
  local label=$1 mode=$2 clients=$3 url=$4 seconds=$5 threads=$(( $3 < 2 ? 1 : 2 ))
  local script=()
  [ -z "${6:-}" ] || script=(-s "$6")
  say "$label, $mode, $clients client(s), $seconds s"
  wrk -t "$threads" -c "$clients" -d "${seconds}s" --timeout 120s --latency "${script[@]}" "$url" \
    > "wrk-$label-$mode-$clients.txt" 2>&1 &
  local client=$!
  sleep "$(awk -v s="$seconds" 'BEGIN { print s / 2 }')"
  local rss anon
  rss=$(status_kb VmRSS) anon=$(status_kb RssAnon)
  wait "$client"
  read -r rps tput p50 p90 p99 bad < <(parse_wrk "wrk-$label-$mode-$clients.txt")
  [ "${bad:-0}" = 0 ] || die "wrk saw $bad error responses (wrk-$label-$mode-$clients.txt)"
  ROWS+=("$label|$mode|$clients|$rps|$tput|$p50|$p90|$p99|$rss|$anon")
}

PEAKS=()
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
  PEAKS+=("$label|$bytes|$after_load|$(status_kb VmHWM)")
  kill "$SERVER"
  wait "$SERVER" 2>/dev/null || true
  SERVER=""
  rm -f "stub-$size.exe"
done

{
  printf '### corvane-tag serve: tagged downloads against the static ceiling (loopback, %s cores)\n\n' "$(nproc)"
  printf '"One tag": every download with the same tag; "a tag each": every download with a tag of its own, planned anew.\n\n'
  printf '| Stub | Clients | Tags | Static req/s | Tagged req/s | Static MB/s | Tagged MB/s | Tagged/static (req/s, MB/s) | Static p50 / p90 / p99 ms | Tagged p50 / p90 / p99 ms | Server RSS static / tagged (anon) kB |\n'
  printf '|---|---|---|---|---|---|---|---|---|---|---|\n'
  for row in "${ROWS[@]}"; do
    IFS='|' read -r label mode clients rps tput p50 p90 p99 rss anon <<<"$row"
    if [ "$mode" = static ]; then
      s_rps=$rps s_tput=$tput s_lat="$p50 / $p90 / $p99" s_mem="$rss ($anon)"
      continue
    fi
    tags="one tag"; [ "$mode" = fresh ] && tags="a tag each"
    awk -v l="$label" -v c="$clients" -v g="$tags" -v sr="$s_rps" -v tr="$rps" -v st="$s_tput" -v tt="$tput" \
      -v sl="$s_lat" -v p50="$p50" -v p90="$p90" -v p99="$p99" -v sm="$s_mem" -v tm="$rss ($anon)" \
      'BEGIN { printf "| %s | %s | %s | %.1f | %.1f | %.0f | %.0f | %.3f, %.3f | %s | %s / %s / %s | %s / %s |\n",
               l, c, g, sr, tr, st, tt, (sr > 0 ? tr / sr : 0), (st > 0 ? tt / st : 0), sl, p50, p90,
               p99, sm, tm }'
  done
  printf '\n| Stub | Bytes | Server peak after load (VmHWM) | Server peak after all runs (VmHWM) | Anonymous memory per added connection (tagged, fewest to most clients) |\n|---|---|---|---|---|\n'
  for peak in "${PEAKS[@]}"; do
    IFS='|' read -r label bytes loaded final <<<"$peak"
    # RssAnon of the tagged runs with the fewest and the most clients.
    per_connection=$(printf '%s\n' "${ROWS[@]}" | awk -F'|' -v l="$label" '
      $1 == l && $2 == "tagged" { a = $10; sub(/ .*/, "", a)
        if (lo == "" || $3 + 0 < lo) { lo = $3 + 0; lo_kb = a }
        if (hi == "" || $3 + 0 > hi) { hi = $3 + 0; hi_kb = a } }
      END { if (hi > lo) printf "%.1f kB", (hi_kb - lo_kb) / (hi - lo); else print "-" }')
    printf '| %s | %s | %s kB | %s kB | %s |\n' "$label" "$bytes" "$loaded" "$final" "$per_connection"
  done
} | tee results.md
