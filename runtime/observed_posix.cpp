// The seam's heap, debug output and message box on POSIX systems, for the native tools: the
// C heap and standard error. Test programs link observed_testing.cpp instead.
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

// There is no desktop to show a box on: the text goes to standard error and the box
// counts as answered with OK (1).
int32_t ShowMessageBox(void*, const char* text, const char* caption, uint32_t) {
  std::fprintf(stderr, "[%s] %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
  return 1;
}

}  // namespace runtime::platform
