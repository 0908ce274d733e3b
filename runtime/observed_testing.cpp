// The test seam: the seam's heap, debug output and message box for test programs, on the C
// heap and standard error, with the hooks of runtime/testing.h, and the registry's readers.
// kivom.exe and the tools link the platform's own instead (observed_win32.cpp,
// observed_posix.cpp).
#include <cstdio>
#include <cstdlib>

#include "runtime/platform.h"
#include "runtime/string_registry.h"
#include "runtime/testing.h"

namespace runtime {
namespace platform {

Hooks hooks;

namespace {

// True when the hooks say this heap request is to fail.
bool HeapRequestFails() {
  if (hooks.heapRequestsBeforeFailure < 0) return false;
  if (hooks.heapRequestsBeforeFailure == 0) return true;
  --hooks.heapRequestsBeforeFailure;
  return false;
}

}  // namespace

void* HeapAllocateZeroed(std::size_t bytes) {
  if (HeapRequestFails()) return nullptr;
  return std::calloc(1, bytes);
}

void* HeapAllocate(std::size_t bytes) {
  if (HeapRequestFails()) return nullptr;
  return std::malloc(bytes);
}

void* HeapResize(void* block, std::size_t bytes) {
  if (HeapRequestFails()) return nullptr;
  return std::realloc(block, bytes);
}

void HeapRelease(void* block) {
  if (hooks.onHeapRelease != nullptr) hooks.onHeapRelease(block);
  std::free(block);
}

void DebugOutput(const char* text) {
  if (hooks.onDebugOutput != nullptr) {
    hooks.onDebugOutput(text);
    return;
  }
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
}

// A box that no test expects ends the test program: nobody would ever close it, and what the
// program does once it is closed (often ending with exit code 0) would pass for success.
int32_t ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t style) {
  if (hooks.onMessageBox != nullptr) return hooks.onMessageBox(owner, text, caption, style);
  std::fprintf(stderr, "unexpected message box [%s] %s\n", caption != nullptr ? caption : "",
               text != nullptr ? text : "");
  std::abort();
}

}  // namespace platform

int32_t LiveStringCount() {
  platform::LockEnter();
  const int32_t count = Registry.count;
  platform::LockLeave();
  return count;
}

TrackedString LiveString(int32_t i) {
  platform::LockEnter();
  TrackedString s = (i >= 0 && i < Registry.count) ? Registry.table[i] : nullptr;
  platform::LockLeave();
  return s;
}

}  // namespace runtime
