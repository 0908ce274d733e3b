// Numeric routines computed from the four arithmetic operations, bit for bit the same on
// every build.
#pragma once

#include <cstdint>

namespace runtime {

double AbsoluteValue(double x);
double ToDouble(double x);
int32_t FloorToInt(double x);
double IntegerPower(double x, int32_t n);
double ScaleByPowerOfTwo(double x, int32_t n);
double SplitExponent(double x, int32_t* e);
double Exponential(double x);
double NaturalLog(double x);
double RealPower(double x, double y);

}  // namespace runtime
