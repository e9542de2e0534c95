// The generator with 4 (AVX2) or 8 (AVX-512) phases per register.
//
// Each lane computes the reference's mixed word exactly (64-bit wrapping
// arithmetic). Only the remainder is computed differently, with the same value:
//   - n a power of two: t mod n = t & (n - 1);
//   - otherwise t = hi * 2^32 + lo is first folded to x = hi * (2^32 mod n) + lo,
//     which has the same remainder and is below 2^49, so x is exact as a double.
//     q = floor(x * (1/n)) is then off by at most one (the product's error is
//     below x/n * 2^-52 <= 1/16), and r = x - q n (exact: integers below 2^53)
//     is brought into [0, n) by one conditional add or subtract of n.
#include <immintrin.h>

// GCC 12's intrinsics leave the unused pass-through operand of some
// instructions undefined on purpose, which -Wmaybe-uninitialized reports.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "../cpu/isa.hpp"
#include "generator_kernels.hpp"

namespace verrakin::detail {
namespace {

VK_TARGET_AVX2 inline __m256i multiply_low_avx2(__m256i a, __m256i b_low, __m256i b_high) {
    const __m256i low = _mm256_mul_epu32(a, b_low);
    const __m256i cross = _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(a, 32), b_low),
                                           _mm256_mul_epu32(a, b_high));
    return _mm256_add_epi64(low, _mm256_slli_epi64(cross, 32));
}

// Four 64-bit lanes holding values below 2^31, as four 32-bit integers.
VK_TARGET_AVX2 inline __m128i low_halves_avx2(__m256i v) {
    return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
}

VK_TARGET_AVX2 inline __m256i next_word_avx2(__m256i s, __m256i& k, __m256i step, __m256i mix_low,
                                             __m256i mix_high) {
    __m256i t = _mm256_xor_si256(s, k);
    t = _mm256_xor_si256(t, _mm256_srli_epi64(t, 29));
    t = multiply_low_avx2(t, mix_low, mix_high);
    t = _mm256_xor_si256(t, _mm256_srli_epi64(t, 32));
    k = _mm256_add_epi64(k, step);
    return t;
}

// For n a power of two (at most 2^16) only the low 16 bits of the mixed word
// t2 ^ (t2 >> 32) are kept, t2 = t * kMixMultiplier. With t = t_hi 2^32 + t_lo
// and L = t_lo * m_lo (exact), t2 = L + (t_hi m_lo + t_lo m_hi) 2^32: the low 16
// bits of t2 are L's, and bits 32..47 are the low 16 bits of
// (L >> 32) + f2 * m0 + f0 * m2, where f and m are the 16-bit fields of t and of
// the multiplier (a product mod 2^16 needs only its factors mod 2^16). One
// 16-bit multiply gives f0 * m2 in field 0 and f2 * m0 in field 2 (`cross`
// holds m2 in field 0 and m0 in field 2). Bits 16 and up of the result are not
// the mixed word's and are masked off.
VK_TARGET_AVX2 inline __m256i low_mixed_bits_avx2(__m256i s, __m256i k, __m256i mix_low, __m256i cross) {
    __m256i t = _mm256_xor_si256(s, k);
    t = _mm256_xor_si256(t, _mm256_srli_epi64(t, 29));
    const __m256i low = _mm256_mul_epu32(t, mix_low);
    const __m256i fields = _mm256_mullo_epi16(t, cross);
    const __m256i crossed = _mm256_add_epi64(fields, _mm256_srli_epi64(fields, 32));
    return _mm256_xor_si256(low, _mm256_add_epi64(_mm256_srli_epi64(low, 32), crossed));
}

struct Divisor256 {
    __m256i fold, low32, two52_bits;
    __m256d two52, modulus, inverse, zero;
};

VK_TARGET_AVX2 inline __m128i remainder_avx2(__m256i t, const Divisor256& d) {
    const __m256i x = _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(t, 32), d.fold),
                                       _mm256_and_si256(t, d.low32));
    // x < 2^52: its bits under the exponent of 2^52 give 2^52 + x exactly.
    const __m256d xd = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(x, d.two52_bits)), d.two52);
    const __m256d q = _mm256_round_pd(_mm256_mul_pd(xd, d.inverse), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    __m256d r = _mm256_sub_pd(xd, _mm256_mul_pd(q, d.modulus));
    r = _mm256_add_pd(r, _mm256_and_pd(_mm256_cmp_pd(r, d.zero, _CMP_LT_OQ), d.modulus));
    r = _mm256_sub_pd(r, _mm256_and_pd(_mm256_cmp_pd(r, d.modulus, _CMP_GE_OQ), d.modulus));
    return _mm256_cvttpd_epi32(r);
}

VK_TARGET_AVX512 inline __m512i next_word_avx512(__m512i s, __m512i& k, __m512i step, __m512i mix) {
    __m512i t = _mm512_xor_si512(s, k);
    t = _mm512_xor_si512(t, _mm512_srli_epi64(t, 29));
    t = _mm512_mullo_epi64(t, mix);
    t = _mm512_xor_si512(t, _mm512_srli_epi64(t, 32));
    k = _mm512_add_epi64(k, step);
    return t;
}

struct Divisor512 {
    __m512i fold, low32;
    __m512d modulus, inverse, zero;
};

VK_TARGET_AVX512 inline __m512i remainder_avx512(__m512i t, const Divisor512& d) {
    const __m512i x = _mm512_add_epi64(_mm512_mul_epu32(_mm512_srli_epi64(t, 32), d.fold),
                                       _mm512_and_si512(t, d.low32));
    const __m512d xd = _mm512_cvtepu64_pd(x);
    const __m512d q = _mm512_roundscale_pd(_mm512_mul_pd(xd, d.inverse), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    __m512d r = _mm512_sub_pd(xd, _mm512_mul_pd(q, d.modulus));
    r = _mm512_mask_add_pd(r, _mm512_cmp_pd_mask(r, d.zero, _CMP_LT_OQ), r, d.modulus);
    r = _mm512_mask_sub_pd(r, _mm512_cmp_pd_mask(r, d.modulus, _CMP_GE_OQ), r, d.modulus);
    return _mm512_cvttpd_epi64(r);
}

VK_TARGET_AVX512 inline void store8_avx512(std::uint16_t* at, __m512i levels) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm512_cvtepi64_epi16(levels));
}

}  // namespace

VK_TARGET_AVX2 void generate_phases_avx2(std::uint16_t* out, std::size_t count, std::uint64_t first,
                                         std::uint32_t n, std::uint64_t seed) noexcept {
    const __m256i s = _mm256_set1_epi64x(static_cast<long long>(seed * kSeedMultiplier));
    const __m256i mix_low = _mm256_set1_epi64x(static_cast<long long>(kMixMultiplier & 0xFFFFFFFFu));
    const __m256i mix_high = _mm256_set1_epi64x(static_cast<long long>(kMixMultiplier >> 32));
    const __m256i step = _mm256_set1_epi64x(static_cast<long long>(4 * kIndexStep));
    const std::uint64_t k0 = first * kIndexStep;
    __m256i k = _mm256_setr_epi64x(static_cast<long long>(k0), static_cast<long long>(k0 + kIndexStep),
                                   static_cast<long long>(k0 + 2 * kIndexStep),
                                   static_cast<long long>(k0 + 3 * kIndexStep));
    std::size_t i = 0;
    if ((n & (n - 1)) == 0) {
        // Even phases in one register, odd in the other: each 64-bit lane then
        // packs two neighbouring levels into its low 32 bits.
        const __m256i mask = _mm256_set1_epi64x(n - 1);
        const __m256i cross = _mm256_set1_epi64x(static_cast<long long>(
            (kMixMultiplier >> 32 & 0xFFFFu) | (kMixMultiplier & 0xFFFFu) << 32));
        const __m256i step8 = _mm256_set1_epi64x(static_cast<long long>(8 * kIndexStep));
        __m256i even = _mm256_setr_epi64x(static_cast<long long>(k0), static_cast<long long>(k0 + 2 * kIndexStep),
                                          static_cast<long long>(k0 + 4 * kIndexStep),
                                          static_cast<long long>(k0 + 6 * kIndexStep));
        __m256i odd = _mm256_add_epi64(even, _mm256_set1_epi64x(static_cast<long long>(kIndexStep)));
        const __m256i low_dwords = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
        for (; i + 8 <= count; i += 8) {
            const __m256i e = _mm256_and_si256(low_mixed_bits_avx2(s, even, mix_low, cross), mask);
            const __m256i o = _mm256_and_si256(low_mixed_bits_avx2(s, odd, mix_low, cross), mask);
            even = _mm256_add_epi64(even, step8);
            odd = _mm256_add_epi64(odd, step8);
            const __m256i pairs = _mm256_or_si256(e, _mm256_slli_epi64(o, 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                             _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(pairs, low_dwords)));
        }
    } else {
        const Divisor256 divisor{_mm256_set1_epi64x(static_cast<long long>((std::uint64_t{1} << 32) % n)),
                                 _mm256_set1_epi64x(0xFFFFFFFFLL),
                                 _mm256_set1_epi64x(0x4330000000000000LL),
                                 _mm256_set1_pd(4503599627370496.0),
                                 _mm256_set1_pd(static_cast<double>(n)),
                                 _mm256_set1_pd(1.0 / static_cast<double>(n)),
                                 _mm256_setzero_pd()};
        for (; i + 8 <= count; i += 8) {
            const __m128i r0 = remainder_avx2(next_word_avx2(s, k, step, mix_low, mix_high), divisor);
            const __m128i r1 = remainder_avx2(next_word_avx2(s, k, step, mix_low, mix_high), divisor);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi32(r0, r1));
        }
    }
    generate_phases_scalar(out + i, count - i, first + i, n, seed);
}

VK_TARGET_AVX512 void generate_phases_avx512(std::uint16_t* out, std::size_t count, std::uint64_t first,
                                             std::uint32_t n, std::uint64_t seed) noexcept {
    const __m512i s = _mm512_set1_epi64(static_cast<long long>(seed * kSeedMultiplier));
    const __m512i mix = _mm512_set1_epi64(static_cast<long long>(kMixMultiplier));
    const __m512i step = _mm512_set1_epi64(static_cast<long long>(8 * kIndexStep));
    __m512i k = _mm512_add_epi64(_mm512_mullo_epi64(_mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7),
                                                    _mm512_set1_epi64(static_cast<long long>(kIndexStep))),
                                 _mm512_set1_epi64(static_cast<long long>(first * kIndexStep)));
    std::size_t i = 0;
    if ((n & (n - 1)) == 0) {
        const __m512i mask = _mm512_set1_epi64(n - 1);
        for (; i + 32 <= count; i += 32) {
            for (int j = 0; j < 4; ++j) {
                store8_avx512(out + i + 8 * j, _mm512_and_si512(next_word_avx512(s, k, step, mix), mask));
            }
        }
    } else {
        const Divisor512 divisor{_mm512_set1_epi64(static_cast<long long>((std::uint64_t{1} << 32) % n)),
                                 _mm512_set1_epi64(0xFFFFFFFFLL), _mm512_set1_pd(static_cast<double>(n)),
                                 _mm512_set1_pd(1.0 / static_cast<double>(n)), _mm512_setzero_pd()};
        for (; i + 32 <= count; i += 32) {
            for (int j = 0; j < 4; ++j) {
                store8_avx512(out + i + 8 * j, remainder_avx512(next_word_avx512(s, k, step, mix), divisor));
            }
        }
    }
    generate_phases_scalar(out + i, count - i, first + i, n, seed);
}

}  // namespace verrakin::detail
