#!/bin/bash
# loxim_bench with its rows sent to a socat sink in another process: one listener on loopback
# that appends each connection's bytes to one file (the rows run one after the other).
#
#   devaccess/loxim/bench/loxim_bench.sh [loxim_bench arguments...]
#
# The listener is on 127.0.0.39:9100; loxim is 32-bit, so the win32 build is used.
set -euo pipefail
here=$(cd "$(dirname "$0")/../../.." && pwd)
build=$here/build/win32
[[ -x $build/wine-run && -f $build/tests/loxim_bench.exe ]] ||
  { echo "loxim_bench.sh: build win32 first (loxim_bench)" >&2; exit 1; }
command -v socat >/dev/null || { echo "loxim_bench.sh: socat is missing (scripts/setup)" >&2; exit 1; }
host=127.0.0.39

work=$(mktemp -d)
pid=
cleanup() {
  if [[ -n $pid ]]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
: >"$work/sink.bin"
# A child per connection; the listener ends with this script, or after an hour at most.
timeout 3600 socat -u "TCP-LISTEN:9100,bind=$host,reuseaddr,fork" "OPEN:$work/sink.bin,append" &
pid=$!
# Until it listens (a probe connection would add to the file, so ss looks instead).
if command -v ss >/dev/null; then
  for _ in $(seq 1 100); do
    ss -Hltn "src $host:9100" 2>/dev/null | grep -q . && break
    sleep 0.05
  done
else
  sleep 0.5
fi
win() { printf 'Z:%s' "$1" | tr '/' '\\'; }
"$build/wine-run" "$build/tests/loxim_bench.exe" "$@" --socat "$host" "$(win "$work/sink.bin")"
