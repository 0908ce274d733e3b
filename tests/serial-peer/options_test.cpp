#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace serial_peer {
namespace {

TEST(SerialPeerOptions, SplitsControlLinesLikeAShell) {
  struct Case {
    const char* line;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"", {}},
      {"  --zero\t --delay 5 ", {"--zero", "--delay", "5"}},
      {"--reply-text \"a b\"", {"--reply-text", "a b"}},
      {"--reply-text 'x\\y \"z\"'", {"--reply-text", "x\\y \"z\""}},
      {"--reply-text a\\ b\\\"", {"--reply-text", "a b\""}},
      {"--reply-text ''", {"--reply-text", ""}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words;
    EXPECT_EQ(SplitWords(c.line, words), "") << c.line;
    EXPECT_EQ(words, c.words) << c.line;
  }
  std::vector<std::string> words;
  EXPECT_NE(SplitWords("--reply-text \"open", words), "");
  EXPECT_NE(SplitWords("--reply-text 'open", words), "");
  EXPECT_NE(SplitWords("trailing\\", words), "");
}

TEST(SerialPeerOptions, ParsesHexBytes) {
  std::string bytes;
  EXPECT_EQ(ParseHexBytes("41420d", bytes), "");
  EXPECT_EQ(bytes, "AB\r");
  EXPECT_EQ(ParseHexBytes(" 41 42\t0D ", bytes), "");
  EXPECT_EQ(bytes, "AB\r");
  EXPECT_EQ(ParseHexBytes("00ff", bytes), "");
  EXPECT_EQ(bytes, std::string("\0\xff", 2));
  for (const char* bad : {"", "  ", "4", "41 4", "4 1", "4g", "0x41"}) {
    EXPECT_NE(ParseHexBytes(bad, bytes), "") << bad;
  }
}

TEST(SerialPeerOptions, ControlLineTakesBehaviourOnly) {
  Behaviour behaviour;
  EXPECT_EQ(ParseControlLine("--zero --delay 5 --byte-gap 7", behaviour), "");
  EXPECT_EQ(behaviour.kind, ReplyKind::kFixed);
  EXPECT_EQ(behaviour.bytes, std::string("AB\0CD", 5));
  EXPECT_EQ(behaviour.delay_ms, 5);
  EXPECT_EQ(behaviour.byte_gap_ms, 7);

  // A refused line leaves the behaviour as it was.
  for (const char* bad : {"--link /tmp/x", "--log f", "--control f", "--time-limit 1", "--help",
                          "--zero --echo", "--reply-text", "--bogus"}) {
    EXPECT_NE(ParseControlLine(bad, behaviour), "") << bad;
    EXPECT_EQ(behaviour.delay_ms, 5) << bad;
  }
  // An empty line is the default behaviour.
  EXPECT_EQ(ParseControlLine("", behaviour), "");
  EXPECT_EQ(behaviour.kind, ReplyKind::kEcho);
  EXPECT_EQ(behaviour.delay_ms, 0);
}

}  // namespace
}  // namespace serial_peer
