#!/usr/bin/env bash
# Runs the numeric evaluator of each build over the same generated vectors and requires the
# three outputs to be identical, line for line.
#
#   compare-evaluators.sh NATIVE_EVAL WIN32_EVAL_EXE WIN64_EVAL_EXE
#
# The .exe programs run through $WINE_EXEC (default: wine). The vectors come from the native
# build's numeric-vectors, found beside the native evaluator's build tree, or from
# $NUMERIC_VECTORS. Ends with "N passed, N failed" over the three pairs.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 NATIVE_EVAL WIN32_EVAL_EXE WIN64_EVAL_EXE" >&2
  exit 2
fi
native=$1 win32=$2 win64=$3
read -r -a wine_exec <<<"${WINE_EXEC:-wine}"

# The build tree holding the native evaluator: the nearest folder up with a CMakeCache.txt.
build_tree() {
  local dir
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ -f "$dir/CMakeCache.txt" ] && echo "$dir"
}

generator=${NUMERIC_VECTORS:-}
if [ -z "$generator" ]; then
  tree=$(build_tree "$native") || { echo "no build tree above $native" >&2; exit 2; }
  generator=$tree/tests/numeric/numeric-vectors
fi
for program in "$generator" "$native" "$win32" "$win64"; do
  [ -f "$program" ] || { echo "missing: $program" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$generator" >"$work/vectors"
lines=$(wc -l <"$work/vectors")
echo "vectors: $lines lines"

"$native" <"$work/vectors" >"$work/native"
"${wine_exec[@]}" "$win32" <"$work/vectors" >"$work/win32"
"${wine_exec[@]}" "$win64" <"$work/vectors" >"$work/win64"

# An output is usable when it has one line per input line and no error lines.
usable() {
  local name=$1 count errors
  count=$(wc -l <"$work/$name")
  errors=$(grep -c '^error:' "$work/$name" || true)
  if [ "$count" -ne "$lines" ] || [ "$errors" -ne 0 ]; then
    echo "$name: $count lines for $lines inputs, $errors error lines" >&2
    return 1
  fi
}

passed=0 failed=0
compare() {
  local a=$1 b=$2
  if usable "$a" && usable "$b" && cmp -s "$work/$a" "$work/$b"; then
    echo "same: $a $b"
    passed=$((passed + 1))
  else
    echo "DIFFERENT: $a $b (input, $a, $b; first lines that differ)"
    paste -d '|' "$work/vectors" "$work/$a" "$work/$b" |
      awk -F '|' '$2 != $3 && n++ < 10 { print "  " $1 " -> " $2 " / " $3 }'
    failed=$((failed + 1))
  fi
}

compare native win32
compare native win64
compare win32 win64

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
