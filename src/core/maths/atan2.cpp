// Correctly rounded atan2 of every pair of doubles.
//
// With a = min(|x|, |y|) and b = max(|x|, |y|), u = a / b in [0, 1] and
// atan2(y, x) = +-(theta, pi/2 - theta, pi/2 + theta or pi - theta) with
// theta = atan(u), by octant; C99 (Annex F) fixes zeros, infinities and NaN.
//
// Fast path (u >= 2^-60): u = q + q' in double-double from the exact
// remainder of the division (relative error 2^-105); c = j/64 nearest to u,
// d = (u - c) / (1 + u c) with |d| <= 1/128, atan u = atan c + atan d from a
// table and the series of atan d to d^13 (truncation below 2^-98 |d|; the
// terms from d^5 on formed in plain doubles err by 2^-81 |d|). atan c and atan
// d cannot cancel (|atan d| <= 1/128 < atan(c) / 2 for c > 0), and the octant
// steps add pi/2 or pi to theta <= pi/4 or subtract it, so the result keeps a
// relative error below 2^-78; the rounding test allows 2^-72.
//
// Tiny ratios (u < 2^-60): atan u = u (1 - u^2/3 + ...) differs from u by
// less than 2^-119 relative, so u in double-double decides it where the
// result is normal; pi/2 -+ u and pi - u likewise.
//
// Accurate path (failed tests, subnormal results): u from a long division of
// the 53-bit significands in 352-bit fixed point, atan c + atan d as above
// with a Newton reciprocal and the series to 2^-352, or u (1 - u^2/3 + ...)
// scaled by its exponent where the result is atan u < 2^-30: relative error
// below 2^-300. No proof bounds how close atan(y/x) of two doubles comes to a
// rounding boundary; 2^128 pairs predict about 2^-(53 + 128) relative, far
// above 2^-300. The inputs this system forms, and ten million others, are
// checked against MPFR in bench/maths_check.cpp.
#include <cstdint>
#include <cstring>
#include <limits>

#include "accurate.hpp"
#include "double_double.hpp"
#include "fixed_point.hpp"
#include "maths.hpp"
#include "tables.hpp"

namespace verrakin::maths {
namespace {

using detail::add;
using detail::DoubleDouble;
using detail::multiply;
using detail::negate;

constexpr DoubleDouble kPi{tables::kPiHi, tables::kPiLo};
constexpr DoubleDouble kHalfPi{tables::kHalfPiHi, tables::kHalfPiLo};

/// The octant of (x, y): which of theta, pi/2 -+ theta, pi - theta it is.
struct Octant {
    bool steep;  // |y| > |x|
    bool left;   // x < 0
};

DoubleDouble place_in_octant(DoubleDouble theta, Octant o) noexcept {
    if (o.steep) return o.left ? add(kHalfPi, theta) : add(kHalfPi, negate(theta));
    if (o.left) return add(kPi, negate(theta));
    return theta;
}

/// The significand of a finite nonzero double as a 53-bit integer m with
/// |x| = m 2^e, 2^52 <= m < 2^53.
std::uint64_t significand(double x, int& e) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t m = bits & 0xFFFFFFFFFFFFFull;
    if (biased != 0) {
        e = biased - 1075;
        return m | (std::uint64_t{1} << 52);
    }
    e = -1074;
    while (m < (std::uint64_t{1} << 52)) {
        m <<= 1;
        --e;
    }
    return m;
}

/// atan(u) for 0 <= u <= 1 in fixed point, error below 2^-343.
detail::Fixed fixed_atan(const detail::Fixed& u) noexcept {
    using namespace detail;
    // j = u * 64 rounded, c = j / 64.
    const Fixed u64 = fixed_shift_up(u, 6);
    const std::uint32_t j = u64.w[0] + (u64.w[1] >> 31);
    Fixed c;
    c.w[0] = j;
    c = fixed_shift_down(c, 6);
    const bool below = fixed_compare(u, c) < 0;
    const Fixed numerator = below ? fixed_subtract(c, u) : fixed_subtract(u, c);
    Fixed one;
    one.w[0] = 1;
    const Fixed denominator = fixed_add(one, fixed_multiply(u, c));  // in [1, 2]
    // Newton's iteration z <- z (2 - den z) from a double: 53, 106, 212, 424 bits.
    Fixed z = fixed_from_double(1.0 / fixed_round(denominator, 0), 0);
    Fixed two;
    two.w[0] = 2;
    for (int step = 0; step < 4; ++step) z = fixed_multiply(z, fixed_subtract(two, fixed_multiply(denominator, z)));
    const Fixed d = fixed_multiply(numerator, z);  // |d| <= 1/128
    const Fixed d2 = fixed_multiply(d, d);
    Fixed positive = d, negative, power = d;
    for (std::uint32_t k = 1; !fixed_is_zero(power); ++k) {
        power = fixed_multiply(power, d2);
        Fixed& sum = k % 2 ? negative : positive;
        sum = fixed_add(sum, fixed_divide_small(power, 2 * k + 1));
    }
    const Fixed atan_d = fixed_subtract(positive, negative);
    const Fixed table{tables::kFixedAtan[j]};
    return below ? fixed_subtract(table, atan_d) : fixed_add(table, atan_d);
}

/// |atan2| from the accurate path, for a = min(|x|, |y|) > 0, b = max.
double accurate_magnitude(double a, double b, Octant o) noexcept {
    using namespace detail;
    int ea, eb;
    const std::uint64_t ma = significand(a, ea);
    const std::uint64_t mb = significand(b, eb);
    const int shift = ea - eb;  // u = (ma / mb) 2^shift, shift <= 0
    if (!o.steep && !o.left && shift < -30) {
        // atan u = u (1 - u^2/3 + u^4/5 - ...), kept relative to u's exponent.
        const Fixed m = fixed_quotient(ma, mb, 0);
        const Fixed u2 = fixed_shift_down(fixed_multiply(m, m), -2 * shift);
        Fixed positive, negative, power;
        positive.w[0] = 1;
        power.w[0] = 1;
        for (std::uint32_t k = 1; !fixed_is_zero(power); ++k) {
            power = fixed_multiply(power, u2);
            Fixed& sum = k % 2 ? negative : positive;
            sum = fixed_add(sum, fixed_divide_small(power, 2 * k + 1));
        }
        return fixed_round(fixed_multiply(m, fixed_subtract(positive, negative)), shift);
    }
    const Fixed u = -shift > kFractionBits + 2 ? Fixed{} : fixed_quotient(ma, mb, shift);
    Fixed theta = fixed_atan(u);
    Fixed half_pi, pi;
    half_pi.w = tables::kFixedHalfPi;
    pi.w = tables::kFixedPi;
    if (o.steep) {
        theta = o.left ? fixed_add(half_pi, theta) : fixed_subtract(half_pi, theta);
    } else if (o.left) {
        theta = fixed_subtract(pi, theta);
    }
    return fixed_round(theta, 0);
}

/// |atan2| for a = min(|x|, |y|) > 0 and b = max, both finite.
double magnitude(double a, double b, Octant o) noexcept {
    const int ea = detail::exponent_of(a);
    const int eb = detail::exponent_of(b);
    double out;
    if (ea - eb < -60) {
        if (!o.steep && !o.left) {
            // Scaled to [1, 2) so nothing underflows; the rounding carries over
            // when the result u 2^(ea - eb) is a normal double.
            if (ea - eb < -1000) return accurate_magnitude(a, b, o);
            const double as = detail::scale(a, -ea);
            const double bs = detail::scale(b, -eb);
            const double q = as / bs;
            const DoubleDouble p = detail::two_product(q, bs);
            const double q_low = ((as - p.hi) - p.lo) / bs;
            if (detail::round_if_safe(q, q_low, q * 0x1p-100, out)) return detail::scale(out, ea - eb);
            return accurate_magnitude(a, b, o);
        }
        // pi/2 -+ u or pi - u, u < 2^-59: u's own rounding error (2^-112 and
        // underflow) and pi's 2^-105 stay within the test's 2^-100.
        const DoubleDouble v = place_in_octant(DoubleDouble{a / b, 0.0}, o);
        if (detail::round_if_safe(v.hi, v.lo, 0x1p-100, out)) return out;
        return accurate_magnitude(a, b, o);
    }
    const double as = detail::scale(a, -eb);  // >= 2^-61
    const double bs = detail::scale(b, -eb);  // in [1, 2)
    const double q = as / bs;
    // The remainder as - q bs is a double and the subtraction below forms it exactly.
    const DoubleDouble p = detail::two_product(q, bs);
    const double q_low = ((as - p.hi) - p.lo) / bs;
    const int j = static_cast<int>(q * 64.0 + 0.5);
    const double c = j * 0.015625;
    const DoubleDouble numerator = detail::two_sum(q - c, q_low);  // q - c is exact
    const DoubleDouble qc = detail::two_product(q, c);
    const DoubleDouble denominator = add(detail::two_sum(1.0, qc.hi), qc.lo + q_low * c);
    const DoubleDouble d = detail::divide(numerator, denominator);
    DoubleDouble d2 = detail::two_product(d.hi, d.hi);
    d2 = detail::fast_two_sum(d2.hi, d2.lo + 2.0 * d.hi * d.lo);
    const double z = d2.hi;
    // atan d = d - d^3/3 + d^5 (1/5 - d^2/7 + d^4/9 - d^6/11 + d^8/13).
    const double tail = d.hi * z * z * (1.0 / 5 + z * (-1.0 / 7 + z * (1.0 / 9 + z * (-1.0 / 11 + z * (1.0 / 13)))));
    const DoubleDouble d3 = multiply(d2, d);
    const DoubleDouble atan_d =
        add(d, add(multiply(d3, DoubleDouble{-tables::kOneThirdHi, -tables::kOneThirdLo}), tail));
    const DoubleDouble theta = add(DoubleDouble{tables::kAtanTable[j][0], tables::kAtanTable[j][1]}, atan_d);
    const DoubleDouble v = place_in_octant(theta, o);
    const double error = (v.hi < 0 ? -v.hi : v.hi) * 0x1p-72;
    if (detail::round_if_safe(v.hi, v.lo, error, out)) return out;
    return accurate_magnitude(a, b, o);
}

bool is_nan(double x) noexcept { return x != x; }

double with_sign_of(double magnitude, double y) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, &y, sizeof bits);
    return (bits >> 63) != 0 ? -magnitude : magnitude;
}

bool is_negative(double x) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits >> 63) != 0;
}

}  // namespace

double detail::accurate_atan2(double y, double x) noexcept {
    const double ax = x < 0 ? -x : x;
    const double ay = y < 0 ? -y : y;
    const Octant o{ay > ax, is_negative(x)};
    return with_sign_of(o.steep ? accurate_magnitude(ax, ay, o) : accurate_magnitude(ay, ax, o), y);
}

double atan2(double y, double x) noexcept {
    if (is_nan(x) || is_nan(y)) return x + y;
    const double ax = x < 0 ? -x : x;
    const double ay = y < 0 ? -y : y;
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    if (ay == kInfinity) {
        if (ax == kInfinity) return with_sign_of(is_negative(x) ? tables::kThreeQuarterPi : tables::kPiHi / 4, y);
        return with_sign_of(tables::kHalfPiHi, y);
    }
    if (ax == kInfinity) return with_sign_of(is_negative(x) ? tables::kPiHi : 0.0, y);
    if (y == 0) return with_sign_of(is_negative(x) ? tables::kPiHi : 0.0, y);
    if (x == 0) return with_sign_of(tables::kHalfPiHi, y);
    const Octant o{ay > ax, is_negative(x)};
    return with_sign_of(o.steep ? magnitude(ax, ay, o) : magnitude(ay, ax, o), y);
}

}  // namespace verrakin::maths
