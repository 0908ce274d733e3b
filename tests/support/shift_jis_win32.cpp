#include <windows.h>

#include <vector>

#include "tests/support/shift_jis.h"

namespace kivom_test {

std::string ShiftJisFromUtf8(const char8_t* utf8) {
  const char* text = reinterpret_cast<const char*>(utf8);
  std::vector<wchar_t> wide(
      static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0)));
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), static_cast<int>(wide.size()));
  std::vector<char> bytes(static_cast<size_t>(
      WideCharToMultiByte(932, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr)));
  WideCharToMultiByte(932, 0, wide.data(), -1, bytes.data(), static_cast<int>(bytes.size()),
                      nullptr, nullptr);
  return std::string(bytes.data());
}

}  // namespace kivom_test
