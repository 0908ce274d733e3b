// Test vectors for the numeric routines: a deterministic spread of arguments over every routine,
// and their text form as the numeric evaluator reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vectors {

enum class Routine {
  AbsoluteValue,
  ToDouble,
  FloorToInt,
  IntegerPower,
  ScaleByPowerOfTwo,
  SplitExponent,
  Exponential,
  NaturalLog,
  RealPower,
};

struct Case {
  Routine routine;
  double x;   // the first argument
  double y;   // RealPower's exponent
  int32_t n;  // IntegerPower's and ScaleByPowerOfTwo's count
};

const char* RoutineName(Routine routine);

// The same list for the same seed on every build.
std::vector<Case> Generate(uint64_t seed);
constexpr uint64_t kSeed = 0x6b69766f6d2d6e75;

// "Exponential 3ff0000000000000", "ScaleByPowerOfTwo 3ff8000000000000 7", ...
std::string Format(const Case& c);

}  // namespace vectors
