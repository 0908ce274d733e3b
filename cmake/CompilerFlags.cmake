# Flags every target of the project shares, for C and C++ (not for resource files).
#  -ffp-contract=off: no fused multiply-add, so each double operation rounds once.
#  i686: SSE2 arithmetic instead of x87, so no intermediate is wider than a double.
set(c_or_cxx "$<COMPILE_LANGUAGE:C,CXX>")
add_compile_options("$<${c_or_cxx}:-Wall;-Wextra;-ffp-contract=off>")

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  add_compile_options("$<${c_or_cxx}:-msse2;-mfpmath=sse>")
endif()

# The same sources give the same bytes wherever they are checked out: file names in the
# binaries are relative to the source folder.
add_compile_options("$<${c_or_cxx}:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>")

if(WIN32)
  # Windows programs need no DLL beyond the system's own.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # No link time in the PE header, so that a rebuild gives the same bytes.
  add_link_options(-Wl,--no-insert-timestamp)
endif()

option(KIVOM_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(KIVOM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
