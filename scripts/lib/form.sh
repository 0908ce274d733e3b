# shellcheck shell=bash
# kivom's form driven as a person drives it: real mouse clicks and key presses through the X
# server, each step waiting until the program shows that the one before it arrived (the waits of
# scripts/lib/wait.sh, sourced here). The form is read by kivom-probe, which runs under the
# caller's own Wine set-up, so the caller names it: PROBE is a command, usually a function,
# that runs kivom-probe with its arguments and prints the answer without '\r'.
source "$(dirname "${BASH_SOURCE[0]}")/wait.sh"

# The form's controls (app/main_form.h).
KIVOM_SEND_BOX=1000 KIVOM_REPLY_BOX=1001 KIVOM_START_BUTTON=1005
KIVOM_KEY_DELAY_MS=30 # between the keys xdotool types

# kivom_find_window: waits for kivom's window on the display and prints its id.
kivom_find_window() {
  local windows
  windows=$(kivom_wait_until "the window kivom on the display" \
    xdotool search --onlyvisible --name '^kivom$') || return 1
  echo "${windows%%$'\n'*}"
}

# kivom_close_window WINDOW: closes kivom's window WINDOW with Alt+F4 as real key presses. Two
# commands: chained to a window in one xdotool call, the keys go to that window as synthetic events.
kivom_close_window() { xdotool windowfocus --sync "$1" && xdotool key alt+F4; }

# kivom_click PROBE ID: the left button clicked at the centre of control ID.
kivom_click() {
  local x='' y=''
  read -r x y < <("$1" center "$2") || true
  [ -n "$y" ] || { echo "kivom-probe named no centre of control $2" >&2; return 1; }
  xdotool mousemove --sync "$x" "$y" click 1
}

# kivom_click_into PROBE ID: a click into control ID, which then has the keyboard focus.
kivom_click_into() {
  kivom_click "$1" "$2" && kivom_wait_for "the control with the focus" "$2" "$1" focus "$2"
}

# kivom_send_typed PROBE TEXT: clicks into the send box, types TEXT, clicks the start button and
# prints the reply once the reply box shows one.
kivom_send_typed() {
  local probe=$1 text=$2
  kivom_click_into "$probe" "$KIVOM_SEND_BOX" &&
    xdotool type --delay "$KIVOM_KEY_DELAY_MS" "$text" &&
    kivom_wait_for "the send box's text" "$text" "$probe" text "$KIVOM_SEND_BOX" &&
    kivom_click "$probe" "$KIVOM_START_BUTTON" &&
    kivom_wait_until "a reply in the reply box" kivom_reply_shown "$probe"
}
kivom_reply_shown() {
  local reply
  reply=$("$1" text "$KIVOM_REPLY_BOX") && [ -n "$reply" ] && echo "$reply"
}
