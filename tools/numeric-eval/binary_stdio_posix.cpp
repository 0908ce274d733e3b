// POSIX streams have no text mode: nothing to change.
#include "tools/numeric-eval/binary_stdio.h"

namespace numeric_eval {

void UseBinaryStdio() {}

}  // namespace numeric_eval
