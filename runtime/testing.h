// What test programs see of the runtime beyond its own headers: the hooks of the test seam
// (observed_testing.cpp, which only test programs link) and readers of the string registry.
#pragma once

#include <cstdint>

#include "runtime/strings.h"

namespace runtime {

// The number of live strings, and slot i, oldest first (null outside 0 .. count - 1).
int32_t LiveStringCount();
TrackedString LiveString(int32_t i);

namespace platform {

// A test sets these; the test seam honours them, and without them behaves as the platform.
struct Hooks {
  int32_t heapRequestsBeforeFailure = -1;  // allocations and resizes that still succeed; -1: all
  void (*onHeapRelease)(void* block) = nullptr;
  void (*onDebugOutput)(const char* text) = nullptr;  // replaces the output
  int32_t (*onMessageBox)(void* owner, const char* text, const char* caption,
                          uint32_t style) = nullptr;  // replaces the box
};
extern Hooks hooks;

}  // namespace platform
}  // namespace runtime
