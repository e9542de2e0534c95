// The accurate paths of the maths module on their own, for the native check:
// the fast paths fall back to them so rarely that random inputs alone would
// leave them untested.
#pragma once

namespace verrakin::maths::detail {

/// sin x into *s and cos x into *c (either may be null), for finite x with |x| >= 2^-27.
void accurate_sin_cos(double x, double* s, double* c) noexcept;

/// atan2(y, x) for finite nonzero x and y.
double accurate_atan2(double y, double x) noexcept;

}  // namespace verrakin::maths::detail
