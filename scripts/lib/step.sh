# One line per step of the scripts, so that a person knows why they wait:
#   kivom: building kivom (win32) ... done in 41.2 s
# The step lines are the launcher's (kivom_step, kivom_step_begin, kivom_step_done), which
# shows them to its users too.
source "$(dirname "${BASH_SOURCE[0]}")/../../linux/kivom"

# kivom_build PRESET [TARGET...]: configures and builds a CMake preset, all of it or the targets.
kivom_build() {
  local preset=$1 targets=()
  shift
  [ $# -eq 0 ] || targets=(--target "$@")
  cmake --preset "$preset" && cmake --build --preset "$preset" "${targets[@]}"
}
