// numeric-eval: evaluates the runtime's numeric routines on lines read from standard input and
// writes one result line per input line (see evaluate.h for the format).
#include <cstdio>
#include <string>

#include "tools/numeric-eval/binary_stdio.h"
#include "tools/numeric-eval/evaluate.h"

int main() {
  numeric_eval::UseBinaryStdio();  // lines end with LF alone on every system
  std::string line;
  char chunk[256];
  bool pending = false;  // characters read that no LF has ended yet
  while (std::fgets(chunk, sizeof chunk, stdin) != nullptr) {
    line += chunk;
    pending = true;
    if (line.back() != '\n') continue;
    line.pop_back();
    const std::string result = numeric_eval::EvaluateLine(line);
    std::fwrite(result.data(), 1, result.size(), stdout);
    std::fputc('\n', stdout);
    line.clear();
    pending = false;
  }
  if (pending) {  // a last line without its LF
    const std::string result = numeric_eval::EvaluateLine(line);
    std::fwrite(result.data(), 1, result.size(), stdout);
    std::fputc('\n', stdout);
  }
  return 0;
}
