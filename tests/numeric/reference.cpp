// The written steps, one statement per step.
#include "tests/numeric/reference.h"

#include <cstdint>
#include <initializer_list>
#include <limits>

namespace reference {
namespace {

constexpr double kLn2 = 0x1.62e42fefa39efp-1;    // 0.6931471805599453
constexpr double kSqrt2 = 0x1.6a09e667f3bcdp+0;  // 1.4142135623730951
constexpr double kHalf = 0x1p-1;                 // 0.5

constexpr double kInt32Lowest = -0x1p+31;   // -2147483648
constexpr double kInt32Beyond = 0x1p+31;    // 2147483648
constexpr double kSplitLowest = 0x1p-1024;  // 5.562684646268003e-309
constexpr double kSplitBeyond = 0x1p+1023;  // 8.98846567431158e+307

}  // namespace

double AbsoluteValue(double x) {
  if (x < 0) return x * (-1.0);
  return x;
}

double ToDouble(double x) { return x; }

int32_t FloorToInt(double x) {
  int32_t n = static_cast<int32_t>(x);
  if (x < 0 && x < static_cast<double>(n)) n = n - 1;
  return n;
}

double IntegerPower(double x, int32_t n) {
  uint32_t m = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
  double acc = 1.0;
  while (m != 0) {
    if (m % 2 == 1) acc = acc * x;
    x = x * x;
    m = m / 2;
  }
  if (n >= 0) return acc;
  return 1.0 / acc;
}

double ScaleByPowerOfTwo(double x, int32_t n) {
  double f;
  uint32_t count;
  if (n >= 0) {
    f = 2.0;
    count = static_cast<uint32_t>(n);
  } else {
    f = kHalf;
    count = 0u - static_cast<uint32_t>(n);
  }
  while (count != 0) {
    if (count % 2 == 1) x = x * f;
    f = f * f;
    count = count / 2;
  }
  return x;
}

double SplitExponent(double x, int32_t* e) {
  if (x == 0 || x != x) {
    *e = 0;
    return 0.0;
  }
  *e = 0;
  const int32_t step = AbsoluteValue(x) >= 1 ? 1 : -1;
  while (true) {
    const double m = x / IntegerPower(2.0, *e);
    if (kHalf <= AbsoluteValue(m) && AbsoluteValue(m) < 1) return m;
    *e = *e + step;
    if (*e > kSearchLimit || *e < -kSearchLimit) {  // the search would never end
      *e = INT32_MIN;
      return std::numeric_limits<double>::quiet_NaN();
    }
  }
}

double Exponential(double x) {
  double z;
  if (x >= 0) {
    z = x / kLn2 + kHalf;
  } else {
    z = x / kLn2 - kHalf;
  }
  const int32_t n = FloorToInt(z);
  const double r = x - (n * kLn2);
  const double s = r * r;
  double g = s / 22;
  for (const int k : {18, 14, 10, 6}) g = s / (g + k);
  const double q = ((g + 2) + r) / ((g + 2) - r);
  return ScaleByPowerOfTwo(q, n);
}

double NaturalLog(double x) {
  if (x <= 0 || x != x) return 0.0;
  int32_t e = 0;
  SplitExponent(x / kSqrt2, &e);
  const double reduced = x / ScaleByPowerOfTwo(1.0, e);
  const double t = reduced - 1;
  double g = 0.0;
  for (int k = 9; k >= 1; --k) {
    const double a = k * t;
    const double d = a / (g + (2 * k + 1));
    g = a / (d + 2);
  }
  return (e * kLn2) + t / (g + 1);
}

double RealPower(double x, double y) {
  if (-2147483647.0 <= y && y <= 2147483647.0 && y == ToDouble(FloorToInt(y))) {
    return IntegerPower(x, static_cast<int32_t>(y));
  }
  if (x > 0) return Exponential(y * NaturalLog(x));
  return 0.0;
}

bool FloorToIntDefined(double x) { return x >= kInt32Lowest && x < kInt32Beyond; }

bool SplitExponentDefined(double x) {
  if (x == 0 || x != x) return true;
  const double magnitude = AbsoluteValue(x);
  return magnitude >= kSplitLowest && magnitude < kSplitBeyond;
}

bool ExponentialDefined(double x) {
  const double z = x >= 0 ? x / kLn2 + kHalf : x / kLn2 - kHalf;
  return FloorToIntDefined(z);
}

bool NaturalLogDefined(double x) {
  if (x <= 0 || x != x) return true;
  const double v = x / kSqrt2;
  return v >= kSplitLowest && v < kSplitBeyond;
}

bool RealPowerDefined(double x, double y) {
  if (-2147483647.0 <= y && y <= 2147483647.0 && y == ToDouble(FloorToInt(y))) return true;
  if (!(x > 0)) return true;
  return NaturalLogDefined(x) && ExponentialDefined(y * NaturalLog(x));
}

}  // namespace reference
