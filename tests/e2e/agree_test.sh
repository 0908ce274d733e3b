#!/usr/bin/env bash
# The two builds agree: for the same texts in the send box kivom.exe under Wine and the native
# kivom put the same bytes on the line, and for the same reply bytes, Shift-JIS that is not
# valid included, they show the same text.
# Usage (through with-line.sh peer): agree_test.sh KIVOM_EXE KIVOM_PROBE_EXE NATIVE_KIVOM
# Ends with "N passed, N failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/lib/wine-env.sh"
[ -f "$KIVOM_SESSION/display" ] && DISPLAY=$(cat "$KIVOM_SESSION/display") && export DISPLAY
export KIVOM_NATIVE_PROGRAM=$3 KIVOM_NATIVE_PEER=/bin/false  # the peer is with-line.sh's
source "$here/../native/lib.sh"
source "$here/../../scripts/lib/native-session.sh"
exe=$1 probe_exe=$2
line=$(readlink "$WINEPREFIX/dosdevices/com1")

texts=('Hello, kivom!' 'テスト 漢字ｶﾅ' "$(printf 'あ%.0s' {1..60})" 'A〜B−C')
replies=(
  '82 a0 82 a2 b1 b2 0d'          # あい, ｱｲ
  '80 a0 fd fe ff 41 0d'          # bytes that start no character
  '82 41 85 40 eb 40 85 81 40 81' # a lead byte with a trail that makes none; one at the end
)

# What a build sent for each text and showed for each reply, one line each, into FILE.
exchanges() {
  local text reply
  for text in "${texts[@]}"; do
    peer_answers --echo && probe set "$KIVOM_SEND_BOX" "$text" && press || return 1
    echo "sent: $(last_request)"
  done
  for reply in "${replies[@]}"; do
    peer_answers "--reply-hex '$reply'" && press || return 1
    echo "shown: $(probe text "$KIVOM_REPLY_BOX" | hex)"
  done
}

# kivom.exe, as the Windows tests drive it.
# Texts as Unicode both ways, as the native probe's are: the edit's own text, whose carriage
# returns are the reply's own.
probe() {
  case "$1" in
    text) wine "$probe_exe" utf8 "${@:2}" ;;
    set) wine "$probe_exe" wset "${@:2}" ;;
    *) wine "$probe_exe" "$@" | tr -d '\r' ;;
  esac
}
wine "$exe" &
kivom_pid=$!
kivom_find_window >/dev/null && exchanges >"$work/windows" &&
  close_window=$(kivom_find_window) && kivom_close_window "$close_window" "$kivom_pid"
kivom_pid=''

# The native kivom, on a display and buses of its own.
kivom_native_session_start || exit 1
trap 'finish_native; kivom_native_session_stop' EXIT
probe() { /usr/bin/python3 -I "$native_here/atspi_probe.py" "$@"; }
start_kivom && exchanges >"$work/linux" && close_kivom

sed 's/^/  kivom.exe: /' "$work/windows"
sed 's/^/  native:    /' "$work/linux"
same() { [ "$(grep "^$1" "$work/windows")" = "$(grep "^$1" "$work/linux")" ] && [ -s "$work/linux" ]; }
check "the same bytes on the line for the same texts (${#texts[@]})" same sent
check "the same text shown for the same reply bytes (${#replies[@]})" same shown
check_summary
