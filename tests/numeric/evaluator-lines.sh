#!/usr/bin/env bash
# The evaluator program answers every input line with one line of its own: here four lines,
# the second holding a zero byte and the last without its LF, must give four answers.
#
#   evaluator-lines.sh [RUNNER...] NUMERIC_EVAL
set -euo pipefail

input=$(mktemp) got=$(mktemp)
trap 'rm -f "$input" "$got"' EXIT
printf 'ScaleByPowerOfTwo 0000000000000000 1024\nExponential 3ff0\0000000000000000\n' >"$input"
printf 'ScaleByPowerOfTwo 7ff0000000000000 -2048\nScaleByPowerOfTwo 3fe0000000000000 1024' >>"$input"
expected='0000000000000000
error: line holds a zero byte
7ff0000000000000
7ff0000000000000'

"$@" <"$input" >"$got"
if [ "$(cat "$got")" != "$expected" ] || [ "$(wc -l <"$got")" -ne 4 ]; then
  echo "awaited four answer lines:"
  echo "$expected"
  echo "saw $(wc -l <"$got") lines:"
  cat -A "$got"
  exit 1
fi
echo "four lines in, four answers out"
