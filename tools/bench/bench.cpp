// kivom-bench: the runtime's numeric routines, each against its own arithmetic measured in the
// same run: a loop that makes, per argument, the divisions, multiplications and additions the
// routine's written steps make for a typical argument, in the same order and dependence, and
// nothing else (no checks, no calls, no scaling), over the same arguments. The ratios against
// the throughput of one division and against the C library stay as information, and so does
// the string pair on this build's heap (the target for the string pair is measured where it
// ships, by kivom-string-bench under Wine). Prints ns per call and the ratios for each argument
// set, then one line per target:
//   target <name> ratio <r> limit <l> <met|missed>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "runtime/numeric.h"
#include "runtime/platform.h"
#include "runtime/strings.h"

namespace {

constexpr int kBatch = 1024;          // arguments per benchmark iteration
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

// One comparison: a routine, the C library's counterpart and, for the routines with a target,
// the arithmetic of the routine's written steps, all over the same arguments.
struct Pair {
  std::string routine;
  std::string arguments;
  std::string baseline;
  std::function<void(const Arguments&)> ours;
  std::function<void(const Arguments&)> theirs;
  Arguments args;
  std::function<void(const Arguments&)> arithmetic;  // empty for the routines without a target
};

template <typename F>
std::function<void(const Arguments&)> Unary(F f) {
  return [f](const Arguments& a) {
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(f(a.x[i]));
  };
}
template <typename F>
std::function<void(const Arguments&)> WithCount(F f) {
  return [f](const Arguments& a) {
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(f(a.x[i], a.n[i]));
  };
}
template <typename F>
std::function<void(const Arguments&)> Binary(F f) {
  return [f](const Arguments& a) {
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(f(a.x[i], a.y[i]));
  };
}

// The arithmetic of the written steps, one function per routine with a target: the same
// divisions, multiplications and additions in the same order and dependence, for a typical
// argument, without the routine's checks, calls and scaling. Where a step gives an integer (the
// floor n, the exponent e), the value it came from stands in for it, so that the chain stays
// as long. ArithmeticNotes prints the same derivation with the results.
constexpr double kLn2 = 0x1.62e42fefa39efp-1;
constexpr double kSqrt2 = 0x1.6a09e667f3bcdp+0;

double ExponentialArithmetic(double x) {
  const double z = x / kLn2 + 0.5;  // n = floor(z): a conversion, so z stands for n
  const double r = x - z * kLn2;
  const double s = r * r;
  double g = s / 22;
  g = s / (g + 18);
  g = s / (g + 14);
  g = s / (g + 10);
  g = s / (g + 6);
  return ((g + 2) + r) / ((g + 2) - r);  // ScaleByPowerOfTwo(q, n) left out: scaling
}

double NaturalLogArithmetic(double x) {
  const double v = x / kSqrt2;   // SplitExponent(v) left out: a call; v stands for 2^e
  const double reduced = x / v;  // x / 2^e
  const double t = reduced - 1;
  double g = 0;
  for (int k = 9; k >= 1; --k) {
    const double a = k * t;
    const double d = a / (g + (2 * k + 1));
    g = a / (d + 2);
  }
  return (reduced * kLn2) + t / (g + 1);  // e * ln2: reduced stands for e
}

double RealPowerArithmetic(double x, double y) {
  return ExponentialArithmetic(y * NaturalLogArithmetic(x));
}

constexpr const char* kArithmeticNotes[] = {
    "Exponential: x / ln2 + 0.5, x - n * ln2, r * r, s / 22, four s / (g + k), ((g + 2) + r) / "
    "((g + 2) - r): 7 divisions, 2 multiplications, 9 additions; FloorToInt and "
    "ScaleByPowerOfTwo left out",
    "NaturalLog: x / sqrt2, x / 2^e, t = reduced - 1, for k = 9 .. 1 k * t, a / (g + 2k + 1), "
    "a / (d + 2), then e * ln2 + t / (g + 1): 21 divisions, 10 multiplications, 21 additions; "
    "SplitExponent and ScaleByPowerOfTwo left out (the routine finds e from x's bits for a "
    "normal x and so makes 19 of the divisions)",
    "RealPower (a fractional exponent): NaturalLog's arithmetic, y * ln x, then Exponential's: "
    "28 divisions; the whole-exponent check and FloorToInt left out",
};

std::vector<Pair> NumericPairs() {
  std::vector<Pair> pairs;
  auto add = [&pairs](const char* routine, const char* arguments, const char* baseline,
                      std::function<void(const Arguments&)> ours,
                      std::function<void(const Arguments&)> theirs, Arguments args,
                      std::function<void(const Arguments&)> arithmetic = {}) {
    pairs.push_back({routine, arguments, baseline, std::move(ours), std::move(theirs),
                     std::move(args), std::move(arithmetic)});
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
  const auto exponentialArithmetic = Unary(ExponentialArithmetic);
  const auto naturalLogArithmetic = Unary(NaturalLogArithmetic);
  const auto realPowerArithmetic = Binary(RealPowerArithmetic);

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
      exponentialArithmetic);
  add("Exponential", "extreme", "exp", exponential, exp,
      Make(
          11, [](Rng& r) { return r.Uniform(-708, 709); }, None, NoCount),
      exponentialArithmetic);
  add("Exponential", "subnormal results", "exp", exponential, exp,
      Make(
          12, [](Rng& r) { return r.Uniform(-745, -709); }, None, NoCount),
      exponentialArithmetic);
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
        naturalLogArithmetic);
  }
  add("RealPower", "typical", "pow", realPower, pow,
      Make(
          30, [](Rng& r) { return r.Uniform(0.1, 10); }, [](Rng& r) { return r.Uniform(-5, 5); },
          NoCount),
      realPowerArithmetic);
  add("RealPower", "whole exponents", "pow", realPower, pow,
      Make(
          31, [](Rng& r) { return r.Uniform(-10, 10); },
          [](Rng& r) { return double(r.Int(-30, 30)); }, NoCount));
  add("RealPower", "extreme", "pow", realPower, pow,
      Make(
          32, [](Rng& r) { return r.LogUniform(1e-300, 1e300); },
          [](Rng& r) { return r.Uniform(-1, 1); }, NoCount),
      realPowerArithmetic);
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
      if (p.arithmetic)
        Register("arithmetic/" + p.routine + "/" + p.arguments, p.arithmetic, &p.args);
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
  std::printf("each routine's arithmetic, from its written steps:\n");
  for (const char* note : kArithmeticNotes) std::printf("  %s\n", note);
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
    if (p.arithmetic) {
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
