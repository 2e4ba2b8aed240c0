#!/bin/bash
# marfel's codec benchmark beside coreutils' base64 on the same bytes and the same text.
#
#   seclib/bench/codec_bench.sh [MiB] [build folder]      (defaults: 32, build/win64)
#
# Makes N MiB of random bytes and their Base64 text with 76-character lines (coreutils' own
# form), runs codec_bench.exe on both under Wine, then times `base64` and `base64 -d` on the same
# files, best of 3. MB/s counts the binary side (bytes in for encoders, bytes out for decoders).
set -euo pipefail
mib=${1:-32}
build=${2:-build/win64}
here=$(cd "$(dirname "$0")/../.." && pwd)
[[ $build = /* ]] || build=$here/$build
[[ -x $build/wine-run && -f $build/tests/codec_bench.exe ]] ||
  { echo "codec_bench.sh: build $build first (codec_bench and marfel)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((mib << 20)) /dev/urandom >"$work/data.bin"
base64 -w 76 "$work/data.bin" >"$work/data.b64"
bytes=$(stat -c %s "$work/data.bin")

"$build/wine-run" "$build/tests/codec_bench.exe" --input "Z:${work//\//\\}\\data.bin" \
  --text "Z:${work//\//\\}\\data.b64" --check

# Seconds of the fastest of three runs of the command.
best_of_3() {
  local best= t0 t1
  for _ in 1 2 3; do
    t0=$(date +%s.%N)
    "$@" >/dev/null
    t1=$(date +%s.%N)
    best=$(awk -v a="$t0" -v b="$t1" -v m="$best" 'BEGIN { s = b - a; print (m == "" || s < m) ? s : m }')
  done
  echo "$best"
}
row() { printf '%-40s %9.4f %10.1f  %s\n' "$1" "$2" "$(awk -v n="$bytes" -v s="$2" 'BEGIN { print n / s / 1e6 }')" "$3"; }

base64 -d "$work/data.b64" | cmp -s - "$work/data.bin" && same=match || same=MISMATCH
row "coreutils base64 -w 76" "$(best_of_3 base64 -w 76 "$work/data.bin")" "-"
row "coreutils base64 -d, 76-character lines" "$(best_of_3 base64 -d "$work/data.b64")" "$same"
