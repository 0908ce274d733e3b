// The seam's message box for the native tools, which have no window to show one on.
#include <cstdio>

#include "runtime/platform.h"

namespace runtime::platform {

// There is no desktop to show a box on: the text goes to standard error and the box
// counts as answered with OK (1).
int32_t ShowMessageBox(void*, const char* text, const char* caption, uint32_t) {
  std::fprintf(stderr, "[%s] %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
  return 1;
}

}  // namespace runtime::platform
