#!/usr/bin/env bash
# A person at the keyboard: real X mouse clicks and key presses into the running program.
# Usage (through with-line.sh peer): typing_test.sh KIVOM_EXE KIVOM_PROBE_EXE
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib/wine-env.sh"
program=$1 probe_exe=$2

fail() { echo "FAILED: $*" >&2; exit 1; }
probe() { wine "$probe_exe" "$@" | tr -d '\r'; }
# The request lines the peer logged after byte offset $1.
requests_since() { tail -c +"$(($1 + 1))" "$KIVOM_PEER_LOG" | awk '$2 == "request" {$1 = $2 = ""; print substr($0, 3)}'; }
wait_for_requests() {  # offset count
  for _ in $(seq 100); do
    [ "$(requests_since "$1" | wc -l)" -ge "$2" ] && return 0
    sleep 0.05
  done
  return 1
}
log_size() { stat -c %s "$KIVOM_PEER_LOG"; }

echo "--echo" >"$KIVOM_PEER_CONTROL"
wine "$program" &
program_pid=$!
trap 'kill $program_pid 2>/dev/null || true' EXIT

read -r x y < <(probe center 1000)
xdotool mousemove --sync "$x" "$y" click 1
mark=$(log_size)
xdotool type --delay 30 'typed 123'
xdotool key Return  # keys typed into the edit start nothing
sleep 0.7
[ -z "$(requests_since "$mark")" ] || fail "typing into the send box started an exchange"

read -r x y < <(probe center 1005)
xdotool mousemove --sync "$x" "$y" click 1
wait_for_requests "$mark" 1 || fail "a click on the button sent nothing"
got=$(requests_since "$mark")
[ "$got" = "74 79 70 65 64 20 31 32 33 0d" ] || fail "the peer received '$got'"
echo "click: the peer received $got"

# The button keeps the focus after the click: the space bar presses it again.
mark=$(log_size)
xdotool key space
wait_for_requests "$mark" 1 || fail "the space bar on the button sent nothing"
echo "space bar: the peer received $(requests_since "$mark")"

reply=$(probe text 1001)
[ "$reply" = "typed 123" ] || fail "the reply box shows '$reply'"

window=$(xdotool search --name '^kivom$' | head -n 1)
xdotool windowfocus --sync "$window" && xdotool key alt+F4
code=0
wait $program_pid || code=$?
trap - EXIT
[ "$code" -eq 0 ] || fail "exit code $code after Alt+F4"
echo "1 passed, 0 failed"
