#!/bin/bash
# dorvik_bench with its rows to sinks in another process: two socat listeners on loopback,
# each writing one connection's bytes to a file, one for the plain Winsock send loop and one for
# the single-step Quv9100_Write of the same buffer.
#
#   devaccess/dorvik/bench/dorvik_bench.sh [win64|win32] [dorvik_bench arguments...]
#
# The listeners are on 127.0.0.(width+3) and 127.0.0.(width+4) (67 and 68, or 35 and 36).
set -euo pipefail
preset=${1:-win64}
[[ $# -gt 0 ]] && shift
here=$(cd "$(dirname "$0")/../../.." && pwd)
build=$here/build/$preset
[[ -x $build/wine-run && -f $build/tests/dorvik_bench.exe ]] ||
  { echo "dorvik_bench.sh: build $preset first (dorvik and dorvik_bench)" >&2; exit 1; }
command -v socat >/dev/null || { echo "dorvik_bench.sh: socat is missing (scripts/setup)" >&2; exit 1; }
width=${preset#win}
plain=127.0.0.$((width + 3))
step=127.0.0.$((width + 4))

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
for host in "$plain" "$step"; do
  # One connection each; socat ends at its end of file, or after 10 minutes at most.
  timeout 600 socat -u "TCP-LISTEN:9100,bind=$host,reuseaddr" "OPEN:$work/$host.bin,creat,trunc" &
  pids+=($!)
done
# Until both listen (a probe connection would use up a listener, so ss looks instead).
for host in "$plain" "$step"; do
  if ! command -v ss >/dev/null; then sleep 0.5; break; fi
  for _ in $(seq 1 100); do
    ss -Hltn "src $host:9100" 2>/dev/null | grep -q . && break
    sleep 0.05
  done
done
win() { printf 'Z:%s' "$1" | tr '/' '\\'; }
"$build/wine-run" "$build/tests/dorvik_bench.exe" "$@" \
  --socat-plain "$plain" "$(win "$work/$plain.bin")" --socat-step "$step" "$(win "$work/$step.bin")"
