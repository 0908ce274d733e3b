# Shared by the scripts and the tests that run kivom under Wine: the build's own Wine
# prefix, a virtual X display, and COM1 kept away from the machine's own serial ports.
#
# Wine links COM1 to the machine's first serial port at every start unless the registry
# (HKLM\Software\Wine\Ports, value COM1) names another device. So the prefix is created
# with Wine's mount manager switched off, COM1 is set before it ever runs, and every map
# is checked on the link that Wine actually made.

KIVOM_ROOT=${KIVOM_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
KIVOM_BUILD=${KIVOM_BUILD:-$KIVOM_ROOT/build}
KIVOM_SESSION=$KIVOM_BUILD/wine-session      # display, pids and locks of the running session

# The launcher's Wine set-up, on the build's own prefix and programs. This machine's serial
# ports are not the project's: nothing here may lead COM1 to one.
KIVOM_WINEPREFIX=${KIVOM_WINEPREFIX:-$KIVOM_BUILD/wine-prefix}
KIVOM_NO_PORT=$KIVOM_BUILD/wine-no-port      # an empty folder: opening COM1 fails with access denied
KIVOM_DATA=$KIVOM_BUILD/kivom-data
KIVOM_EXE=$KIVOM_BUILD/win32/kivom.exe
KIVOM_ECHO_DEVICE=$KIVOM_BUILD/native/tools/serial-peer/serial-peer
# ld.so's $LIB picks the i386 or the x86_64 build for each Wine server.
KIVOM_EXCLUSIVE_OPEN=${KIVOM_EXCLUSIVE_OPEN:-"$KIVOM_BUILD/native/linux/exclusive-open/\$LIB/libkivom-exclusive-open.so"}
KIVOM_REFUSE_MACHINE_PORTS=1
export KIVOM_WINEPREFIX KIVOM_NO_PORT KIVOM_DATA KIVOM_EXE KIVOM_ECHO_DEVICE KIVOM_EXCLUSIVE_OPEN \
  KIVOM_REFUSE_MACHINE_PORTS
source "$KIVOM_ROOT/scripts/lib/step.sh"
mkdir -p "$KIVOM_SESSION"
# Japanese locale: Wine's ANSI code page becomes 932 (Shift-JIS).
export LANG=$KIVOM_LOCALE LC_ALL=$KIVOM_LOCALE

# Starts Xvfb on a free display number and exports DISPLAY; its pid is in $KIVOM_XVFB_PID.
# Xvfb picks the number itself and names it once it accepts clients (-displayfd), so two
# sessions starting at once never take the same display, and a slow start is waited for.
KIVOM_DISPLAY_WAIT_TENTHS=300
kivom_start_display() {
  local named i number=
  named=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$named" >/dev/null 2>&1 &
  KIVOM_XVFB_PID=$!
  for ((i = 0; i < KIVOM_DISPLAY_WAIT_TENTHS; i++)); do
    number=$(head -n 1 "$named")
    [[ "$number" =~ ^[0-9]+$ ]] && [ -e "/tmp/.X11-unix/X$number" ] && break
    kill -0 "$KIVOM_XVFB_PID" 2>/dev/null || break
    number=
    sleep 0.1
  done
  rm -f "$named"
  [ -n "$number" ] || kivom_die "awaited a virtual display for 30 s; Xvfb named none"
  export DISPLAY=":$number"
}

# kivom_preload_recorder RECORDER-DIR LINE LOG: the Wine processes started from now on carry
# the line recorder (tools/line-recorder, built in RECORDER-DIR) for the terminal LINE, logging
# to LOG. ld.so's $LIB picks the i386 or the x86_64 build for each process.
kivom_preload_recorder() {
  export KIVOM_RECORDER_PORT=$2 KIVOM_RECORDER_LOG=$3
  export LD_PRELOAD="${LD_PRELOAD:+$LD_PRELOAD:}$1/\$LIB/libline-recorder.so"
}

# Saves a PNG of the whole display.
kivom_screenshot() {
  import -display "$DISPLAY" -window root "$1"
}
