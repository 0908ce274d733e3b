// The runtime's platform seam: the few operating-system services the tracked-string
// runtime needs. The lock, the text comparison and the exit are the platform's in every
// program (platform_win32.cpp, platform_posix.cpp). The heap, the debug output and the
// message box come in two kinds: the platform's own (observed_win32.cpp, observed_posix.cpp),
// which kivom.exe and the tools link, and the test seam (observed_testing.cpp), which only
// test programs link; the logic above the seam is the same code either way.
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

}  // namespace runtime::platform
