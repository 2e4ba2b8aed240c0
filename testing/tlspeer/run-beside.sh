#!/usr/bin/env bash
# Runs one Windows test program beside a loopback server script that takes --pki and
# --port-file and writes its control port to that file once it listens:
#   run-beside.sh <server.py> <port variable> <CA variable> <wine-run> <test.exe> <pki folder>
# The program finds the control port in <port variable> and the test CA in <CA variable>.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
server_py=$1 port_var=$2 ca_var=$3 wine_run=$4 exe=$5 pki=$6
name=$(basename "$server_py" .py)
bash "$here/make-pki.sh" "$pki"
port_file=$(mktemp -u "${TMPDIR:-/tmp}/$name.XXXXXX")
/usr/bin/python3 "$server_py" --pki "$pki" --port-file "$port_file" &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true; rm -f "$port_file"' EXIT
for _ in $(seq 1 100); do
  [ -s "$port_file" ] && break
  kill -0 $server 2>/dev/null || { echo "run-beside: $name did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$port_file" ] || { echo "run-beside: no control port from $name" >&2; exit 1; }
export "$port_var=$(cat "$port_file")"
win_pki=$(printf 'Z:%s' "$pki" | tr '/' '\\')
export "$ca_var=$win_pki\\ca.pem"
"$wine_run" "$exe"
