#!/usr/bin/env bash
# Runs a Windows test program with COM1 on a known line, then puts COM1 back on the empty
# folder, so that no later run can reach a terminal that has gone away.
#   with-line.sh peer PEER-PROGRAM -- PROGRAM ARGS...   COM1 on a fresh serial peer
#   with-line.sh unusable -- PROGRAM ARGS...            COM1 on a folder: the open fails
#   with-line.sh ports PEER-PROGRAM PORT ABSENT -- PROGRAM ARGS...
#       the port PORT (such as COM12) on a fresh serial peer, COM1 on the folder, and the port
#       ABSENT (such as COM7) not there at all; the test finds their names in KIVOM_PEER_PORT
#       and KIVOM_ABSENT_PORT_NAME
#   with-line.sh recorded PEER-PROGRAM RECORDER-DIR -- PROGRAM ARGS...
#       COM1 on a serial peer that leaves the line used before every open, with the line
#       recorder (built in RECORDER-DIR) preloaded into Wine; its log is in KIVOM_RECORDER_LOG
# PROGRAM is a Windows program (run under Wine) or a script.
# For the peer, the test program finds its control file and log in KIVOM_PEER_CONTROL and
# KIVOM_PEER_LOG.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/lib/wine-env.sh"

mode=$1; shift
named_ports=() # the ports besides COM1 that this run maps, taken out of the registry after it
# shellcheck disable=SC2317 # run by the trap
finish() {
  kivom_stop_peer
  kivom_map_ports "COM1=$KIVOM_NO_PORT" "${named_ports[@]/%/=}" >/dev/null || true
}
trap finish EXIT

case "$mode" in
  peer | recorded | ports)
    peer=$1; shift
    if [ "$mode" = ports ]; then
      export KIVOM_PEER_PORT=$1 KIVOM_ABSENT_PORT_NAME=$2
      named_ports=("$1" "$2")
      shift 2
    fi
    peer_options=(--echo)
    if [ "$mode" = recorded ]; then
      recorder=$1; shift
      [ -f "$recorder/lib/i386-linux-gnu/libline-recorder.so" ] ||
        kivom_die "no line recorder in $recorder: build the native preset first"
      peer_options+=(--used-line)
    fi
    [ -x "$peer" ] || kivom_die "no serial peer at $peer: build the native preset first"
    work=$(mktemp -d "$KIVOM_BUILD/e2e.XXXXXX")
    export KIVOM_PEER_LOG=$work/peer.log KIVOM_PEER_CONTROL=$work/control
    KIVOM_ECHO_DEVICE=$peer kivom_start_peer -- "${peer_options[@]}" --log "$KIVOM_PEER_LOG" \
      --control "$KIVOM_PEER_CONTROL"
    if [ "$mode" = ports ]; then
      kivom_map_ports "COM1=$KIVOM_NO_PORT" "$KIVOM_PEER_PORT=$KIVOM_PEER_LINE" \
        "$KIVOM_ABSENT_PORT_NAME="
    else
      kivom_map_com1 "$KIVOM_PEER_LINE"
    fi
    if [ "$mode" = recorded ]; then
      # Set only now: the Wine server started above runs without it.
      kivom_preload_recorder "$recorder" "$KIVOM_PEER_LINE" "$work/line.log"
    fi
    ;;
  unusable)
    kivom_map_com1 "$KIVOM_NO_PORT"
    ;;
  *) kivom_die "unknown line $mode" ;;
esac
[ "$1" = "--" ] && shift

[ -f "$KIVOM_SESSION/display" ] && DISPLAY=$(cat "$KIVOM_SESSION/display") && export DISPLAY
status=0
case "$1" in
  *.exe) wine "$@" || status=$? ;;
  *) "$@" || status=$? ;;
esac
exit $status
