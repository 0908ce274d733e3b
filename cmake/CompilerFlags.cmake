# Flags every target of the project shares.
#  -ffp-contract=off: no fused multiply-add, so each double operation rounds once.
#  i686: SSE2 arithmetic instead of x87, so no intermediate is wider than a double.
add_compile_options(-Wall -Wextra -ffp-contract=off)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  add_compile_options(-msse2 -mfpmath=sse)
endif()

if(WIN32)
  # Windows programs need no DLL beyond the system's own.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

option(KIVOM_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(KIVOM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
