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
