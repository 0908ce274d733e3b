#!/bin/bash
# The guest's part of hardware_test.sh: the first process of the QEMU guest (its root image's
# init hands over to this script on the second disk). It installs kivom from the release's
# package, drives it on the kernel's 8250 driver (/dev/ttyS0) and on ftdi_sio (/dev/ttyUSB0) as
# the native tests do (xdotool, AT-SPI), checks what only the guest sees (the window's texts,
# the exit codes, kivom's system calls under strace) and powers the guest off.
#
# It talks to the host on the virtio console: "ok:"/"FAILED:" lines and the tally as check.sh
# prints them; "@mark N WHAT" after writing N into the 8250's scratch register, which the
# host's trace of the UART shows, so that the host can cut its trace of the line into the
# cases; "@host REQUEST" for what only the host can do (switch the serial peer's answer, take
# the FTDI adapter out or put it back), answered "done REQUEST" on the port kivom.host.
# Files the host reads afterwards go to $io/out.
set -uo pipefail
# Its ttyS0 is the guest's emulated UART; on any other machine it would be a real port that is
# not this test's. It runs only where the guest's own init started the kernel.
grep -qw 'init=/sbin/kivom-hardware-init' /proc/cmdline || {
  echo "guest.sh: refusing: not the QEMU guest of hardware_test.sh (its ttyS0 is not ours here)" >&2
  exit 2
}
io=$(cd "$(dirname "$0")/../.." && pwd)
source "$io/scripts/lib/check.sh"
source "$io/scripts/lib/step.sh"
source "$io/scripts/lib/form.sh"
source "$io/scripts/lib/native-session.sh"
out=$io/out
mkdir -p "$out"
cannot_use='COM1が使えません'
uart_scratch=$((0x3f8 + 7)) # COM1's scratch register: no driver reads it after its probe

probe() { /usr/bin/python3 -I "$io/tests/native/atspi_probe.py" "$@"; }

power_off() {
  sync
  umount "$io" 2>/dev/null
  echo o >/proc/sysrq-trigger
  sleep 60
}

# --- the system: what systemd would have mounted and started, no more ---
mounts() {
  local point
  mountpoint -q /proc || mount -t proc proc /proc
  mountpoint -q /sys || mount -t sysfs sysfs /sys
  mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
  mountpoint -q /run || mount -t tmpfs -o mode=755 tmpfs /run
  for point in /dev/pts /dev/shm /tmp /run/lock; do mkdir -p "$point"; done
  mount -t devpts -o mode=620,ptmxmode=666,gid=5 devpts /dev/pts &&
    mount -t tmpfs -o mode=1777 tmpfs /dev/shm && mount -t tmpfs -o mode=1777 tmpfs /tmp &&
    chmod 1777 /run/lock && mkdir -m 1777 /tmp/.X11-unix
}
udev() {
  /lib/systemd/systemd-udevd --daemon && udevadm trigger --action=add && udevadm settle --timeout=60
}
export PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root
mounts || { echo "the guest's file systems could not be mounted"; power_off; }
[ -s /etc/machine-id ] || dbus-uuidgen >/etc/machine-id
kivom_step "starting udev in the guest" udev || power_off
exec 5<"/dev/virtio-ports/kivom.host" || { echo "no port kivom.host from the host"; power_off; }

# host REQUEST: asks the host and waits for its answer.
host() {
  local answer=''
  echo "@host $*"
  read -r -t 60 answer <&5
  [ "$answer" = "done $*" ] || { echo "  awaited the host's 'done $*' for 60 s; saw: '$answer'" >&2; return 1; }
}

marks=0
mark() {
  marks=$((marks + 1))
  printf '%b' "\\x$(printf %02x "$marks")" | dd of=/dev/port bs=1 seek="$uart_scratch" conv=notrunc status=none
  echo "@mark $marks $*"
}

kivom_step "installing the release's package with dpkg" dpkg -i "$io/kivom.deb" >"$out/dpkg.log" 2>&1 ||
  { cat "$out/dpkg.log"; power_off; }
kivom_native_session_start || power_off

kivom_pid=''
# start_kivom DEVICE: kivom on DEVICE, once its form is on the accessibility bus.
start_kivom() {
  kivom "$1" 2>>"$out/kivom.log" &
  kivom_pid=$!
  kivom_wait_for "kivom's send box" "" probe --pid "$kivom_pid" text "$KIVOM_SEND_BOX"
}
kivom_exit() {
  local status=0
  kivom_wait_exit "$kivom_pid" || status=$?
  kivom_pid=''
  [ "$status" -eq 0 ] || { echo "  kivom ended with $status" >&2; return 1; }
}
close_kivom() {
  local window
  window=$(kivom_find_window) && /usr/bin/python3 -I "$io/tests/native/close_window.py" "$window" &&
    kivom_exit
}
stop_kivom() {
  [ -z "$kivom_pid" ] || { kill "$kivom_pid" && wait "$kivom_pid"; } 2>/dev/null
  kivom_pid=''
}

# strace on kivom's main thread, where the exchange runs: every system call, with its time.
strace_pid='' strace_log=''
start_strace() {
  strace_log=$out/$1.strace
  strace -tt -p "$kivom_pid" -o "$strace_log" 2>/dev/null &
  strace_pid=$!
  kivom_wait_until "strace to attach to kivom" traced "$kivom_pid" >/dev/null
}
traced() { [ "$(awk '/^TracerPid:/ { print $2 }' "/proc/$1/status")" != 0 ]; }
stop_strace() {
  [ -z "$strace_pid" ] || { kill -INT "$strace_pid" && wait "$strace_pid"; } 2>/dev/null
  strace_pid=''
}
# The descriptor kivom's last open of DEVICE in the strace log returned.
port_fd() { sed -n "s|^.* openat(AT_FDCWD, \"$1\", .*) = \([0-9]*\)\$|\1|p" "$strace_log" | tail -n 1; }
# Succeeds once kivom holds no descriptor of DEVICE (a removed device's shows as "(deleted)").
port_let_go() {
  local fd
  for fd in /proc/"$kivom_pid"/fd/*; do
    [[ "$(readlink "$fd")" != "$1"* ]] || return 1
  done
}

# The exchange: TEXT typed and the button clicked, the echo read back through AT-SPI.
exchange() {  # TEXT
  local reply
  reply=$(kivom_send_typed probe "$1") || return 1
  [ "$reply" = "$1"$'\r' ] || { echo "  awaited the reply '$1' and CR; saw: '$reply'" >&2; return 1; }
}
# A second press, the send box set through AT-SPI: waits for the reply box to show TEXT again.
press_again() {  # TEXT
  probe set "$KIVOM_SEND_BOX" "$1" &&
    probe press "$KIVOM_START_BUTTON" &&
    kivom_wait_for "the reply box" "$1"$'\r' probe text "$KIVOM_REPLY_BOX"
}

# From the open of DEVICE to kivom's first modem-line call, only the lock on the descriptor and
# the look at its exclusive flag: nothing that could keep DTR up longer. The lock file comes
# after that call.
open_order() {  # DEVICE
  local fd between lock
  fd=$(port_fd "$1")
  [ -n "$fd" ] || { echo "  no open of $1 in $strace_log" >&2; return 1; }
  between=$(awk -v fd="$fd" -v dev="\"$1\"" '
    index($0, "openat(AT_FDCWD, " dev) { opened = 1; next }
    opened && /ioctl\(/ && /TIOCM(BIC|BIS|SET)/ { exit }
    / (---|\+\+\+) / { next }
    opened && !(index($0, "flock(" fd ",") || (index($0, "ioctl(" fd ",") && /TIOCGEXCL|0x54, 0x40/)) { print }
  ' "$strace_log")
  lock=$(awk -v dev="\"$1\"" '
    index($0, "openat(AT_FDCWD, " dev) { opened = 1 }
    opened && /ioctl\(/ && /TIOCM(BIC|BIS|SET)/ { dropped = 1 }
    # Written in place, or under another name and then linked or renamed to its own.
    /LCK\.\./ && (/O_CREAT/ || / (link|linkat|rename|renameat|renameat2)\(/) {
      print (dropped ? "after" : "before"); exit
    }
  ' "$strace_log")
  echo "  kivom's calls from the open to the first modem-line call, besides flock and TIOCGEXCL:" \
    "${between:-none}" | sed '2,$ s/^/    /'
  echo "  the lock file written: ${lock:-not at all}${lock:+ the first modem-line call}"
  [ -z "$between" ] && [ "$lock" != before ]
}

# The window and its exchange, then the same under strace for the order of kivom's calls.
exchange_case() {  # DEVICE NAME
  local dev=$1
  # The line left as another program might leave it, so that kivom's own settings show.
  stty -F "$dev" 115200 cs7 parenb cstopb crtscts ixon ixoff hupcl || return 1
  start_kivom "$dev" || return 1
  mark "exchange $2"
  check "$2: the reply to 'hw $2' reads back through AT-SPI as its echo" exchange "hw $2"
  mark "end"
  start_strace "order-$2" &&
    check "$2: a second press goes through under strace" press_again "hw $2 again"
  stop_strace
  check "$2: after the open only flock and TIOCGEXCL come before the modem lines; the lock file after" \
    open_order "$dev"
  check "$2: closing the window ends kivom with exit code 0" close_kivom
  stop_kivom
}

# --- another program holds the line: kivom refuses and leaves the line as it is ---
holder_pid=''
start_holder() {  # MODE DEVICE
  : >"$out/holder"
  /usr/bin/python3 "$io/tests/e2e/serial_client.py" "$1" "$2" >>"$out/holder" 2>&1 &
  holder_pid=$!
  kivom_wait_for "the holder to hold the line" held head -n 1 "$out/holder"
}
# picocom runs in a terminal session of its own and ends on that terminal's hang-up, a moment
# after its holder: the next case waits until nobody has the line open.
stop_holder() {  # DEVICE
  [ -z "$holder_pid" ] || { kill "$holder_pid" && wait "$holder_pid"; } 2>/dev/null
  holder_pid=''
  kivom_wait_until "nobody to hold $1" nobody_holds "$1" >/dev/null
}
nobody_holds() {
  local fd holders=''
  for fd in /proc/[0-9]*/fd/*; do
    [ "$(readlink "$fd" 2>/dev/null)" != "$1" ] || holders+="${fd%/fd/*} "
  done
  echo "$holders"
  [ -z "$holders" ]
}
refused() {  # MODE DEVICE NAME WHO
  local seen
  start_holder "$1" "$2" && start_kivom "$2" || return 1
  mark "refused $3 $4"
  probe set "$KIVOM_SEND_BOX" "refused?" && probe press "$KIVOM_START_BUTTON" &&
    seen=$(probe message)
  mark "end"
  [ "$seen" = "$cannot_use" ] || { echo "  awaited the message '$cannot_use'; saw: '$seen'" >&2; return 1; }
  probe dismiss && kivom_exit
}
refused_case() {  # DEVICE NAME
  check "$2: picocom holding the port refuses kivom ('$cannot_use')" refused hold-picocom "$1" "$2" picocom
  stop_kivom
  stop_holder "$1"
  check "$2: pyserial exclusive=True holding the port refuses kivom ('$cannot_use')" \
    refused hold "$1" "$2" pyserial
  stop_kivom
  stop_holder "$1"
}

# --- the FTDI adapter taken out while kivom waits for a reply that does not come ---
# The hang-up's signs on the port's descriptor: an empty or failed read, a poll that reports it.
hangup_calls() {  # DEVICE: "CALLS-AFTER-THE-HANG-UP" or nothing when no hang-up was seen
  local fd
  fd=$(port_fd "$1")
  awk -v fd="$fd" -v dev="\"$1\"" '
    index($0, "openat(AT_FDCWD, " dev) { opened = 1; next }
    !opened { next }
    index($0, " close(" fd ")") { exit }
    hung && (index($0, " read(" fd ",") || index($0, "poll([{fd=" fd ",")) { calls++ }
    index($0, " read(" fd ",") && (/ = 0$/ || / = -1 E[A-Z]+/ && !/EAGAIN/) { hung = 1 }
    index($0, "poll([{fd=" fd ",") && /revents=[A-Z|]*(POLLHUP|POLLERR)/ { hung = 1 }
    END { if (hung) print calls + 0 }
  ' "$strace_log"
}
port_gone() { [ ! -e "$1" ]; }
unplugged_while_reading() {
  local dev=/dev/ttyUSB0 calls
  host "silent usb" && start_kivom "$dev" && start_strace unplug && host "unplug on request" &&
    probe set "$KIVOM_SEND_BOX" "unplug" && probe press "$KIVOM_START_BUTTON" &&
    kivom_wait_until "the adapter's $dev to go" port_gone "$dev" >/dev/null &&
    kivom_wait_until "kivom to let go of $dev" port_let_go "$dev" >/dev/null || return 1
  stop_strace
  calls=$(hangup_calls "$dev")
  echo "hangup-calls: ${calls:-none}"
  [ -n "$calls" ] || { echo "  the adapter went after kivom's read had ended: no hang-up in $strace_log" >&2; return 1; }
  [ "$calls" -le 2 ] || { echo "  kivom read or polled the hung-up port $calls times" >&2; return 1; }
}
window_answers() {
  probe set "$KIVOM_SEND_BOX" "still here" &&
    kivom_wait_for "the send box" "still here" probe text "$KIVOM_SEND_BOX"
}
next_press_refused() {
  local seen
  probe press "$KIVOM_START_BUTTON" && seen=$(probe message) || return 1
  [ "$seen" = "$cannot_use" ] || { echo "  awaited the message '$cannot_use'; saw: '$seen'" >&2; return 1; }
  probe dismiss && kivom_exit
}
listed() {
  local list
  list=$(kivom --list 2>&1)
  echo "$list"
  grep -q '/dev/serial/by-id/.*ttyUSB0\|ttyUSB0.*/dev/serial/by-id/' <<<"$list"
}
unplug_case() {
  mark "unplug ttyUSB0"
  check "ttyUSB0: taken out during the read, kivom's read ends without spinning" unplugged_while_reading
  mark "end"
  stop_strace
  check "ttyUSB0: the window still answers after the adapter went" window_answers
  check "ttyUSB0: the next press shows '$cannot_use' and kivom ends with 0" next_press_refused
  stop_kivom
  check "ttyUSB0: put back, kivom --list names it by its /dev/serial/by-id/ name" \
    eval 'host plug && kivom_wait_until "kivom --list to name the adapter" listed'
}

echo "guest: Linux $(uname -r)"
for dev in /dev/ttyS0 /dev/ttyUSB0; do
  name=${dev#/dev/}
  kivom_wait_until "$dev" test -c "$dev" >/dev/null || check "$dev is there" false
  exchange_case "$dev" "$name"
  refused_case "$dev" "$name"
done
unplug_case
kivom_native_session_stop
check_summary
echo "@done"
power_off
