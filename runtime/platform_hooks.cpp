// The test hooks shared by every platform seam.
#include "runtime/platform.h"

namespace runtime::platform {

Hooks hooks;

bool CountHeapRequest() {
  if (hooks.heapRequestsBeforeFailure == 0) return true;
  --hooks.heapRequestsBeforeFailure;
  return false;
}

}  // namespace runtime::platform
