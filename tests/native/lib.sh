# shellcheck shell=bash
# What the native tests share: the serial peer on a pseudo-terminal, kivom on it, and the probe
# that reads kivom's window through the accessibility bus. Sourced by a test that runs in a
# session of its own (scripts/lib/native-session.sh, started by tests/native/in-session.sh).
#   KIVOM_NATIVE_PROGRAM  the native kivom
#   KIVOM_NATIVE_PEER     the serial peer
native_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$native_here/../../scripts/lib/step.sh"
source "$native_here/../../scripts/lib/peer.sh"
source "$native_here/../../scripts/lib/form.sh"
source "$native_here/../../scripts/lib/check.sh"

kivom=${KIVOM_NATIVE_PROGRAM:?the native kivom}
export KIVOM_ECHO_DEVICE=${KIVOM_NATIVE_PEER:?the serial peer}
work=$(mktemp -d "${TMPDIR:-/tmp}/kivom-native.XXXXXX")
chmod 755 "$work"
cannot_use='COM1が使えません'

probe() { /usr/bin/python3 -I "$native_here/atspi_probe.py" "$@"; }

# The peer's log: its requests in hex, and the opens and closes of kivom's end.
peer_log=${KIVOM_PEER_LOG:-$work/peer.log}
peer_count() { grep -c " $1\$\| $1 " "$peer_log"; }
last_request() { grep ' request ' "$peer_log" | tail -n 1 | sed 's/.* request //'; }
peer_answers() { echo "$1" >"${KIVOM_PEER_CONTROL:-$work/control}"; }

# start_peer [OPTION...]: the serial peer on a new terminal ($line), answering as the control
# file says (an echo to begin with).
start_peer() {
  kivom_stop_peer
  : >"$peer_log"
  chmod 666 "$peer_log"
  peer_answers --echo
  kivom_start_peer "${as[@]}" -- --log "$peer_log" --control "$work/control" "$@"
  line=$KIVOM_PEER_LINE
}

# start_kivom [PREFIX...]: kivom on $line, through PREFIX if any, once its form is on the
# accessibility bus; its pid in $kivom_pid.
as=()
kivom_pid=''
start_kivom() {
  case "$(readlink -f -- "$line")" in
    /dev/ttyS[0-9]*) kivom_die "refusing: $line is one of the machine's own serial ports" ;;
  esac
  "${as[@]}" "${@}" "$kivom" "$line" 2>>"$work/kivom.log" &
  kivom_pid=$!
  kivom_wait_for "kivom's send box" "" probe --pid "$kivom_pid" text "$KIVOM_SEND_BOX" && return
  # What the probe saw last, and what became of kivom, for the reader of the failure.
  probe --pid "$kivom_pid" text "$KIVOM_SEND_BOX" 2>&1 >/dev/null | sed 's/^/  the probe: /' >&2
  if kill -0 "$kivom_pid" 2>/dev/null; then
    echo "  kivom (pid $kivom_pid) runs; its standard error:" >&2
  else
    echo "  kivom ended; its standard error:" >&2
  fi
  sed 's/^/    /' "$work/kivom.log" >&2
  return 1
}

# Waits for kivom to end; its exit status, or 1 with a message when it still runs.
kivom_exit() {
  local status=0
  kivom_wait_exit "$kivom_pid" || status=$?
  kivom_pid=''
  return $status
}

# Closes the window as a window manager's close button would; kivom must end with 0.
close_kivom() {
  local window
  window=$(kivom_find_window) && /usr/bin/python3 -I "$native_here/close_window.py" "$window" &&
    kivom_exit
}

# press: the start button pressed; returns once the exchange it ran has closed the line.
press() {
  local closes
  closes=$(peer_count close)
  probe press "$KIVOM_START_BUTTON" &&
    kivom_wait_for "the peer's count of closes of the line" $((closes + 1)) peer_count close
}

# The hex the peer logs for these bytes: "41 42 0d".
hex() { od -An -v -tx1 | tr -s ' \n' '  ' | sed 's/^ //; s/ $//'; }

finish_native() {
  [ -z "$kivom_pid" ] || kill "$kivom_pid" 2>/dev/null
  kivom_stop_peer
  rm -rf "$work"
}
trap finish_native EXIT
