// The runtime's platform seam: the few operating-system services the tracked-string
// runtime needs. One implementation per platform (platform_win32.cpp, platform_posix.cpp);
// the logic above the seam is the same code on every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace runtime::platform {

void* HeapAllocateZeroed(std::size_t bytes);
void* HeapAllocate(std::size_t bytes);
void* HeapResize(void* block, std::size_t bytes);  // the old block stays valid on failure
void HeapRelease(void* block);

void LockInit();
void LockEnter();
void LockLeave();

void DebugOutput(const char* text);

int32_t ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t style);

// Compares two byte strings of the given lengths as the system's text:
// 1 less, 2 equal, 3 greater, 0 when the comparison fails.
int32_t CompareText(const char* left, int32_t leftLength, const char* right, int32_t rightLength);

[[noreturn]] void ExitProgram();

// Test hooks. The program never sets them; each seam honours them the same way.
struct Hooks {
  int32_t heapRequestsBeforeFailure = -1;  // allocations and resizes that still succeed; -1: all
  void (*onHeapRelease)(void* block) = nullptr;
  void (*onDebugOutput)(const char* text) = nullptr;  // replaces the platform's output
  int32_t (*onMessageBox)(void* owner, const char* text, const char* caption,
                          uint32_t style) = nullptr;  // replaces the platform's box
};
extern Hooks hooks;

// True when the hooks say this heap request is to fail. The common case stays inline.
bool CountHeapRequest();
inline bool HeapRequestFails() {
  return hooks.heapRequestsBeforeFailure >= 0 && CountHeapRequest();
}

}  // namespace runtime::platform
