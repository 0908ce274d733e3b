#!/usr/bin/env bash
# The modem lines of the native kivom as a device sees them: the line recorder, preloaded into
# kivom, gives the peer's terminal a UART's DTR, RTS and transmit timing, and with
# KIVOM_RECORDER_RS485=1 the kernel's RS-485 mode, and logs what kivom did with them.
# Ends with "N passed, N failed".
set -uo pipefail
source "$(dirname "$0")/lib.sh"
recorder=${KIVOM_NATIVE_RECORDER:?the line recorder for this machine}
recorded=$work/line.log

# One exchange on a recorded line, the driver with RS-485 mode or not (1 or 0); the log in
# $recorded.
recorded_exchange() {
  : >"$recorded"
  as=(env LD_PRELOAD="$recorder" KIVOM_RECORDER_PORT="$line" KIVOM_RECORDER_LOG="$recorded"
    KIVOM_RECORDER_RS485="$1")
  start_kivom && probe set "$KIVOM_SEND_BOX" "line $1" && press && close_kivom
  local status=$?
  as=()
  sed 's/^/  /' "$recorded"
  return $status
}

# Fails with the first event that breaks a rule; the rules name the log's fields.
log_keeps() {
  awk "$1"' END { if (!ok) { print "  the log broke: " why > "/dev/stderr"; exit 1 } }' "$recorded"
}

# DTR dropped by kivom's first modem-line call, before any setting or write, and low until the
# close; RTS raised just before the write and dropped once its last stop bit has left.
rts_by_hand() {
  recorded_exchange 0 && log_keeps '
    BEGIN { ok = 1 }
    / lines / && !lines++ && (/dtr=1/ || wrote) { ok = 0; why = "DTR not dropped first: " $0 }
    lines && / dtr=1/ { ok = 0; why = "DTR up: " $0 }
    / write / { wrote++; if (!/rts=1/ || !raised) { ok = 0; why = "written with RTS low: " $0 } }
    / lines .*rts=1.*TIOCMBIS/ { raised = 1 }
    / lines .*rts=0.*tail-ms=/ { split($0, f, "tail-ms="); tail = f[2] + 0; dropped = 1
      if (tail < 0 || tail > 20) { ok = 0; why = "RTS dropped " tail " ms after the last stop bit" } }
    END { if (ok && (!wrote || !dropped)) { ok = 0; why = "no write, or RTS never dropped" } }'
}

# The driver raises RTS while sending: kivom sets the mode before the write, never drives RTS
# itself, and puts the mode back as it found it (off) before the close.
rts_by_rs485() {
  recorded_exchange 1 && log_keeps '
    BEGIN { ok = 1 }
    / rs485 .*flags=0x3 / { set = 1 }
    / write / { wrote = 1; if (!set || !/rs485=1/) { ok = 0; why = "written without RS-485 mode: " $0 } }
    / lines .*rts=1/ { ok = 0; why = "RTS raised by kivom: " $0 }
    / rs485 .*flags=0x0 / && wrote { restored = 1 }
    / close / && (!restored || !/rs485-flags=0x0/) { ok = 0; why = "mode not put back: " $0 }
    END { if (ok && !wrote) { ok = 0; why = "no write" } }'
}

# kivom killed inside an exchange with the driver's RS-485 mode set: the mode is put back as
# kivom found it (off) all the same, by the process that keeps the port for it.
rs485_back_after_kill() {
  : >"$recorded"
  as=(env LD_PRELOAD="$recorder" KIVOM_RECORDER_PORT="$line" KIVOM_RECORDER_LOG="$recorded"
    KIVOM_RECORDER_RS485=1)
  start_kivom && peer_answers --silent && probe press "$KIVOM_START_BUTTON" &&
    kivom_wait_until "the RS-485 mode set" grep ' rs485 .*flags=0x3 ' "$recorded" >/dev/null &&
    kill -KILL "$kivom_pid"
  local status=$?
  as=()
  { kivom_exit; } 2>/dev/null
  peer_answers --echo
  [ $status -eq 0 ] && kivom_wait_until "the mode put back after the kill" \
    awk '/ rs485 .*flags=0x3 / { set = 1 } set && / rs485 .*flags=0x0 / { print; found = 1 } END { exit !found }' \
    "$recorded" >/dev/null
  local back=$?
  sed 's/^/  /' "$recorded"
  return $back
}

start_peer --used-line
check "RTS by hand: DTR low from kivom's first call on the line, RTS up only around the write" \
  rts_by_hand
check "RTS by the driver's RS-485 mode: set before the write, put back before the close" \
  rts_by_rs485
check "RS-485 mode put back as found when kivom is killed inside an exchange" rs485_back_after_kill
check_summary
