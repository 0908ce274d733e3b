// The string registry and the runtime utilities, above the platform seam.
#include "runtime/strings.h"

#include <cstddef>
#include <cstring>

#include "runtime/platform.h"
#include "runtime/string_registry.h"

namespace runtime {
namespace {

// "未知の文字列が解放されようとしました。/return" (an unknown string was about to be released)
constexpr char kUnknownStringMessage[] =
    "\x96\xa2\x92m\x82\xcc\x95\xb6\x8e\x9a\x97\xf1\x82\xaa\x89\xf0\x95\xfa\x82\xb3\x82\xea\x82"
    "\xe6\x82\xa4\x82\xc6\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81"
    "B/return";

// "文字列の領域を確保できませんでした。/return" (no room could be had for a string)
constexpr char kNoRoomMessage[] =
    "\x95\xb6\x8e\x9a\x97\xf1\x82\xcc\x97\xcc\x88\xe6\x82\xf0\x8am\x95\xdb\x82\xc5\x82\xab\x82"
    "\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x81"
    "B/return";

constexpr std::size_t kLengthFieldSize = 4;  // the 32-bit length before the characters

char* BlockOf(TrackedString s) { return s - kLengthFieldSize; }

}  // namespace

StringRegistry Registry;

void RuntimeInit() {
  platform::LockInit();
  Registry.table = static_cast<TrackedString*>(platform::HeapAllocate(1));
  Registry.count = 0;
}

TrackedString AllocString(int32_t length) {
  // A block is length + 5 bytes; refuse lengths whose block size a 32-bit length cannot describe.
  constexpr int32_t kLongest = INT32_MAX - static_cast<int32_t>(kLengthFieldSize) - 1;
  char* block = nullptr;
  if (length >= 0 && length <= kLongest) {
    block = static_cast<char*>(
        platform::HeapAllocateZeroed(static_cast<std::size_t>(length) + kLengthFieldSize + 1));
  }
  if (block == nullptr) {
    platform::DebugOutput(kNoRoomMessage);
    return nullptr;
  }
  std::memcpy(block, &length, sizeof length);
  TrackedString s = block + kLengthFieldSize;

  platform::LockEnter();
  const std::size_t bytes = (static_cast<std::size_t>(Registry.count) + 1) * sizeof(TrackedString);
  // A table lost at start-up is taken afresh rather than resized from nothing.
  void* grown = Registry.table != nullptr ? platform::HeapResize(Registry.table, bytes)
                                          : platform::HeapAllocate(bytes);
  if (grown != nullptr) {
    if (grown != Registry.table) Registry.table = static_cast<TrackedString*>(grown);
    Registry.table[Registry.count] = s;
    Registry.count = Registry.count + 1;
  }
  platform::LockLeave();

  if (grown == nullptr) {
    // The old table is intact; the string was never recorded, so it cannot be handed out.
    platform::HeapRelease(block);
    platform::DebugOutput(kNoRoomMessage);
    return nullptr;
  }
  return s;
}

void ReleaseString(TrackedString s) {
  platform::LockEnter();
  // Live addresses are distinct, so searching from the newest finds the one slot a search
  // from the oldest would; strings are mostly released soon after they are made.
  for (int32_t i = Registry.count - 1; i >= 0; --i) {
    if (Registry.table[i] != s) continue;
    platform::HeapRelease(BlockOf(s));
    Registry.count = Registry.count - 1;
    for (int32_t j = i; j < Registry.count; ++j) Registry.table[j] = Registry.table[j + 1];
    platform::LockLeave();
    return;
  }
  platform::LockLeave();
  if (s != nullptr) platform::DebugOutput(kUnknownStringMessage);
}

TrackedString CharString(uint32_t code) {
  // The routine's own string variable starts as a new empty string and is replaced by the
  // one-character copy of " ", so only the returned string stays registered.
  static constexpr char kOneSpace[] = " ";
  TrackedString own = AllocString(0);
  TrackedString one = AllocString(static_cast<int32_t>(sizeof kOneSpace - 1));
  if (one != nullptr) {
    std::memcpy(one, kOneSpace, sizeof kOneSpace);
    one[0] = static_cast<char>(code & 0xFF);
  }
  ReleaseString(own);
  return one;
}

int32_t StringLength(TrackedString s) {
  int32_t length;
  std::memcpy(&length, BlockOf(s), sizeof length);
  return length;
}

uint32_t LowWord(uint32_t value) { return value & 0xFFFF; }

uint32_t HighWord(uint32_t value) { return value / 65536; }

void ShowMessage(void* owner, TrackedString text, TrackedString caption, uint32_t style,
                 int32_t* result) {
  const int32_t pressed = platform::ShowMessageBox(owner, text, caption, style);
  if (result != nullptr) *result = pressed;
  ReleaseString(caption);
  ReleaseString(text);
}

void EndProgram() { platform::ExitProgram(); }

}  // namespace runtime
