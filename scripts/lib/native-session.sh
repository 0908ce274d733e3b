# shellcheck shell=bash
# A desktop for the native (GTK 3) kivom in tests: a virtual X display and a session bus of its
# own, on which the accessibility bus starts by D-Bus activation (at-spi2-core), so that
# tests/native/atspi_probe.py reads the window as an assistive tool does and xdotool drives it.
#
# The session bus is always a new one, whether or not the caller runs inside dbus-run-session
# or a desktop: a test's windows never show up on a person's accessibility bus, and what the
# session started ends with it. GTK 3 joins the accessibility bus by itself once a session bus is
# there; nothing has to switch accessibility on (GTK 3 does not read org.a11y.Status IsEnabled).
#
#   kivom_native_session_start   starts both, exports DISPLAY and DBUS_SESSION_BUS_ADDRESS and
#                                the GTK settings below
#   kivom_native_session_stop    ends both
# Without a window manager the keyboard follows the pointer: a click into a control is what
# gives it the keys that xdotool types.

# Starts Xvfb on a free display number and a session bus; exports what the program and the
# probe need to find them. Fails, saying what it awaited, when either does not come up.
kivom_native_session_start() {
  local named number='' i bus
  named=$(mktemp)
  # -noreset: the display stays as it is when its last client leaves, between two programs.
  # -displayfd: Xvfb names a number no other server has, once it accepts clients.
  Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$named" >/dev/null 2>&1 &
  KIVOM_NATIVE_XVFB_PID=$!
  for ((i = 0; i < 300; i++)); do
    number=$(head -n 1 "$named")
    [[ "$number" =~ ^[0-9]+$ ]] && [ -e "/tmp/.X11-unix/X$number" ] && break
    kill -0 "$KIVOM_NATIVE_XVFB_PID" 2>/dev/null || break
    number=''
    sleep 0.1
  done
  rm -f "$named"
  if [ -z "$number" ]; then
    echo "awaited a virtual display for 30 s; Xvfb named none" >&2
    kivom_native_session_stop
    return 1
  fi
  export DISPLAY=":$number"
  # Started once DISPLAY is set: the accessibility bus's launcher inherits it from this bus.
  unset AT_SPI_BUS_ADDRESS
  bus=$(dbus-daemon --session --fork --nosyslog --print-address=1 --print-pid=1 2>/dev/null) || {
    echo "the session bus did not start" >&2
    kivom_native_session_stop
    return 1
  }
  export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
  KIVOM_NATIVE_BUS_PID=${bus##*$'\n'}
  # The accessibility bus and its registry, started before any program: a program's bridge
  # that meets them still starting on a busy machine may give up and stay off the bus.
  local a11y
  a11y=$(dbus-send --session --print-reply=literal --reply-timeout=60000 --dest=org.a11y.Bus \
    /org/a11y/bus org.a11y.Bus.GetAddress 2>&1) &&
    a11y=${a11y//[[:space:]]/} && dbus-send --bus="$a11y" --print-reply --reply-timeout=60000 \
    --dest=org.a11y.atspi.Registry /org/a11y/atspi/accessible/root org.freedesktop.DBus.Peer.Ping \
    >/dev/null 2>&1 || {
    echo "awaited the accessibility bus and its registry for 60 s; saw: $a11y" >&2
    kivom_native_session_stop
    return 1
  }
  # The look the form is made for, on X11 (xdotool, Xvfb), with GTK's accessibility bridge on.
  export GTK_THEME=Adwaita GDK_BACKEND=x11 NO_AT_BRIDGE=0
}

# Ends the session bus (the accessibility bus and its registry end with it) and the display.
kivom_native_session_stop() {
  if [ -n "${KIVOM_NATIVE_BUS_PID:-}" ]; then
    kill "$KIVOM_NATIVE_BUS_PID" 2>/dev/null || true
    unset KIVOM_NATIVE_BUS_PID DBUS_SESSION_BUS_ADDRESS
  fi
  if [ -n "${KIVOM_NATIVE_XVFB_PID:-}" ]; then
    kill "$KIVOM_NATIVE_XVFB_PID" 2>/dev/null || true
    wait "$KIVOM_NATIVE_XVFB_PID" 2>/dev/null || true
    unset KIVOM_NATIVE_XVFB_PID DISPLAY
  fi
}
