#!/usr/bin/env bash
# Starts kivom.exe on the test session's display, saves a picture of its window for a
# person to look at, then closes it with Alt+F4 as a user would and checks exit code 0.
# Usage: form_screenshot.sh KIVOM_EXE PNG
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib/wine-env.sh"
source "$(dirname "$0")/../../scripts/lib/form.sh"

program=$1 picture=$2
DISPLAY=$(cat "$KIVOM_SESSION/display") || kivom_die "no test session display"
export DISPLAY

wine "$program" &
wine_pid=$!
trap 'kill $wine_pid 2>/dev/null || true' EXIT

# Listed by name before it is mapped: wait until it is on the display.
window=$(kivom_find_window) ||
  kivom_die "no window kivom; the program $(kill -0 $wine_pid 2>/dev/null && echo runs ||
    echo ended), the display $DISPLAY shows: $(xdotool search --name . getwindowname %@ 2>&1 |
    paste -sd, -)"
kivom_window_picture "$window" "$picture"
echo "form picture: $picture"

kivom_close_window "$window" "$wine_pid" || kivom_die "the program ended with exit code $? after Alt+F4"
trap - EXIT
echo "closed with Alt+F4, exit code 0"
