// Edge cases of the numeric routines as tables of bit patterns, the answers beyond each
// routine's range, and the caller's rounding mode across FloorToInt.
#include "runtime/numeric.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>

namespace {

using runtime::AbsoluteValue;
using runtime::Exponential;
using runtime::FloorToInt;
using runtime::IntegerPower;
using runtime::NaturalLog;
using runtime::RealPower;
using runtime::ScaleByPowerOfTwo;
using runtime::SplitExponent;
using runtime::ToDouble;

double D(uint64_t bits) { return std::bit_cast<double>(bits); }
uint64_t Bits(double x) { return std::bit_cast<uint64_t>(x); }

// Bit patterns used throughout. kNaN as an expected value accepts any NaN: the one made by
// 0 * infinity is the processor's own.
constexpr uint64_t kZero = 0x0000000000000000;
constexpr uint64_t kMinusZero = 0x8000000000000000;
constexpr uint64_t kOne = 0x3ff0000000000000;
constexpr uint64_t kInf = 0x7ff0000000000000;
constexpr uint64_t kMinusInf = 0xfff0000000000000;
constexpr uint64_t kNaN = 0x7ff8000000000000;
constexpr uint64_t kNaNWithPayload = 0xfff8000000000123;
constexpr uint64_t kSmallestSubnormal = 0x0000000000000001;
constexpr uint64_t kLargestSubnormal = 0x000fffffffffffff;
constexpr uint64_t kLargest = 0x7fefffffffffffff;

std::string Hex(uint64_t bits) {
  char text[24];
  std::snprintf(text, sizeof text, "%016" PRIx64, bits);
  return text;
}

::testing::AssertionResult SameDouble(uint64_t expected, double actual) {
  const bool same = std::isnan(D(expected)) ? std::isnan(actual) : Bits(actual) == expected;
  if (same) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "got " << Hex(Bits(actual)) << " (" << actual << "), expected " << Hex(expected) << " ("
         << D(expected) << ")";
}

// One-argument routines: double in, double out.
struct UnaryCase {
  const char* routine;
  double (*f)(double);
  uint64_t x;
  uint64_t expected;
};
void PrintTo(const UnaryCase& c, std::ostream* os) { *os << c.routine << "(" << Hex(c.x) << ")"; }

const UnaryCase kUnaryCases[] = {
    {"AbsoluteValue", AbsoluteValue, kMinusZero, kMinusZero},
    {"AbsoluteValue", AbsoluteValue, 0xc004000000000000, 0x4004000000000000},  // -2.5 -> 2.5
    {"AbsoluteValue", AbsoluteValue, kMinusInf, kInf},
    {"ToDouble", ToDouble, kLargestSubnormal, kLargestSubnormal},
    {"Exponential", Exponential, kZero, kOne},
    {"Exponential", Exponential, kOne, 0x4005bf0a8b145769},                // 2.718281828459045
    {"Exponential", Exponential, 0xbff0000000000000, 0x3fd78b56362cef37},  // -1: one ulp low
    {"Exponential", Exponential, 0x4024000000000000, 0x40d5829dcf950563},  // 10
    {"Exponential", Exponential, 0x40862b7d369a5aa7, 0x7fe6a09e667f3849},  // 709.4361393031039
    {"Exponential", Exponential, 0x40862b7d369a5aa8, kInf},  // 709.436139303104: 2^1024 overflows
    {"Exponential", Exponential, 0xc087480000000000, kSmallestSubnormal},  // -745
    {"Exponential", Exponential, 0xc087491eb851eb85, kZero},               // -745.14
    // Beyond the range: +infinity above, +0 below, whatever the size.
    {"Exponential", Exponential, kInf, kInf},
    {"Exponential", Exponential, kMinusInf, kZero},
    {"Exponential", Exponential, 0x41d65a0bc0000000, kInf},   // 1.5e9
    {"Exponential", Exponential, 0xc1d65a0bc0000000, kZero},  // -1.5e9
    {"Exponential", Exponential, 0xc140a1d000000000, kZero},  // -2180000: a count near 2^63
    {"Exponential", Exponential, kLargest, kInf},
    {"Exponential", Exponential, 0xffefffffffffffff, kZero},
    {"NaturalLog", NaturalLog, kOne, kZero},
    {"NaturalLog", NaturalLog, 0x4000000000000000, 0x3fe62e42fefa39ef},  // 2
    {"NaturalLog", NaturalLog, 0x3fe0000000000000, 0xbfe62e42fefa39ef},  // 0.5
    {"NaturalLog", NaturalLog, 0x4024000000000000, 0x40026bb1bbb55515},  // 10: one ulp low
    {"NaturalLog", NaturalLog, 0x7fe55c576d815726, 0x40862b073ad748a8},  // 1.2e308
    {"NaturalLog", NaturalLog, kZero, kZero},
    {"NaturalLog", NaturalLog, kMinusZero, kZero},
    {"NaturalLog", NaturalLog, 0xc014000000000000, kZero},  // -5
    {"NaturalLog", NaturalLog, kMinusInf, kZero},
    {"NaturalLog", NaturalLog, kNaN, kZero},
    {"NaturalLog", NaturalLog, kInf, kInf},  // beyond the range
};

class UnaryTable : public ::testing::TestWithParam<UnaryCase> {};

TEST_P(UnaryTable, GivesTheBitPattern) {
  const UnaryCase& c = GetParam();
  EXPECT_TRUE(SameDouble(c.expected, c.f(D(c.x))));
}

INSTANTIATE_TEST_SUITE_P(Numeric, UnaryTable, ::testing::ValuesIn(kUnaryCases));

// IntegerPower and ScaleByPowerOfTwo: a double and a count.
struct CountCase {
  const char* routine;
  double (*f)(double, int32_t);
  uint64_t x;
  int32_t n;
  uint64_t expected;
};
void PrintTo(const CountCase& c, std::ostream* os) {
  *os << c.routine << "(" << Hex(c.x) << ", " << c.n << ")";
}

const CountCase kCountCases[] = {
    {"IntegerPower", IntegerPower, 0x4008000000000000, 5, 0x406e600000000000},   // 3^5 = 243
    {"IntegerPower", IntegerPower, 0x4000000000000000, -3, 0x3fc0000000000000},  // 0.125
    {"IntegerPower", IntegerPower, 0xc000000000000000, 3, 0xc020000000000000},   // -8
    {"IntegerPower", IntegerPower, kZero, 0, kOne},
    {"IntegerPower", IntegerPower, kNaN, 0, kOne},
    {"IntegerPower", IntegerPower, kMinusInf, 0, kOne},
    {"IntegerPower", IntegerPower, kZero, -1, kInf},
    {"IntegerPower", IntegerPower, kMinusZero, -1, kMinusInf},
    {"IntegerPower", IntegerPower, kMinusZero, -2, kInf},
    // 1.0000001^-2147483648: the count 2^31 has to be taken as unsigned.
    {"IntegerPower", IntegerPower, 0x3ff000001ad7f29b, INT32_MIN, 0x2c922beeac54ca13},
    {"IntegerPower", IntegerPower, 0xbff0000000000000, INT32_MAX, 0xbff0000000000000},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, 0x3ff8000000000000, 7, 0x4068000000000000},  // 192
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kOne, -3, 0x3fc0000000000000},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, 0x4008000000000000, 0, 0x4008000000000000},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kOne, -1074, kSmallestSubnormal},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kOne, -1075, kZero},  // the tie goes to even
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kOne, 1023, 0x7fe0000000000000},
    // The factor 2^1024 is already infinite, though 2^1023 is not.
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, 0x3fe0000000000000, 1024, kInf},
    // A zero or an infinity is its own answer, where the loop would make a NaN of 0 * inf.
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kZero, 1024, kZero},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kMinusZero, 2000, kMinusZero},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kMinusZero, -3000, kMinusZero},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kInf, -2048, kInf},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kMinusInf, -3000, kMinusInf},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kMinusInf, INT32_MAX, kMinusInf},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kSmallestSubnormal, 1100, kInf},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kSmallestSubnormal, 1074, kInf},  // 1074 >= 1024
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kLargest, -2046, 0x0010000000000000},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kLargest, -2047, 0x0008000000000000},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, 0x7fe0000000000000, -2047, 0x0004000000000000},
    // The factor 2^-2048 is already 0, though the result, about 2^-1024, would not be.
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kLargest, -2048, kZero},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, 0xffefffffffffffff, INT32_MIN, kMinusZero},
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, kMinusInf, -5, kMinusInf},
    // Two roundings in the subnormal range: (2^52 + 47) * 2^-1074 halved rounds to even, then
    // the division by 16 ties again; one rounding of the exact product would give ...01.
    {"ScaleByPowerOfTwo", ScaleByPowerOfTwo, 0x001000000000002f, -5, 0x0000800000000002},
};

class CountTable : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountTable, GivesTheBitPattern) {
  const CountCase& c = GetParam();
  EXPECT_TRUE(SameDouble(c.expected, c.f(D(c.x), c.n)));
}

INSTANTIATE_TEST_SUITE_P(Numeric, CountTable, ::testing::ValuesIn(kCountCases));

struct RealPowerCase {
  uint64_t x;
  uint64_t y;
  uint64_t expected;
};
void PrintTo(const RealPowerCase& c, std::ostream* os) {
  *os << "RealPower(" << Hex(c.x) << ", " << Hex(c.y) << ")";
}

constexpr uint64_t kTwo = 0x4000000000000000;
constexpr uint64_t kMinusTwo = 0xc000000000000000;
constexpr uint64_t kHalf = 0x3fe0000000000000;
constexpr uint64_t kMinusHalf = 0xbfe0000000000000;
constexpr uint64_t kInt32MaxAsDouble = 0x41dfffffffc00000;  // 2147483647

const RealPowerCase kRealPowerCases[] = {
    {kTwo, 0x4024000000000000, 0x4090000000000000},       // 2^10 = 1024 exactly
    {kMinusTwo, 0x4008000000000000, 0xc020000000000000},  // (-2)^3 = -8
    {kTwo, 0xc008000000000000, 0x3fc0000000000000},       // 2^-3
    {kZero, kZero, kOne},
    {kZero, 0xbff0000000000000, kInf},
    {0x4008000000000000, kInt32MaxAsDouble, kInf},    // 3^2147483647, integer path
    {0xc020000000000000, 0x3fd5555555555555, kZero},  // (-8)^(1/3)
    {kZero, kHalf, kZero},
    {kZero, kMinusHalf, kZero},
    {kMinusTwo, 0x41e0000000000000, kZero},       // 2147483648 is past the bound
    {kMinusTwo, 0xc1dfffffffc00000, kMinusZero},  // (-2)^-2147483647 = 1 / -inf
    {kMinusTwo, 0xc1e0000000000000, kZero},       // -2147483648 is past the bound
    {kTwo, kHalf, 0x3ff6a09e667f3bcc},            // one ulp below sqrt2
    // Beyond the range: the same steps with the answers chosen for the inner routines.
    {kTwo, kNaN, kNaN},
    {kMinusTwo, kNaN, kZero},
    {kNaN, kZero, kOne},
    {kNaN, kHalf, kZero},
    {kInf, kHalf, kInf},
    {kInf, kMinusHalf, kZero},
    {kTwo, kInf, kInf},
    {kTwo, kMinusInf, kZero},
    {kHalf, kInf, kZero},
    {kOne, kInf, kNaN},
    {kMinusTwo, kInf, kZero},
    {kMinusInf, 0x4008000000000000, kMinusInf},
    {kMinusInf, kHalf, kZero},
};

class RealPowerTable : public ::testing::TestWithParam<RealPowerCase> {};

TEST_P(RealPowerTable, GivesTheBitPattern) {
  const RealPowerCase& c = GetParam();
  EXPECT_TRUE(SameDouble(c.expected, RealPower(D(c.x), D(c.y))));
}

INSTANTIATE_TEST_SUITE_P(Numeric, RealPowerTable, ::testing::ValuesIn(kRealPowerCases));

struct SplitCase {
  uint64_t x;
  uint64_t m;
  int32_t e;
};
void PrintTo(const SplitCase& c, std::ostream* os) { *os << "SplitExponent(" << Hex(c.x) << ")"; }

const SplitCase kSplitCases[] = {
    {0x4020000000000000, kHalf, 4},                // 8
    {0xc008000000000000, 0xbfe8000000000000, 2},   // -3 -> -0.75
    {0x3fd3333333333333, 0x3fe3333333333333, -1},  // 0.3 -> 0.6
    {kOne, kHalf, 1},
    {kHalf, kHalf, 0},
    {kZero, kZero, 0},
    {kMinusZero, kZero, 0},
    {kNaNWithPayload, kZero, 0},
    {0x0004000000000000, kHalf, -1023},  // 2^-1024, the lowest in range
    {0x7fdfffffffffffff, 0x3fefffffffffffff, 1023},
    // Beyond the range: split all the same; infinities come back as they are.
    {0x7fe0000000000000, kHalf, 1024},
    {kLargest, 0x3fefffffffffffff, 1024},
    {0x0003ffffffffffff, 0x3feffffffffffff8, -1024},
    {kSmallestSubnormal, kHalf, -1073},
    {0x8000000000000003, 0xbfe8000000000000, -1072},
    {kInf, kInf, 0},
    {kMinusInf, kMinusInf, 0},
};

class SplitTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTable, GivesMantissaAndExponent) {
  const SplitCase& c = GetParam();
  int32_t e = 12345;
  EXPECT_TRUE(SameDouble(c.m, SplitExponent(D(c.x), &e)));
  EXPECT_EQ(c.e, e);
}

INSTANTIATE_TEST_SUITE_P(Numeric, SplitTable, ::testing::ValuesIn(kSplitCases));

struct FloorCase {
  double x;
  int32_t expected;
};
void PrintTo(const FloorCase& c, std::ostream* os) { *os << "FloorToInt(" << c.x << ")"; }

const FloorCase kFloorCases[] = {
    {2.5, 2},
    {-2.5, -3},
    {-3.0, -3},
    {-0.5, -1},
    {-0.0, 0},
    {0x1p-1074, 0},
    {-0x1p-1074, -1},
    {-2147483648.0, INT32_MIN},
    {-2147483647.5, INT32_MIN},
    {2147483647.5, INT32_MAX},
    // Beyond the range: saturated, and 0 for a NaN.
    {2147483648.0, INT32_MAX},
    {-2147483648.5, INT32_MIN},
    {1e300, INT32_MAX},
    {-1e300, INT32_MIN},
    {HUGE_VAL, INT32_MAX},
    {-HUGE_VAL, INT32_MIN},
    {NAN, 0},
};

class FloorTable : public ::testing::TestWithParam<FloorCase> {};

TEST_P(FloorTable, GivesTheFloor) {
  const FloorCase& c = GetParam();
  EXPECT_EQ(c.expected, FloorToInt(c.x));
}

// Each rounding mode in turn: the floor is the same, and the mode is still in force after.
TEST_P(FloorTable, KeepsTheCallersRoundingMode) {
  const FloorCase& c = GetParam();
  for (const int mode : {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(0, std::fesetround(mode));
    volatile double x = c.x;  // keeps the call from being folded at compile time
    const int32_t floor = FloorToInt(x);
    const int after = std::fegetround();
    std::fesetround(FE_TONEAREST);
    EXPECT_EQ(c.expected, floor) << "rounding mode " << mode;
    EXPECT_EQ(mode, after);
  }
}

INSTANTIATE_TEST_SUITE_P(Numeric, FloorTable, ::testing::ValuesIn(kFloorCases));

// A NaN comes back with its sign and payload wherever a routine hands it on.
TEST(NumericNaN, KeepsSignAndPayload) {
  const double nan = D(kNaNWithPayload);
  EXPECT_EQ(kNaNWithPayload, Bits(AbsoluteValue(nan)));
  EXPECT_EQ(kNaNWithPayload, Bits(ToDouble(nan)));
  EXPECT_EQ(kNaNWithPayload, Bits(Exponential(nan)));
  EXPECT_EQ(kNaNWithPayload, Bits(ScaleByPowerOfTwo(nan, 10)));
  EXPECT_EQ(kNaNWithPayload, Bits(ScaleByPowerOfTwo(nan, -3000)));
  EXPECT_EQ(kNaNWithPayload, Bits(IntegerPower(nan, 3)));
}

// Where the steps do no arithmetic on x, a signalling NaN comes back with every bit, as the
// steps give it. (The 32-bit build returns doubles on the x87 stack, which quiets them.)
TEST(NumericNaN, SignallingNaNUntouchedWithoutArithmetic) {
#if defined(__i386__)
  GTEST_SKIP() << "doubles are returned on the x87 stack";
#else
  constexpr uint64_t kSignalling = 0xfff6a09e667f3bcc;
  EXPECT_EQ(kSignalling, Bits(ScaleByPowerOfTwo(D(kSignalling), 0)));
  EXPECT_EQ(kSignalling, Bits(ScaleByPowerOfTwo(D(kSignalling), -3000)));
  EXPECT_EQ(kSignalling, Bits(AbsoluteValue(D(kSignalling))));
  EXPECT_EQ(kSignalling, Bits(ToDouble(D(kSignalling))));
#endif
}

// Beyond its range NaturalLog still splits the argument exactly, so the answer stays as close
// to ln x as it is inside the range.
TEST(NumericBeyondTheRange, NaturalLogStaysAccurate) {
  const uint64_t arguments[] = {kSmallestSubnormal,
                                0x0000000000000003,
                                0x00000000deadbeef,
                                0x0003ffffffffffff,
                                0x7fe0000000000000,
                                0x7fe6a09e667f3bcd,
                                kLargest};
  for (const uint64_t bits : arguments) {
    const double x = D(bits);
    const double expected = std::log(x);
    EXPECT_NEAR(expected, NaturalLog(x), 4 * std::abs(expected) * 0x1p-52) << Hex(bits);
  }
}

// SplitExponent gives x back as m * 2^e for every finite exponent, subnormals included.
TEST(NumericBeyondTheRange, SplitExponentCoversEveryExponent) {
  for (int k = -1074; k <= 1023; ++k) {
    for (const double significand : {1.0, 1.5, 0x1.fffffffffffffp0}) {
      const double x = std::ldexp(significand, k);
      int32_t e = 0;
      const double m = SplitExponent(-x, &e);
      ASSERT_TRUE(m <= -0.5 && m > -1.0) << x;
      ASSERT_EQ(-x, std::ldexp(m, e)) << x;
    }
  }
}

}  // namespace
