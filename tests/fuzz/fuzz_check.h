// Checks for the fuzz targets: a failed one prints what was being done and aborts, which
// libFuzzer records as a crash together with the input that caused it. They stay on in
// every build type.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Set by a target to print the arguments of the call under check; may be null.
inline void (*describe)() = nullptr;

[[noreturn]] inline void Fail(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  if (describe != nullptr) describe();
  std::abort();
}

}  // namespace fuzz

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fuzz::Fail(__FILE__, __LINE__, #condition))
