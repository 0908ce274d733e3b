#!/usr/bin/env bash
# Runs the numeric evaluators of two builds over the same generated vectors and requires the
# two outputs to be identical, line for line.
#
#   compare-evaluators.sh VECTORS NAME=EVALUATOR NAME=EVALUATOR
#
# VECTORS is the native build's numeric-vectors; an EVALUATOR that is a .exe runs through
# $WINE_EXEC (default: wine).
set -euo pipefail

if [ $# -ne 3 ] || [[ "$2" != *=* ]] || [[ "$3" != *=* ]]; then
  echo "usage: $0 VECTORS NAME=EVALUATOR NAME=EVALUATOR" >&2
  exit 2
fi
generator=$1 a=${2%%=*} a_program=${2#*=} b=${3%%=*} b_program=${3#*=}
read -r -a wine_exec <<<"${WINE_EXEC:-wine}"
for program in "$generator" "$a_program" "$b_program"; do
  [ -f "$program" ] || { echo "missing: $program" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$generator" >"$work/vectors"
lines=$(wc -l <"$work/vectors")
echo "vectors: $lines lines"

evaluate() {  # name program
  case "$2" in
    *.exe) "${wine_exec[@]}" "$2" <"$work/vectors" >"$work/$1" ;;
    *) "$2" <"$work/vectors" >"$work/$1" ;;
  esac
}
evaluate "$a" "$a_program"
evaluate "$b" "$b_program"

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

if usable "$a" && usable "$b" && cmp -s "$work/$a" "$work/$b"; then
  echo "same: $a $b"
else
  echo "DIFFERENT: $a $b (input, $a, $b; first lines that differ)"
  paste -d '|' "$work/vectors" "$work/$a" "$work/$b" |
    awk -F '|' '$2 != $3 && n++ < 10 { print "  " $1 " -> " $2 " / " $3 }'
  exit 1
fi
