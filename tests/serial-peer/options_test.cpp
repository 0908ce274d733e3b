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
  for (const char* bad : {"--used-line", "--log f", "--control f", "--delay 600001", "--help",
                          "--zero --echo", "--reply-text", "--bogus"}) {
    EXPECT_NE(ParseControlLine(bad, behaviour), "") << bad;
    EXPECT_EQ(behaviour.delay_ms, 5) << bad;
  }
  // An empty line is the default behaviour.
  EXPECT_EQ(ParseControlLine("", behaviour), "");
  EXPECT_EQ(behaviour.kind, ReplyKind::kEcho);
  EXPECT_EQ(behaviour.delay_ms, 0);
}

TEST(SerialPeerOptions, ChecksArgumentsAndCombinations) {
  struct Case {
    std::vector<std::string> args;
    bool good;
  };
  const Case cases[] = {
      {{"--delay", "0", "--byte-gap", "600000"}, true},
      {{"--delay", "600001"}, false},
      {{"--delay"}, false},
      {{"--long", "1"}, true},
      {{"--long", "1000001"}, false},
      {{"--log", ""}, false},
      {{"--flood", "--byte-gap", "0"}, true},
      {{"--flood", "--byte-gap", "5"}, false},
      {{"--byte-gap", "5", "--flood"}, false},
      {{"--reply-text", "a", "--delay", "1", "--long", "2"}, false},
      {{"echo"}, false},
  };
  for (const Case& c : cases) {
    Options options;
    const std::string error = ParseCommandLine(c.args, options);
    EXPECT_EQ(error.empty(), c.good) << testing::PrintToString(c.args) << ": " << error;
  }
  Options options;
  ASSERT_EQ(ParseCommandLine({"--long", "28", "--log", "p", "--used-line"}, options), "");
  EXPECT_EQ(options.behaviour.bytes, "ABCDEFGHIJKLMNOPQRSTUVWXYZAB");
  EXPECT_EQ(options.log_path, "p");
  EXPECT_TRUE(options.used_line);
}

// A word each kind of argument takes.
std::string GoodWord(const Argument& argument) {
  if (argument.name == "HEX") return "41";
  if (argument.name == "N" || argument.name == "MS") return "3";
  return "x";
}

// Every option of the table: listed with its help, taken on the command line, and taken in a
// control line exactly when it is marked for one.
TEST(SerialPeerOptions, EveryOptionIsListedAndStandsWhereItsGroupAllows) {
  const std::string usage = Usage();
  for (const Option& option : OptionTable()) {
    std::string line = "\n  ";
    line.append(option.name);
    std::vector<std::string> args = {std::string(option.name)};
    if (option.argument != nullptr) {
      line.append(" ").append(option.argument->name);
      args.push_back(GoodWord(*option.argument));
    }
    line.append(" ");
    const size_t at = usage.find(line);
    ASSERT_NE(at, std::string::npos) << option.name << " is not in the usage text:\n" << usage;
    const std::string help(option.help.substr(0, option.help.find('\n')));
    EXPECT_EQ(usage.substr(usage.find_first_not_of(' ', at + line.size()), help.size()), help)
        << option.name;

    Options options;
    EXPECT_EQ(ParseCommandLine(args, options), "") << option.name;
    Behaviour behaviour;
    behaviour.delay_ms = 99;
    const std::string control_line = args.size() == 1 ? args[0] : args[0] + " " + args[1];
    const std::string error = ParseControlLine(control_line, behaviour);
    EXPECT_EQ(error.empty(), InControlLine(option)) << control_line << ": " << error;
    if (!error.empty()) {
      EXPECT_EQ(behaviour.delay_ms, 99) << control_line << " changed the behaviour";
    }
  }
}

}  // namespace
}  // namespace serial_peer
