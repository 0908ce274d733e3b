#include "options.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

namespace serial_peer {
namespace {

constexpr int kMaxMilliseconds = 600'000;
constexpr long long kMaxLongReply = 1'000'000;
constexpr int kPatternLength = 26;
constexpr char kZeroReply[] = {'A', 'B', '\0', 'C', 'D'};
constexpr size_t kUsageColumns = 90;  // the synopsis wraps before this

bool ParseWhole(std::string_view text, long long min, long long max, long long& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= min && value <= max;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// --- The kinds of argument

std::string TakeText(const std::string& word, Value& value) {
  if (word.empty()) return "needs a non-empty text (use --silent for no reply)";
  value.bytes = word;
  return {};
}

std::string TakeHex(const std::string& word, Value& value) {
  if (std::string error = ParseHexBytes(word, value.bytes); !error.empty()) {
    return "needs hex bytes: " + error;
  }
  return {};
}

std::string TakeByteCount(const std::string& word, Value& value) {
  if (ParseWhole(word, 1, kMaxLongReply, value.number)) return {};
  return "needs a byte count from 1 to " + std::to_string(kMaxLongReply) + ", got '" + word + "'";
}

std::string TakeMilliseconds(const std::string& word, Value& value) {
  if (ParseWhole(word, 0, kMaxMilliseconds, value.number)) return {};
  return "needs milliseconds from 0 to " + std::to_string(kMaxMilliseconds) + ", got '" + word +
         "'";
}

std::string TakePath(const std::string& word, Value& value) {
  if (word.empty()) return "needs a non-empty path";
  value.bytes = word;
  return {};
}

constexpr Argument kText = {"TEXT", TakeText};
constexpr Argument kHex = {"HEX", TakeHex};
constexpr Argument kByteCount = {"N", TakeByteCount};
constexpr Argument kMilliseconds = {"MS", TakeMilliseconds};
constexpr Argument kFile = {"FILE", TakePath};

// --- What the options set

void SetReply(Options& options, ReplyKind kind, std::string bytes = {}) {
  options.behaviour.kind = kind;
  options.behaviour.bytes = std::move(bytes);
}

std::string Pattern(long long length) {
  std::string bytes;
  for (long long i = 0; i < length; ++i) bytes.push_back(PatternByte(i));
  return bytes;
}

std::string AllBytes() {
  std::string bytes;
  for (int b = 0x01; b <= 0xFF; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

constexpr Option kOptions[] = {
    {"--echo", nullptr, Group::kReply, "the request, CR included (default)",
     [](Value&, Options& o) { SetReply(o, ReplyKind::kEcho); }},
    {"--reply-text", &kText, Group::kReply, "the bytes of TEXT",
     [](Value& v, Options& o) { SetReply(o, ReplyKind::kFixed, std::move(v.bytes)); }},
    {"--reply-hex", &kHex, Group::kReply, "the given bytes, e.g. 41420d or \"41 42 0d\"",
     [](Value& v, Options& o) { SetReply(o, ReplyKind::kFixed, std::move(v.bytes)); }},
    {"--long", &kByteCount, Group::kReply, "N bytes of the pattern ABC...Z ABC...",
     [](Value& v, Options& o) { SetReply(o, ReplyKind::kFixed, Pattern(v.number)); }},
    {"--zero", nullptr, Group::kReply, "\"AB\", 0x00, \"CD\"",
     [](Value&, Options& o) {
       SetReply(o, ReplyKind::kFixed, std::string(kZeroReply, sizeof kZeroReply));
     }},
    {"--all-bytes", nullptr, Group::kReply, "every byte from 0x01 to 0xFF in order",
     [](Value&, Options& o) { SetReply(o, ReplyKind::kFixed, AllBytes()); }},
    {"--silent", nullptr, Group::kReply, "nothing",
     [](Value&, Options& o) { SetReply(o, ReplyKind::kSilent); }},
    {"--flood", nullptr, Group::kReply,
     "the pattern without pause until the other end closes (no --byte-gap)",
     [](Value&, Options& o) { SetReply(o, ReplyKind::kFlood); }},
    {"--vanish", nullptr, Group::kReply, "close the terminal and end at the first request",
     [](Value&, Options& o) { SetReply(o, ReplyKind::kVanish); }},
    {"--delay", &kMilliseconds, Group::kTiming, "wait before replying",
     [](Value& v, Options& o) { o.behaviour.delay_ms = static_cast<int>(v.number); }},
    {"--byte-gap", &kMilliseconds, Group::kTiming, "send the reply one byte at a time, MS apart",
     [](Value& v, Options& o) { o.behaviour.byte_gap_ms = static_cast<int>(v.number); }},
    {"--log", &kFile, Group::kStart, "append the log to FILE instead of standard error",
     [](Value& v, Options& o) { o.log_path = std::move(v.bytes); }},
    {"--control", &kFile, Group::kStart,
     "before each reply, take the reply and its timing from FILE's first line,\n"
     "written as on the command line, when FILE exists",
     [](Value& v, Options& o) { o.control_path = std::move(v.bytes); }},
    {"--used-line", nullptr, Group::kStart,
     "before each open, leave the line as another program might have:\n"
     "115200 baud, even parity, two stop bits, RTS/CTS and XON/XOFF",
     [](Value&, Options& o) { o.used_line = true; }},
    {"--keep-unread", nullptr, Group::kStart,
     "leave a reply the other end did not read where a device leaves it: in the line",
     [](Value&, Options& o) { o.keep_unread = true; }},
    {"--help", nullptr, Group::kStart, "show this text", [](Value&, Options& o) { o.help = true; }},
};

// The usage text's sections, one a group.
constexpr struct {
  Group group;
  std::string_view heading;
} kSections[] = {
    {Group::kReply, "Reply, one of:"},
    {Group::kTiming, "Timing of the reply:"},
    {Group::kStart, "Options:"},
};

const Option* FindOption(std::string_view name) {
  for (const Option& option : kOptions) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

// "--delay MS", as the usage text shows an option.
std::string Synopsis(const Option& option) {
  std::string text(option.name);
  if (option.argument != nullptr) text.append(" ").append(option.argument->name);
  return text;
}

// Parses `args` into `options`; a control line allows behaviour options only.
std::string ParseOptions(const std::vector<std::string>& args, bool control_line,
                         Options& options) {
  const Option* reply = nullptr;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    const Option* option = FindOption(name);
    if (option == nullptr) return "unknown option '" + name + "'";
    if (control_line && !InControlLine(*option)) return name + " cannot be used in a control line";
    if (option->group == Group::kReply) {
      if (reply != nullptr) {
        return "only one reply may be chosen, got " + std::string(reply->name) + " and " + name;
      }
      reply = option;
    }
    Value value;
    if (option->argument != nullptr) {
      if (i + 1 >= args.size()) return name + " needs a value";
      if (std::string error = option->argument->take(args[++i], value); !error.empty()) {
        return error.insert(0, name + " ");
      }
    }
    option->set(value, options);
  }
  if (options.behaviour.kind == ReplyKind::kFlood && options.behaviour.byte_gap_ms > 0) {
    return "--byte-gap cannot be combined with --flood";
  }
  return {};
}

}  // namespace

std::span<const Option> OptionTable() { return kOptions; }

bool InControlLine(const Option& option) { return option.group != Group::kStart; }

std::string Usage() {
  constexpr std::string_view kProgram = "usage: serial-peer ";
  std::string text(kProgram);
  text.append("[reply]");
  size_t line_length = text.size();
  for (const Option& option : kOptions) {
    if (option.group == Group::kReply) continue;
    const std::string word = Synopsis(option);
    if (line_length + word.size() + 3 >= kUsageColumns) {
      // The next line's words start under the first.
      line_length = kProgram.size() - 1;
      text.append("\n").append(line_length, ' ');
    }
    text.append(" [").append(word).append("]");
    line_length += word.size() + 3;
  }
  text.append(
      "\nThe far end of a serial link on a pseudo-terminal: prints the path of the terminal on\n"
      "the first line of standard output and answers each request (bytes up to and including\n"
      "a carriage return).\n");
  size_t column = 0;
  for (const Option& option : kOptions) column = std::max(column, Synopsis(option).size());
  const std::string help_indent(2 + column + 2, ' ');
  for (const auto& section : kSections) {
    text.append(section.heading).append("\n");
    for (const Option& option : kOptions) {
      if (option.group != section.group) continue;
      std::string line = "  ";
      line.append(Synopsis(option)).resize(help_indent.size(), ' ');
      for (char c : option.help) {
        line.push_back(c);
        if (c == '\n') line.append(help_indent);
      }
      text.append(line).append("\n");
    }
  }
  return text;
}

char PatternByte(long long i) { return static_cast<char>('A' + i % kPatternLength); }

std::string ParseCommandLine(const std::vector<std::string>& args, Options& options) {
  return ParseOptions(args, false, options);
}

std::string ParseControlLine(std::string_view line, Behaviour& behaviour) {
  std::vector<std::string> words;
  if (std::string error = SplitWords(line, words); !error.empty()) return error;
  Options options;
  if (std::string error = ParseOptions(words, true, options); !error.empty()) return error;
  behaviour = options.behaviour;
  return {};
}

std::string SplitWords(std::string_view line, std::vector<std::string>& words) {
  words.clear();
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote == '\'') {
      if (c == '\'') {
        quote = 0;
      } else {
        word.push_back(c);
      }
    } else if (c == '\\') {
      if (i + 1 >= line.size()) return "a backslash ends the line";
      word.push_back(line[++i]);
      in_word = true;
    } else if (quote == '"') {
      if (c == '"') {
        quote = 0;
      } else {
        word.push_back(c);
      }
    } else if (c == '\'' || c == '"') {
      quote = c;
      in_word = true;
    } else if (c == ' ' || c == '\t') {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word.push_back(c);
      in_word = true;
    }
  }
  if (quote != 0) return std::string("unmatched ") + quote;
  if (in_word) words.push_back(std::move(word));
  return {};
}

std::string ParseHexBytes(std::string_view text, std::string& bytes) {
  bytes.clear();
  int high = -1;  // first digit of a byte, -1 between bytes
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (high >= 0) return "a byte needs two hex digits";
      continue;
    }
    const int digit = HexDigit(c);
    if (digit < 0) return std::string("not a hex digit: ") + c;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) return "a byte needs two hex digits";
  if (bytes.empty()) return "no bytes given";
  return {};
}

std::string HexBytes(std::string_view bytes) {
  std::string text;
  for (unsigned char b : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02x", b);
    if (!text.empty()) text.push_back(' ');
    text += digits;
  }
  return text;
}

}  // namespace serial_peer
