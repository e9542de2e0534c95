// Multiword fixed point for the rare accurate paths: a nonnegative value
// w[0] + w[1] 2^-32 + ... + w[11] 2^-352 in 32-bit words with 64-bit products,
// so nothing needs a 128-bit integer type. Products and quotients truncate:
// each operation errs by less than 2^-351 (two units of the last word), which
// the callers count.
#pragma once

#include <array>
#include <cstdint>

namespace verrakin::maths::detail {

inline constexpr int kWords = 12;
inline constexpr int kFractionBits = 32 * (kWords - 1);

struct Fixed {
    std::array<std::uint32_t, kWords> w{};
};

/// A signed fixed-point value: magnitude and sign.
struct SignedFixed {
    Fixed magnitude;
    bool negative = false;
};

Fixed fixed_add(const Fixed& a, const Fixed& b) noexcept;
/// a - b for a >= b.
Fixed fixed_subtract(const Fixed& a, const Fixed& b) noexcept;
int fixed_compare(const Fixed& a, const Fixed& b) noexcept;
bool fixed_is_zero(const Fixed& a) noexcept;
Fixed fixed_multiply(const Fixed& a, const Fixed& b) noexcept;
Fixed fixed_multiply_small(const Fixed& a, std::uint32_t m) noexcept;
Fixed fixed_divide_small(const Fixed& a, std::uint32_t d) noexcept;
/// a * 2^-n (n >= 0), truncated.
Fixed fixed_shift_down(const Fixed& a, int n) noexcept;
/// a * 2^n (n >= 0); the bits above the integer word are lost.
Fixed fixed_shift_up(const Fixed& a, int n) noexcept;
/// The bits of v 2^weight below 2^0 (the fraction, truncated below 2^-352).
Fixed fixed_fraction_of(std::uint64_t v, int weight) noexcept;
/// The exact value of a finite double |x| times 2^n, truncated (needs |x| 2^n < 2^32).
Fixed fixed_from_double(double x, int n) noexcept;
/// (a / b) 2^n for 53-bit integers a, b > 0 (n <= 0 so the quotient fits), truncated.
Fixed fixed_quotient(std::uint64_t a, std::uint64_t b, int n) noexcept;

SignedFixed signed_add(const SignedFixed& a, const SignedFixed& b) noexcept;
SignedFixed signed_multiply(const SignedFixed& a, const SignedFixed& b) noexcept;

/// The double nearest to a 2^n (ties to even), subnormals included; values
/// beyond the double range are not asked for.
double fixed_round(const Fixed& a, int n) noexcept;

}  // namespace verrakin::maths::detail
