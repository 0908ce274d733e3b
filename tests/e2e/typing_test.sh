#!/usr/bin/env bash
# A person at the keyboard: real X mouse clicks and key presses into the running program.
# Usage (through with-line.sh peer): typing_test.sh KIVOM_EXE KIVOM_PROBE_EXE
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib/wine-env.sh"
source "$(dirname "$0")/../../scripts/lib/form.sh"
source "$(dirname "$0")/../../scripts/lib/check.sh"
program=$1 probe_exe=$2

fail() { echo "FAILED: $*" >&2; exit 1; }
probe() { wine "$probe_exe" "$@" | tr -d '\r'; }
# The request lines the peer logged after byte offset $1.
requests_since() { tail -c +"$(($1 + 1))" "$KIVOM_PEER_LOG" | awk '$2 == "request" {$1 = $2 = ""; print substr($0, 3)}'; }
last_request_since() { requests_since "$1" | tail -n 1; }
log_size() { stat -c %s "$KIVOM_PEER_LOG"; }
typed_request="74 79 70 65 64 20 31 32 33 0d"  # "typed 123" and CR

typed_text_is_sent() {
  kivom_click_into probe "$KIVOM_SEND_BOX" || return 1
  mark=$(log_size)
  xdotool type --delay "$KIVOM_KEY_DELAY_MS" 'typed'
  xdotool key Return # keys typed into the edit start nothing
  xdotool type --delay "$KIVOM_KEY_DELAY_MS" ' 123'
  kivom_wait_for "the send box's text" 'typed 123' probe text "$KIVOM_SEND_BOX" &&
    kivom_click probe "$KIVOM_START_BUTTON" &&
    kivom_wait_for "the last request in the peer's log" "$typed_request" last_request_since "$mark" ||
    return 1
  # The program takes its input in order, so an exchange started by Return came before.
  local got
  got=$(requests_since "$mark")
  echo "click: the peer received $got"
  [ "$got" = "$typed_request" ] || { echo "Return started an exchange" >&2; return 1; }
}

# The button keeps the focus after the click: the space bar presses it again.
space_bar_presses_again() {
  mark=$(log_size)
  xdotool key space
  kivom_wait_for "the last request in the peer's log" "$typed_request" last_request_since "$mark" &&
    echo "space bar: the peer received $(requests_since "$mark")"
}

echo "--echo" >"$KIVOM_PEER_CONTROL"
wine "$program" &
program_pid=$!
trap 'kill $program_pid 2>/dev/null || true' EXIT

# Shown on the display: the form has loaded, since it loads before it is shown.
window=$(kivom_find_window) || fail "no window"
check "typed keys reach the send box, Return starts nothing, a click sends the text" \
  typed_text_is_sent
check "the space bar on the button sends it again" space_bar_presses_again
check "the reply shows in the reply box" \
  kivom_wait_for "the reply box's text" 'typed 123' probe text "$KIVOM_REPLY_BOX"
check "Alt+F4 ends kivom with exit code 0" kivom_close_window "$window" "$program_pid"
trap - EXIT
check_summary
