// The runtime's platform seam on POSIX systems, for the native build and its tests:
// the C heap, a lock, standard error as the debug output, and process exit.
#include <iconv.h>
#include <locale.h>
#include <malloc.h>
#include <sched.h>

#include <atomic>
#include <cwchar>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/platform.h"

namespace runtime::platform {
namespace {
// The registry is held for a few dozen instructions at a time, so its lock spins, yielding
// the processor while another thread holds it; taking it free costs one atomic exchange
// and leaving it one store.
std::atomic<bool> RegistryLocked{false};

// The last block HeapResize was given or handed out and the room malloc gave it: the registry
// table, which is resized on every allocation and mostly has the room already. Atomic only
// because HeapRelease may run outside the registry's lock; every access is a plain load or
// store on the processors we build for.
std::atomic<void*> ResizedBlock{nullptr};
std::size_t ResizedRoom = 0;
}  // namespace

void* HeapAllocateZeroed(std::size_t bytes) {
  if (HeapRequestFails()) return nullptr;
  void* block = std::malloc(bytes);
  if (block == nullptr) return nullptr;
  // The zeroing's target is hidden from the compiler, so that it does not fold malloc and the
  // zeroing back into calloc: glibc's calloc bypasses its per-thread cache of small blocks.
  unsigned char* bytesAt = static_cast<unsigned char*>(block);
  asm volatile("" : "+r"(bytesAt));
  // Most strings are short: two overlapping stores of 4 or 8 zero bytes instead of a call.
  constexpr uint64_t kZero8 = 0;
  constexpr uint32_t kZero4 = 0;
  if (bytes >= 8 && bytes <= 16) {
    std::memcpy(bytesAt, &kZero8, 8);
    std::memcpy(bytesAt + bytes - 8, &kZero8, 8);
  } else if (bytes >= 4 && bytes < 8) {
    std::memcpy(bytesAt, &kZero4, 4);
    std::memcpy(bytesAt + bytes - 4, &kZero4, 4);
  } else {
    std::memset(bytesAt, 0, bytes);
  }
  return block;
}

void* HeapAllocate(std::size_t bytes) {
  if (HeapRequestFails()) return nullptr;
  return std::malloc(bytes);
}

namespace {

// HeapResize's full road: counted by the test hooks, asking malloc for the room of a block it
// has not seen, and moving the block when the room runs out.
[[gnu::noinline]] void* ResizeCounted(void* block, std::size_t bytes) {
  if (HeapRequestFails()) return nullptr;
  if (block != ResizedBlock.load(std::memory_order_relaxed)) {
    ResizedRoom = malloc_usable_size(block);
    ResizedBlock.store(block, std::memory_order_relaxed);
  }
  if (ResizedRoom >= bytes) return block;
  void* resized = std::realloc(block, bytes);
  if (resized != nullptr) {  // on failure the old block and its room stay as they were
    ResizedRoom = malloc_usable_size(resized);
    ResizedBlock.store(resized, std::memory_order_relaxed);
  }
  return resized;
}

// HeapRelease with a hook to tell, or of the block whose room HeapResize keeps: a freed table's
// address may come back as a smaller block.
[[gnu::noinline]] void ReleaseWatched(void* block) {
  if (hooks.onHeapRelease != nullptr) hooks.onHeapRelease(block);
  if (block == ResizedBlock.load(std::memory_order_relaxed)) {
    ResizedBlock.store(nullptr, std::memory_order_relaxed);
  }
  std::free(block);
}

}  // namespace

// The registry table changes by one slot at a time; while the block already has the room, it
// stays where it is, as realloc would leave it, without realloc's cost. The common case stays
// a few instructions without a frame of its own; the rest goes the full road.
void* HeapResize(void* block, std::size_t bytes) {
  if (hooks.heapRequestsBeforeFailure < 0 &&
      block == ResizedBlock.load(std::memory_order_relaxed) && bytes <= ResizedRoom) {
    return block;
  }
  return ResizeCounted(block, bytes);
}

void HeapRelease(void* block) {
  if (hooks.onHeapRelease != nullptr || block == ResizedBlock.load(std::memory_order_relaxed)) {
    ReleaseWatched(block);
    return;
  }
  std::free(block);
}

void LockInit() { RegistryLocked.store(false, std::memory_order_release); }

void LockEnter() {
  while (RegistryLocked.exchange(true, std::memory_order_acquire)) {
    while (RegistryLocked.load(std::memory_order_relaxed)) sched_yield();
  }
}

void LockLeave() { RegistryLocked.store(false, std::memory_order_release); }

void DebugOutput(const char* text) {
  if (hooks.onDebugOutput != nullptr) {
    hooks.onDebugOutput(text);
    return;
  }
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
}

// There is no desktop to show a box on: the text goes to standard error and the box
// counts as answered with OK (1).
int32_t ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t style) {
  if (hooks.onMessageBox != nullptr) return hooks.onMessageBox(owner, text, caption, style);
  std::fprintf(stderr, "[%s] %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
  return 1;
}

namespace {

// The system's text is Shift-JIS (code page 932); it is collated as Japanese text.
constexpr char kSystemCodePage[] = "CP932";
constexpr const char* kCollationLocales[] = {"ja_JP.UTF-8", "C.UTF-8"};

locale_t CollationLocale() {
  static const locale_t locale = [] {
    for (const char* name : kCollationLocales) {
      if (locale_t l = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, name, nullptr)) return l;
    }
    return locale_t{};
  }();
  return locale;
}

// Decodes `length` Shift-JIS bytes into wide characters. A byte that starts no valid
// character becomes U+FFFD and decoding goes on, as the Windows conversion does with
// its default character. False when no converter can be had.
bool DecodeSystemText(const char* bytes, int32_t length, std::wstring& out) {
  iconv_t cd = iconv_open("WCHAR_T", kSystemCodePage);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.assign(static_cast<std::size_t>(length) + 1, L'\0');
  char* in = const_cast<char*>(bytes);
  std::size_t inLeft = static_cast<std::size_t>(length);
  char* dest = reinterpret_cast<char*>(out.data());
  std::size_t destLeft = out.size() * sizeof(wchar_t);
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &dest, &destLeft) != static_cast<std::size_t>(-1)) break;
    // An invalid or cut-off sequence: skip one byte and stand U+FFFD in its place.
    const wchar_t replacement = L'\uFFFD';
    std::memcpy(dest, &replacement, sizeof replacement);
    dest += sizeof replacement;
    destLeft -= sizeof replacement;
    ++in;
    --inLeft;
  }
  iconv_close(cd);
  out.resize(out.size() - destLeft / sizeof(wchar_t));
  return true;
}

}  // namespace

// Collates the decoded texts with wcscoll_l. A zero character ends a C wide string, so
// the texts are compared piece by piece between zero characters; of two texts equal as
// far as the shorter goes, the shorter sorts first.
int32_t CompareText(const char* left, int32_t leftLength, const char* right, int32_t rightLength) {
  const locale_t locale = CollationLocale();
  std::wstring a, b;
  if (locale == locale_t{} || !DecodeSystemText(left, leftLength, a) ||
      !DecodeSystemText(right, rightLength, b)) {
    return 0;
  }
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const int order = wcscoll_l(a.c_str() + i, b.c_str() + j, locale);
    if (order != 0) return order < 0 ? 1 : 3;
    i += std::wcslen(a.c_str() + i) + 1;
    j += std::wcslen(b.c_str() + j) + 1;
  }
  if (i >= a.size() && j >= b.size()) return 2;
  return i >= a.size() ? 1 : 3;
}

void ExitProgram() { std::exit(0); }

}  // namespace runtime::platform
