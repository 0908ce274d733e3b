#!/usr/bin/env bash
# The Debian package on Debian 13 ("trixie"), which this machine does not run: a minimal trixie
# tree made with mmdebstrap, dist/kivom_VERSION_amd64.deb installed there with apt-get (which
# meets its Depends from trixie's own mirror, where GTK 3's libraries are the t64 ones), its
# Depends and installed size, and one exchange of `kivom --demo` run by an ordinary user of that
# tree on a virtual display of the tree's own Xvfb, typed with its xdotool and read with its
# Python 3.13 and AT-SPI.
#
# The tree, build/distro/trixie, is made once and kept (build/distro/trixie.complete says it is
# whole and from which recipe); each run works on an overlay of it that it throws away, so the
# kept tree stays as mmdebstrap made it. The packages apt-get fetched stay in build/distro/apt
# for the next run.
#   tests/e2e/distro_test.sh   run as root, after scripts/release (dist/); the user's exchange
#                              is tests/e2e/demo_exchange.sh, run in the tree
# Ends with "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/check.sh"
source "$root/scripts/lib/wait.sh"

cd "$root" || exit 2
[ "$(id -u)" -eq 0 ] || { echo "distro_test: run as root: it makes a system tree and chroots into it" >&2; exit 2; }
source "$root/scripts/lib/step.sh"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release-linux/CMakeCache.txt 2>/dev/null)
deb=dist/kivom_${version}_amd64.deb
[ -n "$version" ] && [ -f "$deb" ] || { echo "distro_test: no $deb: run scripts/release first" >&2; exit 1; }
command -v mmdebstrap >/dev/null || { echo "distro_test: no mmdebstrap: run scripts/setup first" >&2; exit 1; }

distro=$root/build/distro
base=$distro/trixie
marker=$distro/trixie.complete
archives=$distro/apt
mirror=http://deb.debian.org/debian
user=kivomtest
picture=$distro/kivom-trixie.png
# What the check runs inside the tree; kivom's own Depends come with the package, later.
tools=(passwd xvfb xdotool dbus at-spi2-core python3-pyatspi gir1.2-atspi-2.0 imagemagick)
# The tree is made again whenever this recipe changes. The apt lists are kept in it: each run
# refreshes them instead of fetching them whole.
recipe="mmdebstrap --variant=apt --skip=cleanup/apt/lists --include=$(IFS=,; echo "${tools[*]}") trixie $mirror"
# kivom alone, without any runtime of its own: a package carrying Wine or a toolkit would be many
# times this.
max_installed_kib=1024
started=$SECONDS

# --- mounts: all of them listed as made, taken away in the reverse order at the end ---
mounted=()
mount_at() {
  local target=${*: -1}
  mount "$@" && mounted+=("$target")
}
# The mount points under a folder, deepest first.
mounts_under() { findmnt -rn -o TARGET | awk -v top="$1" 'index($0, top "/") == 1 || $0 == top' | sort -r; }
# The processes whose root is the tree: what the session left, ended by their ids.
processes_in() {
  local proc
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$1" ] && echo "${proc#/proc/}"
  done
}
# Takes a run's folder away; files only once nothing is mounted under it any more, and never
# across into another file system.
remove_run() {
  local run=$1 point pid
  for pid in $(processes_in "$run/root"); do kill -KILL "$pid" 2>/dev/null; done
  for point in $(mounts_under "$run"); do umount "$point" 2>/dev/null || umount -l "$point"; done
  [ -z "$(mounts_under "$run")" ] || { echo "distro_test: still mounted under $run; left in place" >&2; return 1; }
  rm -rf --one-file-system "$run"
}
run=''
finish() {
  local i pid
  [ -n "$run" ] || return
  for pid in $(processes_in "$run/root"); do kill "$pid" 2>/dev/null; done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}"
  done
  remove_run "$run"
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

# Runs left by a test that was killed (a ctest timeout) are taken away first.
mkdir -p "$distro" "$archives/partial"
for stale in "$distro"/run.*; do
  [ ! -d "$stale" ] || remove_run "$stale"
done

# --- the tree: made once, then reused while its recipe is the same ---
make_tree() {
  rm -rf --one-file-system "$base.new" &&
    mmdebstrap --mode=root --variant=apt --skip=cleanup/apt/lists \
      --include="$(IFS=,; echo "${tools[*]}")" trixie "$base.new" "$mirror" &&
    rm -rf --one-file-system "$base" && mv "$base.new" "$base" && echo "$recipe" >"$marker"
}
if [ "$(cat "$marker" 2>/dev/null)" = "$recipe" ] && [ -d "$base" ]; then
  echo "distro_test: reusing the Debian 13 tree $base"
else
  rm -f "$marker"
  kivom_step "making a minimal Debian 13 tree with mmdebstrap in $base" make_tree || exit 1
fi

# --- this run's tree: an overlay of the kept one, with what a system has mounted ---
run=$(mktemp -d "$distro/run.XXXXXX")
tree=$run/root
mkdir "$run/upper" "$run/work" "$tree"
# A /dev of its own: the few devices a program needs and a pseudo-terminal instance for kivom's
# echo device and Xvfb; the machine's serial ports stay outside the tree.
mount_dev() {
  local node
  mount_at -t tmpfs -o mode=755,nosuid tmpfs "$tree/dev" || return 1
  for node in null zero full random urandom tty; do
    touch "$tree/dev/$node" && mount_at --bind "/dev/$node" "$tree/dev/$node" || return 1
  done
  mkdir "$tree/dev/pts" "$tree/dev/shm" &&
    mount_at -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$tree/dev/pts" &&
    ln -s pts/ptmx "$tree/dev/ptmx" &&
    mount_at -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$tree/dev/shm" &&
    ln -s /proc/self/fd "$tree/dev/fd" && ln -s /proc/self/fd/0 "$tree/dev/stdin" &&
    ln -s /proc/self/fd/1 "$tree/dev/stdout" && ln -s /proc/self/fd/2 "$tree/dev/stderr"
}
mount_tree() {
  mount_at -t overlay -o "lowerdir=$base,upperdir=$run/upper,workdir=$run/work" overlay "$tree" &&
    mount_at -t proc proc "$tree/proc" &&
    mount_at --bind -o ro /sys "$tree/sys" &&
    mount_dev &&
    mount_at --bind "$archives" "$tree/var/cache/apt/archives" &&
    cp -L /etc/resolv.conf "$tree/etc/resolv.conf"
}
mount_tree || { echo "distro_test: the tree could not be mounted" >&2; exit 1; }

in_tree() {
  chroot "$tree" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
log=$run/command.log
# A command's output kept aside, shown only when it fails.
quietly() { "$@" >"$log" 2>&1 || { sed 's/^/  /' "$log" >&2; return 1; }; }

# --- installed with apt-get ---
debian_13() {
  local seen
  seen=$(cat "$tree/etc/debian_version")
  echo "  /etc/debian_version: $seen"
  [[ "$seen" == 13.* ]]
}
check "the tree is Debian 13" debian_13
check "apt-get update reads trixie's lists from $mirror" quietly in_tree apt-get -q update
cp "$deb" "$tree/tmp/" && chmod 644 "$tree/tmp/${deb##*/}"
apt_install() {
  local newly
  quietly in_tree apt-get -q -y -o DPkg::Lock::Timeout=300 install "/tmp/${deb##*/}" || return 1
  newly=$(grep -c '^Setting up ' "$log")
  echo "  apt-get set up $newly packages, among them" \
    "$(in_tree dpkg-query -W -f='${Package} ${Version}, ' libgtk-3-0t64 fonts-ipafont-gothic 2>/dev/null)and kivom"
}
check "apt-get installs ${deb##*/} with its Depends from Debian 13's mirror" apt_install
installed_version() { in_tree dpkg-query -W -f='${db:Status-Status} ${Version}' kivom 2>/dev/null; }
check "dpkg has kivom $version installed in the tree" test "$(installed_version)" = "installed $version"
depends_native() {
  local depends names
  depends=$(in_tree dpkg-query -W -f='${Depends}' kivom)
  echo "  Depends: $depends"
  names=$(sed 's/[,|]/\n/g' <<<"$depends" | sed 's/^ *//; s/[ (:].*//')
  grep -qx libgtk-3-0 <<<"$names" && ! grep -q wine <<<"$names"
}
check "the Depends name GTK 3 and no Wine" depends_native
# Installed-Size is what dpkg-gencontrol counted: each file rounded up to whole KiB, and one KiB
# for each folder and link; the package's files as installed must add up to it, give or take a tenth.
installed_size() {
  local recorded counted
  recorded=$(in_tree dpkg-query -W -f='${Installed-Size}' kivom)
  counted=$(in_tree sh -c 'dpkg -L kivom | while read -r path; do
      if [ -f "$path" ] && [ ! -L "$path" ]; then echo $(( ($(stat -c %s "$path") + 1023) / 1024 ));
      elif [ "$path" != /. ]; then echo 1; fi; done' | awk '{ sum += $1 } END { print sum + 0 }')
  echo "  Installed-Size: $recorded KiB; the installed files, folders and links: $counted KiB"
  [ -n "$recorded" ] && [ "$recorded" -le "$max_installed_kib" ] &&
    [ "$recorded" -ge $((counted * 9 / 10)) ] && [ "$recorded" -le $((counted * 11 / 10 + 1)) ]
}
check "the installed size is under $max_installed_kib KiB and what the files take" installed_size
check "kivom --version prints 'kivom $version' in the tree" test "$(in_tree kivom --version 2>&1)" = "kivom $version"

# --- kivom --demo, as an ordinary user of the tree in a session of that user's own ---
check "useradd adds the ordinary user $user in the tree" \
  quietly in_tree useradd --create-home --shell /bin/bash "$user"
# The user's part and what it needs from the checkout, where that user may read them.
copy=/opt/kivom-check
user_demo() {
  local uid
  uid=$(in_tree id -u "$user") || return
  mkdir -p "$tree$copy" &&
    cp --parents app/form_layout.h scripts/lib/{check,wait,form,step,native-session}.sh \
      tests/native/{atspi_probe.py,close_window.py,in-session.sh} tests/e2e/demo_exchange.sh \
      "$tree$copy/" && chmod -R a+rX "$tree$copy" &&
    install -d -m 700 -o "$uid" -g "$uid" "$tree/run/user/$uid" &&
    install -d -m 1777 "$tree/tmp/.X11-unix" ||
    { check "a copy of the user's part that $user may read" false; return; }
  in_tree runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="/home/$user" USER="$user" \
    LOGNAME="$user" LANG=C.UTF-8 XDG_RUNTIME_DIR="/run/user/$uid" \
    KIVOM_WAIT_SECONDS="$KIVOM_WAIT_SECONDS" \
    bash "$copy/tests/native/in-session.sh" bash "$copy/tests/e2e/demo_exchange.sh" \
    "$user on Debian 13" 'trixie 123' "/home/$user/kivom-trixie.png" \
    2>&1 | tee "$run/user-demo"
  check_add_tally "$user: kivom --demo's part" "$run/user-demo"
  if [ -s "$tree/home/$user/kivom-trixie.png" ]; then
    cp "$tree/home/$user/kivom-trixie.png" "$picture" && echo "picture of the window on Debian 13: $picture"
  fi
}
user_demo
# kivom, its echo device and the user's session all ended with the window.
# Succeeds when none is left; else names those left, for the wait to say what it saw.
no_user_process() {
  local pid left=''
  for pid in $(processes_in "$tree"); do
    [ "$(stat -c %u "/proc/$pid" 2>/dev/null)" = 0 ] ||
      left+="$pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null);"
  done
  [ -z "$left" ] || { echo "$left"; return 1; }
}
gone() { kivom_wait_until "the end of $user's processes in the tree" no_user_process >/dev/null; }
check "no process of $user runs on in the tree" gone

echo "distro_test: $((SECONDS - started)) s"
check_summary
