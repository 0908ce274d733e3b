// The string registry's record, kept by strings.cpp and read by the test seam.
#pragma once

#include <cstdint>

#include "runtime/strings.h"

namespace runtime {

struct StringRegistry {
  TrackedString* table;  // live strings, oldest first; exactly count slots after each allocation
  int32_t count;
};
extern StringRegistry Registry;

}  // namespace runtime
