# shellcheck shell=bash
# The serial peer (tools/serial-peer), the device at the far end of a test's line, on a
# pseudo-terminal of its own. KIVOM_ECHO_DEVICE names the program.
# kivom_start_peer [PREFIX...] -- OPTION...: starts the serial peer (KIVOM_ECHO_DEVICE) with OPTIONs,
# through the command PREFIX if any (runuser, as another user), and waits for the pseudo-terminal
# it names: KIVOM_PEER_LINE, and its pid KIVOM_PEER_PID. A peer that names none ends the script.
# The last -- ends PREFIX, which may hold one of its own (runuser -u USER -- env ...); the peer's
# options never do.
KIVOM_PEER_WAIT_SECONDS=30
kivom_start_peer() {
  local args=("$@") i end=-1
  for i in "${!args[@]}"; do [ "${args[i]}" != -- ] || end=$i; done
  [ "$end" -ge 0 ] || kivom_die "kivom_start_peer: no -- after the command prefix"
  local prefix=("${args[@]:0:end}")
  coproc kivom_peer { exec "${prefix[@]}" "$KIVOM_ECHO_DEVICE" "${args[@]:end+1}"; }
  # shellcheck disable=SC2154 # the coprocess's own, which bash unsets once it has ended
  KIVOM_PEER_PID=$kivom_peer_PID
  read -r -t "$KIVOM_PEER_WAIT_SECONDS" KIVOM_PEER_LINE <&"${kivom_peer[0]}" || {
    kivom_stop_peer
    kivom_die "awaited the name of the serial peer's terminal ($KIVOM_ECHO_DEVICE) for at most" \
      "$KIVOM_PEER_WAIT_SECONDS s; it named none"
  }
}
# kivom_stop_peer: ends the peer of kivom_start_peer, if one runs, and reaps it.
kivom_stop_peer() {
  [ -z "${KIVOM_PEER_PID:-}" ] || { kill "$KIVOM_PEER_PID"; wait "$KIVOM_PEER_PID"; } 2>/dev/null || true
  KIVOM_PEER_PID=''
}
