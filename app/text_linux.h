// The form's texts are Shift-JIS (code page 932) bytes; the toolkit's are UTF-8.
//
// The conversions reproduce what kivom.exe shows and sends under Wine, not a textbook
// Shift-JIS: bytes with no character show as the characters Wine gives them, and
// characters with no Shift-JIS form go out as Wine's replacements for them, so the same
// reply shows, and the same typed text sends, the same on both builds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kivom_text {

// The text the Windows build shows for these bytes (SetWindowTextA). The caller cuts the
// bytes at the first zero byte, as the Windows build's C string does.
std::string Utf8FromShiftJis(std::string_view bytes);

// The bytes the Windows build's GetWindowTextA gives for this text, before any cut.
std::string ShiftJisFromUtf8(std::string_view utf8);

// How many of these bytes GetWindowTextA keeps in a buffer of `limit` bytes, the
// terminator included. The cut counts bytes only, so it can keep the lead byte of a
// double-byte character without its trail byte.
size_t ShiftJisCut(std::string_view bytes, size_t limit);

}  // namespace kivom_text
