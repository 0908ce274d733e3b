#!/usr/bin/env bash
# Starts kivom.exe on the test session's display, saves a picture of its window for a
# person to look at, then closes it with Alt+F4 as a user would and checks exit code 0.
# Usage: form_screenshot.sh KIVOM_EXE PNG
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib/wine-env.sh"

program=$1 picture=$2
DISPLAY=$(cat "$KIVOM_SESSION/display") || kivom_die "no test session display"
export DISPLAY

wine "$program" &
wine_pid=$!
trap 'kill $wine_pid 2>/dev/null || true' EXIT

window=
for _ in $(seq 200); do
  window=$(xdotool search --name '^kivom$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.05
done
[ -n "$window" ] || kivom_die "the window kivom did not appear"
sleep 0.5  # let the controls paint
import -window "$window" "$picture"
echo "form picture: $picture"

# Real key presses through the X server, to the focused window.
xdotool windowfocus --sync "$window"
xdotool key alt+F4
for _ in $(seq 100); do
  kill -0 $wine_pid 2>/dev/null || break
  sleep 0.05
done
kill -0 $wine_pid 2>/dev/null && kivom_die "Alt+F4 did not close the program"
wait $wine_pid && code=0 || code=$?
trap - EXIT
[ "$code" -eq 0 ] || kivom_die "the program ended with exit code $code"
echo "closed with Alt+F4, exit code 0"
