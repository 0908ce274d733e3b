#!/usr/bin/env bash
# The native kivom as a person and a screen reader meet it, on the serial peer's terminal: the
# exchange's cases, the keys that start one and those that do not, the send box's width, the
# line as the device sees it, closing, and a line that cannot be opened.
# Ends with "N passed, N failed".
set -uo pipefail
source "$(dirname "$0")/lib.sh"

layout=$native_here/../../app/form_layout.h

# The window is kivom.exe's client area, and each control is where kivom.exe has it: its
# centre, as the accessibility bus reports it, at the table's, relative to the window.
layout_is_the_windows_one() {
  local window geometry id x y w h at
  window=$(kivom_find_window) || return 1
  geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ { x = $NF }
    /Absolute upper-left Y/ { y = $NF } /Width:/ { w = $NF } /Height:/ { h = $NF }
    END { print x, y, w, h }')
  read -r x0 y0 width height <<<"$geometry"
  echo "  window $width x $height"
  [ "$width $height" = "$(sed -n 's/^constexpr int kClient\(Width\|Height\) = \([0-9]*\);/\2/p' "$layout" | paste -sd ' ')" ] ||
    return 1
  while read -r id x y w h; do
    at=$(probe center "$id") || return 1
    read -r cx cy <<<"$at"
    (( ${cx} - x0 - x - w / 2 <= 1 && x + w / 2 - (${cx} - x0) <= 1 &&
      ${cy} - y0 - y - h / 2 <= 1 && y + h / 2 - (${cy} - y0) <= 1 )) ||
      { echo "  control $id centred at $((cx - x0)) $((cy - y0)), not $((x + w / 2)) $((y + h / 2))" >&2; return 1; }
  done < <(awk -F '[{}, ]+' '/^  [A-Za-z]+ = [0-9]+,/ { id[$2] = $4 }
    /^    \{[A-Za-z]+, ControlKind::/ { print id[$2], $5, $6, $7, $8 }' "$layout")
}

# The texts FormLoad gives the controls, as a screen reader reads them.
texts_are_the_forms() {
  local id expected
  while IFS='=' read -r id expected; do
    [ "$(probe text "$id")" = "$expected" ] || { echo "  control $id reads '$(probe text "$id")'" >&2; return 1; }
  done <<'EOF_TEXTS'
1002=送信文字
1003=受信文字
1004=簡易通信テストプログラム API
1005=通信テスト開始
EOF_TEXTS
}

pattern() { printf 'ABCDEFGHIJKLMNOPQRSTUVWXYZ%.0s' {1..8} | head -c "$1"; }

empty_text_sends_cr() {
  probe set "$KIVOM_SEND_BOX" "" && press && [ "$(last_request)" = 0d ]
}

# Kept whole in the box, cut to 99 bytes on the line.
long_text_sends_99_bytes() {
  local text
  text=$(pattern 120)
  probe set "$KIVOM_SEND_BOX" "$text" && [ "$(probe text "$KIVOM_SEND_BOX")" = "$text" ] && press &&
    [ "$(last_request)" = "$(printf '%s\r' "${text:0:99}" | hex)" ]
}

two_presses_two_exchanges() {
  local opens requests
  opens=$(peer_count open) requests=$(peer_count request)
  probe set "$KIVOM_SEND_BOX" twice && press && press &&
    [ "$(peer_count open)" -eq $((opens + 2)) ] && [ "$(peer_count request)" -eq $((requests + 2)) ]
}

long_reply_shows_100() {
  peer_answers '--long 150' && press && [ "$(probe text "$KIVOM_REPLY_BOX")" = "$(pattern 100)" ]
}

zero_byte_ends_reply() {
  peer_answers --zero && press && [ "$(probe text "$KIVOM_REPLY_BOX")" = AB ]
}

# The reply box emptied, the line held for the read's 500 ms after the request, not much more.
no_reply_empties_box() {
  peer_answers --echo && press && [ -n "$(probe text "$KIVOM_REPLY_BOX")" ] &&
    peer_answers --silent && press && [ -z "$(probe text "$KIVOM_REPLY_BOX")" ] || return 1
  local held
  held=$(awk '/ request / { at = $1 } / close$/ { if (at) held = ($1 - at) * 1000 } END { print int(held) }' "$peer_log")
  echo "  line held $held ms after the request"
  [ "$held" -ge 450 ] && [ "$held" -lt 1500 ]
}

# The peer leaves the line at 115200 7E2 with both flow controls before every open.
line_settings_at_request() {
  peer_answers --echo && probe set "$KIVOM_SEND_BOX" settings && press &&
    grep -B1 ' request ' "$peer_log" | tail -n 2 | head -n 1 |
    grep -q 'settings speed=9600 data=8 parity=none stop=1 rtscts=off ixon=off ixoff=off$'
}

# Return starts nothing, in a box or on the button; the space bar on the button does. Keys are
# handled in order, so once the space bar's exchange is over any exchange of an earlier Return
# would be counted too.
keys_that_start_an_exchange() {
  local requests
  requests=$(peer_count request)
  kivom_click_into probe "$KIVOM_SEND_BOX" && xdotool key Return Tab Return Tab &&
    kivom_wait_for "the focus" "$KIVOM_START_BUTTON" probe focus &&
    xdotool key Return space &&
    kivom_wait_for "the peer's count of requests" $((requests + 1)) peer_count request &&
    kivom_click_into probe "$KIVOM_SEND_BOX" && xdotool key Return &&
    probe press "$KIVOM_START_BUTTON" &&
    kivom_wait_for "the peer's count of requests" $((requests + 2)) peer_count request
}

# Typing stops when the box's visible width is full: of 60 characters of one width, what reaches
# the line is a part that fills the box. Keys and the click are handled in order.
typing_stops_at_width() {
  local typed sent kept
  typed=$(printf 'm%.0s' {1..60})
  probe set "$KIVOM_SEND_BOX" "" && kivom_click_into probe "$KIVOM_SEND_BOX" &&
    xdotool type --delay "$KIVOM_KEY_DELAY_MS" "$typed" && kivom_click probe "$KIVOM_START_BUTTON" &&
    kivom_wait_until "the request that ends the typing" eval 'last_request | grep "^6d.*0d$"' >/dev/null ||
    return 1
  sent=$(last_request)
  kept=$(($(wc -w <<<"$sent") - 1))
  echo "  typed 60 characters; the line got $kept"
  [ "$kept" -gt 10 ] && [ "$kept" -lt 60 ] && [ "$sent" = "$(printf '%s\r' "${typed:0:kept}" | hex)" ]
}

# paste_keys TEXT: TEXT put in with Ctrl+V from the clipboard of another program, which holds it
# until the next paste or the end of the check.
clipboard_pid=''
paste_keys() {
  drop_clipboard
  printf '%s' "$1" >"$work/clipboard"
  : >"$work/clipboard.out"
  /usr/bin/python3 -I "$native_here/clipboard.py" "$work/clipboard" >"$work/clipboard.out" &
  clipboard_pid=$!
  kivom_wait_for "the clipboard's holder" ready cat "$work/clipboard.out" && xdotool key ctrl+v
}
drop_clipboard() {
  if [ -n "$clipboard_pid" ]; then
    kill "$clipboard_pid" && wait "$clipboard_pid" 2>/dev/null
  fi
  clipboard_pid=''
}

# repeated TEXT N: TEXT N times over.
repeated() { yes "$1" | head -n "$2" | tr -d '\n'; }
characters() { printf '%s' "$1" | LC_ALL=C.UTF-8 wc -m; }

# The caret put at the end of TEXT in the send box, KEYS then pressed.
caret_in() {
  probe set "$KIVOM_SEND_BOX" "$1" && kivom_click_into probe "$KIVOM_SEND_BOX" &&
    xdotool key End ${2:+"$2"}
}

# A paste is cut where typing the same characters one by one stops: at the longest leading part,
# in whole characters, with which the text fits the box's visible width, however long the paste;
# the window answers at once after it. Each row: the box's text, the keys that place the caret,
# the character, how many are typed and how many pasted.
pastes_cut_where_typing_stops() {
  local before keys character typed pasted requests kept status=0
  kivom_bind_keys 漢 || return 1
  while IFS='|' read -r before keys character typed pasted; do
    requests=$(peer_count request)
    caret_in "$before" "$keys" &&
      xdotool type --delay "$KIVOM_KEY_DELAY_MS" "$(repeated "$character" "$typed")" &&
      kivom_click probe "$KIVOM_START_BUTTON" &&
      kivom_wait_for "the peer's count of requests" $((requests + 1)) peer_count request &&
      kept=$(probe text "$KIVOM_SEND_BOX") || { status=1; break; }
    echo "  '$before' with $typed $character typed at the caret: $(characters "$kept") characters"
    [ "$(characters "$kept")" -lt $(($(characters "$before") + typed)) ] &&
      caret_in "$before" "$keys" && paste_keys "$(repeated "$character" "$pasted")" &&
      kivom_wait_for "the send box after a paste of $pasted $character" "$kept" \
        probe text "$KIVOM_SEND_BOX" || { status=1; break; }
  done <<'EOF_PASTES'
||m|40|60
||漢|30|40
||m|40|100000
AB|Left|m|40|60
EOF_PASTES
  drop_clipboard
  return $status
}

japanese_typed_and_shown() {
  local text='テスト 漢字'
  kivom_bind_keys "$text" && probe set "$KIVOM_SEND_BOX" "" &&
    kivom_click_into probe "$KIVOM_SEND_BOX" && xdotool type --delay "$KIVOM_KEY_DELAY_MS" "$text" &&
    kivom_wait_for "the send box" "$text" probe text "$KIVOM_SEND_BOX" && press &&
    [ "$(last_request)" = "$(printf '%s\r' "$text" | iconv -t CP932 | hex)" ] &&
    [ "$(probe text "$KIVOM_REPLY_BOX")" = "$text"$'\r' ]
}

# A text of the form (NAME in app/form_layout.h, Shift-JIS there) in UTF-8.
form_text() {
  printf '%b' "$(awk -v name="$1" '$0 ~ "constexpr char " name "\\[\\]" { on = 1 }
    on { while (match($0, /"[^"]*"/)) { printf "%s", substr($0, RSTART + 1, RLENGTH - 2)
      $0 = substr($0, RSTART + RLENGTH) } }
    on && /;/ { exit }' "$layout")" | iconv -f CP932 -t UTF-8
}

descriptions_are_the_forms() {
  [ "$(probe description)" = "$(probe text 1004)" ] &&
    [ "$(probe description "$KIVOM_REPLY_BOX")" = "$(form_text kReceiveEditDescription)" ]
}

# The end of an exchange is announced to a screen reader with the focus left on the button: the
# reply without its line end, or the form's word for nothing received. Each row: the peer's
# answer, the text sent, what is heard (empty: that word).
exchange_end_is_announced() {
  local answer sent expected heard closes
  closes=$(peer_count close)
  kivom_click_into probe "$KIVOM_START_BUTTON" &&
    kivom_wait_for "the peer's count of closes of the line" $((closes + 1)) peer_count close ||
    return 1
  while IFS='|' read -r answer sent expected; do
    peer_answers "$answer" && probe set "$KIVOM_SEND_BOX" "$sent" &&
      heard=$(probe heard "$KIVOM_START_BUTTON") || return 1
    echo "  $answer: heard '$heard'"
    [ "$heard" = "${expected:-$(form_text kNoReplyText)}" ] &&
      kivom_wait_for "the control with the focus" "$KIVOM_START_BUTTON" probe focus || return 1
  done <<'EOF_REPLIES'
--echo|応答 OK|応答 OK
--silent|x|
EOF_REPLIES
}

# A line that has gone: the message with no owner, the form still answering while it is open,
# and exit code 0 once it is closed, without a byte reaching anything.
line_gone_is_reported() {
  kivom_stop_peer
  probe press "$KIVOM_START_BUTTON" &&
    kivom_wait_for "kivom's message" "$cannot_use" probe message &&
    probe set "$KIVOM_SEND_BOX" "still answering" && probe dismiss && kivom_exit
}

# An ordinary user who may not open the device is told which group to join, before any window.
not_permitted_says_group() {
  local user said status=0 group
  user=$(. "$native_here/../../scripts/lib/test-user.sh" && echo "$KIVOM_TEST_USER")
  group=dialout # a serial device's group; the peer's terminal is root's alone
  chgrp "$group" "$line" && chmod 660 "$line" || return 1
  cp "$kivom" "$work/kivom" && chmod 755 "$work/kivom" || return 1
  # No display: with standard error not a terminal the refusal would wait in a message box.
  said=$(runuser -u "$user" -- env -u DISPLAY USER="$user" "$work/kivom" "$line" 2>&1) || status=$?
  echo "  $user: exit code $status: $said"
  [ "$status" -eq 2 ] && [[ "$said" == *"group '$group'"*"sudo adduser $user $group"* ]]
}

start_peer --used-line
check "a user who may not open the device is told the group to join, exit code 2" \
  not_permitted_says_group
start_kivom
check "the window is kivom.exe's client area, each control where kivom.exe has it" \
  layout_is_the_windows_one
check "the labels and the button read as the form's Japanese texts" texts_are_the_forms
check "an empty text sends CR alone" empty_text_sends_cr
check "a text of 120 bytes set into the box stays whole and sends its first 99 and CR" \
  long_text_sends_99_bytes
check "two presses make two exchanges" two_presses_two_exchanges
check "a reply of 150 bytes shows its first 100" long_reply_shows_100
check "a reply holding a zero byte shows what comes before it" zero_byte_ends_reply
check "no reply leaves the reply box empty after the read's 500 ms" no_reply_empties_box
check "the device sees 9600 8N1 without flow control at the request" line_settings_at_request
check "Return starts nothing; the space bar on the button does" keys_that_start_an_exchange
check "typing stops at the send box's visible width" typing_stops_at_width
check "a Japanese text typed is sent in Shift-JIS and shown again" japanese_typed_and_shown
check "a paste is cut where typing stops, at the caret, however long it is" \
  pastes_cut_where_typing_stops
check "the window's description is the title's text; the reply box's says what it holds" \
  descriptions_are_the_forms
check "an exchange's end is announced, the reply without its line end, the focus kept" \
  exchange_end_is_announced
check "closing the window ends kivom with exit code 0" close_kivom
start_peer
start_kivom
check "a line that has gone shows COM1が使えません; closing it ends kivom with 0" line_gone_is_reported
check_summary
