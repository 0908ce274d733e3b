// The runtime's platform seam on Windows: the process heap, a critical section, the
// debug output, the ANSI message box and string comparison, and process exit.
#include <windows.h>

#include "runtime/platform.h"

namespace runtime::platform {
namespace {
CRITICAL_SECTION RegistryLock;
}  // namespace

void* HeapAllocateZeroed(std::size_t bytes) {
  if (HeapRequestFails()) return nullptr;
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void* HeapAllocate(std::size_t bytes) {
  if (HeapRequestFails()) return nullptr;
  return HeapAlloc(GetProcessHeap(), 0, bytes);
}

void* HeapResize(void* block, std::size_t bytes) {
  if (HeapRequestFails()) return nullptr;
  return HeapReAlloc(GetProcessHeap(), 0, block, bytes);
}

void HeapRelease(void* block) {
  if (hooks.onHeapRelease != nullptr) hooks.onHeapRelease(block);
  HeapFree(GetProcessHeap(), 0, block);
}

void LockInit() { InitializeCriticalSection(&RegistryLock); }
void LockEnter() { EnterCriticalSection(&RegistryLock); }
void LockLeave() { LeaveCriticalSection(&RegistryLock); }

void DebugOutput(const char* text) {
  if (hooks.onDebugOutput != nullptr) {
    hooks.onDebugOutput(text);
    return;
  }
  OutputDebugStringA(text);
}

int32_t ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t style) {
  if (hooks.onMessageBox != nullptr) return hooks.onMessageBox(owner, text, caption, style);
  return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

int32_t CompareText(const char* left, int32_t leftLength, const char* right, int32_t rightLength) {
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, 0, left, leftLength, right, rightLength);
}

void ExitProgram() { ExitProcess(0); }

}  // namespace runtime::platform
