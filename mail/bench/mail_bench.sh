#!/bin/bash
# mail_bench with its STARTTLS row: starts mail/bench/tls_sink.py on 127.0.0.1 with the test
# PKI of testing/tlspeer, and hands the bench its port, the file it writes the DATA into, and
# the CA (which the bench puts into the prefix's Root store).
#
#   mail/bench/mail_bench.sh [MiB]      (default 8; build win64 first)
set -euo pipefail
mib=${1:-8}
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$here/build/win64
[[ -x $build/wine-run && -f $build/tests/mail_bench.exe ]] ||
  { echo "mail_bench.sh: build win64 first (mail_bench, marfel)" >&2; exit 1; }
pki=$build/tlspki
bash "$here/testing/tlspeer/make-pki.sh" "$pki"
work=$(mktemp -d)
/usr/bin/python3 "$here/mail/bench/tls_sink.py" --pki "$pki" --port-file "$work/port" --data-file "$work/data" &
sink=$!
trap 'kill $sink 2>/dev/null || true; wait $sink 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 1 100); do
  [[ -s $work/port ]] && break
  kill -0 $sink 2>/dev/null || { echo "mail_bench.sh: the TLS sink did not start" >&2; exit 1; }
  sleep 0.1
done
[[ -s $work/port ]] || { echo "mail_bench.sh: no port from the TLS sink" >&2; exit 1; }
win() { printf 'Z:%s' "$1" | tr '/' '\\'; }
QUENTA_BENCH_CA=$(win "$pki/ca.pem") "$build/wine-run" "$build/tests/mail_bench.exe" --mib "$mib" \
  --tls-port "$(cat "$work/port")" --tls-file "$(win "$work/data")"
