// numeric-eval: evaluates the runtime's numeric routines on lines read from standard input and
// writes one result line per input line (see evaluate.h for the format).
//
// Input is read as bytes, not as C strings: a zero byte is part of its line (which then gets
// an error line of its own) and never hides the rest of the line or the LF that ends it.
#include <cstdio>
#include <string>
#include <string_view>

#include "tools/numeric-eval/binary_stdio.h"
#include "tools/numeric-eval/evaluate.h"

namespace {

constexpr size_t kChunkBytes = 1 << 16;

void Answer(std::string_view line) {
  const std::string result = numeric_eval::EvaluateLine(line);
  std::fwrite(result.data(), 1, result.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int main() {
  numeric_eval::UseBinaryStdio();  // lines end with LF alone on every system
  static char chunk[kChunkBytes];
  std::string line;  // the bytes read that no LF has ended yet
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, stdin)) != 0) {
    std::string_view rest(chunk, got);
    for (size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
      line.append(rest.substr(0, end));
      Answer(line);
      line.clear();
      rest.remove_prefix(end + 1);
    }
    line.append(rest);
  }
  if (!line.empty()) Answer(line);  // a last line without its LF
  return 0;
}
