// The maths the system's angles go through: cosine, sine and atan2.
//
// One interface, two builds (CMake option VERRAKIN_MATH):
//   correctly-rounded (default)  every result is the exact function's value
//                                rounded to nearest, so the same bits on every
//                                CPU, operating system and compiler;
//   platform                     the C library's functions, whose last bit
//                                differs between libraries and CPU classes.
#pragma once

namespace verrakin::maths {

/// cos(x) rounded to nearest.
double cos(double x) noexcept;

/// sin(x) rounded to nearest.
double sin(double x) noexcept;

/// sin(x) and cos(x) rounded to nearest, sharing one argument reduction.
void sincos(double x, double& s, double& c) noexcept;

/// atan2(y, x) rounded to nearest, with C99's values for zeros, infinities
/// and NaN.
double atan2(double y, double x) noexcept;

/// "correctly rounded" or "platform": which build this is.
const char* implementation_name() noexcept;

}  // namespace verrakin::maths
