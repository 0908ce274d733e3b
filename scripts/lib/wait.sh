# shellcheck shell=bash
# Waiting for a state with a deadline, for the scripts that drive kivom. A machine busy with
# other work takes its time to reach a state, so a script reads until what it checks holds;
# the deadline only ends a wait that can no longer succeed, and says what was awaited and
# what was seen last.

KIVOM_WAIT_SECONDS=${KIVOM_WAIT_SECONDS:-30}

# kivom_wait_until WHAT COMMAND...: runs COMMAND until it succeeds, then prints its output.
kivom_wait_until() {
  local what=$1 seen deadline=$((SECONDS + KIVOM_WAIT_SECONDS))
  shift
  until seen=$("$@" 2>/dev/null); do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "awaited $what for $KIVOM_WAIT_SECONDS s; saw: '${seen}'" >&2
      return 1
    fi
    sleep 0.1
  done
  printf '%s\n' "$seen"
}

# kivom_wait_for WHAT EXPECTED COMMAND...: runs COMMAND until it prints EXPECTED.
kivom_wait_for() {
  kivom_wait_until "$1 to be '$2'" kivom_prints "$2" "${@:3}" >/dev/null
}
# kivom_prints EXPECTED COMMAND...: prints what COMMAND prints; succeeds when that is EXPECTED.
kivom_prints() {
  local seen
  seen=$("${@:2}") && printf '%s\n' "$seen" && [ "$seen" = "$1" ]
}

# kivom_wait_exit PID: waits for the child PID to end; its exit status, or 1 with a message
# when it still runs at the deadline.
kivom_wait_exit() {
  kivom_wait_until "the end of process $1" kivom_not_running "$1" >/dev/null || return 1
  wait "$1"
}
kivom_not_running() { ! kill -0 "$1" 2>/dev/null; }
