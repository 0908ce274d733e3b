// kivom-bench: the runtime's numeric routines, each against its own arithmetic measured in the
// same run: a loop that makes, per argument, every operation the routine's written steps make
// for that argument (the conversions, divisions, multiplications and additions, and the scaling
// as the shipped code does it), in the same order and dependence, and nothing else (no checks,
// no calls, no special cases), over the same arguments. The ratios against the throughput of
// one division and against the C library stay as information, and so does the string pair on
// this build's heap (the target for the string pair is measured where it ships, by
// kivom-string-bench under Wine). Prints ns per call and the ratios for each argument set, then
// one line per target:
//   target <name> ratio <r> limit <l> <met|missed>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "runtime/numeric.h"
#include "runtime/platform.h"
#include "runtime/strings.h"

namespace {

// Arguments per benchmark iteration, the same ones every iteration. The routines branch on their
// arguments (the sign of x, each bit of a scaling count, where a significand lies), and a set of
// a thousand arguments repeated is short enough for the processor's branch predictor to learn
// every outcome by heart: then a loop with fewer other branches to track (the floor) learns it
// in every run and the routine only in some, and the ratio measured the predictor's memory
// rather than the routine's work (Exponential on subnormal results: 35 ns for its floor with
// 1,024 arguments, 63 ns with 65,536). With this many, both take the mispredictions that a
// caller's own arguments would give.
constexpr int kBatch = 65536;
constexpr int kRounds = 7;            // each routine and its baseline in turn; the fastest counts
constexpr double kMinSeconds = 0.03;  // per round
constexpr int kFloorRunsPerRound = 3;

// Deterministic arguments: splitmix64 mapped onto the ranges below.
struct Rng {
  uint64_t state;
  uint64_t Next() {
    state += 0x9e3779b97f4a7c15;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
  }
  double Uniform(double low, double high) {
    return low + (high - low) * static_cast<double>(Next() >> 11) * 0x1p-53;
  }
  // Spread evenly over the exponents between low and high.
  double LogUniform(double low, double high) {
    const double a = std::log2(low);
    const double b = std::log2(high);
    return std::min(high, std::max(low, std::exp2(a + (b - a) * Uniform(0, 1))));
  }
  int32_t Int(int32_t low, int32_t high) {
    return static_cast<int32_t>(low + static_cast<int64_t>(Next() % uint64_t(high - low + 1)));
  }
};

struct Arguments {
  std::vector<double> x;
  std::vector<double> y;
  std::vector<int32_t> n;
};

template <typename MakeX, typename MakeY, typename MakeN>
Arguments Make(uint64_t seed, MakeX makeX, MakeY makeY, MakeN makeN) {
  Rng rng{seed};
  Arguments a;
  for (int i = 0; i < kBatch; ++i) {
    a.x.push_back(makeX(rng));
    a.y.push_back(makeY(rng));
    a.n.push_back(makeN(rng));
  }
  return a;
}

double None(Rng&) { return 0.0; }
int32_t NoCount(Rng&) { return 0; }

struct Floor;

// One comparison: a routine, the C library's counterpart and, for the routines with a target,
// the floor of the routine's written steps, all over the same arguments.
struct Pair {
  std::string routine;
  std::string arguments;
  std::string baseline;
  std::function<void(const Arguments&)> ours;
  std::function<void(const Arguments&)> theirs;
  Arguments args;
  const Floor* floor;           // null for the routines without a target
  std::vector<Arguments> ways;  // the arguments, by the way each goes (one part per floor way)
};

template <typename F>
std::function<void(const Arguments&)> Unary(F f) {
  return [f](const Arguments& a) {
    for (std::size_t i = 0; i < a.x.size(); ++i) benchmark::DoNotOptimize(f(a.x[i]));
  };
}
template <typename F>
std::function<void(const Arguments&)> WithCount(F f) {
  return [f](const Arguments& a) {
    for (std::size_t i = 0; i < a.x.size(); ++i) benchmark::DoNotOptimize(f(a.x[i], a.n[i]));
  };
}
template <typename F>
std::function<void(const Arguments&)> Binary(F f) {
  return [f](const Arguments& a) {
    for (std::size_t i = 0; i < a.x.size(); ++i) benchmark::DoNotOptimize(f(a.x[i], a.y[i]));
  };
}

// The floors: per argument, the operations the routine's written steps make for it, on the same
// operands, with the exponent and the scaling found as the shipped code finds them, and nothing
// else (no calls, no range checks, no special cases). Which way the shipped code goes depends on
// the argument, so each argument set is sorted once, before any timing, by the way each of its
// arguments goes, and each floor's loop runs the matching steps over each part: the timed loop
// has no check of its own. Each way is written out below, and main prints the same derivation
// with how many arguments of each set go each way.
// Every step is inlined into its floor's loop: the floor makes no call.
constexpr double kLn2 = 0x1.62e42fefa39efp-1;
constexpr double kSqrt2 = 0x1.6a09e667f3bcdp+0;
constexpr double kHalf = 0x1p-1;
constexpr double kSubnormalLift = 0x1p+54;
constexpr int32_t kSubnormalLiftExponent = 54;
constexpr int kMantissaBits = 52;
constexpr uint64_t kExponentMask = uint64_t{0x7ff} << kMantissaBits;
constexpr int kBiasedHalf = 1022;
constexpr int kBiasedHighest = 0x7fe;
constexpr double kSmallestNormal = 0x1p-1022;
constexpr double kSplitLowest = 0x1p-1024;
constexpr double kExpInfiniteFrom = 710.0;  // Exponential's answer is +infinity from here up
constexpr double kExpZeroFrom = -1420.0;    // and +0 from here down

[[gnu::always_inline]] inline int BiasedExponent(double x) {
  return static_cast<int>((std::bit_cast<uint64_t>(x) >> kMantissaBits) & 0x7ff);
}

// Holds a value that nothing else reads, without an instruction.
[[gnu::always_inline]] inline void Keep(double x) { asm volatile("" : : "x"(x)); }

// The truncation toward zero and its one-step correction, with the conversion of n back to a
// double that the correction compares with.
[[gnu::always_inline]] inline int32_t FloorStep(double z) {
  const int32_t n = static_cast<int32_t>(z);
  return n - static_cast<int32_t>(z < n);
}

// The exponent-field step: q times 2^n, for a normal q and a normal result.
[[gnu::always_inline]] inline double ExponentField(double q, int32_t n) {
  return std::bit_cast<double>(std::bit_cast<uint64_t>(q) +
                               (static_cast<uint64_t>(int64_t{n}) << kMantissaBits));
}

// The written multiplications for a negative count: q times 0.5, 0.25, 0.0625, ... for each set
// bit of -n, lowest first, each factor the square of the one before; near the bottom of the range
// the products and the last factors are subnormal.
[[gnu::always_inline]] inline double Products(double q, int32_t n) {
  double f = kHalf;
  uint32_t count = 0u - static_cast<uint32_t>(n);
  while (count != 0) {
    if (count % 2 != 0) q = q * f;
    f = f * f;
    count = count / 2;
  }
  return q;
}

// Exponential up to its scaling: the count n and the continued fraction's q = e^r.
struct Reduced {
  double q;
  int32_t n;
};
[[gnu::always_inline]] inline Reduced ExponentialReduced(double x) {
  const double z = x >= 0 ? x / kLn2 + kHalf : x / kLn2 - kHalf;
  const int32_t n = FloorStep(z);
  const double r = x - n * kLn2;
  const double s = r * r;
  double g = s / 22;
  g = s / (g + 18);
  g = s / (g + 14);
  g = s / (g + 10);
  g = s / (g + 6);
  return {((g + 2) + r) / ((g + 2) - r), n};
}

[[gnu::always_inline]] inline double ExponentialByField(double x) {
  const Reduced a = ExponentialReduced(x);
  return ExponentField(a.q, a.n);
}

[[gnu::always_inline]] inline double ExponentialByProducts(double x) {
  const Reduced a = ExponentialReduced(x);
  return Products(a.q, a.n);
}

// NaturalLog from the reduced argument on: t, the continued fraction, e * ln2 + its value.
[[gnu::always_inline]] inline double LogTail(double reduced, int32_t e) {
  const double t = reduced - 1.0;
  double g = 0.0;
  for (int k = 9; k >= 1; --k) {
    const double a = k * t;
    const double d = a / (g + (2 * k + 1));
    g = a / (d + 2);
  }
  return (e * kLn2) + t / (g + 1);
}

// The split of x (lifted by 2^54 first when subnormal) from its exponent field, then one less
// and the significand doubled when it lies below sqrt2 / 2: the exponent of x / sqrt2 without
// the division.
[[gnu::always_inline]] inline double LogSplit(uint64_t bits, int32_t lifted) {
  int32_t e = static_cast<int>((bits >> kMantissaBits) & 0x7ff) - kBiasedHalf - lifted;
  const double m =
      std::bit_cast<double>((bits & ~kExponentMask) | (uint64_t{kBiasedHalf} << kMantissaBits));
  double reduced = m;
  if (m < kSqrt2 * kHalf) {
    e = e - 1;
    reduced = m + m;
  }
  return LogTail(reduced, e);
}

[[gnu::always_inline]] inline double NaturalLogNormal(double x) {
  return LogSplit(std::bit_cast<uint64_t>(x), 0);
}

// A subnormal x whose x / sqrt2 lies below 2^-1024: the division is made (and only compared),
// then x is split as above.
[[gnu::always_inline]] inline double NaturalLogLifted(double x) {
  Keep(x / kSqrt2);
  return LogSplit(std::bit_cast<uint64_t>(x * kSubnormalLift), kSubnormalLiftExponent);
}

// A subnormal x with x / sqrt2 from 2^-1024 up: as written, v = x / sqrt2 split (lifted), 2^e
// made by scaling 1, x / 2^e.
[[gnu::always_inline]] inline int32_t WrittenExponent(double x) {
  const double lifted = (x / kSqrt2) * kSubnormalLift;
  return BiasedExponent(lifted) - kBiasedHalf - kSubnormalLiftExponent;
}

[[gnu::always_inline]] inline double NaturalLogWrittenByField(double x) {
  const int32_t e = WrittenExponent(x);
  return LogTail(x / ExponentField(1.0, e), e);
}

[[gnu::always_inline]] inline double NaturalLogWrittenByProducts(double x) {
  const int32_t e = WrittenExponent(x);
  return LogTail(x / Products(1.0, e), e);
}

// A fractional y, and x and y * ln x in the ranges where both routines take their shortcuts:
// the truncation, correction and conversion of the whole-exponent test (only compared), then
// NaturalLog's and Exponential's steps.
[[gnu::always_inline]] inline double RealPowerByField(double x, double y) {
  Keep(static_cast<double>(FloorStep(y)));
  return ExponentialByField(y * NaturalLogNormal(x));
}

// One way an argument can go through a routine: its name, what its floor does, and the loop of
// that floor over the arguments that go that way.
struct Way {
  const char* name;
  const char* steps;
  std::function<void(const Arguments&)> loop;
  double (*value)(double x, double y);  // one argument's floor, to check it against the routine
};

// The floor's loop inlines the steps; the value is the same steps, called.
template <typename F>
Way WayOf(const char* name, const char* steps, F f) {
  return {name, steps, Binary(f), +f};
}

// A routine's floor: its ways, and which way an argument goes, decided with the routine's own
// conditions (-1 for a way that has no floor here: the bench stops rather than measure it). Each
// way's value must be the routine's, bit for bit, for every argument that goes that way: the
// same operations on the same operands cannot give anything else.
struct Floor {
  std::string routine;
  std::vector<Way> ways;
  std::function<int(double x, double y)> wayOf;
  double (*reference)(double x, double y);
};

int ExponentialWayOf(double x) {
  if (!(x > kExpZeroFrom && x < kExpInfiniteFrom)) return -1;  // no scaling out there
  const Reduced a = ExponentialReduced(x);
  const int64_t scaled = int64_t{BiasedExponent(a.q)} + a.n;
  if (a.n <= 1023 && scaled >= 1 && scaled <= kBiasedHighest) return 0;
  if (a.n < 0 && a.n >= -2047) return 1;
  return -1;
}

int NaturalLogWayOf(double x) {
  if (!(x > 0 && x < std::numeric_limits<double>::infinity())) return -1;
  if (x >= kSmallestNormal) return 0;
  if (x / kSqrt2 < kSplitLowest) return 1;
  const int32_t e = WrittenExponent(x);
  if (e >= -1022) return 2;
  return e >= -2047 ? 3 : -1;
}

const Floor& ExponentialFloor() {
  static const Floor floor{
      "Exponential",
      {WayOf("by the exponent field",
             "x / ln2 +- 0.5 (the sign picks which), the truncation of z to n and its correction "
             "(n back to a double for the comparison), n * ln2 (n to a double), x - that, r * r, "
             "s / 22, four s / (g + k), ((g + 2) + r) / ((g + 2) - r), then n added to q's "
             "exponent field: 7 divisions, 2 multiplications, 9 additions",
             [](double x, double) { return ExponentialByField(x); }),
       WayOf(
           "by the written multiplications",
           "the same up to q, then q times 0.5, 0.25, 0.0625, ... for each set bit of -n and each "
           "factor squared, 10 or 11 times, the last products and factors subnormal",
           [](double x, double) { return ExponentialByProducts(x); })},
      [](double x, double) { return ExponentialWayOf(x); },
      [](double x, double) { return runtime::Exponential(x); }};
  return floor;
}

const Floor& NaturalLogFloor() {
  static const Floor floor{
      "NaturalLog",
      {WayOf("normal x",
             "e and m from x's exponent field, e - 1 and m + m when m < sqrt2 / 2, t = m - 1, "
             "for k = 9 .. 1 k * t, a / (g + 2k + 1), a / (d + 2), then e * ln2 (e to a double) + "
             "t / (g + 1): 19 divisions, 10 multiplications, 21 additions (22 with m + m)",
             [](double x, double) { return NaturalLogNormal(x); }),
       WayOf("subnormal x, x / sqrt2 below 2^-1024",
             "x / sqrt2 (compared only), x * 2^54 on the subnormal x, then as for a normal x",
             [](double x, double) { return NaturalLogLifted(x); }),
       WayOf("subnormal x, x / sqrt2 from 2^-1024, 2^e normal",
             "v = x / sqrt2, v * 2^54 on the subnormal v, e from its exponent field, 2^e by the "
             "exponent field, x / 2^e, then from t on as for a normal x",
             [](double x, double) { return NaturalLogWrittenByField(x); }),
       WayOf("subnormal x, x / sqrt2 from 2^-1024, 2^e subnormal",
             "the same, with 2^e as 1 times 0.5, 0.25, ... for each set bit of -e and each factor "
             "squared, the last product and factor subnormal, and x / 2^e on subnormal operands",
             [](double x, double) { return NaturalLogWrittenByProducts(x); })},
      [](double x, double) { return NaturalLogWayOf(x); },
      [](double x, double) { return runtime::NaturalLog(x); }};
  return floor;
}

const Floor& RealPowerFloor() {
  static const Floor floor{
      "RealPower",
      {WayOf("fractional y, normal x, y * ln x with a normal e^",
             "the truncation of y and its correction and n back to a double (compared only), "
             "NaturalLog's steps for a normal x, y * ln x, Exponential's by the exponent field: "
             "26 divisions",
             [](double x, double y) { return RealPowerByField(x, y); })},
      [](double x, double y) {
        const bool whole = y >= -2147483647.0 && y <= 2147483647.0 &&
                           y == static_cast<double>(runtime::FloorToInt(y));
        if (whole || NaturalLogWayOf(x) != 0) return -1;
        return ExponentialWayOf(y * runtime::NaturalLog(x)) == 0 ? 0 : -1;
      },
      runtime::RealPower};
  return floor;
}

std::vector<Pair> NumericPairs() {
  std::vector<Pair> pairs;
  auto add = [&pairs](const char* routine, const char* arguments, const char* baseline,
                      std::function<void(const Arguments&)> ours,
                      std::function<void(const Arguments&)> theirs, Arguments args,
                      const Floor* floor = nullptr) {
    std::vector<Arguments> ways;
    if (floor != nullptr) {
      ways.resize(floor->ways.size());
      for (std::size_t i = 0; i < args.x.size(); ++i) {
        const int way = floor->wayOf(args.x[i], args.y[i]);
        if (way < 0) {
          std::fprintf(stderr, "kivom-bench: %s/%s: no floor for the argument %a, %a\n", routine,
                       arguments, args.x[i], args.y[i]);
          std::exit(1);
        }
        const double floorValue = floor->ways[way].value(args.x[i], args.y[i]);
        const double routineValue = floor->reference(args.x[i], args.y[i]);
        if (std::bit_cast<uint64_t>(floorValue) != std::bit_cast<uint64_t>(routineValue)) {
          std::fprintf(stderr,
                       "kivom-bench: %s/%s: the floor gives %a for %a, %a, the routine %a\n",
                       routine, arguments, floorValue, args.x[i], args.y[i], routineValue);
          std::exit(1);
        }
        ways[way].x.push_back(args.x[i]);
        ways[way].y.push_back(args.y[i]);
        ways[way].n.push_back(args.n[i]);
      }
    }
    pairs.push_back({routine, arguments, baseline, std::move(ours), std::move(theirs),
                     std::move(args), floor, std::move(ways)});
  };
  const auto fabs = Unary([](double x) { return std::fabs(x); });
  const auto floor = Unary([](double x) { return static_cast<int32_t>(std::floor(x)); });
  const auto ipow = WithCount([](double x, int32_t n) { return std::pow(x, double(n)); });
  const auto ldexp = WithCount([](double x, int32_t n) { return std::ldexp(x, n); });
  const auto frexp = Unary([](double x) {
    int e;
    const double m = std::frexp(x, &e);
    benchmark::DoNotOptimize(e);
    return m;
  });
  const auto exp = Unary([](double x) { return std::exp(x); });
  const auto log = Unary([](double x) { return std::log(x); });
  const auto pow = Binary([](double x, double y) { return std::pow(x, y); });

  const auto abs = Unary(runtime::AbsoluteValue);
  const auto floorToInt = Unary(runtime::FloorToInt);
  const auto integerPower = WithCount(runtime::IntegerPower);
  const auto scale = WithCount(runtime::ScaleByPowerOfTwo);
  const auto split = Unary([](double x) {
    int32_t e;
    const double m = runtime::SplitExponent(x, &e);
    benchmark::DoNotOptimize(e);
    return m;
  });
  const auto exponential = Unary(runtime::Exponential);
  const auto naturalLog = Unary(runtime::NaturalLog);
  const auto realPower = Binary(runtime::RealPower);
  const Floor* exponentialFloor = &ExponentialFloor();
  const Floor* naturalLogFloor = &NaturalLogFloor();
  const Floor* realPowerFloor = &RealPowerFloor();

  const auto typical = [](Rng& r) { return r.Uniform(-100, 100); };
  add("AbsoluteValue", "typical", "fabs", abs, fabs, Make(1, typical, None, NoCount));
  add("FloorToInt", "typical", "floor", floorToInt, floor,
      Make(
          2, [](Rng& r) { return r.Uniform(-1e6, 1e6); }, None, NoCount));
  add("IntegerPower", "typical", "pow int", integerPower, ipow,
      Make(
          3, [](Rng& r) { return r.Uniform(0.5, 2); }, None,
          [](Rng& r) { return r.Int(-40, 40); }));
  add("IntegerPower", "large counts", "pow int", integerPower, ipow,
      Make(
          4, [](Rng& r) { return r.Uniform(0.999999, 1.000001); }, None,
          [](Rng& r) { return r.Int(-2000000000, 2000000000); }));
  add("ScaleByPowerOfTwo", "typical", "ldexp", scale, ldexp,
      Make(5, typical, None, [](Rng& r) { return r.Int(-100, 100); }));
  add("ScaleByPowerOfTwo", "extreme normal", "ldexp", scale, ldexp,
      Make(
          6, [](Rng& r) { return r.LogUniform(0x1p+900, 0x1p+1000); }, None,
          [](Rng& r) { return r.Int(-1900, 100); }));
  add("ScaleByPowerOfTwo", "subnormal results", "ldexp", scale, ldexp,
      Make(7, typical, None, [](Rng& r) { return r.Int(-1070, -1030); }));
  add("SplitExponent", "typical", "frexp", split, frexp, Make(8, typical, None, NoCount));
  add("SplitExponent", "extreme", "frexp", split, frexp,
      Make(
          9, [](Rng& r) { return r.LogUniform(0x1p-1070, 0x1p+1023); }, None, NoCount));
  add("Exponential", "typical", "exp", exponential, exp,
      Make(
          10, [](Rng& r) { return r.Uniform(-20, 20); }, None, NoCount),
      exponentialFloor);
  add("Exponential", "extreme", "exp", exponential, exp,
      Make(
          11, [](Rng& r) { return r.Uniform(-708, 709); }, None, NoCount),
      exponentialFloor);
  add("Exponential", "subnormal results", "exp", exponential, exp,
      Make(
          12, [](Rng& r) { return r.Uniform(-745, -709); }, None, NoCount),
      exponentialFloor);
  const struct {
    const char* name;
    double low, high;
  } logRanges[] = {
      {"typical", 0.01, 100},           {"huge", 1e200, 1.2e308},
      {"tiny", 1e-307, 1e-200},         {"near 2^-1022", 0x1p-1024, 0x1p-1021},
      {"subnormal", 5e-324, 0x1p-1024}, {"top of range", 1.2712e308, 1.7976931348623157e308},
  };
  uint64_t seed = 20;
  for (const auto& range : logRanges) {
    add("NaturalLog", range.name, "log", naturalLog, log,
        Make(
            seed++, [range](Rng& r) { return r.LogUniform(range.low, range.high); }, None, NoCount),
        naturalLogFloor);
  }
  add("RealPower", "typical", "pow", realPower, pow,
      Make(
          30, [](Rng& r) { return r.Uniform(0.1, 10); }, [](Rng& r) { return r.Uniform(-5, 5); },
          NoCount),
      realPowerFloor);
  add("RealPower", "whole exponents", "pow", realPower, pow,
      Make(
          31, [](Rng& r) { return r.Uniform(-10, 10); },
          [](Rng& r) { return double(r.Int(-30, 30)); }, NoCount));
  add("RealPower", "extreme", "pow", realPower, pow,
      Make(
          32, [](Rng& r) { return r.LogUniform(1e-300, 1e300); },
          [](Rng& r) { return r.Uniform(-1, 1); }, NoCount),
      realPowerFloor);
  return pairs;
}

// Collects the fastest round of each benchmark, in ns per call of CPU time (the machine may be
// busy with other work; the fastest round is the one least disturbed).
class FastestReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const double ns = run.cpu_accumulated_time * 1e9 / double(run.iterations) / kBatch;
      auto [it, fresh] = fastest.emplace(run.run_name.function_name, ns);
      if (!fresh) it->second = std::min(it->second, ns);
    }
  }
  std::map<std::string, double> fastest;
};

void Register(const std::string& name, const std::function<void(const Arguments&)>& f,
              const Arguments* args) {
  benchmark::RegisterBenchmark(name.c_str(),
                               [f, args](benchmark::State& state) {
                                 for (auto _ : state) f(*args);
                               })
      ->MinTime(kMinSeconds)
      ->Unit(benchmark::kNanosecond);
}

// Information: the string pair, one AllocString(0) and its ReleaseString with 32 strings
// already live, on this build's heap, against malloc and free of the same block size.
std::vector<runtime::TrackedString> LiveStrings;

void StringPair(benchmark::State& state) {
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      runtime::TrackedString s = runtime::AllocString(0);
      benchmark::DoNotOptimize(s);
      runtime::ReleaseString(s);
    }
  }
}

void MallocPair(benchmark::State& state) {
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      void* p = std::malloc(5);
      benchmark::DoNotOptimize(p);
      std::free(p);
      benchmark::ClobberMemory();
    }
  }
}

// Information: one division's throughput and the lock. Each division is independent of the
// others, so the loop measures throughput, and the empty asm statements keep the compiler from
// folding, hoisting or vectorising what it times.
std::vector<double> Dividends;

void Division(benchmark::State& state) {
  double divisor = 1.0000123;
  const double* dividends = Dividends.data();
  for (auto _ : state) {
    asm volatile("" : "+x"(divisor));  // unknown: no multiplication by a reciprocal instead
    for (int i = 0; i < kBatch; ++i) {
      double q = dividends[i];
      asm volatile("" : "+x"(q));
      q = q / divisor;
      asm volatile("" : : "x"(q));
    }
  }
}

// The registry's own lock, taken free, as AllocString and ReleaseString each take it once.
void LockPair(benchmark::State& state) {
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      runtime::platform::LockEnter();
      runtime::platform::LockLeave();
    }
  }
}

// Information: how many divisions that round a routine's written steps make for a typical
// argument (a division by a power of two is exact and left out), times one division's
// throughput.
//   Exponential: x / ln2, s / 22, four s / (g + k), the quotient q: 7.
//   NaturalLog:  x / sqrt2 (whose exponent is used), two per level k = 9 .. 1, t / (g + 1): 20.
//   RealPower:   a fractional exponent takes NaturalLog, then Exponential: 27.
const std::map<std::string, int> kDivisionsOf = {
    {"Exponential", 7}, {"NaturalLog", 20}, {"RealPower", 27}};

constexpr double kArithmeticLimit = 1.3;

struct Target {
  const char* name;
  const char* routine;            // the worst ratio over this routine's argument sets...
  std::vector<std::string> sets;  // ...among these
  double limit;
};

// A set left out of the run (by a filter) is no evidence: the target counts as missed.
void PrintTarget(const std::string& name, const std::map<std::string, double>& ratios,
                 const std::string& routine, const std::vector<std::string>& sets, double limit) {
  double worst = 0;
  bool measured = true;
  for (const std::string& set : sets) {
    std::string key = routine;
    key.append("/").append(set);
    const auto found = ratios.find(key);
    const double ratio = found == ratios.end() ? 0 : found->second;
    measured = measured && ratio > 0 && ratio < 1e300;
    worst = std::max(worst, ratio);
  }
  std::printf("target %s ratio %.2f limit %g %s\n", name.c_str(), worst, limit,
              measured && worst <= limit ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
  runtime::RuntimeInit();
  for (int i = 0; i < 32; ++i) LiveStrings.push_back(runtime::AllocString(0));

  benchmark::Initialize(&argc, argv);
  const std::vector<Pair> pairs = NumericPairs();
  Rng rng{40};
  for (int i = 0; i < kBatch; ++i) Dividends.push_back(rng.Uniform(1, 2));
  // Round after round of everything, so that a burst of other work on the machine disturbs a
  // few rounds of many benchmarks rather than every round of one.
  for (int round = 0; round < kRounds; ++round) {
    for (const Pair& p : pairs) {
      Register(p.routine + "/" + p.arguments, p.ours, &p.args);
      Register(p.baseline + "/" + p.routine + "/" + p.arguments, p.theirs, &p.args);
      if (p.floor != nullptr) {
        const auto floor = [&p](const Arguments&) {
          for (std::size_t way = 0; way < p.ways.size(); ++way)
            p.floor->ways[way].loop(p.ways[way]);
        };
        Register("arithmetic/" + p.routine + "/" + p.arguments, floor, &p.args);
      }
    }
    benchmark::RegisterBenchmark("string pair", StringPair)->MinTime(kMinSeconds);
    benchmark::RegisterBenchmark("malloc/free", MallocPair)->MinTime(kMinSeconds);
    for (int part = 0; part < kFloorRunsPerRound; ++part) {
      benchmark::RegisterBenchmark("division", Division)->MinTime(kMinSeconds);
      benchmark::RegisterBenchmark("lock pair", LockPair)->MinTime(kMinSeconds);
    }
  }

  FastestReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const double division = reporter.fastest["division"];
  const double lockPair = reporter.fastest["lock pair"];
  const double mallocs = reporter.fastest["malloc/free"];
  const double strings = reporter.fastest["string pair"];
  std::printf("processor: fused multiply-add %s (these routines never use it)\n",
              __builtin_cpu_supports("fma") ? "available" : "not available");
  std::printf(
      "each routine's floor (its arithmetic), from its written steps, by the way an "
      "argument goes through the shipped code:\n");
  for (const Floor* floor : {&ExponentialFloor(), &NaturalLogFloor(), &RealPowerFloor()}) {
    for (const Way& way : floor->ways) {
      std::printf("  %s, %s: %s\n", floor->routine.c_str(), way.name, way.steps);
    }
  }
  std::printf("the arguments of each set, by way:\n");
  for (const Pair& p : pairs) {
    if (p.floor == nullptr) continue;
    std::printf("  %s/%s:", p.routine.c_str(), p.arguments.c_str());
    const char* separator = " ";
    for (std::size_t way = 0; way < p.ways.size(); ++way) {
      if (p.ways[way].x.empty()) continue;
      std::printf("%s%zu %s", separator, p.ways[way].x.size(), p.floor->ways[way].name);
      separator = "; ";
    }
    std::printf("\n");
  }
  std::printf(
      "information: one double division %.3f ns, one lock/unlock pair %.2f ns, "
      "one malloc/free pair %.2f ns\n\n",
      division, lockPair, mallocs);

  std::map<std::string, double> libraryRatios;     // "routine/arguments" -> to the C library
  std::map<std::string, double> arithmeticRatios;  // "routine/arguments" -> to its arithmetic
  std::printf("%-18s %-18s %8s   %-8s %8s %7s   %10s %7s   %9s %7s\n", "routine", "arguments",
              "ns/call", "library", "ns/call", "ratio", "arithmetic", "ratio", "divisions",
              "ratio");
  for (const Pair& p : pairs) {
    const std::string key = p.routine + "/" + p.arguments;
    const double ours = reporter.fastest[key];
    const double theirs = reporter.fastest[p.baseline + "/" + key];
    libraryRatios[key] = ours / theirs;
    std::printf("%-18s %-18s %8.2f   %-8s %8.2f %7.2f", p.routine.c_str(), p.arguments.c_str(),
                ours, p.baseline.c_str(), theirs, ours / theirs);
    if (p.floor != nullptr) {
      const double arithmetic = reporter.fastest["arithmetic/" + key];
      arithmeticRatios[key] = ours / arithmetic;
      const double divisions = kDivisionsOf.at(p.routine) * division;
      std::printf("   %10.2f %7.2f   %9.2f %7.2f", arithmetic, ours / arithmetic, divisions,
                  ours / divisions);
    }
    std::printf("\n");
  }
  std::printf(
      "%-18s %-18s %8.2f   %-8s %8.2f %7.2f   (information: this build's heap; "
      "against malloc + 2 lock pairs %.2f)\n",
      "string pair", "32 live", strings, "malloc", mallocs, strings / mallocs,
      strings / (mallocs + 2 * lockPair));

  std::printf("\n");
  const Target arithmeticTargets[] = {
      {"Exponential/own-arithmetic",
       "Exponential",
       {"typical", "extreme", "subnormal results"},
       kArithmeticLimit},
      {"NaturalLog/own-arithmetic",
       "NaturalLog",
       {"typical", "huge", "tiny", "near 2^-1022", "subnormal", "top of range"},
       kArithmeticLimit},
      {"RealPower/own-arithmetic", "RealPower", {"typical", "extreme"}, kArithmeticLimit},
  };
  for (const Target& t : arithmeticTargets) {
    PrintTarget(t.name, arithmeticRatios, t.routine, t.sets, t.limit);
  }
  // No arithmetic of their own for these two: their steps are loops of exact products, which
  // the shortcuts replace. They stay against the C library.
  const Target libraryTargets[] = {
      {"SplitExponent", "SplitExponent", {"typical", "extreme"}, 3},
      {"ScaleByPowerOfTwo", "ScaleByPowerOfTwo", {"typical", "extreme normal"}, 3},
  };
  for (const Target& t : libraryTargets) {
    PrintTarget(t.name, libraryRatios, t.routine, t.sets, t.limit);
  }
  for (runtime::TrackedString s : LiveStrings) runtime::ReleaseString(s);
  return 0;
}
