# shellcheck shell=bash
# One line per step of the scripts, so that a person knows why they wait:
#   kivom: building kivom (win32) ... done in 41.2 s

kivom_die() { echo "kivom: $*" >&2; exit 1; }

# One line per step, so that a person knows why they wait:
#   kivom: creating the Wine prefix ... done in 21.4 s
# A step's own output is kept in a log and shown when the step fails; of a step that passes,
# only the lines that warn are shown.
kivom_step_begin() {
  KIVOM_STEP_START=${EPOCHREALTIME/[.,]/}
  printf 'kivom: %s ... ' "$1" >&2
}
kivom_step_done() {
  local tenths=$(((${EPOCHREALTIME/[.,]/} - KIVOM_STEP_START) / 100000))
  printf '%s in %d.%d s\n' "${1:-done}" $((tenths / 10)) $((tenths % 10)) >&2
}
# kivom_step WHAT COMMAND...: runs COMMAND in a subshell with its output kept aside.
# On failure the output follows the line, and the command's exit code is returned.
# COMMAND reports its own failures (chain with &&): set -e does not reach into it here.
kivom_step() {
  local what=$1 log status=0
  shift
  log=$(mktemp) || return 1
  kivom_step_begin "$what"
  ("$@") >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    kivom_step_done
    grep -i -A 2 'warning' "$log" >&2 || true
  else
    kivom_step_done "FAILED (exit code $status)"
    cat "$log" >&2
  fi
  rm -f "$log"
  return "$status"
}

# kivom_build PRESET [TARGET...]: configures and builds a CMake preset, all of it or the targets.
kivom_build() {
  local preset=$1 targets=()
  shift
  [ $# -eq 0 ] || targets=(--target "$@")
  cmake --preset "$preset" && cmake --build --preset "$preset" "${targets[@]}"
}
