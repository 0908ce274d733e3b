// The seam's heap and debug output on POSIX systems, for the native programs: the C heap and
// standard error. The message box is the program's: standard error for the tools
// (message_box_posix.cpp), a window for kivom. Test programs link observed_testing.cpp instead.
#include <cstdio>
#include <cstdlib>

#include "runtime/platform.h"

namespace runtime::platform {

void* HeapAllocateZeroed(std::size_t bytes) { return std::calloc(1, bytes); }
void* HeapAllocate(std::size_t bytes) { return std::malloc(bytes); }
void* HeapResize(void* block, std::size_t bytes) { return std::realloc(block, bytes); }
void HeapRelease(void* block) { std::free(block); }

void DebugOutput(const char* text) {
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
}

}  // namespace runtime::platform
