// libFuzzer target: every numeric routine on doubles and ints made from the input's bits.
//
// Where the written steps are defined (tests/numeric/reference.cpp and its predicates), each
// result must be theirs bit for bit. Beyond that, it must be the answer runtime/numeric.h
// documents for the routine. A call that never returns shows as a libFuzzer time-out.
//
// The input is read in records of 22 bytes: two bytes that say how to build the arguments, then
// the raw bits of x (8 bytes), y (8 bytes) and n (4 bytes), little-endian. Besides raw bits, the
// arguments can be built near the places where the routines turn: whole numbers, the points
// where Exponential's reduction count steps, significands near sqrt2's, the subnormal range and
// the ends of each routine's range.
#include <bit>
#include <cfenv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>

#include "runtime/numeric.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/numeric/reference.h"

namespace {

constexpr double kLn2 = 0x1.62e42fefa39efp-1;    // 0.6931471805599453
constexpr double kSqrt2 = 0x1.6a09e667f3bcdp+0;  // 1.4142135623730951
constexpr double kInfinity = std::numeric_limits<double>::infinity();

constexpr uint64_t kSignBit = uint64_t{1} << 63;
constexpr uint64_t kExponentMask = uint64_t{0x7ff} << 52;
constexpr uint64_t kMantissaMask = (uint64_t{1} << 52) - 1;
constexpr uint64_t kQuietBit = uint64_t{1} << 51;
constexpr uint64_t kSqrt2Mantissa = std::bit_cast<uint64_t>(kSqrt2) & kMantissaMask;

constexpr std::size_t kRecordSize = 22;
constexpr std::size_t kMostRecords = 64;

uint64_t Bits(double x) { return std::bit_cast<uint64_t>(x); }
double FromBits(uint64_t bits) { return std::bit_cast<double>(bits); }

// The call under check, for the report of a failed check.
struct Call {
  const char* routine = "";
  double x = 0;
  double y = 0;
  int32_t n = 0;
} current;

void Describe() {
  std::fprintf(stderr, "  in %s: x = %a (%016llx), y = %a (%016llx), n = %d\n", current.routine,
               current.x, static_cast<unsigned long long>(Bits(current.x)), current.y,
               static_cast<unsigned long long>(Bits(current.y)), current.n);
}

void Enter(const char* routine, double x, double y = 0, int32_t n = 0) {
  current = {routine, x, y, n};
}

// The two doubles have the same bits; on a mismatch both are printed before the failure.
#define CHECK_SAME_BITS(got, want) CheckSameBits((got), (want), __FILE__, __LINE__, #got)
void CheckSameBits(double got, double want, const char* file, int line, const char* what) {
  if (Bits(got) == Bits(want)) return;
  std::fprintf(stderr, "%s gave %a (%016llx), expected %a (%016llx)\n", what, got,
               static_cast<unsigned long long>(Bits(got)), want,
               static_cast<unsigned long long>(Bits(want)));
  fuzz::Fail(file, line, "same bits");
}

// A NaN with the sign and payload of `from`, quiet or not.
bool SameNaN(double got, double from) {
  return std::isnan(got) && (Bits(got) | kQuietBit) == (Bits(from) | kQuietBit);
}

void CheckAbsoluteValue(double x) {
  Enter("AbsoluteValue", x);
  CHECK_SAME_BITS(runtime::AbsoluteValue(x), reference::AbsoluteValue(x));
}

void CheckToDouble(double x) {
  Enter("ToDouble", x);
  CHECK_SAME_BITS(runtime::ToDouble(x), x);
}

// Under the given rounding mode, which the call must leave as it found it.
void CheckFloorToInt(double x, int rounding) {
  Enter("FloorToInt", x);
  FUZZ_CHECK(std::fesetround(rounding) == 0);
  const int32_t n = runtime::FloorToInt(x);
  const int after = std::fegetround();
  std::fesetround(FE_TONEAREST);
  FUZZ_CHECK(after == rounding);
  if (reference::FloorToIntDefined(x)) {
    FUZZ_CHECK(n == reference::FloorToInt(x));
  } else if (std::isnan(x)) {
    FUZZ_CHECK(n == 0);
  } else {
    FUZZ_CHECK(n == (x > 0 ? INT32_MAX : INT32_MIN));  // saturated
  }
}

void CheckIntegerPower(double x, int32_t n) {
  Enter("IntegerPower", x, 0, n);
  CHECK_SAME_BITS(runtime::IntegerPower(x, n), reference::IntegerPower(x, n));
}

// A zero, an infinity or a NaN comes back as it is, every bit kept, where the written steps
// may multiply it by an overflowed or underflowed factor; every other x gets the steps' bits.
void CheckScaleByPowerOfTwo(double x, int32_t n) {
  Enter("ScaleByPowerOfTwo", x, 0, n);
  const double r = runtime::ScaleByPowerOfTwo(x, n);
  if (x == 0 || !std::isfinite(x)) {
    CHECK_SAME_BITS(r, x);
  } else {
    CHECK_SAME_BITS(r, reference::ScaleByPowerOfTwo(x, n));
  }
}

void CheckSplitExponent(double x) {
  Enter("SplitExponent", x);
  int32_t e = 12345;
  const double m = runtime::SplitExponent(x, &e);
  if (x == 0 || std::isnan(x)) {
    CHECK_SAME_BITS(m, 0.0);
    FUZZ_CHECK(e == 0);
  } else if (std::isinf(x)) {
    CHECK_SAME_BITS(m, x);
    FUZZ_CHECK(e == 0);
  } else {
    // Every finite x, in the range or beyond it: x = m * 2^e exactly, 0.5 <= |m| < 1.
    FUZZ_CHECK(std::fabs(m) >= 0.5 && std::fabs(m) < 1);
    FUZZ_CHECK(e >= -1073 && e <= 1024);
    CHECK_SAME_BITS(std::ldexp(m, e), x);  // exact: the product is x itself
  }
  if (reference::SplitExponentDefined(x)) {
    int32_t referenceE = 0;
    CHECK_SAME_BITS(m, reference::SplitExponent(x, &referenceE));
    FUZZ_CHECK(e == referenceE);
  }
}

void CheckExponential(double x) {
  Enter("Exponential", x);
  const double r = runtime::Exponential(x);
  if (reference::ExponentialDefined(x)) {
    CHECK_SAME_BITS(r, reference::Exponential(x));
  } else if (std::isnan(x)) {
    FUZZ_CHECK(SameNaN(r, x));
  } else {
    CHECK_SAME_BITS(r, x > 0 ? kInfinity : 0.0);
  }
}

// ln x for a positive finite x beyond NaturalLog's range, as numeric.h describes it: x split
// exactly as reduced * 2^e, with reduced in [sqrt2 / 2, sqrt2) by x's own significand, then
// the same continued fraction as within the range.
double LogOfExactSplit(double x) {
  int exponent = 0;
  const double half = std::frexp(x, &exponent);  // x = half * 2^exponent, 0.5 <= half < 1
  double reduced = 2 * half;                     // in [1, 2)
  int32_t e = exponent - 1;
  if (reduced >= kSqrt2) {
    reduced = half;
    e = exponent;
  }
  const double t = reduced - 1;
  double g = 0.0;
  for (int k = 9; k >= 1; --k) {
    const double a = k * t;
    const double d = a / (g + (2 * k + 1));
    g = a / (d + 2);
  }
  return (e * kLn2) + t / (g + 1);
}

void CheckNaturalLog(double x) {
  Enter("NaturalLog", x);
  const double r = runtime::NaturalLog(x);
  if (reference::NaturalLogDefined(x)) {
    CHECK_SAME_BITS(r, reference::NaturalLog(x));
  } else if (x == kInfinity) {
    CHECK_SAME_BITS(r, kInfinity);
  } else {
    CHECK_SAME_BITS(r, LogOfExactSplit(x));
  }
}

bool WholeExponent(double y) {
  return y >= -2147483647.0 && y <= 2147483647.0 && std::floor(y) == y;
}

void CheckRealPower(double x, double y) {
  Enter("RealPower", x, y);
  const double r = runtime::RealPower(x, y);
  if (reference::RealPowerDefined(x, y)) {
    CHECK_SAME_BITS(r, reference::RealPower(x, y));
    return;
  }
  // Only a positive base with an exponent that is not a whole number within the bounds gets
  // here: the logarithm or the exponential is beyond its range, or y is not finite.
  FUZZ_CHECK(x > 0 && !WholeExponent(y));
  const double logarithm = runtime::NaturalLog(x);
  CHECK_SAME_BITS(r, runtime::Exponential(y * logarithm));
  if (std::isnan(y)) {
    FUZZ_CHECK(std::isnan(r));
  } else if (std::isinf(y)) {
    if (x == 1) {
      FUZZ_CHECK(std::isnan(r));
    } else {
      CHECK_SAME_BITS(r, (y > 0) == (x > 1) ? kInfinity : 0.0);
    }
  } else if (x == kInfinity) {
    CHECK_SAME_BITS(r, y > 0 ? kInfinity : 0.0);
  }
  CheckNaturalLog(x);
  CheckExponential(y * logarithm);
}

// x moved by `ulps` steps of its bit pattern.
double Nudge(double x, int ulps) {
  return FromBits(Bits(x) + static_cast<uint64_t>(int64_t{ulps}));
}

double MakeDouble(uint8_t kind, uint64_t raw) {
  const int ulps = static_cast<int8_t>(raw >> 56) % 4;  // -3 to 3
  switch (kind % 6) {
    case 0:  // any bits: NaNs, infinities, subnormals and the rest
      return FromBits(raw);
    case 1:  // near a whole number
      return Nudge(static_cast<double>(static_cast<int32_t>(raw)), ulps);
    case 2:  // near (k + 1/2) ln2, where Exponential's reduction count steps
      return Nudge((static_cast<int16_t>(raw) % 2200 + 0.5) * kLn2, ulps);
    case 3:  // a significand near sqrt2's, any sign and exponent: where NaturalLog's split turns
      return FromBits((raw & (kSignBit | kExponentMask)) |
                      ((kSqrt2Mantissa + ulps) & kMantissaMask));
    case 4: {
      if (raw & 1) {  // biased exponent 0 to 3: subnormals and the smallest normals
        return FromBits(raw & ~(uint64_t{0x7fc} << 52));
      }
      // x = X * 2^-1074 with X near (2^j - 1/2) sqrt2 or 2^j sqrt2: where x / sqrt2, rounded
      // on the subnormal grid, crosses a power of two, or x's own significand passes sqrt2's.
      const int j = static_cast<int>((raw >> 1) % 53);
      const double power = static_cast<double>(uint64_t{1} << j);
      const double whole = (raw & 2) ? (power - 0.5) * kSqrt2 : power * kSqrt2;
      const int64_t offset = static_cast<int8_t>(raw >> 8) % 8;  // -7 to 7
      return FromBits(static_cast<uint64_t>(static_cast<int64_t>(whole) + offset) |
                      (raw & kSignBit));
    }
    default: {  // near the ends of the ranges
      constexpr double kEnds[] = {0x1p-1024,
                                  0x1p+1023,
                                  0x1p+31,
                                  -0x1p+31,
                                  709.436139303104,
                                  -745.1332191019411,
                                  0x1.6a09e667f3bcdp-1024,
                                  0x1.6a09e667f3bcdp+1023,
                                  1.4885e9,
                                  -1.4885e9,
                                  2147483647.0,
                                  -2147483647.0,
                                  1.0,
                                  0x1p-1074,
                                  0x1p-1022};
      const double end = kEnds[(raw >> 8) % std::size(kEnds)];
      return Nudge(end, static_cast<int8_t>(raw) % 64);
    }
  }
}

int32_t MakeInt(uint8_t kind, uint32_t raw) {
  switch (kind % 4) {
    case 0:
      return static_cast<int32_t>(raw);
    case 1:
      return static_cast<int8_t>(raw);
    case 2:
      return static_cast<int16_t>(raw);
    default: {  // near the counts where the scaling factor or the result leaves the normal range
      constexpr int32_t kEnds[] = {1023,  1024,  -1022,     -1074,     -1075,
                                   -2047, -2048, INT32_MAX, INT32_MIN, 0};
      const int32_t end = kEnds[(raw >> 8) % std::size(kEnds)];
      return static_cast<int32_t>(static_cast<uint32_t>(end) +
                                  static_cast<uint32_t>(static_cast<int8_t>(raw) % 4));
    }
  }
}

uint64_t ReadBits(const uint8_t* p, std::size_t bytes) {
  uint64_t bits = 0;
  for (std::size_t i = 0; i < bytes; ++i) bits |= uint64_t{p[i]} << (8 * i);
  return bits;
}

void CheckRecord(const uint8_t* record) {
  constexpr int kRoundings[] = {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO};
  const double x = MakeDouble(record[0], ReadBits(record + 2, 8));
  const double y = MakeDouble(record[1], ReadBits(record + 10, 8));
  const int32_t n = MakeInt(record[1] / 6, static_cast<uint32_t>(ReadBits(record + 18, 4)));
  const int rounding = kRoundings[record[0] / 6 % 4];

  for (const double v : {x, y}) {
    CheckAbsoluteValue(v);
    CheckToDouble(v);
    CheckFloorToInt(v, rounding);
    CheckSplitExponent(v);
    CheckExponential(v);
    CheckNaturalLog(v);
    CheckIntegerPower(v, n);
    CheckScaleByPowerOfTwo(v, n);
  }
  CheckRealPower(x, y);
  CheckRealPower(y, x);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  fuzz::describe = Describe;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  uint8_t record[kRecordSize];
  for (std::size_t k = 0; k < kMostRecords && k * kRecordSize < size; ++k) {
    // A short last record is filled up with zeros.
    const std::size_t left = size - k * kRecordSize;
    for (std::size_t i = 0; i < kRecordSize; ++i) {
      record[i] = i < left ? data[k * kRecordSize + i] : 0;
    }
    CheckRecord(record);
  }
  return 0;
}
