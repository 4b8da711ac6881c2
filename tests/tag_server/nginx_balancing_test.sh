#!/usr/bin/env bash
# Two corvane-tag serve instances behind nginx on the loopback address, nginx
# balancing between them and caching responses by the full URL: both
# instances serve, each download is what `corvane-tag set` writes, and a
# repeated download is a cache hit with identical bytes that reaches neither
# instance. Shows that the server keeps no state a balancer or CDN must know.
#
#   nginx_balancing_test.sh CORVANE_TAG TAG_BENCH_IMAGE
set -euo pipefail

TAGGER=$(realpath "$1") IMAGE_MAKER=$(realpath "$2")
SOURCE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$NGINX" ] || { echo "nginx is not installed (./build.sh setup installs it)" >&2; exit 1; }

WORK=$(mktemp -d -t corvane-tag-nginx-XXXXXX)
PIDS=()
cleanup() {
  local pid
  if [ -s "$WORK/nginx.pid" ]; then kill "$(cat "$WORK/nginx.pid")" 2>/dev/null || true; fi
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

passed=0 failed=0
check() {  # description, then a command that succeeds when the check holds
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what" >&2; fi
}

cd "$WORK"
"$IMAGE_MAKER" unsigned.exe 1
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 1 -subj "/CN=balancing test" \
  -keyout key.pem -out cert.pem >/dev/null 2>&1
osslsigncode sign -h sha256 -certs cert.pem -key key.pem -in unsigned.exe -out signed.exe >/dev/null

# Each instance takes a free port and says which. (Started here, not in a
# command substitution, so that cleanup knows their process ids.)
for n in 1 2; do
  "$TAGGER" serve --stub signed.exe --listen 127.0.0.1:0 >"instance$n.log" 2>"instance$n.err" &
  PIDS+=($!)
done
PORT1=$("$SOURCE/../../tools/tag_server/served_port.sh" instance1.err)
PORT2=$("$SOURCE/../../tools/tag_server/served_port.sh" instance2.err)

mkdir -p cache temp
user_line=""
[ "$(id -u)" = 0 ] && user_line="user root root;"
start_nginx() {  # port
  cat > nginx.conf <<CONF
$user_line
daemon off;
worker_processes 1;
pid $WORK/nginx.pid;
error_log $WORK/error.log;
events { worker_connections 128; }
http {
  access_log $WORK/access.log;
  client_body_temp_path $WORK/temp/body;
  proxy_temp_path $WORK/temp/proxy;
  fastcgi_temp_path $WORK/temp/fastcgi;
  uwsgi_temp_path $WORK/temp/uwsgi;
  scgi_temp_path $WORK/temp/scgi;
  proxy_cache_path $WORK/cache levels=1:2 keys_zone=stubs:1m max_size=200m inactive=10m
                   use_temp_path=off;
  upstream taggers {
    server 127.0.0.1:$PORT1;
    server 127.0.0.1:$PORT2;
  }
  server {
    listen 127.0.0.1:$1;
    location / {
      proxy_pass http://taggers;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_cache stubs;
      proxy_cache_key \$scheme\$proxy_host\$request_uri;
      proxy_cache_valid 200 10m;
      add_header X-Cache-Status \$upstream_cache_status always;
      add_header X-Upstream \$upstream_addr always;
    }
  }
}
CONF
  "$NGINX" -p "$WORK" -c "$WORK/nginx.conf" 2>>error.log &
  PIDS+=($!)
  local i
  for i in $(seq 1 50); do
    curl -s -o /dev/null "http://127.0.0.1:$1/" && return 0
    kill -0 "${PIDS[-1]}" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
NGINX_PORT=""
for try in 1 2 3 4 5 6 7 8; do
  port=$((20000 + (RANDOM * 7 + try) % 40000))
  if start_nginx "$port"; then NGINX_PORT=$port; break; fi
done
[ -n "$NGINX_PORT" ] || { cat error.log >&2; echo "nginx did not start" >&2; exit 1; }

fetch() {  # tag, output file; headers in OUTPUT.headers
  curl -s -G --data-urlencode "tag=$1" -D "$2.headers" -o "$2" \
    "http://127.0.0.1:$NGINX_PORT/CorvaneUpdateSetup-ACS219.exe"
}
field() { sed -n "s/^$1: \\(.*\\)\\r\$/\\1/Ip" "$2" | tail -n 1; }
status() { sed -n '1s/^HTTP\/[0-9.]* \([0-9]*\).*/\1/p' "$1"; }
served_by() { wc -l < "instance$1.log"; }

tags=()
for n in 1 2 3 4; do
  tags+=("appguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Distributor $n&needsadmin=false")
done
upstreams=""
for n in 1 2 3 4; do
  tag=${tags[$((n - 1))]}
  "$TAGGER" set signed.exe "$tag" -o "expected$n.exe" >/dev/null
  fetch "$tag" "first$n.exe"
  check "download $n: 200" [ "$(status "first$n.exe.headers")" = 200 ]
  check "download $n: a cache miss" [ "$(field X-Cache-Status "first$n.exe.headers")" = MISS ]
  check "download $n: what corvane-tag set writes" cmp -s "first$n.exe" "expected$n.exe"
  check "download $n: the referral name" [ "$(field Content-Disposition "first$n.exe.headers")" = \
    'attachment; filename="CorvaneUpdateSetup-ACS219.exe"' ]
  upstreams+="$(field X-Upstream "first$n.exe.headers") "
done
check "nginx sent downloads to instance 1 ($upstreams)" grep -q "127.0.0.1:$PORT1" <<<"$upstreams"
check "nginx sent downloads to instance 2 ($upstreams)" grep -q "127.0.0.1:$PORT2" <<<"$upstreams"
check "instance 1 logged a download" [ "$(served_by 1)" -ge 1 ]
check "instance 2 logged a download" [ "$(served_by 2)" -ge 1 ]

before=$(( $(served_by 1) + $(served_by 2) ))
for n in 1 2 3 4; do
  fetch "${tags[$((n - 1))]}" "again$n.exe"
  check "repeat $n: a cache hit" [ "$(field X-Cache-Status "again$n.exe.headers")" = HIT ]
  check "repeat $n: identical bytes" cmp -s "again$n.exe" "first$n.exe"
  check "repeat $n: the same ETag" [ "$(field ETag "again$n.exe.headers")" = \
    "$(field ETag "first$n.exe.headers")" ]
done
check "repeats reached no instance" [ "$(( $(served_by 1) + $(served_by 2) ))" = "$before" ]

# A resumed download from the cache, and a refused tag passed through uncached.
curl -s -G --data-urlencode "tag=${tags[0]}" -H 'Range: bytes=1000-1999' -D range.headers \
  -o range.bin "http://127.0.0.1:$NGINX_PORT/CorvaneUpdateSetup-ACS219.exe"
check "a range from the cache: 206" [ "$(status range.headers)" = 206 ]
check "a range from the cache: the right bytes" \
  cmp -s range.bin <(dd if=expected1.exe bs=1000 skip=1 count=1 status=none)
for attempt in 1 2; do
  curl -s -D bad.headers -o bad.txt \
    "http://127.0.0.1:$NGINX_PORT/CorvaneUpdateSetup.exe?tag=a%22b"
  check "a refused tag through nginx: 400 (attempt $attempt)" [ "$(status bad.headers)" = 400 ]
  check "a refused tag is not cached (attempt $attempt)" \
    [ "$(field X-Cache-Status bad.headers)" != HIT ]
done

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
