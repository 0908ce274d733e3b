#!/usr/bin/env bash
# The line for kivom alone, as a Linux user meets it: kivom started by its launcher on the serial
# peer's terminal beside Debian's own serial programs (picocom in a terminal, python3-serial with
# exclusive=True), run as root and as an ordinary user.
# Usage (from ctest, in the Wine test session): exclusive_test.sh KIVOM_EXE KIVOM_PROBE_EXE
# Ends with "N passed, N failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/lib/wine-env.sh"
source "$here/../../scripts/lib/form.sh"
source "$here/../../scripts/lib/test-user.sh"
export KIVOM_EXE=$1
probe_exe=$2
launcher=$KIVOM_BUILD/native/linux/kivom
client=$here/serial_client.py
cannot_use=$(printf 'COM1が使えません' | iconv -f UTF-8 -t CP932)
[ -f "$KIVOM_SESSION/display" ] && DISPLAY=$(cat "$KIVOM_SESSION/display") && export DISPLAY

start_wait_seconds=180
source "$here/../../scripts/lib/check.sh"

work=$(mktemp -d "$KIVOM_BUILD/exclusive.XXXXXX")
chmod 777 "$work"  # the ordinary user's peer and clients write here too
KIVOM_PEER_PID='' kivom_pid='' holder_pid=''
finish() {
  for pid in $holder_pid $kivom_pid; do kill "$pid" 2>/dev/null; done
  kivom_stop_peer
  kivom_map_com1 "$KIVOM_NO_PORT" >/dev/null || true
}
trap finish EXIT

# "${as[@]}" COMMAND...: COMMAND as the user of the section, in that user's own environment; a
# simple command, so that a command put in the background is the process $! names.
as=()
as_user() {
  local data
  user=$1
  user_home=$(getent passwd "$user" | cut -d: -f6)
  data=$user_home/.local/share/kivom
  as=()
  [ "$user" = root ] ||
    as=(runuser -u "$user" -- env HOME="$user_home" USER="$user" KIVOM_DATA="$data"
      KIVOM_WINEPREFIX="$data/wine-prefix" WINEPREFIX="$data/wine-prefix" KIVOM_NO_PORT="$data/no-port")
}
probe() { "${as[@]}" wine "$probe_exe" "$@" | tr -d '\r'; }
peer_requests() { grep -c ' request ' "$work/peer.log"; }
peer_answers() { echo "$1" >"$work/control"; }

start_peer() {
  : >"$work/peer.log"
  chmod 666 "$work/peer.log"
  peer_answers --echo
  kivom_start_peer "${as[@]}" -- --log "$work/peer.log" --control "$work/control"
  line=$KIVOM_PEER_LINE
}

# Starts kivom through its launcher on the peer's line, and waits for its window.
start_kivom() {
  "${as[@]}" "$launcher" "$line" 2>>"$work/launcher.log" &
  kivom_pid=$!
  # The launcher restarts Wine first, which a busy machine can take long over.
  KIVOM_WAIT_SECONDS=$start_wait_seconds kivom_find_window >/dev/null &&
    kivom_wait_for "the send box" "" probe text "$KIVOM_SEND_BOX"
}

# Waits for the launcher to end, its exit status in $launcher_status; at the deadline, says what
# it and its children were doing, stops it and fails.
launcher_status=
launcher_exit() {
  local ended=0
  if ! kivom_wait_until "the launcher's end" kivom_not_running "$kivom_pid" >/dev/null; then
    ps -o pid,ppid,stat,wchan:24,args --pid "$kivom_pid" --ppid "$kivom_pid" >&2
    kill "$kivom_pid" 2>/dev/null
    ended=1
  fi
  launcher_status=0
  wait "$kivom_pid" || launcher_status=$?
  kivom_pid=
  return $ended
}

# A press while another program holds the line: the message, no byte on the line, exit code 0.
press_is_refused() {
  local before
  before=$(peer_requests)
  probe set "$KIVOM_SEND_BOX" "refused?" && probe press "$KIVOM_START_BUTTON" || return 1
  local message
  message=$(probe message "$KIVOM_START_BUTTON") || return 1
  [ "$message" = "$cannot_use" ] || { echo "the message box says '$message'" >&2; return 1; }
  probe dismiss "$KIVOM_START_BUTTON"
  launcher_exit || return 1
  [ "$launcher_status" -eq 0 ] || { echo "kivom ended with $launcher_status" >&2; return 1; }
  [ "$(peer_requests)" -eq "$before" ] || { echo "a request reached the device" >&2; return 1; }
}

# A press that reaches the device: the request in the peer's log, the reply in the box.
press_reaches_device() {
  local text="press $1" before
  before=$(peer_requests)
  probe set "$KIVOM_SEND_BOX" "$text" && probe press "$KIVOM_START_BUTTON" &&
    kivom_wait_for "the reply box" "$text" probe text "$KIVOM_REPLY_BOX" &&
    kivom_wait_for "the peer's count of requests" $((before + 1)) peer_requests
}

close_kivom() {
  local window
  window=$(kivom_find_window) && kivom_close_window "$window"
  launcher_exit || return 1
  [ "$launcher_status" -eq 0 ] || { echo "kivom ended with $launcher_status" >&2; return 1; }
}

# start_holder WHAT COMMAND...: another program takes the line; waits until it says it holds it.
start_holder() {
  local what=$1
  shift
  : >"$work/holder"  # emptied here, not by the holder's redirection, which comes when it starts
  "$@" >>"$work/holder" 2>&1 &
  holder_pid=$!
  kivom_wait_for "$what to hold the line" held head -n 1 "$work/holder"
}
stop_holder() { kill "$holder_pid" 2>/dev/null; wait "$holder_pid" 2>/dev/null; holder_pid=; }

refused_while() {  # what, then the holder's command
  local what=$1
  shift
  start_holder "$what" "$@" && start_kivom && press_is_refused
  local status=$?
  stop_holder
  [ -z "$kivom_pid" ] || { kill "$kivom_pid" 2>/dev/null; kivom_pid=; }
  return $status
}

# While kivom is inside an exchange with a silent device, the others are refused; once it is
# over, they are granted.
others_refused_during_exchange() {
  local result
  for _ in 1 2 3; do  # attempts
    peer_answers --silent
    : >"$work/during"
    "${as[@]}" /usr/bin/python3 "$client" during "$line" >>"$work/during" 2>&1 &
    local watcher=$!
    kivom_wait_for "the watcher" watching head -n 1 "$work/during" &&
      probe press "$KIVOM_START_BUTTON" &&
      kivom_wait_exit "$watcher"
    result=$(cat "$work/during")
    awk -v user="$user" '{ print "  " user ": " $0 }' <<<"$result"
    # A machine too busy to try while kivom held the line tries again.
    grep -q '^late ' <<<"$result" && continue
    peer_answers --echo
    grep -q '^during pyserial refused' <<<"$result" && grep -q '^during picocom refused' <<<"$result" &&
      grep -q '^after pyserial granted' <<<"$result"
    return
  done
  return 1
}

three_presses_reach_device() {
  press_reaches_device 1 && press_reaches_device 2 && press_reaches_device 3
}

lock_file=
live_lock_file_refuses() {
  sleep 600 &
  local sleeper=$!
  printf '%10d\n' "$sleeper" >"$lock_file"
  start_kivom && press_is_refused
  local status=$?
  kill "$sleeper"
  rm -f "$lock_file"
  return $status
}

stale_lock_file_is_removed() {
  local gone
  sh -c 'exit 0' &
  gone=$!
  wait "$gone"
  printf '%10d\n' "$gone" >"$lock_file"
  start_kivom && press_reaches_device stale && close_kivom && [ ! -e "$lock_file" ]
}

# The Wine server killed while kivom holds the line leaves nothing that refuses the next press.
server_killed_inside_exchange() {
  local server
  start_kivom || return 1
  peer_answers --silent
  : >"$work/held"
  "${as[@]}" /usr/bin/python3 "$client" await-held "$line" >>"$work/held" 2>&1 &
  local watcher=$!
  kivom_wait_for "the watcher" watching head -n 1 "$work/held" &&
    probe press "$KIVOM_START_BUTTON" && kivom_wait_exit "$watcher" || return 1
  server=$(kivom_server_pid) && kill -9 "$server" || return 1
  # The 32-bit Wine's program ends with its server. The 64-bit one's waits for ever, its window
  # dead on the screen, and the user stops the launcher, which ends what is left.
  KIVOM_WAIT_SECONDS=5 kivom_wait_until "the launcher to end with the server" \
    kivom_not_running "$kivom_pid" >/dev/null 2>&1 || kill "$kivom_pid"
  launcher_exit || return 1
  peer_answers --echo
  local left
  left=$(kivom_prefix_processes)
  [ -z "$left" ] ||
    { echo "Wine processes left: $(ps -o pid,args --no-headers -p "${left//$'\n'/,}")" >&2; return 1; }
  [ ! -e "$lock_file" ] || { echo "left: $lock_file" >&2; return 1; }
  local after
  after=$(/usr/bin/python3 -c 'import serial, sys; serial.Serial(sys.argv[1], exclusive=True)' "$line" 2>&1) ||
    { echo "the lock stayed: $after" >&2; return 1; }
  start_kivom && press_reaches_device "after the kill" && close_kivom
}

for user in root "$KIVOM_TEST_USER"; do
  as_user "$user"
  start_peer
  lock_file=$(kivom_lock_file "$line")
  echo "== as $user, on $line"
  # The user's own prefix, made on first use, before anything waits for a window.
  # shellcheck disable=SC2016 # the launcher's path is the inner shell's $0
  "${as[@]}" bash -c 'source "$0" && kivom_prefix_ready' "$launcher" || exit 1
  check "$user: a pyserial exclusive=True holder refuses kivom" \
    refused_while pyserial "${as[@]}" /usr/bin/python3 "$client" hold "$line"
  check "$user: a TIOCEXCL holder refuses kivom" \
    refused_while TIOCEXCL "${as[@]}" /usr/bin/python3 "$client" hold-excl "$line"
  check "$user: inside an exchange, pyserial and picocom are refused, then granted" \
    eval 'start_kivom && others_refused_during_exchange'
  check "$user: three presses in a row each reach the device" eval 'three_presses_reach_device && close_kivom'
  if [ "$user" = root ]; then
    check "$user: picocom holding the line refuses kivom" \
      refused_while picocom "${as[@]}" /usr/bin/python3 "$client" hold-picocom "$line"
    check "$user: a live UUCP lock file refuses kivom" live_lock_file_refuses
    check "$user: a stale UUCP lock file is removed, and kivom's own goes at the end" \
      stale_lock_file_is_removed
    check "$user: the Wine server killed inside an exchange leaves no process, lock or flag behind" \
      server_killed_inside_exchange
  fi
  kivom_stop_peer
done

check_summary
