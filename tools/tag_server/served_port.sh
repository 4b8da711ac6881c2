#!/usr/bin/env bash
# Prints the port of a `corvane-tag serve --listen ADDR:0` once its start line
# ("... on http://127.0.0.1:PORT/") is in the file its standard error goes to;
# fails, showing that file, when none comes within SECONDS (default 60).
#
#   served_port.sh SERVER_STDERR_FILE [SECONDS]
set -euo pipefail
file=$1 tenths=$(( ${2:-60} * 10 ))
for _ in $(seq 1 "$tenths"); do
  port=$(sed -n 's|.* on http://[^ ]*:\([0-9]*\)/$|\1|p' "$file" 2>/dev/null || true)
  if [ -n "$port" ]; then
    echo "$port"
    exit 0
  fi
  sleep 0.1
done
echo "corvane-tag serve did not start:" >&2
cat "$file" >&2 || true
exit 1
