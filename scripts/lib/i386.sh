# shellcheck shell=bash
# kivom_runs_i386: whether this machine runs 32-bit x86 programs, the i686 kivom.exe's Wine
# among them. Some kernels are built or booted without it. Asked of the kernel itself with the
# smallest such program (it needs no 32-bit library), built by gcc -m32 (g++-multilib).
kivom_runs_i386() {
  if [ -z "${KIVOM_RUNS_I386:-}" ]; then
    local dir
    dir=$(mktemp -d)
    echo 'void _start(void) { __asm__ volatile("movl $1, %eax; xorl %ebx, %ebx; int $0x80"); }' \
      >"$dir/exit.c"
    KIVOM_RUNS_I386=no
    gcc -m32 -nostdlib -static -o "$dir/exit" "$dir/exit.c" 2>/dev/null && "$dir/exit" 2>/dev/null &&
      KIVOM_RUNS_I386=yes
    rm -rf "$dir"
    export KIVOM_RUNS_I386
  fi
  [ "$KIVOM_RUNS_I386" = yes ]
}
