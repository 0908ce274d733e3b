#include "app/text_linux.h"

#include <iconv.h>

#include <algorithm>
#include <iterator>

namespace kivom_text {

namespace {

// Wine shows a lead byte that starts no character as ・ (U+30FB), taking the byte after
// it along unless that byte ends the text.
constexpr char32_t kNoCharacter = U'\u30FB';

bool Opened(iconv_t converter) { return converter != reinterpret_cast<iconv_t>(-1); }

bool IsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Every byte that starts no double-byte character shows as one character: ASCII, the
// half-width katakana, and for the five bytes that mean nothing in Shift-JIS (glibc
// rejects them) the characters Wine gives them, which GetWindowTextA turns back into
// the same bytes.
char32_t SingleByteCharacter(unsigned char byte) {
  if (byte < 0x80) return byte;
  if (byte >= 0xA1 && byte <= 0xDF) return U'\uFF61' + (byte - 0xA1);  // ｡ to ﾟ
  switch (byte) {
    case 0x80:
      return U'\u0080';
    case 0xA0:
      return U'\uF8F0';
    case 0xFD:
      return U'\uF8F1';
    case 0xFE:
      return U'\uF8F2';
    default:  // 0xFF
      return U'\uF8F3';
  }
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The character starting at `at`, and in *length its length in bytes: 0 when the bytes
// there are not UTF-8 (overlong forms and surrogates included).
char32_t NextCharacter(std::string_view text, size_t at, size_t* length) {
  *length = 0;
  const auto first = static_cast<unsigned char>(text[at]);
  size_t size = 0;
  char32_t c = 0;
  char32_t smallest = 0;
  if (first < 0x80) {
    *length = 1;
    return first;
  } else if ((first & 0xE0) == 0xC0) {
    size = 2, c = first & 0x1F, smallest = 0x80;
  } else if ((first & 0xF0) == 0xE0) {
    size = 3, c = first & 0x0F, smallest = 0x800;
  } else if ((first & 0xF8) == 0xF0) {
    size = 4, c = first & 0x07, smallest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < size) return 0;
  for (size_t k = 1; k < size; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) return 0;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *length = size;
  return c;
}

// Appends the conversion of one whole character; false, with nothing appended, when it
// has none (or when glibc has no CP932 converter).
bool ConvertCharacter(iconv_t converter, std::string_view character, std::string& out) {
  if (!Opened(converter)) return false;
  char converted[8];
  char* source = const_cast<char*>(character.data());  // iconv does not write its input
  size_t sourceLeft = character.size();
  char* target = converted;
  size_t targetLeft = sizeof converted;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &source, &sourceLeft, &target, &targetLeft) == static_cast<size_t>(-1) ||
      sourceLeft != 0) {
    return false;
  }
  out.append(converted, sizeof converted - targetLeft);
  return true;
}

// glibc's CP932 also converts five characters of the JIS standard, to the bytes that
// Microsoft's table (glibc's and Wine's reading of the bytes) gives to a look-alike:
// — as ―, ‖ as ∥, ‾ as ~, − as －, 〜 as ～. Wine has no form for them and sends '?'.
// 〜 is the one Linux input methods commonly type.
constexpr char32_t kQuestionMarkOnWine[] = {
    U'\u2014',  // — em dash
    U'\u2016',  // ‖ double vertical line
    U'\u203E',  // ‾ overline
    U'\u2212',  // − minus sign
    U'\u301C',  // 〜 wave dash
};

bool IsQuestionMarkOnWine(char32_t c) {
  return std::find(std::begin(kQuestionMarkOnWine), std::end(kQuestionMarkOnWine), c) !=
         std::end(kQuestionMarkOnWine);
}

// Characters with no code page 932 form that Wine sends as a near one rather than '?'.
struct NearForm {
  char32_t character;
  const char* bytes;
};
constexpr NearForm kNearForms[] = {
    // The characters Wine shows for the single bytes without one go back to those bytes.
    {U'\u0080', "\x80"},     {U'\uF8F0', "\xa0"}, {U'\uF8F1', "\xfd"},
    {U'\uF8F2', "\xfe"},     {U'\uF8F3', "\xff"}, {U'\u00A1', "!"},  // ¡
    {U'\u00A6', "|"},                                                // ¦
    {U'\u00A9', "c"},                                                // ©
    {U'\u00AA', "a"},                                                // ª
    {U'\u00AB', "\x81\xe1"},                                         // « as ≪
    {U'\u00AD', "-"},                                                // soft hyphen
    {U'\u00AE', "R"},                                                // ®
    {U'\u00AF', "\x81\x50"},                                         // ¯ as ￣
    {U'\u00B2', "2"},                                                // ²
    {U'\u00B3', "3"},                                                // ³
    {U'\u00B5', "\x83\xca"},                                         // µ as μ
    {U'\u00B7', "\x81\x45"},                                         // · as ・
    {U'\u00B8', "\x81\x43"},                                         // ¸ as ，
    {U'\u00B9', "1"},                                                // ¹
    {U'\u00BA', "o"},                                                // º
    {U'\u00BB', "\x81\xe2"},                                         // » as ≫
    {U'\u3094', "\x83\x94"},                                         // ゔ as ヴ
};
// U+00C0 to U+00FF lose their accents. × and ÷ (the two '*') have Shift-JIS forms.
constexpr char kLatinLetters[] = "AAAAAAACEEEEIIIIDNOOOOO*OUUUUYTsaaaaaaaceeeeiiiidnooooo*ouuuuyty";

// Appends the near form of a character without a Shift-JIS one; false when it has none.
bool AppendNearForm(char32_t c, std::string& out) {
  if (c >= 0xC0 && c <= 0xFF) {
    out += kLatinLetters[c - 0xC0];
    return true;
  }
  for (const NearForm& form : kNearForms) {
    if (form.character == c) {
      out += form.bytes;
      return true;
    }
  }
  return false;
}

}  // namespace

std::string Utf8FromShiftJis(std::string_view bytes) {
  iconv_t converter = iconv_open("UTF-8", "CP932");
  std::string text;
  size_t at = 0;
  while (at < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (!IsLeadByte(byte)) {
      AppendUtf8(text, SingleByteCharacter(byte));
      at += 1;
    } else if (at + 1 == bytes.size() || bytes[at + 1] == '\0') {
      AppendUtf8(text, kNoCharacter);
      at += 1;
    } else {
      if (!ConvertCharacter(converter, bytes.substr(at, 2), text)) {
        AppendUtf8(text, kNoCharacter);
      }
      at += 2;
    }
  }
  if (Opened(converter)) iconv_close(converter);
  return text;
}

std::string ShiftJisFromUtf8(std::string_view utf8) {
  iconv_t converter = iconv_open("CP932", "UTF-8");
  std::string bytes;
  size_t at = 0;
  while (at < utf8.size()) {
    size_t length = 0;
    const char32_t c = NextCharacter(utf8, at, &length);
    if (length == 0) {  // not UTF-8, which the toolkit never gives: one '?' a byte
      bytes += '?';
      at += 1;
      continue;
    }
    const std::string_view character = utf8.substr(at, length);
    at += length;
    if (c < 0x80) {
      bytes += static_cast<char>(c);
    } else if (c > 0xFFFF) {
      bytes += "??";  // Windows holds it as two UTF-16 units, and each becomes '?'
    } else if (IsQuestionMarkOnWine(c) ||
               (!ConvertCharacter(converter, character, bytes) && !AppendNearForm(c, bytes))) {
      bytes += '?';
    }
  }
  if (Opened(converter)) iconv_close(converter);
  return bytes;
}

size_t ShiftJisCut(std::string_view bytes, size_t limit) {
  if (limit == 0) return 0;
  return std::min(bytes.size(), limit - 1);
}

}  // namespace kivom_text
