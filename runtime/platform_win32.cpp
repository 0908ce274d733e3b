// The runtime's platform seam on Windows, in every program: a critical section, string
// comparison and process exit.
#include <windows.h>

#include "runtime/platform.h"

namespace runtime::platform {
namespace {
CRITICAL_SECTION RegistryLock;
}  // namespace

void LockInit() { InitializeCriticalSection(&RegistryLock); }
void LockEnter() { EnterCriticalSection(&RegistryLock); }
void LockLeave() { LeaveCriticalSection(&RegistryLock); }

int32_t CompareText(const char* left, int32_t leftLength, const char* right, int32_t rightLength) {
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, 0, left, leftLength, right, rightLength);
}

void ExitProgram() { ExitProcess(0); }

}  // namespace runtime::platform
