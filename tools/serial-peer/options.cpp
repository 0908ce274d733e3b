#include "options.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

namespace serial_peer {
namespace {

constexpr int kMaxMilliseconds = 600'000;
constexpr long long kMaxLongReply = 1'000'000;
constexpr double kMaxTimeLimitSeconds = 86'400;
constexpr int kPatternLength = 26;
constexpr char kZeroReply[] = {'A', 'B', '\0', 'C', 'D'};

bool ParseWhole(std::string_view text, long long min, long long max, long long& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= min && value <= max;
}

bool ParseSeconds(std::string_view text, double& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value > 0 && value <= kMaxTimeLimitSeconds;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBehaviourOption(std::string_view name) {
  return name == "--echo" || name == "--reply-text" || name == "--reply-hex" || name == "--long" ||
         name == "--zero" || name == "--silent" || name == "--delay" || name == "--byte-gap" ||
         name == "--flood" || name == "--all-bytes" || name == "--vanish";
}

bool TakesValue(std::string_view name) {
  return name == "--reply-text" || name == "--reply-hex" || name == "--long" || name == "--delay" ||
         name == "--byte-gap" || name == "--link" || name == "--log" || name == "--control" ||
         name == "--time-limit";
}

// Sets the reply of `behaviour`, refusing a second reply option.
std::string SetReply(std::string_view name, ReplyKind kind, std::string bytes,
                     std::string& reply_option, Behaviour& behaviour) {
  if (!reply_option.empty()) {
    return "only one reply may be chosen, got " + reply_option + " and " + std::string(name);
  }
  reply_option = name;
  behaviour.kind = kind;
  behaviour.bytes = std::move(bytes);
  return {};
}

// Parses a behaviour option with its value, if it takes one.
std::string ParseBehaviourOption(std::string_view name, const std::string& value,
                                 std::string& reply_option, Behaviour& behaviour) {
  long long number = 0;
  if (name == "--echo") return SetReply(name, ReplyKind::kEcho, {}, reply_option, behaviour);
  if (name == "--silent") return SetReply(name, ReplyKind::kSilent, {}, reply_option, behaviour);
  if (name == "--flood") return SetReply(name, ReplyKind::kFlood, {}, reply_option, behaviour);
  if (name == "--vanish") return SetReply(name, ReplyKind::kVanish, {}, reply_option, behaviour);
  if (name == "--zero") {
    return SetReply(name, ReplyKind::kFixed, std::string(kZeroReply, sizeof kZeroReply),
                    reply_option, behaviour);
  }
  if (name == "--all-bytes") {
    std::string bytes;
    for (int b = 0x01; b <= 0xFF; ++b) bytes.push_back(static_cast<char>(b));
    return SetReply(name, ReplyKind::kFixed, std::move(bytes), reply_option, behaviour);
  }
  if (name == "--reply-text") {
    if (value.empty()) return "--reply-text needs a non-empty text (use --silent for no reply)";
    return SetReply(name, ReplyKind::kFixed, value, reply_option, behaviour);
  }
  if (name == "--reply-hex") {
    std::string bytes;
    if (std::string error = ParseHexBytes(value, bytes); !error.empty()) {
      return "--reply-hex: " + error;
    }
    return SetReply(name, ReplyKind::kFixed, std::move(bytes), reply_option, behaviour);
  }
  if (name == "--long") {
    if (!ParseWhole(value, 1, kMaxLongReply, number)) {
      return "--long needs a byte count from 1 to " + std::to_string(kMaxLongReply) + ", got '" +
             value + "'";
    }
    std::string bytes;
    for (long long i = 0; i < number; ++i) bytes.push_back(PatternByte(i));
    return SetReply(name, ReplyKind::kFixed, std::move(bytes), reply_option, behaviour);
  }
  // --delay or --byte-gap
  if (!ParseWhole(value, 0, kMaxMilliseconds, number)) {
    return std::string(name) + " needs milliseconds from 0 to " + std::to_string(kMaxMilliseconds) +
           ", got '" + value + "'";
  }
  (name == "--delay" ? behaviour.delay_ms : behaviour.byte_gap_ms) = static_cast<int>(number);
  return {};
}

// Parses `args` into `options`; a control line allows behaviour options only.
std::string ParseOptions(const std::vector<std::string>& args, bool control_line,
                         Options& options) {
  std::string reply_option;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    const bool allowed =
        IsBehaviourOption(name) ||
        (!control_line && (TakesValue(name) || name == "--help" || name == "--used-line"));
    if (!allowed) {
      if (!control_line || !TakesValue(name)) return "unknown option '" + name + "'";
      return name + " cannot be used in a control line";
    }
    std::string value;
    if (TakesValue(name)) {
      if (i + 1 >= args.size()) return name + " needs a value";
      value = args[++i];
    }
    if (IsBehaviourOption(name)) {
      std::string error = ParseBehaviourOption(name, value, reply_option, options.behaviour);
      if (!error.empty()) return error;
    } else if (name == "--help") {
      options.help = true;
    } else if (name == "--used-line") {
      options.used_line = true;
    } else if (name == "--time-limit") {
      double seconds = 0;
      if (!ParseSeconds(value, seconds)) {
        return "--time-limit needs seconds above 0, up to " +
               std::to_string(static_cast<int>(kMaxTimeLimitSeconds)) + ", got '" + value + "'";
      }
      options.time_limit_ms = std::max(1, static_cast<int>(seconds * 1000));
    } else if (value.empty()) {
      return name + " needs a non-empty path";
    } else {
      (name == "--link"  ? options.link_path
       : name == "--log" ? options.log_path
                         : options.control_path) = value;
    }
  }
  if (options.behaviour.kind == ReplyKind::kFlood && options.behaviour.byte_gap_ms > 0) {
    return "--byte-gap cannot be combined with --flood";
  }
  return {};
}

}  // namespace

const char kUsage[] =
    "usage: serial-peer [reply] [--delay MS] [--byte-gap MS] [--link PATH] [--log FILE]\n"
    "                   [--control FILE] [--time-limit SECONDS] [--used-line]\n"
    "The far end of a serial link on a pseudo-terminal: prints the path of the terminal on\n"
    "the first line of standard output and answers each request (bytes up to and including\n"
    "a carriage return).\n"
    "Reply, one of:\n"
    "  --echo             the request, CR included (default)\n"
    "  --reply-text TEXT  the bytes of TEXT\n"
    "  --reply-hex HEX    the given bytes, e.g. 41420d or \"41 42 0d\"\n"
    "  --long N           N bytes of the pattern ABC...Z ABC...\n"
    "  --zero             \"AB\", 0x00, \"CD\"\n"
    "  --all-bytes        every byte from 0x01 to 0xFF in order\n"
    "  --silent           nothing\n"
    "  --flood            the pattern without pause until the other end closes\n"
    "  --vanish           close the terminal and end at the first request\n"
    "Options:\n"
    "  --delay MS         wait before replying\n"
    "  --byte-gap MS      send the reply one byte at a time, MS apart\n"
    "  --link PATH        make PATH a symbolic link to the terminal while running\n"
    "  --log FILE         append the log to FILE instead of standard error\n"
    "  --control FILE     before each reply, take the reply options from FILE's first line\n"
    "                     when FILE exists\n"
    "  --time-limit SECONDS  end after SECONDS\n"
    "  --used-line        before each open, leave the line as another program might have:\n"
    "                     115200 baud, even parity, two stop bits, RTS/CTS and XON/XOFF\n"
    "  --help             show this text\n";

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
