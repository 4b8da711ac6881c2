#!/usr/bin/env bash
# Downloads a signed stub from `corvane-tag serve` on the loopback address as
# a browser would: the link names a referral code, the tag is in the query,
# and the file is saved under the name the response's Content-Disposition
# gives. The end-to-end tests then run the saved file under Wine.
#
#   served_download.sh CORVANE_TAG SIGNED.exe OUT_DIR NAME.exe TAG
set -euo pipefail

TAGGER=$1 STUB=$2 OUT=$3 NAME=$4 TAG=$5
rm -rf "$OUT"
mkdir -p "$OUT"
LOG=$(mktemp -d -t corvane-served-XXXXXX)
"$TAGGER" serve --stub "$STUB" --listen 127.0.0.1:0 >"$LOG/access.log" 2>"$LOG/server.err" &
SERVER=$!
trap 'kill $SERVER 2>/dev/null || true; wait $SERVER 2>/dev/null || true; rm -rf "$LOG"' EXIT
PORT=$("$(dirname "$0")/../../tools/tag_server/served_port.sh" "$LOG/server.err")
# -O -J: save under the name the server gives, as a browser does.
(cd "$OUT" && curl -sSf -G --data-urlencode "tag=$TAG" -O -J "http://127.0.0.1:$PORT/$NAME")
[ -f "$OUT/$NAME" ] || { ls -l "$OUT" >&2; echo "no file saved as $NAME" >&2; exit 1; }
"$TAGGER" get "$OUT/$NAME"
