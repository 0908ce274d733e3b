// The Shift-JIS (code page 932) bytes of a UTF-8 text, for checking the program's texts
// against their Japanese.
#pragma once

#include <string>

namespace kivom_test {
std::string ShiftJisFromUtf8(const char8_t* utf8);
}
