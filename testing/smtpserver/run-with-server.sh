#!/usr/bin/env bash
# Runs one Windows test program beside the scripted SMTP server:
#   run-with-server.sh <wine-run> <test.exe> <pki folder>
# The program finds the server's control port in QUENTA_SMTP_CONTROL.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$1 exe=$2 pki=$3
bash "$here/../tlspeer/make-pki.sh" "$pki"
port_file=$(mktemp -u "${TMPDIR:-/tmp}/smtpserver.XXXXXX")
/usr/bin/python3 "$here/scripted_smtp.py" --pki "$pki" --port-file "$port_file" &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true; rm -f "$port_file"' EXIT
for _ in $(seq 1 100); do
  [ -s "$port_file" ] && break
  kill -0 $server 2>/dev/null || { echo "run-with-server: the SMTP server did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$port_file" ] || { echo "run-with-server: no control port from the SMTP server" >&2; exit 1; }
export QUENTA_SMTP_CONTROL=$(cat "$port_file")
win_pki=$(printf 'Z:%s' "$pki" | tr '/' '\\')
export QUENTA_SMTP_CA="$win_pki\\ca.pem"
"$wine_run" "$exe"
