// Joining and comparing tracked strings. Lengths come from the length fields, never from
// a scan for a zero byte, so zero bytes inside a string are carried unchanged.
#include <cstring>

#include "runtime/platform.h"
#include "runtime/strings.h"

namespace runtime {

TrackedString ConcatStrings(TrackedString left, TrackedString right) {
  const int32_t a = StringLength(left);
  const int32_t b = StringLength(right);
  // The sum of two lengths may not fit a length; AllocString refuses a negative one.
  const int64_t total = int64_t{a} + int64_t{b};
  TrackedString joined = AllocString(total <= INT32_MAX ? static_cast<int32_t>(total) : -1);
  if (joined != nullptr) {
    std::memcpy(joined, left, static_cast<std::size_t>(a));
    std::memcpy(joined + a, right, static_cast<std::size_t>(b));
  }
  ReleaseString(left);
  ReleaseString(right);
  return joined;
}

namespace {
int32_t CompareByLength(TrackedString left, TrackedString right) {
  return platform::CompareText(left, StringLength(left), right, StringLength(right));
}
}  // namespace

int32_t CompareStrings(TrackedString left, TrackedString right) {
  const int32_t order = CompareByLength(left, right);
  ReleaseString(left);
  ReleaseString(right);
  return order;
}

int32_t CompareStringsKeepLeft(TrackedString left, TrackedString right) {
  const int32_t order = CompareByLength(left, right);
  ReleaseString(right);
  return order;
}

}  // namespace runtime
