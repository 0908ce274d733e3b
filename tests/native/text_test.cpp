// The native build's text conversions against what kivom.exe gives under Wine 8 (code
// page 932): every expected value below was read from Wine, not derived from the code.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "app/text_linux.h"

namespace {

using kivom_text::ShiftJisCut;
using kivom_text::ShiftJisFromUtf8;
using kivom_text::Utf8FromShiftJis;

struct Shown {
  std::string_view bytes;
  std::string_view text;  // UTF-8
};

template <size_t N>
void ExpectShown(const Shown (&cases)[N]) {
  for (size_t i = 0; i < N; ++i) {
    EXPECT_EQ(Utf8FromShiftJis(cases[i].bytes), cases[i].text) << "case " << i;
  }
}

template <size_t N>
void ExpectSent(const Shown (&cases)[N]) {
  for (size_t i = 0; i < N; ++i) {
    EXPECT_EQ(ShiftJisFromUtf8(cases[i].text), cases[i].bytes) << "case " << i;
  }
}

TEST(ShownText, DefinedCharactersReadAsMicrosoftsTable) {
  const Shown cases[] = {
      {"AZ az 09 \\ ~ \t\r\n\x7f", "AZ az 09 \\ ~ \t\r\n\x7f"},  // 0x5C and 0x7E stay ASCII
      {"\x82\xa0\x83\x41", "あア"},                              // あア
      {"\x91\x97\x90M\x95\xb6\x8e\x9a", "送信文字"},             // 送信文字
      {"\x81\x60\x81\x5f\x81\x7c\x81\xca", "～＼－￢"},          // ～＼－￢
      {"\x87\x40\xfa\x40\xed\x40", "①ⅰ纊"},                      // ①ⅰ纊
      {"\xf0\x40\xf9\xfc", "\uE000\uE757"},                      // the user-defined rows
  };
  ExpectShown(cases);
}

TEST(ShownText, HalfWidthKatakanaAreSingleBytes) {
  const Shown cases[] = {
      {"\xa1\xb1\xdf", "｡ｱﾟ"},       // ｡ｱﾟ
      {"\xb6\xde\x82\xa0", "ｶﾞあ"},  // ｶﾞあ: a lead byte right after them still pairs
  };
  ExpectShown(cases);
}

TEST(ShownText, BytesStartingNoCharacterHaveWinesCharacters) {
  const Shown cases[] = {
      {"\x80", "\u0080"}, {"\xa0", "\uF8F0"}, {"\xfd", "\uF8F1"},
      {"\xfe", "\uF8F2"}, {"\xff", "\uF8F3"}, {"A\xa0\x42", "A\uF8F0B"},
  };
  ExpectShown(cases);
}

TEST(ShownText, UndefinedPairIsOneDotTakingItsTrailByte) {
  const Shown cases[] = {
      {"\x85\x40", "・"},       // row 0x85 is empty
      {"\xeb\x40", "・"},       // past the last kanji row
      {"\xfc\x4c", "・"},       // just past the last defined pair
      {"\x82\x41", "・"},       // an ASCII trail byte goes too
      {"\x81\x20", "・"},       // below the trail range, still taken
      {"\x81\xff\x41", "・A"},  // above it
      {"\x85\x81\x40", "・@"},  // a lead byte as trail is not read again as a lead
      {"\x81\x81\x40", "＝@"},  // ＝ (the same bytes, defined)
  };
  ExpectShown(cases);
}

TEST(ShownText, LeadByteEndingTheTextIsADot) {
  const Shown cases[] = {
      {"\x81", "・"},
      {"A\xfc", "A・"},
      {"\x82\xa0\x82", "あ・"},  // あ, then half of one
      {std::string_view("\x81\0B", 3),
       std::string_view("・\0B", 5)},  // a zero byte is never taken as trail
  };
  ExpectShown(cases);
}

TEST(SentText, DefinedCharacters) {
  const Shown cases[] = {
      {"Hello\\~", "Hello\\~"},
      {"\x82\xa0\xb1\x87\x40", "あｱ①"},                            // あｱ①
      {"\x81\x60\x81\x7c\x81\x5c", "～－―"},                       // ～－―
      {"\\\x81\xca\x81\x91", "¥¬¢"},                               // ¥ is the backslash byte
      {"\xf0\x40", "\uE000"},                                      // user-defined row
      {"\x80\xa0\xfd\xfe\xff", "\u0080\uF8F0\uF8F1\uF8F2\uF8F3"},  // back to their bytes
  };
  ExpectSent(cases);
}

TEST(SentText, JisFormsOfMicrosoftSymbolsAreQuestionMarks) {
  const Shown cases[] = {
      {"?", "〜"},  // wave dash, not ～
      {"?", "−"},   // minus sign, not －
      {"?", "—"},   // em dash, not ―
      {"?", "‖"},  {"?", "‾"},
  };
  ExpectSent(cases);
}

TEST(SentText, NearFormsForSomeCharactersWithoutShiftJis) {
  const Shown cases[] = {
      {"Cafe", "Café"},
      {"AOUaouy", "ÅØÜåøüÿ"},
      {"\x81\x7e\x81\x80", "×÷"},   // ×÷ have forms of their own
      {"\x81\xe1\x81\xe2", "«»"},   // ≪≫
      {"\x83\x94\x83\xca", "ゔµ"},  // ヴμ
      {"c R 2 -", "© ® ² \u00AD"},
  };
  ExpectSent(cases);
}

TEST(SentText, OtherCharactersAreQuestionMarks) {
  const Shown cases[] = {
      {"?", "€"},       {"?", "\u00A0"},  // no-break space
      {"?", "Ā"},       {"?", "丂"},      // a kanji outside code page 932
      {"?", "\uFFFD"},  {"??", "😀"},      // two UTF-16 units, each a '?'
      {"a??b", "a𠀋b"},
  };
  ExpectSent(cases);
}

TEST(SentText, ShownRepliesComeBackAsWinesBytes) {
  EXPECT_EQ(ShiftJisFromUtf8(Utf8FromShiftJis("\x81\x20")), "\x81\x45");  // ・
  EXPECT_EQ(ShiftJisFromUtf8(Utf8FromShiftJis("\x85\x40")), "\x81\x45");  // ・
  EXPECT_EQ(ShiftJisFromUtf8(Utf8FromShiftJis("\xf0\x40\xa0")), "\xf0\x40\xa0");
}

TEST(SentTextCut, KeepsNinetyNineBytesEvenHalfACharacter) {
  const std::string ascii(120, 'a');
  EXPECT_EQ(ShiftJisCut(ShiftJisFromUtf8(ascii), 100), 99u);
  EXPECT_EQ(ShiftJisCut(ShiftJisFromUtf8(std::string(99, 'a')), 100), 99u);
  EXPECT_EQ(ShiftJisCut(ShiftJisFromUtf8(std::string(98, 'a')), 100), 98u);

  std::string kana;  // 60 あ, 120 bytes: 49 of them and the lead byte of the 50th
  for (int i = 0; i < 60; ++i) kana += "あ";
  const std::string bytes = ShiftJisFromUtf8(kana);
  ASSERT_EQ(bytes.size(), 120u);
  const size_t kept = ShiftJisCut(bytes, 100);
  EXPECT_EQ(kept, 99u);
  EXPECT_EQ(bytes[kept - 1], '\x82');

  EXPECT_EQ(ShiftJisCut(ShiftJisFromUtf8(std::string(98, 'a') + "😀b"), 100), 99u);  // one '?'
  EXPECT_EQ(ShiftJisCut("\x82\xa0\x82\xa0", 4), 3u);  // あ and a lead byte
  EXPECT_EQ(ShiftJisCut("\x82\xa0", 1), 0u);
  EXPECT_EQ(ShiftJisCut("\x82\xa0", 0), 0u);
}

}  // namespace
