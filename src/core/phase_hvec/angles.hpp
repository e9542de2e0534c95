// Levels and angles on the circle, shared by bundling and the resonator.
//
// Level k at resolution n stands for the angle (k * 2pi) / n: the product is
// rounded first, then the quotient. The reverse (the snapping rule) is
// (a / 2pi) * n rounded half away from zero, reduced into 0..n-1.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "../maths/maths.hpp"

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

/// The Euclidean remainder of k modulo n. |k| <= n/2 + 1 whenever k comes from
/// an angle in [-pi, pi], so a single correction replaces the division there.
inline std::uint32_t euclidean_level(std::int64_t k, std::uint32_t n) noexcept {
    const std::int64_t modulus = n;
    if (k > -modulus && k < modulus) return static_cast<std::uint32_t>(k < 0 ? k + modulus : k);
    std::int64_t q = k % modulus;
    if (q < 0) q += modulus;
    return static_cast<std::uint32_t>(q);
}

/// The snapping rule, step by step: the level nearest to the direction of the
/// point (x, y) is atan2(y, x) turned into t = (a / 2pi) * n, rounded half away
/// from zero, Euclidean remainder mod n.
inline std::uint32_t snap_to_level_exact(double y, double x, std::uint32_t n) noexcept {
    const double a = maths::atan2(y, x);
    const double t = (a / kTwoPi) * static_cast<double>(n);
    return euclidean_level(round_to_int64(t), n);
}

/// atan2(y, x) for finite x, y with x or y zero. C99 (Annex F) fixes these
/// results and maths::atan2 returns them exactly: +-0 or +-pi on the x axis,
/// +-pi/2 on the y axis, the sign taken from y.
inline double axis_atan2(double y, double x) noexcept {
    constexpr double kPi = 3.141592653589793;  // the double nearest to pi; half of it is pi/2 rounded
    if (y == 0.0) return std::copysign(std::signbit(x) ? kPi : 0.0, y);
    return std::copysign(kPi / 2, y);
}

namespace detail {

/// atan(j / 64) for j = 0..64, from maths::atan2 (filled when the library loads).
extern const std::array<double, 65> atan_table;

/// atan2(y, x) within about 1e-14 for finite x, y with x != 0 and y != 0: an
/// octant reduction to u in [0, 1], then atan(u) = atan(c) + atan(d) with c the
/// nearest multiple of 1/64 and d = (u - c) / (1 + u c), |d| <= 1/128, whose
/// series is cut after d^7 (remainder below 2e-20).
inline double approximate_atan2(double y, double x) noexcept {
    constexpr double kPi = 3.141592653589793;
    constexpr double kHalfPi = 1.5707963267948966;
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    const double u = (ax < ay ? ax : ay) / (ax < ay ? ay : ax);
    const int j = static_cast<int>(u * 64.0 + 0.5);
    const double c = j * 0.015625;
    const double d = (u - c) / (1.0 + u * c);
    const double d2 = d * d;
    const double series = d * (1.0 - d2 * (1.0 / 3.0 - d2 * (1.0 / 5.0 - d2 * (1.0 / 7.0))));
    double a = atan_table[j] + series;
    // Octant and quadrant corrections without branches (the data decide them at
    // random): with s in {0, 1}, s * h + a * (1 - 2s) is exactly a or h - a.
    const double steep = ay > ax ? 1.0 : 0.0;
    a = steep * kHalfPi + a * (1.0 - 2.0 * steep);
    const double left = x < 0 ? 1.0 : 0.0;
    a = left * kPi + a * (1.0 - 2.0 * left);
    return std::copysign(a, y);
}

}  // namespace detail

/// The snapping rule, with the same result as snap_to_level_exact for every
/// input. The level depends on atan2 only through the rounding of t: where an
/// approximation of t lies more than 1e-7 from every half-integer, its rounding
/// is the rounding of the exact t (the two differ by less than 1e-9 for
/// n <= 65536), so maths::atan2 is called only near a half level or
/// for non-finite input; on an axis its exact value is known.
inline std::uint32_t snap_to_level(double y, double x, std::uint32_t n) noexcept {
    if (!(std::isfinite(x) && std::isfinite(y))) return snap_to_level_exact(y, x, n);
    if (x == 0.0 || y == 0.0) {
        const double t = (axis_atan2(y, x) / kTwoPi) * static_cast<double>(n);
        return euclidean_level(round_to_int64(t), n);
    }
    // Only an approximation of t is needed here, so the factor n / 2pi (hoisted
    // out of a caller's loop) replaces the division.
    const double t = detail::approximate_atan2(y, x) * (static_cast<double>(n) / kTwoPi);
    // v = t + 0.5 shifted to be positive (|t| <= 32768); its integer part is
    // floor(t + 0.5), which is t rounded when t is not a half-integer.
    const double v = t + 65536.5;
    const double whole = static_cast<double>(static_cast<std::int64_t>(v));
    const double fraction = v - whole;
    if (fraction < 1e-7 || fraction > 1.0 - 1e-7) return snap_to_level_exact(y, x, n);
    return euclidean_level(static_cast<std::int64_t>(whole) - 65536, n);
}

}  // namespace verrakin
