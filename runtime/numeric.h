// Numeric routines computed from the four arithmetic operations, bit for bit the same on
// every build.
//
// Every operation is one IEEE double operation, rounded once, in the order each routine's
// description gives; there is no fused multiply-add, no wider intermediate and no call into a
// maths library. The routines keep no state and may run on several threads.
//
// They compute in the caller's rounding mode and neither set nor check it: the results below
// hold in round-to-nearest with ties to even, the mode every thread starts in and the one this
// program never leaves. Only FloorToInt rounds its own way: it truncates with a conversion that
// ignores the mode, so it neither switches the caller's mode nor depends on it.
//
// Each routine also answers arguments outside the range its steps are written for; those
// answers are marked "Beyond the range" below. NaN arguments come back as NaNs with their sign
// and payload; on the 32-bit Windows build a signalling NaN comes back quiet, since doubles are
// returned on the x87 stack there.
#pragma once

#include <cstdint>

namespace runtime {

// x when x is not below 0 (so -0 stays -0 and a NaN stays a NaN), otherwise x * -1.
double AbsoluteValue(double x);

// x unchanged: the conversion of a numeric value to a double.
double ToDouble(double x);

// The largest integer not above x: truncation toward zero, then one less for a negative x that
// was not whole. Leaves the caller's rounding mode as it found it.
// Beyond the range (a floor outside the int range): saturates to INT32_MAX above and INT32_MIN
// below, and a NaN gives 0.
int32_t FloorToInt(double x);

// x to the power n by square-and-multiply over the bits of |n| (2147483648 for INT32_MIN),
// lowest bit first; for n < 0 the result is 1 / that power. x to the power 0 is exactly 1 for
// every x, NaN included, and a zero base with n < 0 gives an infinity with the sign of the power.
double IntegerPower(double x, int32_t n);

// x times 2 to the power n, as x multiplied by 2, 4, 16, 256, ... (0.5, 0.25, 0.0625, ... for
// n < 0) for each set bit of |n|, lowest first. The factor itself overflows to infinity at
// 2^1024 and underflows to 0 at 2^-2048, so (0.5, 1024) gives +infinity and (2^1023, -2048)
// gives +0; results in the subnormal range may round at more than one step.
// A zero (keeping its sign), an infinity or a NaN comes back as it is, whatever n: so (0, 1024)
// gives 0 and (infinity, -2048) infinity, where multiplying by the overflowed or underflowed
// factor would make a NaN of 0 * infinity.
double ScaleByPowerOfTwo(double x, int32_t n);

// m and *e with x = m * 2^*e and 0.5 <= |m| < 1; m is exactly x / 2^*e. Zero of either sign and
// NaN give +0 with *e = 0.
// Beyond the range (|x| below 2^-1024 or from 2^1023 up): finite x is split the same way, so a
// subnormal gives *e down to -1073 and |x| >= 2^1023 gives *e = 1024; an infinity is returned as
// it is with *e = 0.
double SplitExponent(double x, int32_t* e);

// e to the power x: n = floor(x / ln2 + 0.5) (floor(x / ln2 - 0.5) for negative x),
// r = x - n * ln2, e^r by a continued fraction of depth 5, scaled by 2^n. Gives +infinity from
// 709.436139303104 up, subnormals below about -708.4, 0 below about -745.1, and a NaN for a NaN.
// Beyond the range (|x| from about 1.4885e9 up, infinities included): +infinity above and +0
// below, as for any x from 710 up or at -1420 and below.
double Exponential(double x);

// ln x: e = the exponent SplitExponent gives for x / sqrt2, t = x / 2^e - 1, ln(1 + t) by a
// continued fraction cut off after 9t / (2 + 9t / 19), and e * ln2 + that. 0 for x <= 0 and NaN.
// Beyond the range (x below about 7.87e-309 or from about 1.2712e308 up): +infinity gives
// +infinity; any other x is split exactly, e from x's own exponent and significand (e = 1024
// at the top), and goes through the same continued fraction.
double NaturalLog(double x);

// x to the power y. A whole y within +-2147483647 goes through IntegerPower (every base, zero
// and negative included); otherwise Exponential(y * NaturalLog(x)) for x > 0, and 0 for x <= 0
// or a NaN x.
// Beyond the range the same steps apply with the answers above: a NaN y gives a NaN for x > 0
// and 0 otherwise; y = +-infinity gives +infinity or 0 for x > 0 (x = 1 gives a NaN, since
// infinity * ln 1 is a NaN) and 0 for x <= 0; x = +infinity gives +infinity for y > 0 and 0
// for y < 0; x = -infinity gives 0 unless y is whole, when IntegerPower decides.
double RealPower(double x, double y);

}  // namespace runtime
