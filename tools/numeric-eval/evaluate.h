// The numeric evaluator's one step: an input line in, the output line out.
//
// Input: a routine name, then its arguments, separated by single spaces. A double is the 16 hex
// digits of its bit pattern (3ff0000000000000 for 1), an int is decimal.
// Output: a double as 16 lowercase hex digits, FloorToInt's int in decimal, SplitExponent's
// mantissa and exponent separated by a space; "error: <reason>" for a line that does not parse,
// a line holding a zero byte included.
#pragma once

#include <string>
#include <string_view>

namespace numeric_eval {

std::string EvaluateLine(std::string_view line);

}  // namespace numeric_eval
