#!/bin/bash
# The repository's systemd unit for the tagging server passes
# `systemd-analyze verify` with the built corvane-tag in its ExecStart: its
# exit status, and no word from it (an unknown or misspelt key is only a
# warning, and would leave the service without its sandboxing).
# Usage: systemd_unit_test.sh UNIT CORVANE_TAG
set -euo pipefail
unit=$1 tagger=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed "s|/usr/local/bin/corvane-tag|$tagger|" "$unit" > "$work/$(basename "$unit")"
if ! systemd-analyze verify "$work/$(basename "$unit")" > "$work/said" 2>&1; then
  cat "$work/said" >&2
  echo "systemd-analyze verify refused $unit" >&2
  exit 1
fi
if [ -s "$work/said" ]; then
  cat "$work/said" >&2
  echo "systemd-analyze verify warned about $unit" >&2
  exit 1
fi
echo "$unit verifies"
