#!/usr/bin/env bash
# One exchange of the installed kivom's --demo as its user meets it, run as that user in a session
# of that user's own (tests/native/in-session.sh): a text typed into the send box, the button
# clicked, the echo read through the accessibility bus, the window closed with exit code 0.
#   demo_exchange.sh WHO TEXT [PICTURE]   WHO names the checks; PICTURE, if given, receives a
#                                         picture of the window with the reply (for people: a
#                                         missing one is a note, no failure)
# Ends with "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/check.sh"
source "$root/scripts/lib/wait.sh"
source "$root/scripts/lib/form.sh"
who=$1 demo_text=$2 picture=${3:-}
demo_pid='' demo_window=''
probe() { /usr/bin/python3 -I "$root/tests/native/atspi_probe.py" --pid "$demo_pid" "$@"; }

# The echo device answers with the text and its carriage return.
demo_exchange() {
  local reply
  demo_window=$(kivom_find_window) && reply=$(kivom_send_typed probe "$demo_text") || return 1
  [ "$reply" = "$demo_text"$'\r' ] ||
    { echo "  the reply box shows '$reply', not '$demo_text' and CR" >&2; return 1; }
}
demo_picture() {
  [ -n "$picture" ] && [ -n "$demo_window" ] || return 0
  kivom_wait_until "a settled picture of the window" kivom_window_settled "$demo_window" >/dev/null &&
    import -window "$demo_window" "$picture" ||
    echo "  note: no picture of the window was made" >&2
}
demo_closed_with_zero() {
  local status=0
  [ -n "$demo_window" ] || demo_window=$(kivom_find_window) || return 1
  /usr/bin/python3 -I "$root/tests/native/close_window.py" "$demo_window" || return 1
  kivom_wait_exit "$demo_pid" || status=$?
  [ "$status" -eq 0 ] || { echo "  kivom ended with $status" >&2; return 1; }
}

log=$(mktemp "${TMPDIR:-/tmp}/kivom-demo.XXXXXX")
/usr/bin/kivom --demo 2>"$log" &
demo_pid=$!
check "$who: kivom --demo sends the text typed into the send box and shows the echo" demo_exchange
demo_picture
check "$who: kivom --demo closed from its window ends with exit code 0" demo_closed_with_zero
sed 's/^/  /' "$log"
kill "$demo_pid" 2>/dev/null
rm -f "$log"
check_summary
