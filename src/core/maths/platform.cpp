// The maths interface on the C library's functions (VERRAKIN_MATH=platform).
#include <cmath>

#include "maths.hpp"

namespace verrakin::maths {

double cos(double x) noexcept { return std::cos(x); }
double sin(double x) noexcept { return std::sin(x); }

void sincos(double x, double& s, double& c) noexcept {
    s = std::sin(x);
    c = std::cos(x);
}

double atan2(double y, double x) noexcept { return std::atan2(y, x); }

const char* implementation_name() noexcept { return "platform"; }

}  // namespace verrakin::maths
