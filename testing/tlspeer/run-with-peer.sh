#!/usr/bin/env bash
# Runs one Windows test program with the TLS peer beside it:
#   run-with-peer.sh <wine-run> <test.exe> <pki folder>
# The program finds the peer's control port in MARFEL_TLS_PEER and the CA in MARFEL_TLS_CA.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$1 exe=$2 pki=$3
bash "$here/make-pki.sh" "$pki"
port_file=$(mktemp -u "${TMPDIR:-/tmp}/tlspeer.XXXXXX")
/usr/bin/python3 "$here/tlspeer.py" --pki "$pki" --port-file "$port_file" &
peer=$!
trap 'kill $peer 2>/dev/null || true; wait $peer 2>/dev/null || true; rm -f "$port_file"' EXIT
for _ in $(seq 1 100); do
  [ -s "$port_file" ] && break
  kill -0 $peer 2>/dev/null || { echo "run-with-peer: the TLS peer did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$port_file" ] || { echo "run-with-peer: no control port from the TLS peer" >&2; exit 1; }
export MARFEL_TLS_PEER=$(cat "$port_file")
win_pki=$(printf 'Z:%s' "$pki" | tr '/' '\\')
export MARFEL_TLS_CA="$win_pki\\ca.pem"
"$wine_run" "$exe"
