// The runtime's platform seam on POSIX systems, in every native program: a mutex, string
// comparison as Japanese text, and process exit.
#include <iconv.h>
#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>

#include "runtime/platform.h"

namespace runtime::platform {
namespace {
std::mutex RegistryLock;
}  // namespace

void LockInit() {}  // a std::mutex is ready from its constant initialisation on
void LockEnter() { RegistryLock.lock(); }
void LockLeave() { RegistryLock.unlock(); }

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
