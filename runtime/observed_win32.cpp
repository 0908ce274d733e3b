// The seam's heap, debug output and message box on Windows, as kivom.exe has them: the
// process heap, OutputDebugStringA and the ANSI message box. Test programs link
// observed_testing.cpp instead.
#include <windows.h>

#include "runtime/platform.h"

namespace runtime::platform {

void* HeapAllocateZeroed(std::size_t bytes) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void* HeapAllocate(std::size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void* HeapResize(void* block, std::size_t bytes) {
  return HeapReAlloc(GetProcessHeap(), 0, block, bytes);
}

void HeapRelease(void* block) { HeapFree(GetProcessHeap(), 0, block); }

void DebugOutput(const char* text) { OutputDebugStringA(text); }

int32_t ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t style) {
  return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

}  // namespace runtime::platform
