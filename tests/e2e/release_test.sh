#!/usr/bin/env bash
# The release as a user gets it: dist/ as scripts/release wrote it (the two zips, the Debian
# package and SHA256SUMS; tests/e2e/package_test.sh installs the package), the win32 zip unpacked,
# its kivom.exe checked for what it says it is, then run for one exchange under Wine with
# COM1 on the serial peer (echo) and closed, exit code 0.
# Needs scripts/release, the native preset's serial peer and the win32 preset's test programs.
# Ends with "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/wine-env.sh"
cd "$root"

source "$root/scripts/lib/check.sh"
source "$root/scripts/lib/i386.sh"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release-win32/CMakeCache.txt 2>/dev/null)
zip32=dist/kivom-$version-win32.zip zip64=dist/kivom-$version-win64.zip
deb=dist/kivom_${version}_amd64.deb
work=$(mktemp -d "$KIVOM_BUILD/release-test.XXXXXX")
trap 'scripts/wine-session stop >/dev/null 2>&1; rm -rf "$work"' EXIT

holds_the_three_files() {
  local names
  names=$(zipinfo -1 "$1" 2>/dev/null | tr '\n' ' ')
  [ "$names" = "kivom.exe LICENSE README.txt " ] || { echo "$1 holds: $names" >&2; return 1; }
}
is_pe() {  # file format
  [[ $(LC_ALL=C x86_64-w64-mingw32-objdump -f "$1" 2>/dev/null) == *"file format $2"$'\n'* ]]
}
smaller_than() { [ "$(stat -c %s "$1")" -lt "$2" ]; }
windows_text() {  # byte-order mark, and a carriage return before every line feed
  [ "$(head -c 3 "$1" | od -An -tx1 | tr -d ' ')" = efbbbf ] &&
    [ "$(grep -c $'\r$' "$1")" -eq "$(wc -l <"$1")" ]
}

lists_the_release() {  # the two zips and the Debian package, and nothing else
  local names
  names=$(awk '{print $2}' dist/SHA256SUMS 2>/dev/null | tr '\n' ' ')
  [ "$names" = "${zip32#dist/} ${zip64#dist/} ${deb#dist/} " ] ||
    { echo "dist/SHA256SUMS lists: $names" >&2; return 1; }
}
check "the sums in dist/SHA256SUMS" sh -c 'cd dist && sha256sum --quiet -c SHA256SUMS'
check "dist/SHA256SUMS lists the two zips and the Debian package" lists_the_release
check "$zip32 holds kivom.exe, LICENSE, README.txt" holds_the_three_files "$zip32"
check "$zip64 holds kivom.exe, LICENSE, README.txt" holds_the_three_files "$zip64"
unzip -q "$zip32" -d "$work/win32" 2>/dev/null
unzip -q "$zip64" -d "$work/win64" 2>/dev/null
exe=$work/win32/kivom.exe
check "the win32 kivom.exe is i686" is_pe "$exe" pei-i386
check "the win64 kivom.exe is x86_64" is_pe "$work/win64/kivom.exe" pei-x86-64
check "the win32 kivom.exe is under 150 KB" smaller_than "$exe" $((150 * 1024))
check "README.txt is UTF-8 with a byte-order mark and CRLF line ends" windows_text "$work/win32/README.txt"

# Run under Wine: the i686 program, or the x86_64 one where the kernel runs no 32-bit programs.
arch=win32
kivom_runs_i386 || { arch=win64 && echo "note: this machine runs no 32-bit programs: the win64 zip's kivom.exe runs"; }
exe=$work/$arch/kivom.exe
scripts/wine-session start >/dev/null
check "its version resource reads $version, its manifest as designed" \
  scripts/wine-exec "build/$arch/tests/form/form_window_test.exe" "$exe" --gtest_filter='ProgramFile.*' \
  --gtest_brief=1
check "one exchange on the serial peer, then closed with exit code 0" \
  tests/e2e/with-line.sh peer build/native/tools/serial-peer/serial-peer -- \
  "build/$arch/tests/e2e/exchange_test.exe" "$exe" --gtest_filter=Exchange.ReplyAppearsInTheReplyBox \
  --gtest_brief=1

check_summary
