// Numeric routines. Each result is the one the routine's written steps give with every
// operation rounded once; where a routine takes a shorter road (exponent arithmetic on the bit
// pattern instead of a loop of exact products), the comment beside it says why the bits are the
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

// Exponential: the reciprocal of ln 2, rounded once; a sum that rounds a product with it to a
// multiple of 2^-32, whose bit pattern then counts in those units; how near a whole number such
// a count may come before the reduction count is found by the written division instead.
constexpr double kInvLn2 = 1 / kLn2;
constexpr int kFractionBits = 32;
constexpr double kFractionShift = 0x1.8p+20;  // 1.5 * 2^(52 - kFractionBits)
constexpr uint64_t kFractionShiftBits = std::bit_cast<uint64_t>(kFractionShift);
constexpr uint64_t kHalfUnit = uint64_t{1} << (kFractionBits - 1);
constexpr uint32_t kNearWholeUnits = 16;  // 2^-28
constexpr int32_t kExpRoundedOnceFrom = -2045;
// Counts of p = x / ln2 in [-2048, 1023), where x lies within (-1420, 709.1): past neither of
// Exponential's bounds.
constexpr int64_t kUsualUnitsLow = -(int64_t{2048} << kFractionBits);
constexpr uint64_t kUsualUnitsSpan = uint64_t{2048 + 1023} << kFractionBits;
// Exponential: from here up n >= 1024 and the result is +infinity; from here down n <= -2048 and
// the result is +0. Both lie well inside the int range of n.
constexpr double kExpInfiniteFrom = 0x1.63p+9;  // 710
constexpr double kExpZeroFrom = -0x1.63p+10;    // -1420

constexpr int kMantissaBits = 52;
constexpr uint64_t kMantissaMask = (uint64_t{1} << kMantissaBits) - 1;
constexpr uint64_t kExponentMask = uint64_t{0x7ff} << kMantissaBits;
constexpr uint64_t kHiddenBit = uint64_t{1} << kMantissaBits;
constexpr uint64_t kSignBit = uint64_t{1} << 63;
constexpr int kBias = 1023;
constexpr int kBiasedInfinite = 0x7ff;
constexpr int kBiasedHighest = 0x7fe;
constexpr int kBiasedHalf = 1022;              // biased exponent of [0.5, 1)
constexpr int kSubnormalUnitsExponent = 1074;  // 2^-1074, the unit of the subnormals
constexpr double kUnitsRounder = 0x1p+52;
constexpr uint64_t kSqrt2Mantissa = std::bit_cast<uint64_t>(kSqrt2) & kMantissaMask;

uint64_t BitsOf(double x) { return std::bit_cast<uint64_t>(x); }
double FromBits(uint64_t bits) { return std::bit_cast<double>(bits); }
int BiasedExponent(uint64_t bits) { return static_cast<int>((bits >> kMantissaBits) & 0x7ff); }
uint64_t ExponentField(int biased) { return static_cast<uint64_t>(biased) << kMantissaBits; }

// 2^n for -1022 <= n <= 1023, a normal double.
double PowerOfTwo(int n) { return FromBits(ExponentField(n + kBias)); }

// FloorToInt for z within (-2049, 1025), without branches: truncation, one less where that
// went up.
int32_t FloorWithin(double z) {
  const int32_t truncated = static_cast<int32_t>(z);
  return truncated - static_cast<int32_t>(z < truncated);
}

// x * 2^n by its exponent field alone, when x is normal and so is the result: every product of
// ScaleByPowerOfTwo's loop is then exact. False, with *result untouched, otherwise.
bool ScaleWithinNormals(uint64_t bits, int32_t n, double* result) {
  const int biased = BiasedExponent(bits);
  const int64_t scaled = int64_t{biased} + n;
  if (n > 1023 || biased == 0 || biased == kBiasedInfinite || scaled < 1 || scaled > kBiasedHighest)
    return false;
  *result = FromBits(bits + (static_cast<uint64_t>(int64_t{n}) << kMantissaBits));
  return true;
}

// x * 2^n rounded once to the subnormal grid (multiples of 2^-1074, ties to even), for a normal
// x with biased exponent `biased` and a result below 2^-1022 (biased + n < 1). A multiplication
// that makes or takes a subnormal is finished by microcode on some processors, which throws away
// all the work in flight behind it; so the magnitude is scaled exactly to count units of
// 2^-1074, a normal number below 2^52, and the sum with 2^52, whose units place is 1, rounds it
// to a whole number of them: that sum's bits, less those of 2^52, are the result's. A carry up
// to 2^53 gives 2^-1022, as it should.
double RoundedBelowNormals(uint64_t bits, int biased, int32_t n) {
  const uint64_t sign = bits & kSignBit;
  const int64_t unitsExponent = int64_t{n} + kSubnormalUnitsExponent;
  if (biased + unitsExponent < 1) return FromBits(sign);  // below 2^-1075: a zero of x's sign
  const double units = FromBits((bits & ~kSignBit) +
                                (static_cast<uint64_t>(unitsExponent) << kMantissaBits));  // exact
  return FromBits(sign | (BitsOf(units + kUnitsRounder) - BitsOf(kUnitsRounder)));
}

// ScaleByPowerOfTwo's loop as written, for the cases where products may round.
double ScaleStepByStep(double x, int32_t n) {
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

// For a positive normal x: the exponent e that SplitExponent gives for x / sqrt2 (rounded, in the
// normal range), and x / 2^e. With x = M * 2^E, M in [1, 2), the quotient M / sqrt2 rounds to 1
// or more exactly when M >= sqrt2 (the double below sqrt2 gives 1 - 0.707 * 2^-52, which rounds
// below 1): then x / sqrt2 lies in [2^E, 2^(E+1)) and e = E + 1, otherwise e = E.
double SplitAtSqrt2(uint64_t bits, int32_t* e) {
  const uint64_t mantissa = bits & kMantissaMask;
  const int up = mantissa >= kSqrt2Mantissa ? 1 : 0;
  *e = BiasedExponent(bits) - kBias + up;
  return FromBits(mantissa | ExponentField(kBias - up));  // M or M / 2: exact
}

}  // namespace

double AbsoluteValue(double x) {
  if (x < 0) return x * -1.0;
  return x;
}

double ToDouble(double x) { return x; }

int32_t FloorToInt(double x) {
  if (!(x >= kInt32Lowest)) return x != x ? 0 : INT32_MIN;  // NaN, or a floor below the range
  if (x >= kInt32Beyond) return INT32_MAX;
  int32_t n = static_cast<int32_t>(x);  // truncation toward zero, whatever the rounding mode
  if (x < 0 && x < n) n = n - 1;        // n converts exactly
  return n;
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
  // A zero, an infinity or a NaN is its own answer for every count. The loop would multiply it
  // by a factor that has overflowed to infinity or underflowed to 0 and make a NaN of 0 * inf,
  // and a count of 0, where the loop runs no pass, must not quiet a signalling NaN either.
  if (n == 0 || x == 0 || biased == kBiasedInfinite) return x;
  // Normal x, normal result, every factor finite (n <= 1023; n >= -2047 follows): each product of
  // the loop is a normal number times a power of two, so exact, and only the exponent moves.
  double scaled = 0.0;
  if (ScaleWithinNormals(bits, n, &scaled)) return scaled;
  if (n >= 0) {
    // The products grow, stay exact until the first one overflows, and infinity then stays:
    // one product by 2^n rounds the same way.
    if (n <= 1023) return x * PowerOfTwo(n);
    // The factor passed 2^1024 = infinity: x, finite and not zero, times infinity.
    return x * kInfinity;
  }
  // The factor reached 2^-2048 = 0: x, finite and not zero, times 0.
  if (n <= -2048) return x * 0.0;
  // The result is subnormal or zero. The products stay exact as long as they are normal: when
  // they are all normal up to the last factor (the top bit of |n|), take them at once and round
  // only at that last product, as the loop does.
  const uint32_t count = 0u - static_cast<uint32_t>(n);  // 1 to 2047
  const uint32_t lastCount = std::bit_floor(count);      // the last factor is 2^-lastCount
  const uint32_t below = count - lastCount;
  if (biased != 0 && static_cast<int64_t>(biased) - below >= 1) {
    return RoundedBelowNormals(bits, biased, n);
  }
  // Subnormal x, or products that go subnormal early: they may round more than once, so take
  // them one by one.
  return ScaleStepByStep(x, n);
}

double SplitExponent(double x, int32_t* e) {
  if (x == 0 || x != x) {
    *e = 0;
    return 0.0;
  }
  uint64_t bits = BitsOf(x);
  int biased = BiasedExponent(bits);
  if (biased == kBiasedInfinite) {  // no finite split: the infinity as it is
    *e = 0;
    return x;
  }
  if (biased == 0) {
    // Subnormal: shift the significand up until its leading one is the hidden bit, with integer
    // operations (arithmetic on subnormals stalls some processors).
    const int shift = std::countl_zero(bits & kMantissaMask) - (63 - kMantissaBits);
    bits = (bits & kSignBit) | ((bits << shift) & kMantissaMask);
    biased = 1 - shift;
  }
  // x / 2^e is exact for the e that brings |x| into [0.5, 1): same sign and significand, the
  // exponent of 0.5.
  *e = biased - kBiasedHalf;
  return FromBits((bits & ~kExponentMask) | ExponentField(kBiasedHalf));
}

namespace {

// The bodies of Exponential and NaturalLog, inlined into RealPower as well: there the two chains
// of divisions run back to back, and a call, a return and the checks repeated between them take
// room in the processor's window that would otherwise hold the next call's work.
[[gnu::always_inline]] inline double ExponentialInline(double x) {
  // n = floor(x / ln2 + half), half = 0.5 for x >= 0 (-0 included) and -0.5 below. For
  // |x| < 1420, p = x * (1 / ln2) lies within 2^-41 of x / ln2, and the written sum of half and
  // x / ln2 within 2^-42 of the exact one. Adding 1.5 * 2^20 rounds p to a multiple of 2^-32
  // (|p| < 2^19), and the bit pattern of that sum, less that of 1.5 * 2^20, counts p in units of
  // 2^-32. Where p + 1/2 so counted is further than 16 units from a whole number, so is the
  // written sum: n is the whole part of p + 1/2, one less for p < 0 (x < 0), and the division,
  // the longest step before the continued fraction can start, is left out.
  // The same count tells the usual arguments from those the checks below are for, so inside
  // RealPower, where x comes at the end of a long chain of divisions, few operations wait for
  // x, none of them a branch on its sign: each holds a place in the processor's window that the
  // next call's work could use, and a mispredicted branch throws that work away.
  const int64_t units = static_cast<int64_t>(BitsOf(x * kInvLn2 + kFractionShift) -
                                             kFractionShiftBits);     // NaN: far out of range
  const uint64_t upUnits = static_cast<uint64_t>(units) + kHalfUnit;  // p + 1/2
  // The whole part by an arithmetic shift (a floor), one less for p < 0.
  int32_t n = static_cast<int32_t>(static_cast<int64_t>(upUnits) >> kFractionBits) -
              static_cast<int32_t>(units < 0);
  const uint32_t fraction = static_cast<uint32_t>(upUnits);
  // Unsigned, so that a count far out of range (x far below -1420, or a NaN) wraps instead of
  // overflowing.
  const bool usual =
      static_cast<uint64_t>(units) - static_cast<uint64_t>(kUsualUnitsLow) < kUsualUnitsSpan;
  // A count of 0 (|p| < 2^-33) does not tell x's sign.
  if (!usual || units == 0 || fraction - kNearWholeUnits > UINT32_MAX - 2 * kNearWholeUnits) {
    if (x != x) return x + x;  // a NaN, quiet, sign and payload kept
    if (x >= kExpInfiniteFrom) return kInfinity;
    if (x <= kExpZeroFrom) return 0.0;
    const double half = static_cast<double>(x >= 0) - kHalf;  // q - 0.5 is q + (-0.5)
    n = FloorWithin(x / kLn2 + half);
  }
  const double r = x - n * kLn2;
  const double s = r * r;
  double g = s / 22;
  g = s / (g + 18);
  g = s / (g + 14);
  g = s / (g + 10);
  g = s / (g + 6);
  const double q = ((g + 2) + r) / ((g + 2) - r);
  double result = 0.0;
  if (ScaleWithinNormals(BitsOf(q), n, &result)) return result;
  // q lies in about [0.7, 2.9): for n down to -2045 the products of ScaleByPowerOfTwo's loop are
  // normal up to its last, so a result below the normals is rounded once, there.
  if (n < 0 && n >= kExpRoundedOnceFrom)
    return RoundedBelowNormals(BitsOf(q), BiasedExponent(BitsOf(q)), n);
  return ScaleByPowerOfTwo(q, n);
}

[[gnu::always_inline]] inline double NaturalLogInline(double x) {
  if (!(x > 0)) return 0.0;  // zero, negative or NaN
  if (x == kInfinity) return kInfinity;
  const uint64_t bits = BitsOf(x);
  int32_t e = 0;
  double reduced = 0.0;  // x / 2^e, exact
  if (BiasedExponent(bits) >= 2) {
    // x >= 2^-1021, so x / sqrt2 is normal and its exponent follows from x's bits. At the top
    // (e = 1024) the same split serves beyond the range.
    reduced = SplitAtSqrt2(bits, &e);
  } else {
    // x < 2^-1021, x = X * 2^-1074 with the whole number X = 2^E * m below 2^53, m in [1, 2).
    // x / sqrt2 then lies on the grid of 2^-1074: it is X / sqrt2 rounded to a whole number R.
    // R reaches 2^E exactly when X / sqrt2 >= 2^E - 1/2 (a tie rounds up to the even 2^E),
    // that is when sqrt2 - m <= sqrt2 * 2^-(E+1). With m and sqrt2 as 53-bit whole numbers
    // M and S (significands), that is S - M <= S / 2^(E+1), and as S - M is whole, S - M <=
    // floor(S / 2^(E+1)): an exact integer comparison, and no subnormal is divided.
    // Otherwise R lies in [2^(E-1), 2^E). The split of R * 2^-1074 is in range from R >= 2^50,
    // so from E = 50 up; below, beyond the range, x itself is split exactly: the same
    // comparison against 0, as for a normal x.
    const uint64_t whole = (bits & kMantissaMask) | (BiasedExponent(bits) == 1 ? kHiddenBit : 0);
    const int top = 63 - std::countl_zero(whole);  // E
    const uint64_t significand = (whole << (kMantissaBits - top)) & kMantissaMask;
    const int64_t below = static_cast<int64_t>(kSqrt2Mantissa) - static_cast<int64_t>(significand);
    const int64_t roundsUpWithin =
        top >= 50 ? static_cast<int64_t>((kSqrt2Mantissa | kHiddenBit) >> (top + 1)) : 0;
    const int up = below <= roundsUpWithin ? 1 : 0;
    e = top + up - 1074;
    reduced = FromBits(significand | ExponentField(kBias - up));  // X / 2^(E + up): m or m / 2
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

}  // namespace

double Exponential(double x) { return ExponentialInline(x); }

double NaturalLog(double x) { return NaturalLogInline(x); }

double RealPower(double x, double y) {
  if (y >= -kWholeExponentBound && y <= kWholeExponentBound) {
    // y equals its floor exactly when it is whole, and then the floor is the truncation: so
    // truncate, which needs no branch on y's sign.
    const int32_t n = static_cast<int32_t>(y);
    if (y == ToDouble(n)) return IntegerPower(x, n);
  }
  if (x > 0) return ExponentialInline(y * NaturalLogInline(x));
  return 0.0;
}

}  // namespace runtime
