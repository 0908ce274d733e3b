// libFuzzer target: the tracked-string runtime driven by a sequence of operations read from the
// input, and checked after every step against a model of the registry.
//
// The model is the list of live strings, oldest first, each with its address and its bytes. The
// fuzzer behaves as the runtime's callers must: it hands a string to a routine that consumes its
// operands only when it owns the string and no longer needs it, and never the same string twice
// in one call. Everything else is fair game: releases of addresses the registry does not hold,
// zero bytes inside strings, refused lengths and heap failures.
//
// The registry lives for the whole process, so each input begins by releasing what the previous
// one left.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/testing.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/shift_jis.h"

namespace {

using runtime::TrackedString;
namespace platform = runtime::platform;

constexpr std::size_t kMostLive = 48;               // strings held at once (besides copies)
constexpr std::size_t kMostLiveBytes = 512 * 1024;  // characters held at once
constexpr std::size_t kMostSteps = 400;             // operations per input
constexpr std::size_t kMostRemembered = 32;         // released addresses kept for later releases
constexpr std::size_t kNotLive = static_cast<std::size_t>(-1);

// The input, front to back; past its end every read gives zero.
class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return position_ >= size_; }
  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t U32() { return uint32_t{U16()} | uint32_t{U16()} << 16; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

struct Live {
  TrackedString address;
  std::string bytes;
};

// What the registry should hold.
struct Model {
  std::vector<Live> live;               // oldest first
  std::vector<TrackedString> released;  // addresses released earlier (some may be live again)
  std::vector<void*> blocksSeen;        // blocks of strings live at some time during this step
  std::size_t bytes = 0;
};
Model model;

// What the platform saw during one step.
std::vector<std::string> debugLines;
std::vector<void*> freedBlocks;

// What one step should make the platform see.
struct Expected {
  std::size_t unknownReports = 0;  // the message for the release of an unknown string
  std::size_t fewestFailureReports = 0;
  std::size_t mostFailureReports = 0;
  std::vector<void*> frees;  // blocks of registered strings, in order
  bool otherFrees = false;   // blocks never registered may be freed as well (a failed allocation)
};

// FUZZ_STRINGS_TRACE set in the environment: each step is printed with what the platform saw.
bool trace = false;

// Failure injection for the next operation: the number of heap requests that still succeed.
int pendingFailure = -1;

const std::string& UnknownStringMessage() {
  static const std::string message =
      kivom_test::ShiftJisFromUtf8(u8"未知の文字列が解放されようとしました。/return");
  return message;
}

void* BlockOf(TrackedString s) { return s - 4; }

std::size_t IndexOf(TrackedString s) {
  for (std::size_t i = 0; i < model.live.size(); ++i) {
    if (model.live[i].address == s) return i;
  }
  return kNotLive;
}

std::string BytesOf(TrackedString s) {
  return std::string(s, static_cast<std::size_t>(runtime::StringLength(s)));
}

// A new string has joined the registry at its end.
void ModelAdd(TrackedString s, std::string bytes) {
  FUZZ_CHECK(IndexOf(s) == kNotLive);
  model.bytes += bytes.size();
  model.blocksSeen.push_back(BlockOf(s));
  model.live.push_back({s, std::move(bytes)});
}

// The model's side of ReleaseString(s): a live string is freed and leaves the registry; any
// other address but null is reported.
void ModelRelease(TrackedString s, Expected& expected) {
  const std::size_t i = IndexOf(s);
  if (i == kNotLive) {
    if (s != nullptr) ++expected.unknownReports;
    return;
  }
  expected.frees.push_back(BlockOf(s));
  model.bytes -= model.live[i].bytes.size();
  model.live.erase(model.live.begin() + static_cast<std::ptrdiff_t>(i));
  if (model.released.size() == kMostRemembered) model.released.erase(model.released.begin());
  model.released.push_back(s);
}

// Heap failure injection around one call that may allocate.
struct Injection {
  bool armed;
  int succeeding;  // heap requests that succeed before the first failure
};
Injection Arm() {
  const Injection injection{pendingFailure >= 0, pendingFailure};
  platform::hooks.heapRequestsBeforeFailure = pendingFailure;
  pendingFailure = -1;
  return injection;
}
void Disarm() { platform::hooks.heapRequestsBeforeFailure = -1; }

// A fresh string with the given bytes, made without failure injection: it must succeed.
TrackedString Copy(const std::string& bytes) {
  TrackedString s = runtime::AllocString(static_cast<int32_t>(bytes.size()));
  FUZZ_CHECK(s != nullptr);
  std::memcpy(s, bytes.data(), bytes.size());
  ModelAdd(s, bytes);
  return s;
}

// Two different live strings, as indices into the model; false when there are not two.
bool PickTwo(Input& in, std::size_t& first, std::size_t& second) {
  const std::size_t count = model.live.size();
  if (count < 2) return false;
  first = in.Byte() % count;
  second = in.Byte() % (count - 1);
  if (second >= first) ++second;
  return true;
}

int32_t ChooseLength(Input& in) {
  switch (in.Byte() % 8) {
    case 0:
      return 0;
    case 1:
    case 2:
    case 3:
      return in.Byte() % 17;
    case 4:
      return in.Byte();
    case 5:
      return in.U16() % 4097;
    case 6:
      return in.U16();
    default: {
      // Lengths the runtime refuses: negative, or a block too large for a 32-bit size.
      constexpr int32_t kRefused[] = {-1, -2, INT32_MIN, INT32_MAX, INT32_MAX - 4};
      return kRefused[in.Byte() % std::size(kRefused)];
    }
  }
}

void AllocateOne(Input& in, Expected& expected) {
  const int32_t length = ChooseLength(in);
  const bool refused = length < 0 || length > INT32_MAX - 5;
  if (!refused && (model.live.size() >= kMostLive ||
                   model.bytes + static_cast<std::size_t>(length) > kMostLiveBytes)) {
    return;
  }
  const Injection injection = Arm();
  TrackedString s = runtime::AllocString(length);
  Disarm();
  if (s == nullptr) {
    FUZZ_CHECK(refused || injection.armed);
    expected.fewestFailureReports = expected.mostFailureReports = 1;
    expected.otherFrees = true;
    return;
  }
  FUZZ_CHECK(!refused);
  FUZZ_CHECK(!(injection.armed && injection.succeeding == 0));
  ModelAdd(s, std::string(static_cast<std::size_t>(length), '\0'));
}

void MakeCharString(Input& in, Expected& expected) {
  const uint32_t code = in.U32();
  if (model.live.size() >= kMostLive) return;
  const Injection injection = Arm();
  TrackedString s = runtime::CharString(code);
  Disarm();
  expected.otherFrees = true;  // its own empty string, and the blocks of failed allocations
  if (s == nullptr) {
    FUZZ_CHECK(injection.armed);
    // Either of its two allocations may be the one that fails, or both.
    expected.fewestFailureReports = 1;
    expected.mostFailureReports = 2;
    return;
  }
  FUZZ_CHECK(!(injection.armed && injection.succeeding == 0));
  ModelAdd(s, std::string(1, static_cast<char>(code & 0xFF)));
}

void ReleaseLive(Input& in, Expected& expected) {
  if (model.live.empty()) return;
  TrackedString s = model.live[in.Byte() % model.live.size()].address;
  runtime::ReleaseString(s);
  ModelRelease(s, expected);
}

// An address released earlier; it may have come back as a new string since.
void ReleaseAgain(Input& in, Expected& expected) {
  if (model.released.empty()) return;
  TrackedString s = model.released[in.Byte() % model.released.size()];
  runtime::ReleaseString(s);
  ModelRelease(s, expected);
}

// Addresses that are not strings the registry holds.
void ReleaseStranger(Input& in, Expected& expected) {
  static char literal[] = "literal";
  TrackedString s = nullptr;
  const uint8_t kind = in.Byte() % 4;
  if (kind == 1) {
    s = literal;
  } else if (kind >= 2 && !model.live.empty()) {
    const Live& live = model.live[in.Byte() % model.live.size()];
    // Inside the string (at most its terminating zero), or the start of its block.
    s = kind == 2 ? live.address + 1 + in.U16() % (live.bytes.size() + 1)
                  : static_cast<TrackedString>(BlockOf(live.address));
  }
  runtime::ReleaseString(s);
  ModelRelease(s, expected);
}

void Concatenate(Input& in, Expected& expected) {
  std::size_t i = 0, j = 0;
  if (!PickTwo(in, i, j)) return;
  TrackedString left = model.live[i].address;
  TrackedString right = model.live[j].address;
  std::string joined = model.live[i].bytes + model.live[j].bytes;
  const Injection injection = Arm();
  TrackedString s = runtime::ConcatStrings(left, right);
  Disarm();
  if (s == nullptr) {
    FUZZ_CHECK(injection.armed);
    expected.fewestFailureReports = expected.mostFailureReports = 1;
    expected.otherFrees = true;
  } else {
    FUZZ_CHECK(!(injection.armed && injection.succeeding == 0));
    ModelAdd(s, std::move(joined));  // joins the registry before the operands leave it
  }
  ModelRelease(left, expected);
  ModelRelease(right, expected);
}

// Compares two live strings, then copies of them the other way round: the two orders must
// mirror each other, and byte-equal strings must compare equal.
void CompareTwo(Input& in, Expected& expected, bool keepLeft) {
  std::size_t i = 0, j = 0;
  if (!PickTwo(in, i, j)) return;
  TrackedString left = model.live[i].address;
  TrackedString right = model.live[j].address;
  const bool sameBytes = model.live[i].bytes == model.live[j].bytes;
  // The operators return the platform's comparison of the whole strings, zero bytes included.
  const int32_t platformOrder = platform::CompareText(
      model.live[i].bytes.data(), static_cast<int32_t>(model.live[i].bytes.size()),
      model.live[j].bytes.data(), static_cast<int32_t>(model.live[j].bytes.size()));
  TrackedString leftCopy = Copy(model.live[i].bytes);
  TrackedString rightCopy = Copy(model.live[j].bytes);

  int32_t order = 0;
  if (keepLeft) {
    order = runtime::CompareStringsKeepLeft(left, right);
  } else {
    order = runtime::CompareStrings(left, right);
    ModelRelease(left, expected);
  }
  ModelRelease(right, expected);
  int32_t mirrored = 0;
  if (keepLeft) {
    mirrored = runtime::CompareStringsKeepLeft(rightCopy, leftCopy);
    ModelRelease(leftCopy, expected);
    runtime::ReleaseString(rightCopy);
    ModelRelease(rightCopy, expected);
  } else {
    mirrored = runtime::CompareStrings(rightCopy, leftCopy);
    ModelRelease(rightCopy, expected);
    ModelRelease(leftCopy, expected);
  }
  FUZZ_CHECK(order >= 1 && order <= 3);
  FUZZ_CHECK(order == platformOrder);
  FUZZ_CHECK(mirrored == 4 - order);
  if (sameBytes) FUZZ_CHECK(order == 2);
}

// A live string against a copy of itself, in either place.
void CompareWithCopy(Input& in, Expected& expected) {
  if (model.live.empty()) return;
  const uint8_t how = in.Byte();
  TrackedString s = model.live[in.Byte() % model.live.size()].address;
  TrackedString copy = Copy(BytesOf(s));
  int32_t order = 0;
  switch (how % 3) {
    case 0:
      order = runtime::CompareStrings(s, copy);
      ModelRelease(s, expected);
      ModelRelease(copy, expected);
      break;
    case 1:
      order = runtime::CompareStringsKeepLeft(s, copy);
      ModelRelease(copy, expected);
      break;
    default:
      order = runtime::CompareStringsKeepLeft(copy, s);
      ModelRelease(s, expected);
      runtime::ReleaseString(copy);
      ModelRelease(copy, expected);
      break;
  }
  FUZZ_CHECK(order == 2);
}

// Bytes from the input into a live string, within its length.
void Write(Input& in) {
  if (model.live.empty()) return;
  Live& live = model.live[in.Byte() % model.live.size()];
  const std::size_t length = live.bytes.size();
  const std::size_t offset = in.U16() % (length + 1);
  const std::size_t count = in.Byte() % (length - offset + 1);
  for (std::size_t k = 0; k < count; ++k) {
    const char c = static_cast<char>(in.Byte());
    live.address[offset + k] = c;
    live.bytes[offset + k] = c;
  }
}

// The platform saw what the step should have made it see.
void CheckStep(const Expected& expected) {
  const std::size_t unknown = static_cast<std::size_t>(
      std::count(debugLines.begin(), debugLines.end(), UnknownStringMessage()));
  FUZZ_CHECK(unknown == expected.unknownReports);
  const std::size_t failures = debugLines.size() - unknown;
  FUZZ_CHECK(failures >= expected.fewestFailureReports);
  FUZZ_CHECK(failures <= expected.mostFailureReports);
  for (const std::string& line : debugLines) FUZZ_CHECK(!line.empty());

  std::vector<void*> registered;
  for (void* block : freedBlocks) {
    const bool seen = std::find(model.blocksSeen.begin(), model.blocksSeen.end(), block) !=
                      model.blocksSeen.end();
    if (seen) registered.push_back(block);
  }
  FUZZ_CHECK(registered == expected.frees);
  if (!expected.otherFrees) FUZZ_CHECK(freedBlocks.size() == registered.size());
}

// The registry holds the model's strings, in its order, with its lengths and bytes.
void CheckRegistry() {
  const int32_t count = runtime::LiveStringCount();
  FUZZ_CHECK(count == static_cast<int32_t>(model.live.size()));
  for (int32_t i = 0; i < count; ++i) {
    const Live& live = model.live[static_cast<std::size_t>(i)];
    TrackedString s = runtime::LiveString(i);
    FUZZ_CHECK(s == live.address);
    FUZZ_CHECK(runtime::StringLength(s) == static_cast<int32_t>(live.bytes.size()));
    FUZZ_CHECK(std::memcmp(s, live.bytes.data(), live.bytes.size()) == 0);
    FUZZ_CHECK(s[live.bytes.size()] == '\0');
  }
  FUZZ_CHECK(runtime::LiveString(count) == nullptr);
  FUZZ_CHECK(runtime::LiveString(-1) == nullptr);
}

void Step(Input& in) {
  debugLines.clear();
  freedBlocks.clear();
  model.blocksSeen.clear();
  for (const Live& live : model.live) model.blocksSeen.push_back(BlockOf(live.address));

  Expected expected;
  const uint8_t op = in.Byte() % 12;
  switch (op) {
    case 0:
    case 1:
      AllocateOne(in, expected);
      break;
    case 2:
      MakeCharString(in, expected);
      break;
    case 3:
      ReleaseLive(in, expected);
      break;
    case 4:
      if (in.Byte() % 2 == 0) {
        ReleaseAgain(in, expected);
      } else {
        ReleaseStranger(in, expected);
      }
      break;
    case 5:
      Concatenate(in, expected);
      break;
    case 6:
      CompareTwo(in, expected, false);
      break;
    case 7:
      CompareTwo(in, expected, true);
      break;
    case 8:
      CompareWithCopy(in, expected);
      break;
    case 9:
    case 10:
      Write(in);
      break;
    default:
      pendingFailure = in.Byte() % 5;
      break;
  }
  if (op != 11) pendingFailure = -1;  // an injection is for the very next operation only
  if (trace) {
    std::fprintf(stderr, "op %2u: %zu live, %zu reports, %zu frees\n", op, model.live.size(),
                 debugLines.size(), freedBlocks.size());
  }
  CheckStep(expected);
  CheckRegistry();
}

void StartInput() {
  pendingFailure = -1;
  Disarm();
  while (runtime::LiveStringCount() > 0) runtime::ReleaseString(runtime::LiveString(0));
  model = {};
  debugLines.clear();
  freedBlocks.clear();
  CheckRegistry();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  runtime::RuntimeInit();
  trace = std::getenv("FUZZ_STRINGS_TRACE") != nullptr;
  platform::hooks.onDebugOutput = [](const char* text) { debugLines.emplace_back(text); };
  platform::hooks.onHeapRelease = [](void* block) { freedBlocks.push_back(block); };
  fuzz::describe = [] {
    std::fprintf(stderr, "  the model holds %zu strings, %zu bytes\n", model.live.size(),
                 model.bytes);
  };
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  StartInput();
  Input in(data, size);
  for (std::size_t step = 0; step < kMostSteps && !in.Empty(); ++step) Step(in);
  return 0;
}
