// Correctly rounded sin and cos of any double, in three tries.
//
// All tries for |x| < 2^20 write x = k pi/64 + r, |r| <= pi/128 (1 + 2^-26),
// and use sin(x) = A cos r + B sin r with (A, B) = (S_k, C_k) for sin and
// (C_k, -S_k) for cos, S_k and C_k being sin and cos of k pi/64 from a table
// in double-double (each within 2^-106). Where A is not zero, the result is at
// least |A| / 2 (|r| <= pi/128 while k pi/64 is at least pi/64 from the
// zeros), so errors proportional to |A| stay relative.
//
// 1. Quick (nearly every argument): Cody and Waite's reduction with pi/64 in
// four parts, three of 28 bits so k times them is exact (absolute error below
// 2^-115); then A + B r with B r exact, and the rest, A (cos r - 1) and
// B (r - sin r) from short series (truncated below 2^-72), in plain doubles.
// Error: the A (cos r - 1) term, at most 2^-11.7 |A|, is formed from r^2
// rounded, a rounded series, a rounded product and rounded sums, each 2^-53 of
// it: below 2^-61 |A|; the B term below 2^-68 |B|; the rest 2^-100 of the
// result and the reduction's 2^-115. The rounding test allows twice that; it
// fails for a few percent of arguments, which take the second try.
//
// 2. Double-double: the reduction with pi/64 in three 53-bit parts and exact
// Dekker products (2^-134 absolute), series in double-double. Error: series
// truncation below 2^-93 relative; the parts of the series formed in plain
// doubles (from r^4 / 24 and r^5 / 120 on) 2^-76 absolute; table and products
// 2^-100. Relative to the result (at least sin(pi/128) > 2^-5.4 where A and B
// are both nonzero) below 2^-70; where one is zero the result is +-sin r or
// +-cos r, relative error below 2^-79. The rounding test allows 2^-69
// relative plus 2^-130 absolute and fails for about one argument in 2^16.
//
// 3. Accurate (failed tests, and every finite |x| >= 2^20): the exact fraction
// of x / (2pi) from 1536 bits of 1/(2pi) (Payne and Hanek), a quadrant, and
// Taylor series in 352-bit fixed point: absolute error below 2^-340. Doubles
// come no closer to a multiple of pi/2 than about 2^-61 (the Kahan-McDonald
// worst case), so for |x| >= 2^-26 every |sin x| and |cos x| exceeds 2^-64 and
// the relative error stays below 2^-276: far beyond what any argument needs
// (2^64 arguments predict the hardest case near 2^-117; the published
// exhaustive searches of hardest-to-round cases for these functions report none
// needing 2^-150).
//
// The arguments this system forms are checked against MPFR one by one in
// bench/maths_check.cpp.
#include <cstdint>
#include <cstring>

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

constexpr double kFastLimit = 0x1p20;

struct Reduced {
    std::int64_t k;
    DoubleDouble r;
};

/// x = k pi/64 + r for |x| < 2^20, Cody and Waite: the quick try.
Reduced quick_reduce(double x) noexcept {
    const double t = x * tables::kSixtyFourOverPi;
    const double kd = (t + 0x1.8p52) - 0x1.8p52;
    const double* p = tables::kPiOver64Short;
    // Exact: k p[0] and x are multiples of 2^-32 or of ulp(x), and the
    // difference, below pi/128 (1 + 2^-20), fits in 53 bits of that grid.
    const double s = x - kd * p[0];
    const DoubleDouble a = detail::two_sum(s, -(kd * p[1]));
    const DoubleDouble b = detail::two_sum(a.hi, -(kd * p[2]));
    return {static_cast<std::int64_t>(kd), detail::two_sum(b.hi, (a.lo + b.lo) - kd * p[3])};
}

/// A cos r + B sin r, from the quick try; false when the rounding test fails.
bool quick_combination(DoubleDouble a, DoubleDouble b, DoubleDouble r, double& out) noexcept {
    const double z = r.hi * r.hi;
    // cos r - 1 and r - sin r, truncated below 2^-72.
    const double cos_minus_one = z * (0.5 - z * (1.0 / 24 - z * (1.0 / 720 - z * (1.0 / 40320))));
    const double r_minus_sin = r.hi * z * (1.0 / 6 - z * (1.0 / 120 - z * (1.0 / 5040 - z * (1.0 / 362880))));
    const DoubleDouble br = detail::two_product(b.hi, r.hi);
    const DoubleDouble lead = detail::two_sum(a.hi, br.hi);
    const double tail = ((((lead.lo + br.lo) + a.lo) + (b.lo * r.hi + b.hi * r.lo)) - a.hi * cos_minus_one) -
                        b.hi * r_minus_sin;
    const DoubleDouble v = detail::two_sum(lead.hi, tail);
    const double abs_a = a.hi < 0 ? -a.hi : a.hi;
    const double abs_b = b.hi < 0 ? -b.hi : b.hi;
    const double abs_v = v.hi < 0 ? -v.hi : v.hi;
    const double error = abs_a * 0x1p-60 + abs_b * 0x1p-67 + abs_v * 0x1p-100 + 0x1p-113;
    return detail::round_if_safe(v.hi, v.lo, error, out);
}

/// x = k pi/64 + r for |x| < 2^20 with exact products: the double-double try.
Reduced reduce(double x) noexcept {
    const double t = x * tables::kSixtyFourOverPi;
    const double kd = (t + 0x1.8p52) - 0x1.8p52;  // t rounded to an integer, |t| < 2^25
    const DoubleDouble p1 = detail::two_product(kd, tables::kPiOver64[0]);
    const DoubleDouble p2 = detail::two_product(kd, tables::kPiOver64[1]);
    DoubleDouble r = detail::two_sum(x, -p1.hi);
    r = add(r, -p1.lo);
    r = add(r, negate(p2));
    r = add(r, -(kd * tables::kPiOver64[2]));
    return {static_cast<std::int64_t>(kd), r};
}

/// sin r and cos r for |r| <= pi/128 (1 + 2^-26).
void sin_cos_small(DoubleDouble r, DoubleDouble& s, DoubleDouble& c) noexcept {
    DoubleDouble r2 = detail::two_product(r.hi, r.hi);
    r2 = detail::fast_two_sum(r2.hi, r2.lo + 2.0 * r.hi * r.lo);
    const double z = r2.hi;
    // sin r = r - r^3/6 + r^5 (1/120 - r^2/5040 + r^4/362880 - r^6/39916800),
    // the next term below 2^-97 |r|.
    const DoubleDouble r3 = multiply(r2, r);
    const double sin_tail =
        r3.hi * z * (1.0 / 120 + z * (-1.0 / 5040 + z * (1.0 / 362880 + z * (-1.0 / 39916800))));
    s = add(r, add(multiply(r3, DoubleDouble{-tables::kOneSixthHi, -tables::kOneSixthLo}), sin_tail));
    // cos r = 1 - r^2/2 + r^4 (1/24 - r^2/720 + r^4/40320 - r^6/3628800 + r^8/479001600),
    // the next term below 2^-110.
    const double cos_tail =
        z * z * (1.0 / 24 + z * (-1.0 / 720 + z * (1.0 / 40320 + z * (-1.0 / 3628800 + z * (1.0 / 479001600)))));
    c = add(add(DoubleDouble{1.0, 0.0}, DoubleDouble{-0.5 * r2.hi, -0.5 * r2.lo}), cos_tail);
}

DoubleDouble table_sin(std::int64_t k) noexcept {
    const auto& e = tables::kSinTable[static_cast<std::uint64_t>(k) & 127u];
    return {e[0], e[1]};
}

DoubleDouble table_cos(std::int64_t k) noexcept { return table_sin(k + 32); }

double rounding_error(double hi) noexcept { return (hi < 0 ? -hi : hi) * 0x1p-69 + 0x1p-130; }

// ---- accurate path ----

/// The fraction of |x| / (2pi) in fixed point, for finite x.
detail::Fixed turns(double x) noexcept {
    using detail::Fixed;
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t mantissa = bits & 0xFFFFFFFFFFFFFull;
    int e = -1074;
    if (biased != 0) {
        mantissa |= std::uint64_t{1} << 52;
        e = biased - 1075;
    }
    // |x| / (2pi) = sum over words i of mantissa * W_i * 2^(e - 32 (i + 1)),
    // each product split in two 64-bit pieces; whole turns drop out mod 1.
    const std::uint64_t m_high = mantissa >> 32;
    const std::uint64_t m_low = mantissa & 0xFFFFFFFFu;
    Fixed sum;
    const auto accumulate = [&sum](std::uint64_t product, int weight) {
        sum = detail::fixed_add(sum, detail::fixed_fraction_of(product, weight));
    };
    for (std::size_t i = 0; i < tables::kInverseTwoPi.size(); ++i) {
        const int weight = e - 32 * static_cast<int>(i + 1);
        if (weight >= 0) continue;  // whole turns
        if (weight + 96 < -detail::kFractionBits) break;
        accumulate(m_high * tables::kInverseTwoPi[i], weight + 32);
        accumulate(m_low * tables::kInverseTwoPi[i], weight);
    }
    sum.w[0] = 0;
    return sum;
}

}  // namespace

void detail::accurate_sin_cos(double x, double* s, double* c) noexcept {
    using namespace detail;
    const double ax = x < 0 ? -x : x;
    // Quadrant q and the remainder g in [-1/8, 1/8] turns: |x| = (q/4 + g) 2pi.
    Fixed f = fixed_shift_up(turns(ax), 2);
    std::uint32_t q = f.w[0];
    f.w[0] = 0;
    bool g_negative = false;
    if ((f.w[1] >> 31) != 0) {  // fraction >= 1/2: round up to the next quadrant
        Fixed one;
        one.w[0] = 1;
        f = fixed_subtract(one, f);
        g_negative = true;
        ++q;
    }
    q &= 3u;
    const Fixed theta = fixed_multiply(fixed_shift_down(f, 2), Fixed{tables::kFixedTwoPi});  // |angle| <= pi/4
    const Fixed theta2 = fixed_multiply(theta, theta);
    // Alternating series, positive and negative terms summed apart.
    Fixed sin_pos = theta, sin_neg, cos_pos, cos_neg;
    cos_pos.w[0] = 1;
    Fixed term = theta;
    for (std::uint32_t k = 1; !fixed_is_zero(term); ++k) {
        term = fixed_divide_small(fixed_multiply(term, theta2), (2 * k) * (2 * k + 1));
        (k % 2 ? sin_neg : sin_pos) = fixed_add(k % 2 ? sin_neg : sin_pos, term);
    }
    term = cos_pos;
    for (std::uint32_t k = 1; !fixed_is_zero(term); ++k) {
        term = fixed_divide_small(fixed_multiply(term, theta2), (2 * k - 1) * (2 * k));
        (k % 2 ? cos_neg : cos_pos) = fixed_add(k % 2 ? cos_neg : cos_pos, term);
    }
    const Fixed sin_theta = fixed_subtract(sin_pos, sin_neg);  // of |angle|
    const Fixed cos_theta = fixed_subtract(cos_pos, cos_neg);
    // angle = q pi/2 + (g_negative ? -theta : theta).
    const double st = fixed_round(sin_theta, 0) * (g_negative ? -1.0 : 1.0);
    const double ct = fixed_round(cos_theta, 0);
    const double sx = x < 0 ? -1.0 : 1.0;
    if (s) {
        const double v = q == 0 ? st : q == 1 ? ct : q == 2 ? -st : -ct;
        *s = sx * v;
    }
    if (c) *c = q == 0 ? ct : q == 1 ? -st : q == 2 ? -ct : st;
}

namespace {

bool is_finite(double x) noexcept { return x - x == 0.0; }

}  // namespace

double sin(double x) noexcept {
    const double ax = x < 0 ? -x : x;
    if (ax < 0x1p-26) return x;  // sin x = x (1 - x^2/6 + ...), x^2/6 < 2^-54.5
    if (!(ax < kFastLimit)) {
        if (!is_finite(x)) return x - x;
        double s;
        detail::accurate_sin_cos(x, &s, nullptr);
        return s;
    }
    double out;
    const Reduced quick = quick_reduce(x);
    if (quick_combination(table_sin(quick.k), table_cos(quick.k), quick.r, out)) return out;
    const Reduced red = reduce(x);
    DoubleDouble sr, cr;
    sin_cos_small(red.r, sr, cr);
    const DoubleDouble v = add(multiply(table_sin(red.k), cr), multiply(table_cos(red.k), sr));
    if (detail::round_if_safe(v.hi, v.lo, rounding_error(v.hi), out)) return out;
    detail::accurate_sin_cos(x, &out, nullptr);
    return out;
}

double cos(double x) noexcept {
    const double ax = x < 0 ? -x : x;
    if (ax < 0x1p-27) return 1.0;  // cos x = 1 - x^2/2 + ..., x^2/2 < 2^-55
    if (!(ax < kFastLimit)) {
        if (!is_finite(x)) return x - x;
        double c;
        detail::accurate_sin_cos(x, nullptr, &c);
        return c;
    }
    double out;
    const Reduced quick = quick_reduce(x);
    if (quick_combination(table_cos(quick.k), negate(table_sin(quick.k)), quick.r, out)) return out;
    const Reduced red = reduce(x);
    DoubleDouble sr, cr;
    sin_cos_small(red.r, sr, cr);
    const DoubleDouble v = add(multiply(table_cos(red.k), cr), negate(multiply(table_sin(red.k), sr)));
    if (detail::round_if_safe(v.hi, v.lo, rounding_error(v.hi), out)) return out;
    detail::accurate_sin_cos(x, nullptr, &out);
    return out;
}

void sincos(double x, double& s, double& c) noexcept {
    const double ax = x < 0 ? -x : x;
    if (ax < 0x1p-26 || !(ax < kFastLimit)) {
        s = sin(x);
        c = cos(x);
        return;
    }
    const Reduced quick = quick_reduce(x);
    const DoubleDouble ts = table_sin(quick.k);
    const DoubleDouble tc = table_cos(quick.k);
    const bool sin_done = quick_combination(ts, tc, quick.r, s);
    const bool cos_done = quick_combination(tc, negate(ts), quick.r, c);
    if (!sin_done) s = sin(x);
    if (!cos_done) c = cos(x);
}

const char* implementation_name() noexcept { return "correctly rounded"; }

}  // namespace verrakin::maths
