# shellcheck shell=bash
# kivom's form driven as a person drives it, with real mouse clicks and key presses through the X
# server; each step waits until the program shows that the one before it arrived (wait.sh). PROBE
# is the caller's command that runs kivom-probe under its own Wine set-up and drops the '\r'.
# KIVOM_XDOTOOL is the command that runs xdotool: a caller driving another user's display names
# one that runs it as that user.
source "$(dirname "${BASH_SOURCE[0]}")/wait.sh"

KIVOM_SEND_BOX=1000 KIVOM_REPLY_BOX=1001 KIVOM_START_BUTTON=1005 # app/main_form.h
KIVOM_KEY_DELAY_MS=30                                            # between the keys xdotool types
KIVOM_XDOTOOL=${KIVOM_XDOTOOL:-xdotool}

# kivom_find_window: waits for kivom's window on the display and prints its id.
kivom_find_window() {
  local windows
  windows=$(kivom_wait_until "the window kivom on the display" \
    "$KIVOM_XDOTOOL" search --onlyvisible --name '^kivom$') && echo "${windows%%$'\n'*}"
}

# kivom_close_window WINDOW [PID]: Alt+F4 as real key presses (chained to a window in one xdotool
# call, they would go to it as synthetic events); then the end of PID awaited, its exit status.
kivom_close_window() {
  "$KIVOM_XDOTOOL" windowfocus --sync "$1" && "$KIVOM_XDOTOOL" key alt+F4 && { [ -z "${2:-}" ] || kivom_wait_exit "$2"; }
}

# kivom_click PROBE ID: the left button clicked at the centre of control ID.
kivom_click() {
  local x='' y=''
  read -r x y < <("$1" center "$2") || true
  [ -n "$y" ] || { echo "kivom-probe named no centre of control $2" >&2; return 1; }
  "$KIVOM_XDOTOOL" mousemove --sync "$x" "$y" click 1
}

# kivom_click_into PROBE ID: a click into control ID, which then has the keyboard focus.
kivom_click_into() {
  kivom_click "$1" "$2" && kivom_wait_for "the control with the focus" "$2" "$1" focus "$2"
}

# kivom_send_typed PROBE TEXT: TEXT typed into the send box, the start button clicked; prints the
# reply once the reply box shows one.
kivom_send_typed() {
  kivom_click_into "$1" "$KIVOM_SEND_BOX" && "$KIVOM_XDOTOOL" type --delay "$KIVOM_KEY_DELAY_MS" "$2" &&
    kivom_wait_for "the send box's text" "$2" "$1" text "$KIVOM_SEND_BOX" &&
    kivom_click "$1" "$KIVOM_START_BUTTON" &&
    kivom_wait_until "a reply in the reply box" kivom_reply_shown "$1"
}
kivom_reply_shown() { local reply; reply=$("$1" text "$KIVOM_REPLY_BOX") && [ -n "$reply" ] && echo "$reply"; }

# kivom_window_picture WINDOW PNG: saves a picture of an X window once it is painted, that is
# once two pictures a moment apart are the same.
kivom_window_picture() {
  local window=$1
  kivom_wait_until "a settled picture of the window" kivom_window_settled "$window" >/dev/null ||
    kivom_die "the window did not settle"
  import -window "$window" "$2"
}
kivom_window_pixels() { import -window "$1" rgb:- | md5sum; }
kivom_window_settled() {
  local before
  before=$(kivom_window_pixels "$1") && sleep 0.2 && [ "$(kivom_window_pixels "$1")" = "$before" ]
}

# kivom_bind_keys TEXT: a key of its own for each character of TEXT that has none. xdotool types
# such a character by binding a spare key to it for an instant, and a program slow to read the
# key press (a busy machine) then finds the key bound to nothing: the character is lost.
kivom_bind_keys() {
  local text=$1 i character codes
  mapfile -t codes < <(xmodmap -pk | awk 'NR > 5 && NF == 1 { print $1 }')
  for ((i = 0; i < ${#text}; i++)); do
    character=${text:i:1}
    [ "$(LC_ALL=C.UTF-8 printf '%d' "'$character")" -gt 127 ] || continue
    xmodmap -pke | grep -q "= $(LC_ALL=C.UTF-8 printf 'U%04X' "'$character")\$" && continue
    [ ${#codes[@]} -gt 0 ] || return 1
    xmodmap -e "keycode ${codes[0]} = $(LC_ALL=C.UTF-8 printf 'U%04X' "'$character")" || return 1
    codes=("${codes[@]:1}")
  done
}
