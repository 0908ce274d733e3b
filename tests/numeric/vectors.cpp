// The vector spread. Each routine gets its own mix of argument kinds: ordinary values, every
// finite exponent, subnormals, the largest and smallest normals, whole and half-way numbers,
// the edges of each routine's range, zeros, infinities and NaNs.
#include "tests/numeric/vectors.h"

#include <bit>
#include <cinttypes>
#include <cstdio>

namespace vectors {
namespace {

// splitmix64: small, fast and the same everywhere.
struct Rng {
  uint64_t state;
  uint64_t Next() {
    state += 0x9e3779b97f4a7c15;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
  }
  int64_t Between(int64_t low, int64_t high) {  // inclusive
    return low + static_cast<int64_t>(Next() % static_cast<uint64_t>(high - low + 1));
  }
  bool Coin() { return Next() % 2 == 0; }
};

double FromBits(uint64_t bits) { return std::bit_cast<double>(bits); }
uint64_t BitsOf(double x) { return std::bit_cast<uint64_t>(x); }
constexpr uint64_t kMantissaMask = (uint64_t{1} << 52) - 1;
constexpr uint64_t kSign = uint64_t{1} << 63;

// Quiet NaNs only: the 32-bit Windows build returns doubles on the x87 stack, which quiets a
// signalling NaN, so those would not compare equal across builds.
constexpr uint64_t kSpecialBits[] = {
    0x0000000000000000, 0x8000000000000000,  // +-0
    0x7ff0000000000000, 0xfff0000000000000,  // +-infinity
    0x7ff8000000000000, 0xfff8000000000000,  // quiet NaNs
    0x7ff8000000000123, 0xfffc0000deadbeef,  // quiet NaNs with payloads
    0x0000000000000001, 0x8000000000000001,  // smallest subnormal
    0x000fffffffffffff, 0x0010000000000000,  // largest subnormal, smallest normal
    0x7fefffffffffffff, 0xffefffffffffffff,  // largest finite
    0x3ff0000000000000, 0xbff0000000000000,  // +-1
    0x3fe0000000000000, 0x4000000000000000,  // 0.5, 2
};

double Special(Rng& rng) {
  return FromBits(kSpecialBits[rng.Next() % (sizeof kSpecialBits / sizeof kSpecialBits[0])]);
}

double WithSign(Rng& rng, double x) { return rng.Coin() ? x : -x; }

// A positive double with a biased exponent in [low, high] and a random significand.
double Positive(Rng& rng, int low, int high) {
  const uint64_t biased = static_cast<uint64_t>(rng.Between(low, high));
  uint64_t mantissa = rng.Next() & kMantissaMask;
  if (biased == 0 && mantissa == 0) mantissa = 1;
  return FromBits(biased << 52 | mantissa);
}

// Up to 4 ulps either side of x (same sign); infinities and NaNs stay as they are.
double Near(Rng& rng, double x) {
  const int64_t delta = rng.Between(-4, 4);
  const uint64_t bits = BitsOf(x);
  const uint64_t magnitude = bits & ~kSign;
  if (delta < 0 && magnitude < static_cast<uint64_t>(-delta)) return x;
  const uint64_t moved = bits + static_cast<uint64_t>(delta);
  if ((moved >> 52 & 0x7ff) == 0x7ff) return x;  // never step onto an infinity or a NaN
  return FromBits(moved);
}

double Whole(Rng& rng) {
  const int bits = static_cast<int>(rng.Between(0, 53));
  const uint64_t magnitude = bits == 0 ? 0 : rng.Next() >> (64 - bits);
  return WithSign(rng, static_cast<double>(magnitude));
}

double HalfWay(Rng& rng) {
  const int bits = static_cast<int>(rng.Between(0, 51));
  const uint64_t magnitude = bits == 0 ? 0 : rng.Next() >> (64 - bits);
  return WithSign(rng, static_cast<double>(magnitude) + 0.5);
}

double Ordinary(Rng& rng) { return WithSign(rng, Positive(rng, 1023 - 8, 1023 + 5)); }

// Any double of any kind, evenly over the kinds.
double Mixed(Rng& rng) {
  switch (rng.Between(0, 8)) {
    case 0:
      return Special(rng);
    case 1:
      return Ordinary(rng);
    case 2:
      return WithSign(rng, Positive(rng, 0, 2046));  // any finite exponent
    case 3:
      return WithSign(rng, Positive(rng, 0, 0));  // subnormal
    case 4:
      return WithSign(rng, Positive(rng, 2030, 2046));  // huge
    case 5:
      return WithSign(rng, Positive(rng, 1, 16));  // tiny normals
    case 6:
      return Whole(rng);
    case 7:
      return HalfWay(rng);
    default:
      return Near(rng, Special(rng));
  }
}

int32_t Count(Rng& rng) {
  static constexpr int32_t kEdges[] = {0,    1,    2,    52,   53,   64,   511,  512,  1022, 1023,
                                       1024, 1025, 1074, 1075, 2046, 2047, 2048, 2049, 4096, 65536};
  switch (rng.Between(0, 5)) {
    case 0:
      return static_cast<int32_t>(rng.Between(-40, 40));
    case 1:
      return static_cast<int32_t>(rng.Between(-2100, 1100));
    case 2:
      return static_cast<int32_t>(rng.Next());
    case 3: {
      const int32_t edge = kEdges[rng.Next() % (sizeof kEdges / sizeof kEdges[0])];
      return rng.Coin() ? edge : -edge;
    }
    case 4:
      return rng.Coin() ? INT32_MIN + static_cast<int32_t>(rng.Between(0, 3))
                        : INT32_MAX - static_cast<int32_t>(rng.Between(0, 3));
    default:
      return static_cast<int32_t>(rng.Between(-1080, 1080));
  }
}

double FloorArgument(Rng& rng) {
  static constexpr double kEdges[] = {0x1p+31,      -0x1p+31,      2147483647.5, -2147483648.5,
                                      2147483646.5, -2147483647.5, 0.5,          -0.5,
                                      1.0,          -1.0};
  switch (rng.Between(0, 4)) {
    case 0:
      return Near(rng, kEdges[rng.Next() % (sizeof kEdges / sizeof kEdges[0])]);
    case 1:
      return WithSign(rng, Positive(rng, 1023 - 3, 1023 + 31));
    default:
      return Mixed(rng);
  }
}

double PowerBase(Rng& rng) {
  switch (rng.Between(0, 4)) {
    case 0:
      return Near(rng, rng.Coin() ? 1.0 : -1.0);  // large counts stay finite
    case 1:
      return Whole(rng);
    default:
      return Mixed(rng);
  }
}

// A double x and a count n such that x * 2^n lands near or in the subnormal range.
Case ScaleIntoSubnormals(Rng& rng) {
  const double x = WithSign(rng, Positive(rng, 1, 2046));
  const int biased = static_cast<int>(BitsOf(x) >> 52 & 0x7ff);
  const int32_t n = static_cast<int32_t>(-biased - rng.Between(-2, 54));
  return {Routine::ScaleByPowerOfTwo, x, 0.0, n};
}

double SplitArgument(Rng& rng) {
  static constexpr double kEdges[] = {0x1p-1024, 0x1p-1023, 0x1p-1022, 0x1p+1023,
                                      0x1p+1022, 0.5,       1.0,       2.0};
  switch (rng.Between(0, 3)) {
    case 0:
      return WithSign(rng, Near(rng, kEdges[rng.Next() % (sizeof kEdges / sizeof kEdges[0])]));
    case 1:
      return WithSign(rng, Positive(rng, 0, 2046));
    default:
      return Mixed(rng);
  }
}

double ExponentialArgument(Rng& rng) {
  static constexpr double kEdges[] = {709.436139303104,
                                      709.782712893384,
                                      -708.3964185322641,
                                      -745.1332191019411,
                                      -745.1332191019412,
                                      -744.4400719213812,
                                      -1419.0,
                                      1.4885e9,
                                      -1.4885e9,
                                      0.34657359027997264};
  switch (rng.Between(0, 5)) {
    case 0:
      return WithSign(rng, Positive(rng, 1023 - 30, 1023 + 4));  // |x| < 32
    case 1:
      return static_cast<double>(rng.Between(-760000, 760000)) / 1000.0;
    case 2:
      return Near(rng, kEdges[rng.Next() % (sizeof kEdges / sizeof kEdges[0])]);
    case 3: {  // the half-way points of the reduction, (k + 0.5) ln2
      const double k = static_cast<double>(rng.Between(-1100, 1100)) + 0.5;
      return Near(rng, k * 0x1.62e42fefa39efp-1);
    }
    default:
      return Mixed(rng);
  }
}

double LogArgument(Rng& rng) {
  static constexpr double kEdges[] = {1.0,
                                      0x1.6a09e667f3bcdp+0,
                                      0x1.6a09e667f3bcdp-1,
                                      7.87e-309,
                                      0x1.6a09e667f3bcdp-1024,
                                      0x1.6a09e667f3bcdp+1022,
                                      0x1.6a09e667f3bcdp+1023,
                                      1.2712e308,
                                      0x1p-1021,
                                      0x1p-1022};
  switch (rng.Between(0, 6)) {
    case 0:
      return Near(rng, kEdges[rng.Next() % (sizeof kEdges / sizeof kEdges[0])]);
    case 1:
      return Positive(rng, 0, 2046);
    case 2:
      return Positive(rng, 0, 1);
    case 3: {  // significands either side of sqrt2, at any exponent
      const double m = Near(rng, 0x1.6a09e667f3bcdp+0);
      return FromBits((BitsOf(m) & kMantissaMask) | static_cast<uint64_t>(rng.Between(1, 2046))
                                                        << 52);
    }
    case 4:
      return Positive(rng, 1023 - 8, 1023 + 8);
    default:
      return Mixed(rng);
  }
}

Case RealPowerCase(Rng& rng) {
  static constexpr double kExponentEdges[] = {
      2147483647.0, -2147483647.0, 2147483648.0, -2147483648.0, 0.5, -0.5, 1.0 / 3.0, 0.0};
  double x = 0.0;
  switch (rng.Between(0, 3)) {
    case 0:
      x = Positive(rng, 1023 - 8, 1023 + 8);
      break;
    case 1:
      x = PowerBase(rng);
      break;
    default:
      x = Mixed(rng);
      break;
  }
  double y = 0.0;
  switch (rng.Between(0, 5)) {
    case 0:
      y = Ordinary(rng);
      break;
    case 1:
      y = static_cast<double>(rng.Between(-64, 64));
      break;
    case 2:
      y = Near(rng,
               kExponentEdges[rng.Next() % (sizeof kExponentEdges / sizeof kExponentEdges[0])]);
      break;
    case 3:
      y = HalfWay(rng);
      break;
    default:
      y = Mixed(rng);
      break;
  }
  return {Routine::RealPower, x, y, 0};
}

struct Share {
  Routine routine;
  int count;
};
constexpr Share kShares[] = {
    {Routine::AbsoluteValue, 4000},      {Routine::ToDouble, 4000},
    {Routine::FloorToInt, 12000},        {Routine::IntegerPower, 14000},
    {Routine::ScaleByPowerOfTwo, 16000}, {Routine::SplitExponent, 12000},
    {Routine::Exponential, 14000},       {Routine::NaturalLog, 14000},
    {Routine::RealPower, 16000},
};

Case MakeCase(Rng& rng, Routine routine) {
  switch (routine) {
    case Routine::AbsoluteValue:
    case Routine::ToDouble:
      return {routine, Mixed(rng), 0.0, 0};
    case Routine::FloorToInt:
      return {routine, FloorArgument(rng), 0.0, 0};
    case Routine::IntegerPower:
      return {routine, PowerBase(rng), 0.0, Count(rng)};
    case Routine::ScaleByPowerOfTwo:
      if (rng.Coin()) return ScaleIntoSubnormals(rng);
      return {routine, Mixed(rng), 0.0, Count(rng)};
    case Routine::SplitExponent:
      return {routine, SplitArgument(rng), 0.0, 0};
    case Routine::Exponential:
      return {routine, ExponentialArgument(rng), 0.0, 0};
    case Routine::NaturalLog:
      return {routine, LogArgument(rng), 0.0, 0};
    case Routine::RealPower:
      return RealPowerCase(rng);
  }
  return {routine, 0.0, 0.0, 0};
}

}  // namespace

const char* RoutineName(Routine routine) {
  switch (routine) {
    case Routine::AbsoluteValue:
      return "AbsoluteValue";
    case Routine::ToDouble:
      return "ToDouble";
    case Routine::FloorToInt:
      return "FloorToInt";
    case Routine::IntegerPower:
      return "IntegerPower";
    case Routine::ScaleByPowerOfTwo:
      return "ScaleByPowerOfTwo";
    case Routine::SplitExponent:
      return "SplitExponent";
    case Routine::Exponential:
      return "Exponential";
    case Routine::NaturalLog:
      return "NaturalLog";
    case Routine::RealPower:
      return "RealPower";
  }
  return "?";
}

std::vector<Case> Generate(uint64_t seed) {
  Rng rng{seed};
  std::vector<Case> cases;
  for (const Share& share : kShares) {
    for (int i = 0; i < share.count; ++i) cases.push_back(MakeCase(rng, share.routine));
  }
  return cases;
}

std::string Format(const Case& c) {
  char text[96];
  switch (c.routine) {
    case Routine::IntegerPower:
    case Routine::ScaleByPowerOfTwo:
      std::snprintf(text, sizeof text, "%s %016" PRIx64 " %" PRId32, RoutineName(c.routine),
                    BitsOf(c.x), c.n);
      break;
    case Routine::RealPower:
      std::snprintf(text, sizeof text, "%s %016" PRIx64 " %016" PRIx64, RoutineName(c.routine),
                    BitsOf(c.x), BitsOf(c.y));
      break;
    default:
      std::snprintf(text, sizeof text, "%s %016" PRIx64, RoutineName(c.routine), BitsOf(c.x));
      break;
  }
  return text;
}

}  // namespace vectors
