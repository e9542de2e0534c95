// Levels and angles on the circle, shared by bundling and the resonator.
//
// Level k at resolution n stands for the angle (k * 2pi) / n: the product is
// rounded first, then the quotient. The reverse (the snapping rule) is
// (a / 2pi) * n rounded half away from zero, reduced into 0..n-1.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace verrakin {

/// The double nearest to 2pi (bits 0x401921FB54442D18).
inline constexpr double kTwoPi = 6.283185307179586;

/// The angle of level `level` at resolution `n`.
inline double level_angle(double level, double n) noexcept { return (level * kTwoPi) / n; }

/// Rounds half away from zero and converts, saturating (NaN becomes 0).
inline std::int64_t round_to_int64(double t) noexcept {
    const double r = std::round(t);
    if (!(r == r)) return 0;
    if (r >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (r < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(r);
}

/// The level nearest to the direction of the point (x, y): atan2(y, x) turned
/// into t = (a / 2pi) * n, rounded half away from zero, Euclidean remainder mod n.
inline std::uint32_t snap_to_level(double y, double x, std::uint32_t n) noexcept {
    const double a = std::atan2(y, x);
    const double t = (a / kTwoPi) * static_cast<double>(n);
    const std::int64_t k = round_to_int64(t);
    const std::int64_t modulus = n;
    std::int64_t q = k % modulus;
    if (q < 0) q += modulus;
    return static_cast<std::uint32_t>(q);
}

}  // namespace verrakin
