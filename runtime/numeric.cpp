// Numeric routines, one statement per written step, except three shortcuts that read or set
// the exponent field where the steps would loop; the comment at each says why the bits are the
// same.
#include "runtime/numeric.h"

#include <bit>
#include <cstdint>
#include <limits>

namespace runtime {
namespace {

constexpr double kLn2 = 0x1.62e42fefa39efp-1;    // 0.6931471805599453
constexpr double kSqrt2 = 0x1.6a09e667f3bcdp+0;  // 1.4142135623730951
constexpr double kHalf = 0x1p-1;                 // 0.5
constexpr double kInfinity = std::numeric_limits<double>::infinity();

constexpr double kInt32Lowest = -0x1p+31;  // -2147483648
constexpr double kInt32Beyond = 0x1p+31;   // 2147483648, the first value whose floor is too big
constexpr double kWholeExponentBound = 2147483647.0;  // RealPower's bound on integer exponents

// Exponential: from here up n >= 1024 and the result is +infinity; from here down n <= -2048 and
// the result is +0. Both lie well inside the int range of n.
constexpr double kExpInfiniteFrom = 0x1.63p+9;  // 710
constexpr double kExpZeroFrom = -0x1.63p+10;    // -1420

constexpr double kSmallestNormal = 0x1p-1022;
constexpr double kSplitLowest = 0x1p-1024;  // SplitExponent's written search reaches no lower
constexpr double kSubnormalLift = 0x1p+54;  // takes any subnormal into the normals, exactly
constexpr int32_t kSubnormalLiftExponent = 54;

constexpr int kMantissaBits = 52;
constexpr uint64_t kExponentMask = uint64_t{0x7ff} << kMantissaBits;
constexpr int kBiasedInfinite = 0x7ff;
constexpr int kBiasedHighest = 0x7fe;
constexpr int kBiasedHalf = 1022;  // biased exponent of [0.5, 1)
// ScaleByPowerOfTwo's loop: its factor stays finite for counts up to here, and above 0 for
// counts down to here.
constexpr int32_t kLargestFiniteFactor = 1023;
constexpr int32_t kLowestNonzeroFactor = -2047;

uint64_t BitsOf(double x) { return std::bit_cast<uint64_t>(x); }
double FromBits(uint64_t bits) { return std::bit_cast<double>(bits); }
int BiasedExponent(uint64_t bits) { return static_cast<int>((bits >> kMantissaBits) & 0x7ff); }

}  // namespace

double AbsoluteValue(double x) {
  if (x < 0) return x * -1.0;
  return x;
}

double ToDouble(double x) { return x; }

int32_t FloorToInt(double x) {
  if (!(x >= kInt32Lowest)) return x != x ? 0 : INT32_MIN;  // NaN, or a floor below the range
  if (x >= kInt32Beyond) return INT32_MAX;
  const int32_t n = static_cast<int32_t>(x);  // truncation toward zero, whatever the mode
  // One less for a negative x that was not whole: only such an x lies below its truncation
  // (n converts exactly). As a difference, the step needs no branch on the sign.
  return n - static_cast<int32_t>(x < n);
}

double IntegerPower(double x, int32_t n) {
  uint32_t m = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
  double acc = 1.0;
  while (m != 0) {
    if (m % 2 != 0) acc = acc * x;
    x = x * x;
    m = m / 2;
  }
  if (n >= 0) return acc;
  return 1.0 / acc;
}

double ScaleByPowerOfTwo(double x, int32_t n) {
  const uint64_t bits = BitsOf(x);
  const int biased = BiasedExponent(bits);
  // Shortcut: for a normal x, a normal result and finite factors, every product of the loop is
  // a normal number times a power of two, so exact, and only the exponent field moves.
  const int64_t scaled = int64_t{biased} + n;
  if (biased >= 1 && biased <= kBiasedHighest && n <= kLargestFiniteFactor && scaled >= 1 &&
      scaled <= kBiasedHighest) {
    return FromBits(bits + (static_cast<uint64_t>(int64_t{n}) << kMantissaBits));
  }
  // A zero, an infinity or a NaN is its own answer for every count; the loop would make a NaN of
  // 0 * infinity once the factor has overflowed or vanished.
  if (x == 0 || biased == kBiasedInfinite) return x;
  // Shortcut: the factor reaches 2^1024 = infinity (or 2^-2048 = 0) on the loop's way, and no
  // product before it can make x zero (or infinite): x times that factor is the answer.
  if (n > kLargestFiniteFactor) return x * kInfinity;
  if (n < kLowestNonzeroFactor) return x * 0.0;
  double f = 2.0;
  uint32_t count = static_cast<uint32_t>(n);
  if (n < 0) {
    f = kHalf;
    count = 0u - static_cast<uint32_t>(n);
  }
  while (count != 0) {
    if (count % 2 != 0) x = x * f;
    f = f * f;
    count = count / 2;
  }
  return x;
}

double SplitExponent(double x, int32_t* e) {
  *e = 0;
  if (x == 0 || x != x) return 0.0;
  uint64_t bits = BitsOf(x);
  if (BiasedExponent(bits) == kBiasedInfinite) return x;  // no finite split: the infinity
  int32_t lifted = 0;
  if (BiasedExponent(bits) == 0) {
    bits = BitsOf(x * kSubnormalLift);
    lifted = kSubnormalLiftExponent;
  }
  // Shortcut: every quotient x / 2^e of the written search is exact, so the one it stops at is
  // x's significand with the exponent of 0.5, and e follows from x's exponent field.
  *e = BiasedExponent(bits) - kBiasedHalf - lifted;
  return FromBits((bits & ~kExponentMask) | (uint64_t{kBiasedHalf} << kMantissaBits));
}

double Exponential(double x) {
  if (x != x) return x + x;  // a NaN, quiet, sign and payload kept
  if (x >= kExpInfiniteFrom) return kInfinity;
  if (x <= kExpZeroFrom) return 0.0;
  double z = 0.0;
  if (x >= 0) {
    z = x / kLn2 + kHalf;
  } else {
    z = x / kLn2 - kHalf;
  }
  const int32_t n = FloorToInt(z);
  const double r = x - n * kLn2;
  const double s = r * r;
  double g = s / 22;
  g = s / (g + 18);
  g = s / (g + 14);
  g = s / (g + 10);
  g = s / (g + 6);
  const double q = ((g + 2) + r) / ((g + 2) - r);
  return ScaleByPowerOfTwo(q, n);
}

double NaturalLog(double x) {
  if (!(x > 0)) return 0.0;  // zero, negative or NaN
  if (x == kInfinity) return kInfinity;
  int32_t e = 0;
  double reduced = 0.0;                                     // x / 2^e, exact
  if (x < kSmallestNormal && x / kSqrt2 >= kSplitLowest) {  // a subnormal x: as written
    SplitExponent(x / kSqrt2, &e);
    reduced = x / ScaleByPowerOfTwo(1.0, e);
  } else {
    // Shortcut for a normal x: with x = m * 2^k, m in [0.5, 1), m / sqrt2 rounds to 0.5 or more
    // exactly when m >= sqrt2 / 2 (the double below gives 0.5 - 0.707 * 2^-53, which rounds
    // below 0.5 on the grid of the normals and on that of the subnormals alike); then e = k.
    // Beyond the range (x / sqrt2 below 2^-1024, x from 2^1023 * sqrt2 up) x splits the same way.
    const double m = SplitExponent(x, &e);
    reduced = m;
    if (m < kSqrt2 * kHalf) {
      e = e - 1;
      reduced = m + m;
    }
  }
  const double t = reduced - 1.0;
  double g = 0.0;
  for (int k = 9; k >= 1; --k) {
    const double a = k * t;
    const double d = a / (g + (2 * k + 1));
    g = a / (d + 2);
  }
  return (e * kLn2) + t / (g + 1);
}

double RealPower(double x, double y) {
  if (y >= -kWholeExponentBound && y <= kWholeExponentBound) {
    const int32_t n = FloorToInt(y);
    if (y == ToDouble(n)) return IntegerPower(x, n);
  }
  if (x > 0) return Exponential(y * NaturalLog(x));
  return 0.0;
}

}  // namespace runtime
