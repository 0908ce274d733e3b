// The numeric routines exactly as their steps are written: loops, one pass per exponent, no
// shortcuts. The production routines must give the same bits wherever these are defined.
#pragma once

#include <cstdint>

namespace reference {

double AbsoluteValue(double x);
double ToDouble(double x);
int32_t FloorToInt(double x);  // only for -2^31 <= x < 2^31
double IntegerPower(double x, int32_t n);
double ScaleByPowerOfTwo(double x, int32_t n);
// Only for zero, NaN and 2^-1024 <= |x| < 2^1023. Elsewhere the written search never ends;
// here it gives up after kSearchLimit passes and returns a NaN with *e = INT32_MIN.
double SplitExponent(double x, int32_t* e);
double Exponential(double x);  // only where x / ln2 +- 0.5 lies in [-2^31, 2^31)
double NaturalLog(double x);   // only for x <= 0, NaN, and x / sqrt2 in [2^-1024, 2^1023)
double RealPower(double x, double y);

constexpr int32_t kSearchLimit = 1100;

// Whether the written steps are defined for the argument (they do not hang and convert no
// value outside the int range).
bool FloorToIntDefined(double x);
bool SplitExponentDefined(double x);
bool ExponentialDefined(double x);
bool NaturalLogDefined(double x);
bool RealPowerDefined(double x, double y);

}  // namespace reference
