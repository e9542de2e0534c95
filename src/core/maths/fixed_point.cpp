#include "fixed_point.hpp"

#include <cstring>

#include "double_double.hpp"

namespace verrakin::maths::detail {
namespace {

// Bit of weight 2^q: word (31 - q) / 32, bit q mod 32; weights run from 2^31
// (the top of the integer word) down to 2^-352.
bool has_weight(int q) noexcept { return q <= 31 && q >= -kFractionBits; }

int word_of(int q) noexcept { return (31 - q) / 32; }
int bit_of(int q) noexcept { return q + 32 * word_of(q); }

bool bit_at(const Fixed& a, int q) noexcept {
    if (!has_weight(q)) return false;
    return ((a.w[word_of(q)] >> bit_of(q)) & 1u) != 0;
}

void set_bit(Fixed& a, int q) noexcept {
    if (has_weight(q)) a.w[word_of(q)] |= std::uint32_t{1} << bit_of(q);
}

/// The weight of the leading one bit; a must not be zero.
int leading_weight(const Fixed& a) noexcept {
    for (int i = 0; i < kWords; ++i) {
        if (a.w[i] == 0) continue;
        int b = 31;
        while (((a.w[i] >> b) & 1u) == 0) --b;
        return b - 32 * i;
    }
    return -kFractionBits - 1;
}

}  // namespace

Fixed fixed_add(const Fixed& a, const Fixed& b) noexcept {
    Fixed r;
    std::uint64_t carry = 0;
    for (int i = kWords - 1; i >= 0; --i) {
        const std::uint64_t t = std::uint64_t{a.w[i]} + b.w[i] + carry;
        r.w[i] = static_cast<std::uint32_t>(t);
        carry = t >> 32;
    }
    return r;
}

Fixed fixed_subtract(const Fixed& a, const Fixed& b) noexcept {
    Fixed r;
    std::uint64_t borrow = 0;
    for (int i = kWords - 1; i >= 0; --i) {
        const std::uint64_t t = std::uint64_t{a.w[i]} - b.w[i] - borrow;
        r.w[i] = static_cast<std::uint32_t>(t);
        borrow = (t >> 63) & 1u;
    }
    return r;
}

int fixed_compare(const Fixed& a, const Fixed& b) noexcept {
    for (int i = 0; i < kWords; ++i) {
        if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
    }
    return 0;
}

bool fixed_is_zero(const Fixed& a) noexcept {
    for (std::uint32_t word : a.w) {
        if (word != 0) return false;
    }
    return true;
}

Fixed fixed_multiply(const Fixed& a, const Fixed& b) noexcept {
    // Schoolbook product of the little-endian integers a 2^352 and b 2^352;
    // the result is the product shifted down by 352 bits.
    std::uint32_t product[2 * kWords] = {};
    for (int i = 0; i < kWords; ++i) {
        const std::uint64_t ai = a.w[kWords - 1 - i];
        if (ai == 0) continue;
        std::uint64_t carry = 0;
        for (int j = 0; j < kWords; ++j) {
            const std::uint64_t t = ai * b.w[kWords - 1 - j] + product[i + j] + carry;
            product[i + j] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        product[i + kWords] = static_cast<std::uint32_t>(carry);
    }
    Fixed r;
    for (int k = 0; k < kWords; ++k) r.w[kWords - 1 - k] = product[k + kWords - 1];
    return r;
}

Fixed fixed_multiply_small(const Fixed& a, std::uint32_t m) noexcept {
    Fixed r;
    std::uint64_t carry = 0;
    for (int i = kWords - 1; i >= 0; --i) {
        const std::uint64_t t = std::uint64_t{a.w[i]} * m + carry;
        r.w[i] = static_cast<std::uint32_t>(t);
        carry = t >> 32;
    }
    return r;
}

Fixed fixed_divide_small(const Fixed& a, std::uint32_t d) noexcept {
    Fixed r;
    std::uint64_t remainder = 0;
    for (int i = 0; i < kWords; ++i) {
        const std::uint64_t current = (remainder << 32) | a.w[i];
        r.w[i] = static_cast<std::uint32_t>(current / d);
        remainder = current % d;
    }
    return r;
}

Fixed fixed_shift_down(const Fixed& a, int n) noexcept {
    Fixed r;
    const int words = n / 32;
    const int bits = n % 32;
    for (int i = kWords - 1; i >= words; --i) {
        const int from = i - words;
        std::uint64_t t = std::uint64_t{a.w[from]} >> bits;
        if (bits != 0 && from >= 1) t |= (std::uint64_t{a.w[from - 1]} << (32 - bits)) & 0xFFFFFFFFu;
        r.w[i] = static_cast<std::uint32_t>(t);
    }
    return r;
}

Fixed fixed_shift_up(const Fixed& a, int n) noexcept {
    Fixed r;
    const int words = n / 32;
    const int bits = n % 32;
    for (int i = 0; i + words < kWords; ++i) {
        const int from = i + words;
        std::uint64_t t = (std::uint64_t{a.w[from]} << bits) & 0xFFFFFFFFu;
        if (bits != 0 && from + 1 < kWords) t |= std::uint64_t{a.w[from + 1]} >> (32 - bits);
        r.w[i] = static_cast<std::uint32_t>(t);
    }
    return r;
}

Fixed fixed_fraction_of(std::uint64_t v, int weight) noexcept {
    Fixed r;
    for (int b = 0; b < 64; ++b) {
        if (((v >> b) & 1u) != 0 && b + weight < 0) set_bit(r, b + weight);
    }
    return r;
}

Fixed fixed_from_double(double x, int n) noexcept {
    Fixed r;
    if (x < 0) x = -x;
    if (x == 0) return r;
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int biased = static_cast<int>(bits >> 52);
    std::uint64_t mantissa = bits & 0xFFFFFFFFFFFFFull;
    int e;
    if (biased == 0) {
        e = -1074;
    } else {
        mantissa |= std::uint64_t{1} << 52;
        e = biased - 1075;
    }
    for (int b = 0; b < 53; ++b) {
        if ((mantissa >> b) & 1u) set_bit(r, b + e + n);
    }
    return r;
}

Fixed fixed_quotient(std::uint64_t a, std::uint64_t b, int n) noexcept {
    Fixed r;
    if (a / b != 0) {
        // a / b < 2^53: place the integer part bit by bit.
        const std::uint64_t whole = a / b;
        for (int bit = 0; bit < 53; ++bit) {
            if ((whole >> bit) & 1u) set_bit(r, bit + n);
        }
    }
    std::uint64_t remainder = a % b;
    // Fraction bits of a / b, eleven at a time (remainder 2^11 < 2^64).
    for (int weight = -1; weight + n >= -kFractionBits; weight -= 11) {
        remainder <<= 11;
        const std::uint64_t chunk = remainder / b;
        remainder %= b;
        for (int bit = 0; bit < 11; ++bit) {
            if ((chunk >> (10 - bit)) & 1u) set_bit(r, weight - bit + n);
        }
    }
    return r;
}

SignedFixed signed_add(const SignedFixed& a, const SignedFixed& b) noexcept {
    if (a.negative == b.negative) return {fixed_add(a.magnitude, b.magnitude), a.negative};
    if (fixed_compare(a.magnitude, b.magnitude) >= 0) {
        return {fixed_subtract(a.magnitude, b.magnitude), a.negative};
    }
    return {fixed_subtract(b.magnitude, a.magnitude), b.negative};
}

SignedFixed signed_multiply(const SignedFixed& a, const SignedFixed& b) noexcept {
    return {fixed_multiply(a.magnitude, b.magnitude), a.negative != b.negative};
}

double fixed_round(const Fixed& a, int n) noexcept {
    if (fixed_is_zero(a)) return 0.0;
    const int top = leading_weight(a);
    // Keep 53 bits, or fewer where the result falls below 2^-1022.
    int cut = top - 52;
    if (cut + n < -1074) cut = -1074 - n;
    std::uint64_t mantissa = 0;
    for (int q = top; q >= cut; --q) mantissa = (mantissa << 1) | (bit_at(a, q) ? 1u : 0u);
    const bool round_bit = bit_at(a, cut - 1);
    bool sticky = false;
    for (int q = cut - 2; q >= -kFractionBits && !sticky; --q) sticky = bit_at(a, q);
    if (round_bit && (sticky || (mantissa & 1u))) ++mantissa;
    return scale(static_cast<double>(mantissa), cut + n);
}

}  // namespace verrakin::maths::detail
