// Windows: the C runtime opens standard input and output in text mode.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "tools/numeric-eval/binary_stdio.h"

namespace numeric_eval {

void UseBinaryStdio() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace numeric_eval
