#include "app/command_line_win32.h"

#include <windows.h>

#include "app/globals.h"
#include "serial/exchange_settings.h"

namespace {

constexpr int kPrefixLength = sizeof kPortNamePrefix - 1;
constexpr int kMostDigits = sizeof kLongestPortName - sizeof kPortNamePrefix;
constexpr int kDecimalBase = 10;

// The port the command line named, as shown and as opened.
char NamedPort[sizeof kLongestPortName];
char NamedPortPath[sizeof kDeviceNamespace - 1 + sizeof kLongestPortName];

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ASCII only: the command line's other bytes may be Shift-JIS, and none of them names a port.
char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool TakePortArgument(const char* arguments) {
  const char* first = arguments;
  while (IsBlank(*first)) ++first;
  const char* end = first + lstrlenA(first);
  while (end > first && IsBlank(end[-1])) --end;
  if (first == end) return true;

  const int length = static_cast<int>(end - first);
  const int digits = length - kPrefixLength;
  if (digits < 1 || digits > kMostDigits) return false;
  for (int i = 0; i < kPrefixLength; ++i) {
    if (AsciiUpper(first[i]) != kPortNamePrefix[i]) return false;
  }
  const char* number = first + kPrefixLength;
  if (number[0] == '0') return false;  // a leading zero names no port
  int value = 0;
  for (int i = 0; i < digits; ++i) {
    if (!IsDigit(number[i])) return false;
    value = value * kDecimalBase + (number[i] - '0');
  }
  if (value > kHighestPortNumber) return false;

  lstrcpyA(NamedPort, kPortNamePrefix);
  lstrcpynA(NamedPort + kPrefixLength, number, digits + 1);
  lstrcpyA(NamedPortPath, kDeviceNamespace);
  lstrcatA(NamedPortPath, NamedPort);
  PortName = NamedPort;
  PortPath = NamedPortPath;
  return true;
}
