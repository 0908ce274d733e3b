#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# shellcheck disable=SC2119 # lib.sh's start_peer and start_kivom take arguments; none are needed here
# The line for the native kivom alone, beside Debian's own serial programs (python3-serial with
# exclusive=True, a plain TIOCEXCL holder, picocom) and a UUCP lock file, run as root and as the
# ordinary user. Root passes the kernel's TIOCEXCL check, so only kivom's own look at the flag
# keeps it off a held line; the ordinary user meets the kernel's refusal too.
# The user's part runs as that user in a session of its own, from a copy of what it needs in a
# folder that user may read: the checkout may sit where only root may enter.
#   exclusive_test.sh             both parts (as root, in a session: tests/native/in-session.sh)
#   exclusive_test.sh --section   the part of the user it runs as
# Ends with "N passed, N failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"
# shellcheck source=../../scripts/lib/test-user.sh
source "$here/../../scripts/lib/test-user.sh"

# The UUCP lock file of a device: /run/lock/LCK..NAME, NAME its real path below /dev, '/' as '_'.
kivom_lock_file() {
  local name
  name=$(readlink -f -- "$1")
  name=${name#/dev/}
  echo "/run/lock/LCK..${name//\//_}"
}
client=$here/../e2e/serial_client.py
user=$(id -un)

holder_pid='' lock_file='' copy=''
finish_exclusive() {
  [ -z "$holder_pid" ] || kill "$holder_pid" 2>/dev/null
  end_lock_file
  [ -z "$copy" ] || rm -rf "$copy"
  finish_native
}
trap finish_exclusive EXIT

# The peer on a new terminal, never one of the machine's own ports: the holders open it before
# kivom's own refusal of such a port could apply.
start_line() {
  start_peer "$@"
  case "$(readlink -f -- "$line")" in
    /dev/ttyS[0-9]*) kivom_die "refusing: $line is one of the machine's own serial ports" ;;
  esac
  lock_file=$(kivom_lock_file "$line")
}

stop_kivom() {
  [ -z "$kivom_pid" ] || { kill "$kivom_pid" && wait "$kivom_pid"; } 2>/dev/null
  kivom_pid=''
}

# What kivom shows after a refused press, or the request that should not have come.
message_or_request() {
  if [ "$(peer_count request)" -gt "$1" ]; then
    echo "a request on the line: $(last_request)"
    return 0
  fi
  KIVOM_WAIT_SECONDS=0 probe message 2>/dev/null
}

# A press while another program holds the line: the message, exit code 0 once it is closed, and
# no byte on the line.
press_is_refused() {
  local requests seen status=0
  requests=$(peer_count request)
  probe set "$KIVOM_SEND_BOX" "refused?" && probe press "$KIVOM_START_BUTTON" || return 1
  seen=$(kivom_wait_until "kivom's message, or a request on the line" message_or_request "$requests") ||
    return 1
  [ "$seen" = "$cannot_use" ] || { echo "  awaited the message '$cannot_use'; saw: $seen" >&2; return 1; }
  probe dismiss && kivom_exit || status=$?
  [ "$status" -eq 0 ] || { echo "  kivom ended with $status" >&2; return 1; }
  [ "$(peer_count request)" -eq "$requests" ] ||
    { echo "  a request reached the device: $(last_request)" >&2; return 1; }
}

# A press that reaches the device: the request on the line, and its echo in the reply box.
press_reaches_device() {
  local text=$1 wanted
  wanted=$(printf '%s\r' "$text" | hex)
  probe set "$KIVOM_SEND_BOX" "$text" && probe press "$KIVOM_START_BUTTON" &&
    kivom_wait_for "the request on the line" "$wanted" last_request &&
    kivom_wait_for "the reply box" "$text"$'\r' probe text "$KIVOM_REPLY_BOX"
}

# start_holder WHAT MODE: serial_client.py holds the line in MODE; waits until it says so.
start_holder() {
  : >"$work/holder"  # emptied here: the holder's own redirection comes only once it starts
  /usr/bin/python3 "$client" "$2" "$line" >>"$work/holder" 2>&1 &
  holder_pid=$!
  kivom_wait_for "$1 to hold the line" held head -n 1 "$work/holder"
}
stop_holder() {
  [ -z "$holder_pid" ] || { kill "$holder_pid" && wait "$holder_pid"; } 2>/dev/null
  holder_pid=''
}

refused_while() {  # WHAT MODE
  start_holder "$1" "$2" && start_kivom && press_is_refused
}

# While kivom is inside an exchange with a silent device, the others are refused; once it has
# let go, pyserial is granted.
others_refused_during_exchange() {
  local result watcher
  start_kivom || return 1
  for _ in 1 2 3; do  # attempts
    peer_answers --silent
    : >"$work/during"
    /usr/bin/python3 "$client" during "$line" >>"$work/during" 2>&1 &
    watcher=$!
    # The watcher's own waits end after 30 s each, saying what they awaited.
    kivom_wait_for "the watcher" watching head -n 1 "$work/during" &&
      probe press "$KIVOM_START_BUTTON" && KIVOM_WAIT_SECONDS=$((KIVOM_WAIT_SECONDS + 15)) kivom_wait_exit "$watcher"
    kill "$watcher" 2>/dev/null
    result=$(cat "$work/during")
    awk -v user="$user" '{ print "  " user ": " $0 }' <<<"$result"
    # A machine too busy to try while kivom held the line tries again.
    grep -q '^late ' <<<"$result" && continue
    grep -q '^during pyserial refused' <<<"$result" && grep -q '^during picocom refused' <<<"$result" &&
      grep -q '^after pyserial granted' <<<"$result" && close_kivom
    return
  done
  return 1
}

# write_lock_file PID: a UUCP lock file for PID, as serial programs write one.
sleeper_pid='' written_lock=''
write_lock_file() {
  written_lock=$(printf '%10d' "$1")
  echo "$written_lock" >"$lock_file"
}
# Removes the lock file this script wrote while it still names what it wrote; kivom's own are
# kivom's to remove.
end_lock_file() {
  [ -z "$sleeper_pid" ] || { kill "$sleeper_pid" && wait "$sleeper_pid"; } 2>/dev/null
  sleeper_pid=''
  [ -z "$written_lock" ] || [ "$(cat "$lock_file" 2>/dev/null)" != "$written_lock" ] || rm -f "$lock_file"
  written_lock=''
}

live_lock_file_refuses() {
  sleep 600 &
  sleeper_pid=$!
  write_lock_file "$sleeper_pid"
  start_kivom && press_is_refused || return 1
  [ "$(cat "$lock_file" 2>/dev/null)" = "$written_lock" ] ||
    { echo "  the live holder's lock file was changed or removed" >&2; return 1; }
}

stale_lock_file_is_removed() {
  local gone
  sh -c 'exit 0' &
  gone=$!
  wait "$gone"
  write_lock_file "$gone"
  start_kivom && press_reaches_device stale && close_kivom || return 1
  [ ! -e "$lock_file" ] || { echo "  left: $lock_file naming $(tr -d ' \n' <"$lock_file")" >&2; return 1; }
}

# The exclusive flag of the line, 1 or 0, as root reads it (root's open passes the flag).
exclusive_flag() {
  /usr/bin/python3 -c '
import fcntl, os, struct, sys
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
print(1 if struct.unpack("i", fcntl.ioctl(fd, 0x80045440, bytes(4)))[0] else 0)' "$line"
}

# A holder killed with its TIOCEXCL flag set leaves the flag: a pseudo-terminal keeps it while the
# master is open. Nobody holds the line then, so the next press goes through and clears it.
killed_holder_flag_does_not_refuse() {
  start_holder TIOCEXCL hold-excl || return 1
  kill -9 "$holder_pid"
  wait "$holder_pid" 2>/dev/null
  holder_pid=''
  kivom_wait_for "the killed holder's flag left on the line" 1 exclusive_flag || return 1
  start_kivom && press_reaches_device "after the kill" &&
    kivom_wait_for "the flag cleared once kivom let go" 0 exclusive_flag && close_kivom
}

# The line's termios, as root reads it: whether HUPCL is set, 1 or 0.
hang_up_on_close() {
  /usr/bin/python3 -c '
import os, sys, termios
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
print(1 if termios.tcgetattr(fd)[2] & termios.HUPCL else 0)' "$line"
}
lock_gone() { [ ! -e "$lock_file" ] && echo gone; }

# A press into a silent device, then SIGNAL to kivom while it holds the line: the line is given
# back (no lock file; the flag, as root can read it, cleared) and the next kivom's press reaches
# the device. SIGTERM ends kivom as its close button does, with 0.
signal_inside_exchange() {
  local status=0
  start_kivom && peer_answers --silent && probe press "$KIVOM_START_BUTTON" &&
    kivom_wait_until "kivom's lock file, its hold on the line" test -e "$lock_file" >/dev/null &&
    kill -"$1" "$kivom_pid" || return 1
  kivom_exit || status=$?
  case "$1" in
    TERM) [ "$status" -eq 0 ] || { echo "  kivom ended with $status" >&2; return 1; } ;;
    KILL) [ "$status" -eq 137 ] || { echo "  kivom ended with $status, not killed" >&2; return 1; } ;;
  esac
  kivom_wait_for "the lock file removed" gone lock_gone || return 1
  if [ "$user" = root ]; then
    kivom_wait_for "the exclusive flag cleared" 0 exclusive_flag &&
      kivom_wait_for "HUPCL on the line" 1 hang_up_on_close || return 1
  fi
  peer_answers --echo
  start_kivom && press_reaches_device "after the $1" && close_kivom
}

# start_plain_holder NAME: a program called NAME with the line open and no lock of any kind.
start_plain_holder() {
  : >"$work/holder"
  /usr/bin/python3 -c '
import ctypes, os, sys, time
ctypes.CDLL(None).prctl(15, sys.argv[1].encode(), 0, 0, 0)  # PR_SET_NAME
fd = os.open(sys.argv[2], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
print("held", flush=True)
time.sleep(600)' "$1" "$line" >>"$work/holder" 2>&1 &
  holder_pid=$!
  kivom_wait_for "the plain holder to hold the line" held head -n 1 "$work/holder"
}

# A program that has the line open without any lock refuses kivom as Windows' exclusive open
# would; kivom names it with the control characters of its name escaped.
plain_holder_refuses() {
  start_plain_holder $'\e[31mevil' && : >"$work/kivom.log" && start_kivom && press_is_refused || return 1
  grep -q $'\e' "$work/kivom.log" && { echo "  an escape reached the terminal: $(cat -v "$work/kivom.log")" >&2; return 1; }
  grep -qF '(\x1b[31mevil)' "$work/kivom.log" || { echo "  not named escaped: $(cat "$work/kivom.log")" >&2; return 1; }
}

# What stands at the lock path that is not a lock file (a FIFO, a link) hangs nothing, is said,
# stays, and is never written through.
odd_lock_path_stays() {
  local kind=$1 target=$work/target
  echo "not kivom's" >"$target"
  case "$kind" in
    FIFO) mkfifo "$lock_file" ;;
    link) ln -s "$target" "$lock_file" ;;
  esac
  : >"$work/kivom.log"
  start_kivom && press_reaches_device "beside a $kind" && close_kivom || return 1
  case "$kind" in
    FIFO) [ -p "$lock_file" ] ;;
    link) [ -L "$lock_file" ] && [ "$(cat "$target")" = "not kivom's" ] ;;
  esac || { echo "  the $kind was changed: $(ls -l "$lock_file" 2>&1)" >&2; return 1; }
  rm -f "$lock_file"
  [ "$(grep -c 'not a lock file' "$work/kivom.log")" -eq 1 ] ||
    { echo "  kivom said, not once: $(cat "$work/kivom.log")" >&2; return 1; }
}

# A reply longer than 100 bytes: its rest, left in the line as a device leaves it, is no later
# press's reply.
no_stale_reply() {
  start_line --keep-unread
  peer_answers '--long 150'
  start_kivom && press && kivom_wait_for "the reply box" "$(head -c 100 <(yes ABCDEFGHIJKLMNOPQRSTUVWXYZ | tr -d '\n'))" \
    probe text "$KIVOM_REPLY_BOX" && peer_answers --silent && press &&
    kivom_wait_for "the reply box of a silent device" "" probe text "$KIVOM_REPLY_BOX" && close_kivom
  local status=$?
  start_line
  return $status
}

# kivom's own processes (the echo device, the keeper of the port) hold nothing kivom was given.
demo_keeps_nothing_inherited() {
  local children child
  echo "kivom's own" >"$work/inherited"
  "$kivom" --demo 7<"$work/inherited" 2>>"$work/kivom.log" &
  kivom_pid=$!
  kivom_wait_for "kivom's send box" "" probe --pid "$kivom_pid" text "$KIVOM_SEND_BOX" &&
    children=$(kivom_wait_until "kivom's processes" pgrep -P "$kivom_pid") || return 1
  for child in $children; do
    if ls -l "/proc/$child/fd" | grep -q "$work/inherited"; then
      echo "  kivom's process $child holds: $(ls -l "/proc/$child/fd" | tail -n +2)" >&2
      return 1
    fi
  done
  close_kivom
}

# check WHAT COMMAND..., then whatever the check left running or written is ended.
checked() {
  check "$@"
  stop_holder
  stop_kivom
  end_lock_file
  peer_answers --echo
}

section() {
  start_line
  echo "== as $user, on $line"
  checked "$user: a pyserial exclusive=True holder refuses kivom" refused_while pyserial hold
  checked "$user: a TIOCEXCL holder refuses kivom" refused_while TIOCEXCL hold-excl
  checked "$user: inside an exchange, pyserial and picocom are refused, then pyserial is granted" \
    others_refused_during_exchange
  checked "$user: a program with the line open without a lock refuses kivom, named escaped" \
    plain_holder_refuses
  checked "$user: killed inside an exchange, kivom leaves the line free for the next" \
    signal_inside_exchange KILL
  [ "$user" = root ] || return 0
  # Once is enough for these: picocom's hold is the flock pyserial's is, and the lock file rule
  # is the same whoever runs kivom.
  checked "$user: picocom holding the line refuses kivom" refused_while picocom hold-picocom
  checked "$user: a live UUCP lock file refuses kivom and stays" live_lock_file_refuses
  checked "$user: a stale UUCP lock file is removed, and kivom's own is gone at the end" \
    stale_lock_file_is_removed
  # The ordinary user's open fails in the kernel on a flag left set, which only root may clear.
  checked "$user: a TIOCEXCL flag left by a killed holder does not refuse the next press" \
    killed_holder_flag_does_not_refuse
  checked "$user: SIGTERM inside an exchange ends kivom with 0, the line given back" \
    signal_inside_exchange TERM
  for kind in FIFO link; do
    checked "$user: a $kind at the lock path hangs nothing, is said once and stays" odd_lock_path_stays $kind
  done
  checked "$user: the rest of a long reply is no later press's reply" no_stale_reply
  checked "$user: kivom's own processes keep no descriptor kivom inherited" demo_keeps_nothing_inherited
}

# The ordinary user's part, in a session of that user's own (Xvfb and buses: root's are not that
# user's to reach), from a copy that user may read; its tally is added to this one.
user_section() {
  local test_user=$KIVOM_TEST_USER home runtime
  copy=$(mktemp -d /tmp/kivom-exclusive.XXXXXX)
  chmod 755 "$copy"
  (cd "$here/../.." && cp --parents app/form_layout.h scripts/lib/*.sh tests/native/*.sh \
    tests/native/*.py tests/e2e/serial_client.py "$copy/") &&
    mkdir "$copy/bin" && cp "$kivom" "$KIVOM_ECHO_DEVICE" "$copy/bin/" && chmod -R a+rX "$copy" &&
    runtime=$copy/runtime && mkdir -m 700 "$runtime" && chown "$test_user:" "$runtime" ||
    { check "a copy of the user's part that $test_user may read" false; return; }
  home=$(getent passwd "$test_user" | cut -d: -f6)
  runuser -u "$test_user" -- env -i PATH="$PATH" HOME="$home" USER="$test_user" LOGNAME="$test_user" \
    LANG="${LANG:-C.UTF-8}" XDG_RUNTIME_DIR="$runtime" KIVOM_WAIT_SECONDS="$KIVOM_WAIT_SECONDS" \
    KIVOM_NATIVE_PROGRAM="$copy/bin/kivom" KIVOM_NATIVE_PEER="$copy/bin/serial-peer" \
    bash "$copy/tests/native/in-session.sh" bash "$copy/tests/native/exclusive_test.sh" --section \
    2>&1 | tee "$work/user-section"
  check_add_tally "$test_user: the user's part" "$work/user-section"
}

if [ "${1:-}" = --section ]; then
  section
  check_summary
  exit
fi
[ "$(id -u)" -eq 0 ] || kivom_die "runs as root: root's part, then $KIVOM_TEST_USER's"
section
kivom_stop_peer
user_section
check_summary
