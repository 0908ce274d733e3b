#!/usr/bin/env bash
# The Debian package as a user gets it: dist/kivom_VERSION_amd64.deb installed with apt-get,
# its files where they belong, `kivom --version`, one exchange of `kivom --demo` run by an
# ordinary user on a virtual display, and a purge that leaves none of its files behind.
# Run as root, after scripts/release (dist/) and with the win64 preset's kivom-probe (which
# reads the form's controls); the ordinary user is scripts/setup's kivomtest.
#   tests/e2e/package_test.sh
# Ends with "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/form.sh"
source "$root/scripts/lib/test-user.sh"
cd "$root" || exit 2

[ "$(id -u)" -eq 0 ] || { echo "package_test: run as root: it installs and purges the package" >&2; exit 2; }

source "$root/scripts/lib/check.sh"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release-linux/CMakeCache.txt 2>/dev/null)
deb=dist/kivom_${version}_amd64.deb
probe_exe=build/win64/tools/kivom-probe/kivom-probe.exe
user=$KIVOM_TEST_USER
# Other sessions may hold the dpkg lock for a while.
apt_get=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y)

work=$(mktemp -d /tmp/kivom-package-test.XXXXXX)
chmod 755 "$work"
cleanup_steps=()
cleanup() {
  local step
  for step in "${cleanup_steps[@]}"; do eval "$step"; done
  rm -rf "$work"
}
trap cleanup EXIT

# A command's output kept in the work folder, shown only when it fails.
quietly() {
  "$@" >"$work/command.log" 2>&1 || { cat "$work/command.log" >&2; return 1; }
}
installed_version() { dpkg-query -W -f='${db:Status-Status} ${Version}' kivom 2>/dev/null; }

[ -f "$deb" ] || { echo "package_test: no $deb: run scripts/release first" >&2; exit 1; }
if [[ $(installed_version) == "installed "* ]]; then
  echo "package_test: kivom $(installed_version | cut -d' ' -f2) is installed already: purged first" >&2
  quietly "${apt_get[@]}" purge kivom || exit 1
fi

# --- installed ---
check "apt-get installs $deb" quietly "${apt_get[@]}" install "./$deb"
check "dpkg has kivom $version installed" test "$(installed_version)" = "installed $version"
dpkg -L kivom >"$work/files" 2>/dev/null

# Each file of the layout, with the test it passes.
files_in_place() {
  local status=0 path kind
  while read -r kind path; do
    case "$kind" in
      program) [ -f "$path" ] && [ "$(stat -c %a "$path")" = 755 ] ;;
      data) [ -f "$path" ] && [ "$(stat -c %a "$path")" = 644 ] ;;
    esac || { echo "not in place: $kind $path ($(stat -c %a "$path" 2>&1))" >&2; status=1; }
    grep -qx "$path" "$work/files" || { echo "not listed by dpkg -L kivom: $path" >&2; status=1; }
  done <<'EOF'
program /usr/bin/kivom
data    /usr/lib/kivom/kivom.exe
data    /usr/lib/kivom/libkivom-exclusive-open.so
program /usr/lib/kivom/serial-peer
data    /usr/share/applications/io.github.kivom.kivom.desktop
data    /usr/share/metainfo/io.github.kivom.kivom.metainfo.xml
data    /usr/share/icons/hicolor/scalable/apps/io.github.kivom.kivom.svg
data    /usr/share/man/man1/kivom.1.gz
data    /usr/share/doc/kivom/copyright
data    /usr/share/doc/kivom/changelog.gz
EOF
  return "$status"
}
# The package's kivom.exe is the release's x86_64 one, byte for byte.
is_the_release_exe() {
  unzip -p "dist/kivom-$version-win64.zip" kivom.exe >"$work/win64.exe" &&
    cmp /usr/lib/kivom/kivom.exe "$work/win64.exe"
}
elf_x86_64() {  # FILE...
  local file
  for file; do
    [[ $(LC_ALL=C readelf -h "$file" 2>/dev/null) == *"Advanced Micro Devices X86-64"* ]] ||
      { echo "not an x86_64 ELF file: $file" >&2; return 1; }
  done
}
version_line() { [ "$(kivom --version)" = "kivom $version" ]; }
manual_found() { [ "$(man -w kivom 2>/dev/null)" = /usr/share/man/man1/kivom.1.gz ]; }

check "the package's files are in place with their modes" files_in_place
check "/usr/lib/kivom/kivom.exe is the one in the win64 zip" is_the_release_exe
check "the echo device and the Wine server's library are x86_64" \
  elf_x86_64 /usr/lib/kivom/serial-peer /usr/lib/kivom/libkivom-exclusive-open.so
check "kivom --version prints 'kivom $version'" version_line
check "man finds kivom(1)" manual_found

# --- kivom --demo, as an ordinary user on a virtual display ---
demo_wait_seconds=300
as_user() { runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" \
  PATH=/usr/bin:/bin DISPLAY="$display" "$@"; }
probe() { as_user WINEPREFIX="$prefix" WINEDEBUG=-all wine "$work/kivom-probe.exe" "$@" | tr -d '\r'; }
# The requests the echo device logged, as hex bytes.
echo_requests() { awk '$2 == "request" {$1 = $2 = ""; print substr($0, 3)}' "$echo_log" 2>/dev/null; }
typed_text="package 123"
typed_request="70 61 63 6b 61 67 65 20 31 32 33 0d"  # the text and CR

start_display() {
  # Xvfb writes the display number it chose to the descriptor given by -displayfd.
  runuser -u "$user" -- Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  cleanup_steps+=("kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null")
  display=:$(kivom_wait_until "the display number Xvfb chose" grep -x '[0-9][0-9]*' "$work/display") ||
    { cat "$work/xvfb.log" >&2; return 1; }
}

# The form driven as the user, on the user's display.
user_xdotool() { as_user xdotool "$@"; }
KIVOM_XDOTOOL=user_xdotool

# The user's first start makes the Wine prefix, which takes a while on a busy machine.
demo_exchange() {
  local window reply
  window=$(KIVOM_WAIT_SECONDS=$demo_wait_seconds kivom_find_window) ||
    { cat "$work/launcher.log" >&2; return 1; }
  reply=$(kivom_send_typed probe "$typed_text") &&
    kivom_wait_for "the echo device's requests" "$typed_request" echo_requests || return 1
  [ "$reply" = "$typed_text" ] || { echo "the reply box shows '$reply', not '$typed_text'" >&2; return 1; }
  kivom_close_window "$window"
}

closed_with_zero() {
  local code=0
  kivom_wait_exit "$launcher_pid" || code=$?
  [ "$code" -eq 0 ] || { echo "exit code $code" >&2; cat "$work/launcher.log" >&2; return 1; }
}
# The launcher's clean-up: no Wine server and no echo device of the user still runs.
nothing_left_running() {
  local left
  left=$(ps -u "$user" -o pid=,comm= | grep -E ' (wineserver|serial-peer)$')
  [ -z "$left" ] || { echo "still running: $left" >&2; return 1; }
}

all_ended() {
  kivom_wait_until "the end of $user's wineserver and serial-peer" nothing_left_running >/dev/null
}

home=$(getent passwd "$user" | cut -d: -f6)
if [ -z "$home" ]; then
  check "the ordinary user $user exists (scripts/setup adds it)" false
elif [ ! -f "$probe_exe" ]; then
  check "the win64 preset's kivom-probe is built ($probe_exe)" false
else
  data=$home/.local/share/kivom
  prefix=$data/wine-prefix echo_log=$data/echo-device.log
  display=
  cp "$probe_exe" "$work/kivom-probe.exe" && chmod 644 "$work/kivom-probe.exe"
  rm -f "$echo_log"
  if check "a virtual display for $user" start_display; then
    as_user kivom --demo >"$work/launcher.log" 2>&1 &
    launcher_pid=$!
    cleanup_steps=("kill $launcher_pid 2>/dev/null; as_user WINEPREFIX='$prefix' wineserver -k 2>/dev/null"
      "${cleanup_steps[@]}")
    check "kivom --demo as $user: the echo device gets the typed text, the reply box shows it" \
      demo_exchange
    check "kivom --demo closed with Alt+F4: exit code 0" closed_with_zero
    check "nothing of kivom's runs on for $user" all_ended
  fi
fi

# --- purged ---
check "apt-get purges kivom" quietly "${apt_get[@]}" purge kivom
check "dpkg knows kivom no more" test -z "$(installed_version | grep -v '^not-installed')"
# Of what dpkg -L listed, only the folders other packages own may remain.
nothing_left() {
  local path status=0
  while read -r path; do
    [ "$path" != /. ] || continue
    [ -e "$path" ] || [ -L "$path" ] || continue
    [ -d "$path" ] && [ ! -L "$path" ] && dpkg -S "$path" >/dev/null 2>&1 && continue
    echo "left behind: $path" >&2
    status=1
  done <"$work/files"
  return "$status"
}
check "none of the package's $(grep -vcx /. "$work/files") paths is left, but folders of other packages" \
  nothing_left

check_summary
