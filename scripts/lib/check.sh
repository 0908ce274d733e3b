# shellcheck shell=bash
# The tally of a script that makes several checks:
#   check WHAT COMMAND...   runs COMMAND; "ok: WHAT", or "FAILED: WHAT" on standard error
#   check_summary           "N passed, N failed", and fails when a check failed
passed=0 failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
    passed=$((passed + 1))
  else
    echo "FAILED: $what" >&2
    failed=$((failed + 1))
  fi
}

check_summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# check_add_tally WHAT LOG: adds the last "N passed, N failed" line of LOG, the tally of a part
# that ran elsewhere (as another user, in another tree), to this one; a LOG without one counts
# as one failure, "WHAT ran to its end".
check_add_tally() {
  local summary part_passed part_failed
  summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$2" | tail -n 1)
  if [ -z "$summary" ]; then
    check "$1 ran to its end (a tally)" false
    return
  fi
  read -r part_passed _ part_failed _ <<<"$summary"
  passed=$((passed + part_passed)) failed=$((failed + part_failed))
}
