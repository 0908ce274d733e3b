// The production routines against the written steps (reference.cpp), bit for bit, wherever the
// steps are defined: over the generated vectors, and over sweeps of the places where a shortcut
// could part from the steps.
#include "tests/numeric/reference.h"

#include <gtest/gtest.h>

#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

#include "runtime/numeric.h"
#include "tests/numeric/vectors.h"

namespace {

using vectors::Case;
using vectors::Routine;

uint64_t Bits(double x) { return std::bit_cast<uint64_t>(x); }
double D(uint64_t bits) { return std::bit_cast<double>(bits); }

std::string Hex(uint64_t bits) {
  char text[24];
  std::snprintf(text, sizeof text, "%016" PRIx64, bits);
  return text;
}

bool Defined(const Case& c) {
  switch (c.routine) {
    case Routine::FloorToInt:
      return reference::FloorToIntDefined(c.x);
    case Routine::SplitExponent:
      return reference::SplitExponentDefined(c.x);
    case Routine::Exponential:
      return reference::ExponentialDefined(c.x);
    case Routine::NaturalLog:
      return reference::NaturalLogDefined(c.x);
    case Routine::RealPower:
      return reference::RealPowerDefined(c.x, c.y);
    default:
      return true;
  }
}

// The one deliberate difference from the written steps: ScaleByPowerOfTwo gives a zero, an
// infinity or a NaN back as it is, where the steps multiply it by a factor that may have
// overflowed to infinity or underflowed to 0, and 0 * infinity is a NaN.
double ScaleAsIntended(double x, int32_t n) {
  if (x == 0 || x - x != 0) return x;  // x - x is a NaN exactly for an infinity or a NaN
  return reference::ScaleByPowerOfTwo(x, n);
}

// Both answers as text, so that a mismatch reads like the evaluator's output.
struct Answers {
  std::string production;
  std::string reference;
};

Answers Evaluate(const Case& c) {
  switch (c.routine) {
    case Routine::AbsoluteValue:
      return {Hex(Bits(runtime::AbsoluteValue(c.x))), Hex(Bits(reference::AbsoluteValue(c.x)))};
    case Routine::ToDouble:
      return {Hex(Bits(runtime::ToDouble(c.x))), Hex(Bits(reference::ToDouble(c.x)))};
    case Routine::FloorToInt:
      return {std::to_string(runtime::FloorToInt(c.x)), std::to_string(reference::FloorToInt(c.x))};
    case Routine::IntegerPower:
      return {Hex(Bits(runtime::IntegerPower(c.x, c.n))),
              Hex(Bits(reference::IntegerPower(c.x, c.n)))};
    case Routine::ScaleByPowerOfTwo:
      return {Hex(Bits(runtime::ScaleByPowerOfTwo(c.x, c.n))),
              Hex(Bits(ScaleAsIntended(c.x, c.n)))};
    case Routine::SplitExponent: {
      int32_t e = 0;
      int32_t referenceE = 0;
      const double m = runtime::SplitExponent(c.x, &e);
      const double referenceM = reference::SplitExponent(c.x, &referenceE);
      return {Hex(Bits(m)) + " " + std::to_string(e),
              Hex(Bits(referenceM)) + " " + std::to_string(referenceE)};
    }
    case Routine::Exponential:
      return {Hex(Bits(runtime::Exponential(c.x))), Hex(Bits(reference::Exponential(c.x)))};
    case Routine::NaturalLog:
      return {Hex(Bits(runtime::NaturalLog(c.x))), Hex(Bits(reference::NaturalLog(c.x)))};
    case Routine::RealPower:
      return {Hex(Bits(runtime::RealPower(c.x, c.y))), Hex(Bits(reference::RealPower(c.x, c.y)))};
  }
  return {};
}

// Compares every defined case; returns how many were compared and reports the first few
// mismatches.
int CompareAll(const std::vector<Case>& cases) {
  int compared = 0;
  int mismatches = 0;
  for (const Case& c : cases) {
    if (!Defined(c)) continue;
    ++compared;
    const Answers answers = Evaluate(c);
    if (answers.production != answers.reference && ++mismatches <= 10) {
      ADD_FAILURE() << vectors::Format(c) << ": got " << answers.production << ", steps give "
                    << answers.reference;
    }
  }
  EXPECT_EQ(0, mismatches);
  return compared;
}

int CountOf(const std::vector<Case>& cases, Routine routine, bool defined) {
  int count = 0;
  for (const Case& c : cases) count += c.routine == routine && Defined(c) == defined;
  return count;
}

TEST(NumericReference, GeneratedVectorsMatch) {
  const std::vector<Case> cases = vectors::Generate(vectors::kSeed);
  ASSERT_GE(cases.size(), 100000u);
  EXPECT_GE(CompareAll(cases), 90000);
  // The spread reaches past each limited routine's range too (there the evaluators are
  // compared with one another instead).
  for (const Routine routine : {Routine::FloorToInt, Routine::SplitExponent, Routine::Exponential,
                                Routine::NaturalLog, Routine::RealPower}) {
    EXPECT_GE(CountOf(cases, routine, false), 200) << vectors::RoutineName(routine);
    EXPECT_GE(CountOf(cases, routine, true), 5000) << vectors::RoutineName(routine);
  }
}

// Every count that a factor of the loop can make exact or not, for significands of every kind
// and exponents either side of the subnormal range; zeros, infinities and NaNs at every count.
TEST(NumericReference, ScaleByPowerOfTwoSweep) {
  std::vector<Case> cases;
  const uint64_t significands[] = {0x0000000000000, 0x0000000000001, 0x000000000002f,
                                   0x8000000000000, 0x8000000000001, 0xfffffffffffff,
                                   0x5555555555555, 0xaaaaaaaaaaaab};
  const uint64_t exponents[] = {0, 1, 2, 30, 500, 1023, 1500, 2045, 2046, 2047};
  for (const uint64_t significand : significands) {
    for (const uint64_t biased : exponents) {
      // Signalling NaNs come back quiet from the 32-bit build (doubles return on the x87
      // stack); the NaN tests cover them.
      const bool signalling = biased == 2047 && significand != 0 && significand < 0x8000000000000;
      if (signalling) continue;
      const double x = D(biased << 52 | significand);
      for (int32_t n = -2100; n <= 1100; ++n) {
        cases.push_back({Routine::ScaleByPowerOfTwo, x, 0.0, n});
        cases.push_back({Routine::ScaleByPowerOfTwo, -x, 0.0, n});
      }
    }
  }
  CompareAll(cases);
}

// The split at each end of its range and at every power of two in between.
TEST(NumericReference, SplitExponentSweep) {
  std::vector<Case> cases;
  for (uint64_t biased = 0; biased <= 2046; ++biased) {
    for (const uint64_t significand : {uint64_t{0}, uint64_t{1}, uint64_t{0xfffffffffffff}}) {
      cases.push_back({Routine::SplitExponent, D(biased << 52 | significand), 0.0, 0});
    }
  }
  EXPECT_GE(CompareAll(cases), 3 * 2045);
}

// NaturalLog's exponent comes from the bits wherever x / sqrt2 is normal: significands just
// either side of sqrt2's, at every exponent; and the subnormal end, where it divides.
TEST(NumericReference, NaturalLogSweep) {
  std::vector<Case> cases;
  const uint64_t sqrt2 = Bits(0x1.6a09e667f3bcdp+0) & 0xfffffffffffff;
  for (uint64_t biased = 0; biased <= 2046; ++biased) {
    for (uint64_t significand = sqrt2 - 3; significand <= sqrt2 + 3; ++significand) {
      cases.push_back({Routine::NaturalLog, D(biased << 52 | significand), 0.0, 0});
    }
    cases.push_back({Routine::NaturalLog, D(biased << 52), 0.0, 0});
  }
  for (uint64_t bits = 0x0004000000000000; bits < 0x0030000000000000; bits += 0x0000123456789ab) {
    cases.push_back({Routine::NaturalLog, D(bits), 0.0, 0});
  }
  // Below 2^-1021, x = X * 2^-1074 and x / sqrt2 rounds up to the next power of two from
  // X = sqrt2 * 2^E - sqrt2 / 2 on: either side of that point for every E.
  for (int top = 1; top <= 52; ++top) {
    const auto near = static_cast<int64_t>(0x1.6a09e667f3bcdp+0 * (0x1p+0 * (int64_t{1} << top)) -
                                           0x1.6a09e667f3bcdp-1);
    for (int64_t whole = near - 3; whole <= near + 3; ++whole) {
      cases.push_back({Routine::NaturalLog, D(static_cast<uint64_t>(whole)), 0.0, 0});
    }
  }
  EXPECT_GE(CompareAll(cases), 2044 * 8);
}

// Exponential on a fine grid over its whole finite range, and at the points where the
// reduction count steps.
TEST(NumericReference, ExponentialSweep) {
  std::vector<Case> cases;
  for (int k = -1430 * 32; k <= 720 * 32; ++k) {
    cases.push_back({Routine::Exponential, k / 32.0, 0.0, 0});
  }
  for (int k = -2100; k <= 1100; ++k) {
    const double step = (k + 0.5) * 0x1.62e42fefa39efp-1;
    for (const int64_t delta : {-2, -1, 0, 1, 2}) {
      cases.push_back({Routine::Exponential, D(Bits(step) + static_cast<uint64_t>(delta)), 0.0, 0});
    }
  }
  // Near 0 the count of x / ln2 that the routine rounds to 2^-32 is 0 and does not show x's
  // sign, which decides the count: every power of two down to the smallest subnormal, both signs.
  for (double x = 1.0; x != 0.0; x /= 2) {
    cases.push_back({Routine::Exponential, x, 0.0, 0});
    cases.push_back({Routine::Exponential, -x, 0.0, 0});
  }
  EXPECT_GE(CompareAll(cases), 60000);
}

}  // namespace
