#!/usr/bin/env bash
# The Debian package as a user gets it: dist/kivom_VERSION_amd64.deb installed with apt-get, the
# native kivom and its files where they belong and nothing else, a Depends without Wine,
# `kivom --version` and `kivom --list`, one exchange of `kivom --demo` run by an ordinary user,
# and a purge that leaves none of its files and no process of that user behind.
# The user's exchange runs as that user in a session of its own (a virtual display and a session
# bus: root's are not that user's to reach), from a copy of what it needs in a folder that user
# may read: the checkout may sit where only root may enter.
#   tests/e2e/package_test.sh   run as root, after scripts/release (dist/); the ordinary user is
#                               scripts/setup's kivomtest, whose exchange is
#                               tests/e2e/demo_exchange.sh
# Ends with "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/check.sh"
source "$root/scripts/lib/wait.sh"
source "$root/scripts/lib/test-user.sh"
user=$KIVOM_TEST_USER

cd "$root" || exit 2
[ "$(id -u)" -eq 0 ] || { echo "package_test: run as root: it installs and purges the package" >&2; exit 2; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release-linux/CMakeCache.txt 2>/dev/null)
deb=dist/kivom_${version}_amd64.deb
# Other sessions may hold the dpkg lock for a while.
apt_get=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y)

work=$(mktemp -d /tmp/kivom-package-test.XXXXXX)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT

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

# The package's files, each with its mode; dpkg lists these and no other file.
layout='755 /usr/bin/kivom
644 /usr/share/applications/io.github.kivom.kivom.desktop
644 /usr/share/metainfo/io.github.kivom.kivom.metainfo.xml
644 /usr/share/icons/hicolor/scalable/apps/io.github.kivom.kivom.svg
644 /usr/share/man/man1/kivom.1.gz
644 /usr/share/doc/kivom/copyright
644 /usr/share/doc/kivom/changelog.gz'
files_in_place() {
  local status=0 mode path listed
  while read -r mode path; do
    [ -f "$path" ] && [ "$(stat -c %a "$path")" = "$mode" ] ||
      { echo "  not in place with mode $mode: $path ($(stat -c %a "$path" 2>&1))" >&2; status=1; }
  done <<<"$layout"
  listed=$(while read -r path; do [ ! -f "$path" ] || [ -L "$path" ] || echo "$path"; done <"$work/files" | sort)
  [ "$listed" = "$(cut -d' ' -f2 <<<"$layout" | sort)" ] ||
    { echo "  dpkg -L kivom lists these files:"$'\n'"$listed" >&2; status=1; }
  [ ! -e /usr/lib/kivom ] || { echo "  there is a /usr/lib/kivom" >&2; status=1; }
  return "$status"
}
# The libraries' packages dpkg-shlibdeps named and the form's font; none of the Wine package's.
depends_native() {
  local depends names
  depends=$(dpkg-query -W -f='${Depends}' kivom)
  echo "  Depends: $depends"
  names=$(sed 's/[,|]/\n/g' <<<"$depends" | sed 's/^ *//; s/[ (:].*//')
  grep -qx libgtk-3-0 <<<"$names" && grep -qx fonts-ipafont-gothic <<<"$names" &&
    ! grep -qE 'wine|^locales$' <<<"$names"
}
version_line() { [ "$(kivom --version)" = "kivom $version" ]; }
manual_found() { [ "$(man -w kivom 2>/dev/null)" = /usr/share/man/man1/kivom.1.gz ]; }
# Lists, and opens nothing: each line a device, or that there is none. Its output is only shown;
# no device it names is ever given to kivom here (the machine's own ports are not the tests').
lists_adapters() {
  local listed
  listed=$(kivom --list) || return 1
  sed 's/^/  kivom --list: /' <<<"$listed"
  ! grep -qvE '^(/dev/[^ ]+( .*)?|no serial adapter found)$' <<<"$listed"
}

check "the package's files are in place with their modes, and no other" files_in_place
check "the Depends name GTK 3's and the font's packages, no Wine or locales" depends_native
check "kivom --version prints 'kivom $version'" version_line
check "kivom --list ends with 0 and prints adapters or that there is none" lists_adapters
check "man finds kivom(1)" manual_found

# --- kivom --demo, as the ordinary user in a session of that user's own ---
# The user's tally is added to this one.
user_demo() {
  local home copy=$work/copy runtime=$work/runtime
  home=$(getent passwd "$user" | cut -d: -f6)
  [ -n "$home" ] || { check "the ordinary user $user exists (scripts/setup adds it)" false; return; }
  mkdir "$copy" &&
    cp --parents app/form_layout.h scripts/lib/*.sh tests/native/*.py tests/native/in-session.sh \
      tests/e2e/demo_exchange.sh "$copy/" && chmod -R a+rX "$copy" &&
    mkdir -m 700 "$runtime" && chown "$user:" "$runtime" ||
    { check "a copy of the user's part that $user may read" false; return; }
  runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$home" USER="$user" LOGNAME="$user" \
    LANG=C.UTF-8 XDG_RUNTIME_DIR="$runtime" KIVOM_WAIT_SECONDS="$KIVOM_WAIT_SECONDS" \
    bash "$copy/tests/native/in-session.sh" bash "$copy/tests/e2e/demo_exchange.sh" "$user" \
    'package 123' \
    2>&1 | tee "$work/user-demo"
  check_add_tally "$user: kivom --demo's part" "$work/user-demo"
}
user_demo

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
    echo "  left behind: $path" >&2
    status=1
  done <"$work/files"
  return "$status"
}
check "none of the package's $(grep -vcx /. "$work/files") paths is left, but folders of other packages" \
  nothing_left
# kivom and its echo device (a process of kivom's own) ended with the window. Only the package's
# program counts: other tests may run their own kivom as the same user.
# Succeeds when none is left; else names those left, for the wait to say what it saw.
no_package_process() {
  local pid left=''
  for pid in $(pgrep -u "$user"); do
    [[ $(readlink "/proc/$pid/exe" 2>/dev/null) == /usr/bin/kivom* ]] &&
      left+="$pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null);"
  done
  [ -z "$left" ] || { echo "$left"; return 1; }
}
gone() { kivom_wait_until "the end of $user's /usr/bin/kivom processes" no_package_process >/dev/null; }
check "no /usr/bin/kivom process of $user runs on" gone

check_summary
