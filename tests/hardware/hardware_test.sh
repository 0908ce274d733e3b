#!/usr/bin/env bash
# The native kivom on the Linux kernel's own serial drivers: the release's package installed in
# a Debian 12 guest under QEMU (TCG), on an emulated 16550A UART (guest /dev/ttyS0, the 8250
# driver) and an emulated FTDI USB adapter on an xHCI bus (guest /dev/ttyUSB0, ftdi_sio). Each
# adapter's far end is a serial peer on a pseudo-terminal of this machine; QEMU's trace of the
# UART's register writes and of the FTDI's control requests is the truth of the line (speed,
# framing, DTR, RTS, when each byte left), the peer's log what reached the far end, and the
# guest (tests/hardware/guest.sh) reads the window through AT-SPI and kivom's calls with strace.
# The FTDI adapter is taken out through QEMU's monitor while kivom waits for a reply, and put
# back.
#
# The guest tree is made with mmdebstrap once and kept in build/hardware/ with its kernel, its
# initramfs and a disk image made from it without mounting (mke2fs -d); it is made again when
# its recipe changes. Each run boots that image as a throw-away snapshot, with a second small
# disk that carries the package and the guest's scripts and brings back its files. The guest
# powers itself off; the wait for it ends at a deadline, saying what the guest did last.
#   tests/hardware/hardware_test.sh   as root, after `scripts/setup --hardware` (QEMU),
#                                     scripts/release (dist/) and the native preset's build
#                                     (the serial peer); `ctest --preset native -R hardware_test`
#                                     runs it after release_check, `scripts/test --long` with
#                                     the rest
#   KIVOM_HARDWARE_DEB=PATH           another package than dist/'s, such as an older release's
#   KIVOM_HARDWARE_SECONDS=N          the guest's deadline (1200 s: a busy machine takes its time)
# Its files stay in build/hardware/run until the next run: the guest's console (guest.log),
# QEMU's trace (trace.log), the peers' logs, and the case disk (io.img, kivom's strace logs in
# its out/, read with `debugfs -R "rdump /out DIR" io.img`).
# Prints the measured times as "measured: ..." lines and ends with "N passed, N failed".
set -uo pipefail
# One block, read whole before it runs: the checkout may change while the guest runs.
# shellcheck disable=SC2317 # its functions are called further down in it
{
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/scripts/lib/check.sh"
source "$root/scripts/lib/wait.sh"
source "$root/scripts/lib/step.sh"
cd "$root" || exit 2

fail() { echo "hardware_test: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "run as root: mmdebstrap makes the guest's tree as root"
for tool in qemu-system-x86_64 mmdebstrap mke2fs debugfs; do
  command -v "$tool" >/dev/null || fail "no $tool: run scripts/setup --hardware"
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release-linux/CMakeCache.txt 2>/dev/null)
deb=${KIVOM_HARDWARE_DEB:-dist/kivom_${version}_amd64.deb}
[ -f "$deb" ] || fail "no $deb: run scripts/release first"
peer=${KIVOM_NATIVE_PEER:-$root/build/native/tools/serial-peer/serial-peer}
[ -x "$peer" ] || fail "no serial peer $peer: build the native preset first"

hw=$root/build/hardware
tree=$hw/tree
image=$hw/root.img
marker=$hw/tree.complete
image_marker=$hw/root.img.complete
mirror=http://deb.debian.org/debian
# The guest's whole deadline, from the start of QEMU to its power-off.
guest_seconds=${KIVOM_HARDWARE_SECONDS:-1200}
started=$SECONDS

# --- the guest's tree and disk image: made once, then reused while the recipe is the same ---
packages=(linux-image-amd64 initramfs-tools udev kmod mount procps xvfb xdotool dbus at-spi2-core
  python3-pyatspi gir1.2-atspi-2.0 picocom python3-serial strace libgtk-3-0 fonts-ipafont-gothic)
# The image's init: the virtio console for what the guest says, the second disk for its cases.
# The console's device comes a moment after its driver: written to before, it would be a file.
# shellcheck disable=SC2016 # expanded by the guest's shell
init_script='#!/bin/sh
mount -t proc proc /proc 2>/dev/null
modprobe virtio_console
for i in $(seq 100); do [ -c /dev/hvc0 ] && break; sleep 0.1; done
exec </dev/null >/dev/hvc0 2>&1
mkdir -p /io && mount -t ext4 /dev/vdb /io && exec /bin/bash /io/tests/hardware/guest.sh
echo "hardware_test: no disk with the cases at /dev/vdb"
echo o >/proc/sysrq-trigger'
# Left out: the documentation, and the kernel's modules for hardware the guest has not (a third of
# the tree, and of the time dpkg and the initramfs take). dpkg does not sync each file: a tree
# that was interrupted is made again anyway.
dpkg_options=(--dpkgopt=force-unsafe-io)
for path in /usr/share/{doc,man,locale} '/lib/modules/*/kernel/'{sound,net} \
  '/lib/modules/*/kernel/drivers/'{net,gpu,media,infiniband,scsi,iio,staging,hwmon,isdn,bluetooth,mtd,target}; do
  dpkg_options+=("--dpkgopt=path-exclude=$path/*")
done
recipe="mmdebstrap --mode=root --variant=apt ${dpkg_options[*]} \
--include=$(IFS=,; echo "${packages[*]}") bookworm $mirror"
image_recipe="$recipe
$init_script"
make_tree() {
  rm -rf --one-file-system "$tree.new" &&
    mmdebstrap --mode=root --variant=apt "${dpkg_options[@]}" \
      --include="$(IFS=,; echo "${packages[*]}")" bookworm "$tree.new" "$mirror" &&
    rm -rf --one-file-system "$tree" && mv "$tree.new" "$tree"
}
# The kernel and initramfs are given to QEMU directly; the image is the tree, made unmounted.
make_image() {
  local size_mib
  printf '%s\n' "$init_script" >"$tree/sbin/kivom-hardware-init" && chmod 755 "$tree/sbin/kivom-hardware-init" &&
    cp -L "$tree/vmlinuz" "$hw/vmlinuz" && cp -L "$tree/initrd.img" "$hw/initrd.img" || return 1
  size_mib=$(($(du -sm "$tree" | cut -f1) * 5 / 4 + 256))
  rm -f "$image" && mke2fs -q -t ext4 -L kivom-root -d "$tree" "$image" "${size_mib}M"
}
mkdir -p "$hw" || exit 1
if [ "$(cat "$marker" 2>/dev/null)" = "$recipe" ] && [ -d "$tree" ]; then
  echo "hardware_test: reusing the guest's tree $tree"
else
  rm -f "$marker" "$image_marker"
  kivom_step "making the Debian 12 guest's tree with mmdebstrap in $tree" make_tree || exit 1
  echo "$recipe" >"$marker"
fi
if [ "$(cat "$image_marker" 2>/dev/null)" != "$image_recipe" ] || [ ! -f "$image" ]; then
  rm -f "$image_marker"
  kivom_step "making the guest's disk image $image" make_image || exit 1
  echo "$image_recipe" >"$image_marker"
fi

# --- this run: the serial peers, the case disk, QEMU ---
run=$hw/run
qemu_pid='' peers=()
finish() {
  local pid
  [ -z "$qemu_pid" ] || { kill "$qemu_pid" && wait "$qemu_pid"; } 2>/dev/null
  for pid in "${peers[@]}"; do { kill "$pid" && wait "$pid"; } 2>/dev/null; done
}
trap finish EXIT
trap 'exit 130' INT TERM HUP
rm -rf "$run" && mkdir -p "$run" || exit 1

# start_peer NAME: a serial peer answering with an echo, on a terminal of its own ($NAME_line).
start_peer() {
  local name=$1 line
  echo --echo >"$run/$name.control"
  "$peer" --log "$run/$name.log" --control "$run/$name.control" >"$run/$name.line" 2>"$run/$name.err" &
  peers+=($!)
  line=$(KIVOM_WAIT_SECONDS=30 kivom_wait_until "the serial peer's terminal for $name" head -n 1 "$run/$name.line" |
    grep .) || exit 1
  # QEMU opens what is named here: only ever a pseudo-terminal, never this machine's ports.
  [[ "$(readlink -f -- "$line")" =~ ^/dev/pts/[0-9]+$ ]] || fail "refusing: $line is no pseudo-terminal"
  printf -v "${name}_line" '%s' "$line"
}
start_peer uart
start_peer ftdi

# The second disk: the package and what the guest runs, made without mounting.
make_case_disk() {
  local files=$run/io
  mkdir -p "$files" &&
    cp --parents app/form_layout.h scripts/lib/{check,wait,form,step,native-session}.sh \
      tests/native/{atspi_probe.py,close_window.py} tests/e2e/serial_client.py tests/hardware/guest.sh \
      "$files/" && cp "$deb" "$files/kivom.deb" && mkdir "$files/out" &&
    mke2fs -q -t ext4 -L kivom-io -d "$files" "$run/io.img" 64M
}
kivom_step "making the disk with the package and the guest's cases" make_case_disk || exit 1

mkfifo "$run/host.in" "$run/host.out"
cat >"$run/trace-events" <<'EOF'
serial_write
serial_update_parameters
usb_serial_*
usb_xhci_xfer_start
EOF
qemu=(qemu-system-x86_64 -nodefaults -display none -no-reboot -machine "pc,accel=tcg" -smp 2 -m 1024
  -kernel "$hw/vmlinuz" -initrd "$hw/initrd.img"
  -append "root=/dev/vda rw init=/sbin/kivom-hardware-init quiet loglevel=3"
  -drive "file=$image,format=raw,if=virtio,snapshot=on"
  -drive "file=$run/io.img,format=raw,if=virtio"
  -chardev "serial,id=uart,path=$uart_line" -device "isa-serial,chardev=uart,iobase=0x3f8,irq=4"
  -device "qemu-xhci,id=xhci"
  -chardev "serial,id=ftdi,path=$ftdi_line" -device "usb-serial,id=adapter,chardev=ftdi,bus=xhci.0"
  -device "virtio-serial-pci,id=ports"
  -chardev "file,id=console,path=$run/guest.log" -device "virtconsole,chardev=console,bus=ports.0"
  -chardev "pipe,id=host,path=$run/host" -device "virtserialport,chardev=host,name=kivom.host,bus=ports.0"
  -qmp "unix:$run/qmp,server=on,wait=off"
  -msg timestamp=on -trace "events=$run/trace-events,file=$run/trace.log")
"${qemu[@]}" >"$run/qemu.log" 2>&1 &
qemu_pid=$!

# QEMU's open terminals: the peers' two, and no serial port of this machine.
qemu_terminals() {
  local fd target seen=''
  for fd in /proc/"$qemu_pid"/fd/*; do
    target=$(readlink "$fd") || continue
    case "$target" in /dev/pts/* | /dev/tty*) seen+="$target " ;; esac
  done
  echo "$seen"
  [[ " $seen" == *" $uart_line "* && " $seen" == *" $ftdi_line "* && " $seen" != *" /dev/ttyS"* ]]
}
check "QEMU holds the peers' pseudo-terminals $uart_line and $ftdi_line, and no /dev/ttyS*" \
  kivom_wait_until "QEMU's open terminals" qemu_terminals

qmp() { /usr/bin/python3 -I "$here/qmp.py" "$run/qmp" "$@"; }
answer() { echo "done $*" >"$run/host.in"; }
usb_adapter='{"driver": "usb-serial", "id": "adapter", "chardev": "ftdi", "bus": "xhci.0"}'
# Takes the adapter out once kivom has dropped RTS after its request (the FTDI's request
# SET_MODEM_CTRL with RTS low, in QEMU's trace): kivom then waits in its read, 500 ms, for a
# reply the silent peer does not send.
unplug_on_request() {
  qmp --when "$run/trace.log" "got control 0x4001, value 0x200" device_del '{"id": "adapter"}' >/dev/null &&
    echo "host: the adapter taken out"
}
host_request() {
  case "$1" in
    'silent usb') echo --silent >"$run/ftdi.control" && answer "$1" ;;
    'unplug on request') unplug_on_request & answer "$1" ;;
    plug) qmp device_add "$usb_adapter" >/dev/null && answer "$1" ;;
    *) echo "host: unknown request '$1'" ;;
  esac
}

# Follows what the guest says until it has powered off, answering its requests.
follow_guest() {
  local shown=0 line lines deadline=$((SECONDS + guest_seconds)) last=''
  while :; do
    mapfile -t lines < <(tail -n +"$((shown + 1))" "$run/guest.log" 2>/dev/null)
    # A line still being written is read the next time round.
    [ "${#lines[@]}" -eq 0 ] || [ -z "$(tail -c 1 "$run/guest.log")" ] || unset 'lines[-1]'
    for line in "${lines[@]}"; do
      shown=$((shown + 1))
      line=${line%$'\r'}
      echo "guest: $line"
      printf '%s\n' "$line" >>"$run/guest.txt"
      last=$line
      case "$line" in "@host "*) host_request "${line#@host }" ;; esac
    done
    kill -0 "$qemu_pid" 2>/dev/null || break
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "hardware_test: awaited the guest's power-off for $guest_seconds s; it said last: '$last'" >&2
      return 1
    fi
    sleep 0.1
  done
  wait "$qemu_pid"
  qemu_pid=''
}
booted=$SECONDS
follow_guest
check "the guest ran its cases and powered itself off within $guest_seconds s ($((SECONDS - booted)) s)" \
  grep -q '^@done' "$run/guest.txt"
check_add_tally "the guest's checks" "$run/guest.txt"

# --- the far ends and the trace ---
peer_requests() {  # NAME TEXT: the text's request reached the peer NAME, as its log shows
  local wanted
  wanted=$(printf '%s\r' "$2" | od -An -v -tx1 | tr -s ' \n' '  ' | sed 's/^ //; s/ $//')
  grep -q " request $wanted\$" "$run/$1.log" ||
    { echo "  awaited the request '$wanted'; the peer logged: $(grep ' request ' "$run/$1.log" | tr '\n' ';')" >&2; return 1; }
}
check "ttyS0: 'hw ttyS0' and CR reached the UART's far end" peer_requests uart 'hw ttyS0'
check "ttyUSB0: 'hw ttyUSB0' and CR reached the FTDI's far end" peer_requests ftdi 'hw ttyUSB0'
/usr/bin/python3 -I "$here/line_truth.py" "$run/trace.log" "$run/guest.txt" | tee "$run/line-truth"
check_add_tally "the line as QEMU's trace shows it" "$run/line-truth"
grep '^hangup-calls:' "$run/guest.txt" | sed 's/^/measured: ttyUSB0 /'

echo "hardware_test: $((SECONDS - started)) s; the run's files are in $run"
check_summary
exit
}
