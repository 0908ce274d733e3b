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

# The build's own prefix and programs. This machine's serial ports are not the project's:
# nothing here may lead COM1 to one.
export WINEPREFIX=$KIVOM_BUILD/wine-prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# No Mono, Gecko or menu entries: kivom needs none of them.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
KIVOM_NO_PORT=$KIVOM_BUILD/wine-no-port # an empty folder: opening COM1 fails with access denied
KIVOM_ECHO_DEVICE=$KIVOM_BUILD/native/tools/serial-peer/serial-peer
KIVOM_REFUSE_MACHINE_PORTS=1
# Wine's own faces as Debian installs them (fonts-wine). This Wine build looks for them in
# /usr/share/fonts instead, and fontconfig does not list this folder either.
KIVOM_WINE_FONTS=/usr/share/wine/fonts
KIVOM_PREFIX_MARK=.kivom-ready-4 # a new mark when the set-up changes: older prefixes are made anew
export KIVOM_NO_PORT KIVOM_ECHO_DEVICE KIVOM_REFUSE_MACHINE_PORTS
source "$KIVOM_ROOT/scripts/lib/step.sh"
source "$KIVOM_ROOT/scripts/lib/peer.sh"
mkdir -p "$KIVOM_SESSION"
# Japanese locale: Wine's ANSI code page becomes 932 (Shift-JIS).
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

# The device the port NAME (COM1, COM7, ...) is mapped to in the registry of the prefix, read
# from the file; nothing when it is not mapped.
kivom_port_registry_value() {
  awk -v value="\"$1\"=\"" '/^\[Software\\\\Wine\\\\Ports\]/ {inside=1; next}
       /^\[/ {inside=0}
       inside && index($0, value) == 1 {$0 = substr($0, length(value) + 1); sub(/"$/, "");
                                        gsub(/\\\\/, "\\"); print}' \
    "$WINEPREFIX/system.reg" 2>/dev/null
}
kivom_com1_registry_value() { kivom_port_registry_value COM1; }
# Refuses, where the machine's own serial ports are not to be touched, anything that leads to one.
kivom_check_not_machine_port() {
  local target=$1 real
  [ "$KIVOM_REFUSE_MACHINE_PORTS" = 1 ] || return 0
  real=$(readlink -f -- "$target" 2>/dev/null || echo "$target")
  case "$real" in
    /dev/ttyS[0-9]*) kivom_die "refusing: a COM port would lead to the machine's serial port $real" ;;
  esac
}
kivom_reg_set_port() {
  wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$2" /f /reg:64 >/dev/null 2>&1 ||
    kivom_die "could not write $1 into the Wine registry"
}
kivom_reg_set_com1() { kivom_reg_set_port COM1 "$1"; }
# Creates the prefix on first use; later calls find it ready.
kivom_prefix_ready() {
  mkdir -p "$KIVOM_NO_PORT" "$(dirname "$WINEPREFIX")" || kivom_die "cannot create $KIVOM_NO_PORT"
  [ -f "$WINEPREFIX/$KIVOM_PREFIX_MARK" ] && return 0
  (
    flock 9
    [ -f "$WINEPREFIX/$KIVOM_PREFIX_MARK" ] && exit 0
    kivom_step "creating the Wine prefix $WINEPREFIX" kivom_make_prefix
  ) 9>"$WINEPREFIX.lock" || exit 1
}
kivom_make_prefix() {
  # Without the mount manager, Wine does not link COM1 to the machine's port meanwhile.
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mountmgr.sys=d"
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  wineboot --init || kivom_die "wineboot could not create the prefix"
  kivom_reg_set_com1 "$KIVOM_NO_PORT"
  # The form's font, "ＭＳ Ｐゴシック", is drawn with its metric-compatible IPA face.
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /t REG_SZ \
    /d 'IPAPGothic' /f || kivom_die "could not map the form's font"
  # Wine draws the window frames itself, so a bare virtual display shows title bars too.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f ||
    kivom_die "could not set the X11 driver"
  # The caption buttons are glyphs of Marlett; without it Wine draws the letters "0 1 r".
  if [ -f "$KIVOM_WINE_FONTS/marlett.ttf" ]; then
    cp "$KIVOM_WINE_FONTS/marlett.ttf" "$WINEPREFIX/drive_c/windows/Fonts/" ||
      kivom_die "could not add Marlett to the prefix"
  fi
  wineserver -k 2>/dev/null || true
  wineserver -w
  [ "$(kivom_com1_registry_value)" = "$KIVOM_NO_PORT" ] || kivom_die "COM1 did not reach the registry"
  touch "$WINEPREFIX/$KIVOM_PREFIX_MARK"
}
# The pid of the Wine server of the prefix: the one working in the folder Wine names after the
# prefix's device and inode (server-DEV-INODE in hex, in a temporary folder of the user's).
kivom_server_pid() {
  local dev ino folder process
  read -r dev ino < <(stat -L -c '%D %i' -- "$WINEPREFIX") || return 1
  folder=/server-$dev-$(printf '%x' "$ino")
  for process in /proc/[0-9]*; do
    [[ "$(readlink "$process/cwd" 2>/dev/null)" == *"$folder" ]] || continue
    case "$(cat "$process/comm" 2>/dev/null)" in
      wineserver*) echo "${process#/proc/}"; return 0 ;;
    esac
  done
  return 1
}
# Ends every Wine process of the prefix: the server and its programs, and the programs a killed
# server left behind. The 64-bit Wine's wait for their server for ever, their windows still on
# the screen, and only a signal ends them; another user's are not ours to end.
kivom_stop_wine() {
  local pid
  wineserver -k 2>/dev/null || true
  for pid in $(kivom_prefix_processes); do kill -9 "$pid" 2>/dev/null || true; done
}
# The processes of Wine's loader (programs, not the server) whose WINEPREFIX is this prefix.
kivom_prefix_processes() {
  local exe
  find /proc/[0-9]*/exe -maxdepth 0 \( -lname '*/wine' -o -lname '*/wine64' \
    -o -lname '*/wine-preloader' -o -lname '*/wine64-preloader' \) 2>/dev/null |
    while read -r exe; do
      if tr '\0' '\n' 2>/dev/null <"${exe%/exe}/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
        echo "${exe:6:-4}" # /proc/PID/exe
      fi
    done
}
# Maps COM1 to a device or folder, restarts the Wine server so the mapping takes, and checks the
# link Wine made. Fails loudly if COM1 leads anywhere else.
kivom_map_com1() { kivom_map_ports "COM1=$1"; }
# kivom_map_ports NAME=TARGET...: the same for each port NAME. A port that is not named keeps its
# value and its link; one mapped to nothing is taken out of the registry and its link removed,
# so that it is absent. Wine links the machine's own serial ports to the numbers the registry
# leaves free, from COM1 up: an absent port that Wine gave one of them fails the check.
kivom_map_ports() {
  local pair name target changed=0
  for pair in "$@"; do kivom_check_not_machine_port "${pair#*=}"; done
  kivom_prefix_ready
  kivom_stop_wine
  wineserver -w
  for pair in "$@"; do
    name=${pair%%=*} target=${pair#*=}
    if [ "$(kivom_port_registry_value "$name")" = "$target" ]; then continue; fi
    if [ -n "$target" ]; then
      kivom_reg_set_port "$name" "$target"
    else
      wine reg delete 'HKLM\Software\Wine\Ports' /v "$name" /f /reg:64 >/dev/null 2>&1 ||
        kivom_die "could not take $name out of the Wine registry"
    fi
    changed=1
  done
  if [ "$changed" = 1 ]; then
    wineserver -k 2>/dev/null || true
    wineserver -w
    for pair in "$@"; do
      name=${pair%%=*} target=${pair#*=}
      [ "$(kivom_port_registry_value "$name")" = "$target" ] ||
        kivom_die "$name is not '$target' in the registry"
    done
  fi
  # Wine keeps a link that the registry no longer names; any Wine process above may have made it.
  for pair in "$@"; do
    name=${pair%%=*} target=${pair#*=}
    if [ -z "$target" ]; then rm -f "$WINEPREFIX/dosdevices/${name,,}"; fi
  done
  wineserver -p 2>/dev/null           # stays up, so the link made now is the one used
  wine cmd /c exit >/dev/null 2>&1    # a first process starts the mount manager, which links COM1
  for pair in "$@"; do kivom_check_port "${pair%%=*}" "${pair#*=}"; done
}
kivom_check_com1() { kivom_check_port COM1 "$1"; }
kivom_check_port() {
  local name=$1 expected=$2 link
  link=$(readlink -- "$WINEPREFIX/dosdevices/${name,,}" 2>/dev/null || true)
  [ "$link" = "$expected" ] || kivom_die "$name leads to '${link}', not to '${expected:-nothing}'"
  kivom_check_not_machine_port "$link"
}

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
