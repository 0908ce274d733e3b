// Command-line and control-file options of serial-peer, from one table.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace serial_peer {

enum class ReplyKind {
  kEcho,    // the request itself, CR included
  kFixed,   // Behaviour::bytes
  kSilent,  // nothing
  kFlood,   // the pattern, without pause, until the other end closes
  kVanish,  // close the terminal and end
};

// How the peer answers a request.
struct Behaviour {
  ReplyKind kind = ReplyKind::kEcho;
  std::string bytes;    // the reply for kFixed
  int delay_ms = 0;     // before the first byte of a reply
  int byte_gap_ms = 0;  // between bytes of a reply; 0 writes the reply at once
};

struct Options {
  Behaviour behaviour;
  std::string log_path;      // empty: standard error
  std::string control_path;  // empty: no control file
  bool used_line = false;    // leave the line as another program would before each open
  bool keep_unread = false;  // leave unread reply bytes in the line, as a device does
  bool help = false;
};

// An option's argument once checked: the bytes of a text or of hex digits, or a number.
struct Value {
  std::string bytes;
  long long number = 0;
};

// The kind of word an option takes after its name.
struct Argument {
  std::string_view name;  // as the usage text shows it
  // Checks `word` into `value`; an error such as "needs ...", empty on success.
  std::string (*take)(const std::string& word, Value& value);
};

// Where an option may stand; the usage text lists the groups in this order.
enum class Group {
  kReply,   // one of the replies, at most one; in a control line too
  kTiming,  // the reply's timing; in a control line too
  kStart,   // how the peer runs; on the command line only
};

struct Option {
  std::string_view name;
  const Argument* argument;  // nullptr: the option stands alone
  Group group;
  std::string_view help;  // a '\n' starts another line of it
  void (*set)(Value& value, Options& options);
};

// Every option, in the order the usage text lists them within their group.
std::span<const Option> OptionTable();

// Whether `option` may stand in a control line.
bool InControlLine(const Option& option);

// Byte i of the pattern sent by --long and --flood.
char PatternByte(long long i);

// Parses the arguments after the program name. Returns an error message, empty on success.
std::string ParseCommandLine(const std::vector<std::string>& args, Options& options);

// Parses a control line: behaviour options only, in command-line syntax. Returns an error
// message, empty on success; `behaviour` is only changed on success.
std::string ParseControlLine(std::string_view line, Behaviour& behaviour);

// Splits a line into words the way a shell would for plain words, '...', "..." and backslash
// escapes. Returns an error message, empty on success.
std::string SplitWords(std::string_view line, std::vector<std::string>& words);

// Parses hex bytes such as "41420d" or "41 42 0d". Returns an error message, empty on success.
std::string ParseHexBytes(std::string_view text, std::string& bytes);

// "41 42 0d": lowercase hex, space separated.
std::string HexBytes(std::string_view bytes);

// The text --help prints, made from the table.
std::string Usage();

}  // namespace serial_peer
