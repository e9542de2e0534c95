// The maths the system's angles go through: cosine, sine and atan2.
//
// One interface, two builds (CMake option VERRAKIN_MATH):
//   correctly-rounded (default)  every result is the exact function's value
//                                rounded to nearest (ties to even), from IEEE
//                                binary64 basic operations alone, so the same
//                                bits on every CPU, operating system and
//                                compiler (sin_cos.cpp, atan2.cpp);
//   platform                     the C library's functions, whose last bit
//                                differs between libraries and CPU classes
//                                (platform.cpp).
//
// What holds in the default build: cos, sin and sincos are correctly rounded
// for every finite double (below 2^20 in magnitude in a few tens of
// nanoseconds, beyond that through a slower exact reduction), and give NaN for
// infinities and NaN; sin keeps the sign of zero. atan2 is correctly rounded
// for every pair of finite doubles, subnormal results included, and follows
// C99 (Annex F) for zeros, infinities and NaN.
#pragma once

namespace verrakin::maths {

/// cos(x) rounded to nearest.
double cos(double x) noexcept;

/// sin(x) rounded to nearest.
double sin(double x) noexcept;

/// sin(x) and cos(x) rounded to nearest, sharing one argument reduction.
void sincos(double x, double& s, double& c) noexcept;

/// atan2(y, x) rounded to nearest.
double atan2(double y, double x) noexcept;

/// "correctly rounded" or "platform": which build this is.
const char* implementation_name() noexcept;

}  // namespace verrakin::maths
