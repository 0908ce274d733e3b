// Writes the numeric test vectors, one evaluator input line each, to standard output.
#include <cstdio>

#include "tests/numeric/vectors.h"

int main() {
  for (const vectors::Case& c : vectors::Generate(vectors::kSeed)) {
    std::fputs(vectors::Format(c).c_str(), stdout);
    std::fputc('\n', stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
