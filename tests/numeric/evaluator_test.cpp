// The numeric evaluator's line protocol: what a caller types and what comes back.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tools/numeric-eval/evaluate.h"

namespace {

using numeric_eval::EvaluateLine;

TEST(NumericEvaluator, AnswersEachRoutine) {
  EXPECT_EQ("4005bf0a8b145769", EvaluateLine("Exponential 3ff0000000000000"));
  EXPECT_EQ("40026bb1bbb55515", EvaluateLine("NaturalLog 4024000000000000"));
  EXPECT_EQ("4004000000000000", EvaluateLine("AbsoluteValue c004000000000000"));
  EXPECT_EQ("fff8000000000123", EvaluateLine("ToDouble FFF8000000000123"));
  EXPECT_EQ("-3", EvaluateLine("FloorToInt c004000000000000"));
  EXPECT_EQ("-2147483648", EvaluateLine("FloorToInt c1e0000000000000"));
  EXPECT_EQ("2c922beeac54ca13", EvaluateLine("IntegerPower 3ff000001ad7f29b -2147483648"));
  EXPECT_EQ("4068000000000000", EvaluateLine("ScaleByPowerOfTwo 3ff8000000000000 7"));
  EXPECT_EQ("bfe8000000000000 2", EvaluateLine("SplitExponent c008000000000000"));
  EXPECT_EQ("0000000000000000 0", EvaluateLine("SplitExponent 8000000000000000"));
  EXPECT_EQ("3ff6a09e667f3bcc", EvaluateLine("RealPower 4000000000000000 3fe0000000000000"));
  EXPECT_EQ("3ff0000000000000", EvaluateLine("ToDouble 3ff0000000000000\r"));
}

TEST(NumericEvaluator, ExplainsLinesItCannotRead) {
  EXPECT_EQ("error: empty line", EvaluateLine(""));
  EXPECT_EQ("error: line holds a zero byte",
            EvaluateLine(std::string_view("Exponential 3ff0000000000000\0", 29)));
  EXPECT_EQ("error: unknown routine 'exponential'", EvaluateLine("exponential 3ff0000000000000"));
  EXPECT_EQ("error: Exponential takes 1 argument, got 0", EvaluateLine("Exponential"));
  EXPECT_EQ("error: RealPower takes 2 arguments, got 1",
            EvaluateLine("RealPower 3ff0000000000000"));
  EXPECT_EQ("error: words must be separated by single spaces",
            EvaluateLine("Exponential  3ff0000000000000"));
  EXPECT_EQ("error: words must be separated by single spaces",
            EvaluateLine("Exponential 3ff0000000000000 "));
  EXPECT_EQ("error: argument 1 '3ff000000000000' is not 16 hex digits",
            EvaluateLine("Exponential 3ff000000000000"));
  EXPECT_EQ("error: argument 1 '3ff000000000000g' is not 16 hex digits",
            EvaluateLine("Exponential 3ff000000000000g"));
  EXPECT_EQ("error: argument 2 '2147483648' is not a 32-bit decimal integer",
            EvaluateLine("ScaleByPowerOfTwo 3ff0000000000000 2147483648"));
  EXPECT_EQ("error: argument 2 '1.5' is not a 32-bit decimal integer",
            EvaluateLine("IntegerPower 3ff0000000000000 1.5"));
  EXPECT_EQ("error: argument 2 '-' is not a 32-bit decimal integer",
            EvaluateLine("IntegerPower 3ff0000000000000 -"));
  EXPECT_EQ("error: argument 2 'x' is not 16 hex digits",
            EvaluateLine("RealPower 3ff0000000000000 x"));
}

}  // namespace
