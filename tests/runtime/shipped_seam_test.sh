#!/usr/bin/env bash
# kivom.exe carries the platform's own seam: none of the test seam's hooks or registry readers,
# and a HeapAllocate without a branch.
#
#   shipped_seam_test.sh NM OBJDUMP KIVOM_EXE
set -euo pipefail
nm=$1 objdump=$2 exe=$3

symbols=$("$nm" -C "$exe")
grep -q 'runtime::platform::HeapAllocate(' <<<"$symbols" ||
  { echo "no runtime::platform::HeapAllocate in $exe: stripped, or not the runtime's" >&2; exit 1; }
if found=$(grep -E 'runtime::platform::hooks|runtime::LiveString|HeapRequestFails' <<<"$symbols"); then
  echo "test hooks in $exe:" >&2
  echo "$found" >&2
  exit 1
fi
# HeapAllocate's body, to the end of the function: straight to the system, without the
# conditional branch that any hook would take.
body=$("$objdump" -d -C --no-show-raw-insn "$exe" |
  awk '/<runtime::platform::HeapAllocate\(unsigned (int|long long)\)>:/ { on = 1; next }
       /^$/ { on = 0 } on')
[ -n "$body" ] || { echo "no body of HeapAllocate in $exe" >&2; exit 1; }
if grep -qE $'\tj(n?[abcegloprsz]|n?[abgl]e|p[eo])\s' <<<"$body"; then
  echo "HeapAllocate branches:" >&2
  echo "$body" >&2
  exit 1
fi
echo "$exe: no test hooks, and HeapAllocate goes straight to the system"
