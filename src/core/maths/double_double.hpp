// Double-double arithmetic from binary64 basic operations alone (round to
// nearest, no fused multiply-add, each operation rounded to binary64, as on
// SSE2 or any IEEE unit but not x87 extended precision): a value is hi + lo
// with |lo| <= ulp(hi) / 2.
//
// Bounds (no underflow or overflow in between, which the callers ensure):
// two_sum, fast_two_sum and two_product are exact; add and multiply of
// double-doubles err by at most 2^-104 relative to the magnitudes involved,
// divide by at most 2^-102 relative to the quotient.
#pragma once

#include <cstdint>
#include <cstring>

namespace verrakin::maths::detail {

struct DoubleDouble {
    double hi;
    double lo;
};

/// a + b = s + e exactly (Knuth), whatever the order of magnitudes.
inline DoubleDouble two_sum(double a, double b) noexcept {
    const double s = a + b;
    const double bb = s - a;
    const double e = (a - (s - bb)) + (b - bb);
    return {s, e};
}

/// a + b = s + e exactly when |a| >= |b| or a == 0 (Dekker).
inline DoubleDouble fast_two_sum(double a, double b) noexcept {
    const double s = a + b;
    return {s, b - (s - a)};
}

/// a = hi + lo with hi holding the upper 26 significant bits (Veltkamp).
inline DoubleDouble split(double a) noexcept {
    const double t = 134217729.0 * a;  // 2^27 + 1
    const double hi = t - (t - a);
    return {hi, a - hi};
}

/// a * b = p + e exactly (Dekker), for |a|, |b| < 2^995 and products above 2^-969.
inline DoubleDouble two_product(double a, double b) noexcept {
    const double p = a * b;
    const DoubleDouble as = split(a);
    const DoubleDouble bs = split(b);
    const double e = ((as.hi * bs.hi - p) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo;
    return {p, e};
}

inline DoubleDouble add(DoubleDouble a, DoubleDouble b) noexcept {
    const DoubleDouble s = two_sum(a.hi, b.hi);
    const DoubleDouble t = two_sum(a.lo, b.lo);
    DoubleDouble r = fast_two_sum(s.hi, s.lo + t.hi);
    return fast_two_sum(r.hi, r.lo + t.lo);
}

inline DoubleDouble add(DoubleDouble a, double b) noexcept {
    const DoubleDouble s = two_sum(a.hi, b);
    return fast_two_sum(s.hi, s.lo + a.lo);
}

inline DoubleDouble negate(DoubleDouble a) noexcept { return {-a.hi, -a.lo}; }

inline DoubleDouble multiply(DoubleDouble a, DoubleDouble b) noexcept {
    const DoubleDouble p = two_product(a.hi, b.hi);
    return fast_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

inline DoubleDouble multiply(DoubleDouble a, double b) noexcept {
    const DoubleDouble p = two_product(a.hi, b);
    return fast_two_sum(p.hi, p.lo + a.lo * b);
}

inline DoubleDouble divide(DoubleDouble a, DoubleDouble b) noexcept {
    const double q = a.hi / b.hi;
    // a - q b, with q b formed exactly and the leading terms cancelling exactly.
    const DoubleDouble p = two_product(q, b.hi);
    const double remainder = (((a.hi - p.hi) - p.lo) + a.lo) - q * b.lo;
    return fast_two_sum(q, remainder / b.hi);
}

/// Ziv's rounding test. hi + lo (|lo| <= ulp(hi)) is within `error` of the
/// exact value v, and |hi| >= 2^-900. If every real within `error` of hi + lo
/// rounds to the same double, stores it in `out` and returns true.
///
/// Why the margins: lo -+ e is rounded before it is added to hi, by at most
/// 2^-53 (|lo| + e) <= 2^-105 |hi| + 2^-53 e. With e = 2 error + 2^-104 |hi|
/// the rounded lo - e stays below lo - error (and lo + e above lo + error), so
/// by monotonicity of rounding both ends bracket the rounding of v.
inline bool round_if_safe(double hi, double lo, double error, double& out) noexcept {
    const double a = hi < 0 ? -hi : hi;
    const double e = 2.0 * error + a * 0x1p-104;
    const double below = hi + (lo - e);
    const double above = hi + (lo + e);
    if (below != above) return false;
    out = below;
    return true;
}

/// The unbiased binary exponent of a finite nonzero double (subnormals included).
inline int exponent_of(double x) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    if (biased != 0) return biased - 1023;
    const std::uint64_t mantissa = bits & 0xFFFFFFFFFFFFFull;
    int e = -1023;
    for (std::uint64_t m = mantissa; m < (std::uint64_t{1} << 52); m <<= 1) --e;
    return e + 1;
}

/// 2^n for -1022 <= n <= 1023.
inline double power_of_two(int n) noexcept {
    const std::uint64_t bits = static_cast<std::uint64_t>(n + 1023) << 52;
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

/// x * 2^n exactly, for results in the normal range.
inline double scale(double x, int n) noexcept {
    while (n > 1000) {
        x *= power_of_two(1000);
        n -= 1000;
    }
    while (n < -1000) {
        x *= power_of_two(-1000);
        n += 1000;
    }
    return x * power_of_two(n);
}

}  // namespace verrakin::maths::detail
