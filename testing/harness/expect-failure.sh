#!/usr/bin/env bash
# Runs a test program whose set-up is broken on purpose and passes when it fails as it must:
#   expect-failure.sh <pattern>... -- <command> [args...]
# Passes when the command exits with a code other than 0 and 77 and each extended regular
# expression <pattern> matches a line of its output (the message that names what is missing,
# say). 77, a program this machine cannot run, is passed on: the test is skipped.
set -u
patterns=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  patterns+=("$1")
  shift
done
[ "${1:-}" = -- ] || { echo "expect-failure: no command after --" >&2; exit 2; }
shift
out=$(mktemp "${TMPDIR:-/tmp}/expect-failure.XXXXXX") || exit 1
trap 'rm -f "$out"' EXIT
"$@" >"$out" 2>&1
code=$?
cat "$out"
[ $code -eq 77 ] && exit 77
if [ $code -eq 0 ]; then
  echo "expect-failure: the command passed although its set-up was broken" >&2
  exit 1
fi
for pattern in "${patterns[@]}"; do
  if ! grep -Eq -- "$pattern" "$out"; then
    echo "expect-failure: the command failed (exit $code) without saying: $pattern" >&2
    exit 1
  fi
done
echo "expect-failure: failed as expected (exit $code)"
