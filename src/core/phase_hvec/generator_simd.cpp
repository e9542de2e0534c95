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

#include "../platform/compiler.hpp"

VK_ALLOW_UNDEFINED_INTRINSIC_OPERANDS

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
// the multiplier (a product mod 2^16 needs only its factors mod 2^16, signed or
// not). A byte shuffle moves f0 and f2 to fields 2 and 3, where one
// multiply-add by `cross` (0, 0, m2, m0) leaves f0 m2 + f2 m0 in the high half
// and 0 in the low half. The result holds the mixed word's bits 0..15 in field
// 0 and its bits 32..47 in field 2, still to be combined (see pack_pairs_avx2).
VK_TARGET_AVX2 inline __m256i mixed_fields_avx2(__m256i s, __m256i k, __m256i mix_low, __m256i gather_fields,
                                                __m256i cross) {
    __m256i t = _mm256_xor_si256(s, k);
    t = _mm256_xor_si256(t, _mm256_srli_epi64(t, 29));
    const __m256i low = _mm256_mul_epu32(t, mix_low);
    return _mm256_add_epi64(low, _mm256_madd_epi16(_mm256_shuffle_epi8(t, gather_fields), cross));
}

// Two outputs of mixed_fields_avx2 for neighbouring phases (even, odd),
// interleaved: fields 0..3 of each lane hold even's 0, odd's 0, even's 2, odd's 2.
VK_TARGET_AVX2 inline __m256i interleave_avx2(__m256i even, __m256i odd) {
    return _mm256_blend_epi16(even, _mm256_slli_epi64(odd, 16), 0xAA);
}

// Sixteen levels from two interleaved groups of eight: the low halves of both
// groups' lanes xored with their high halves give the mixed words' low 16 bits,
// pairs of neighbouring levels, put in order and masked to n levels.
template <bool kFullRange>
VK_TARGET_AVX2 inline __m256i sixteen_levels_avx2(__m256i group0, __m256i group1, __m256i mask) {
    const __m256i low = _mm256_blend_epi32(group0, _mm256_slli_epi64(group1, 32), 0xAA);
    const __m256i high = _mm256_blend_epi32(_mm256_srli_epi64(group0, 32), group1, 0xAA);
    const __m256i levels =
        _mm256_permutevar8x32_epi32(_mm256_xor_si256(low, high), _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
    return kFullRange ? levels : _mm256_and_si256(levels, mask);
}

// The generator for n = 2^b, 16 phases a step: even and odd phases of two
// groups of eight in four registers of indices.
template <bool kFullRange>
VK_TARGET_AVX2 std::size_t generate_power_of_two_avx2(std::uint16_t* out, std::size_t count, std::uint64_t k0,
                                                      std::uint32_t n, __m256i s) {
    const __m256i mask = _mm256_set1_epi16(static_cast<short>(n - 1));
    const __m256i mix_low = _mm256_set1_epi64x(static_cast<long long>(kMixMultiplier & 0xFFFFFFFFu));
    const __m256i gather_fields = _mm256_setr_epi8(-1, -1, -1, -1, 0, 1, 4, 5, -1, -1, -1, -1, 8, 9, 12, 13,
                                                   -1, -1, -1, -1, 0, 1, 4, 5, -1, -1, -1, -1, 8, 9, 12, 13);
    const __m256i cross = _mm256_set1_epi64x(
        static_cast<long long>((kMixMultiplier >> 32 & 0xFFFFu) << 32 | (kMixMultiplier & 0xFFFFu) << 48));
    const __m256i step = _mm256_set1_epi64x(static_cast<long long>(16 * kIndexStep));
    const __m256i one = _mm256_set1_epi64x(static_cast<long long>(kIndexStep));
    const __m256i eight = _mm256_set1_epi64x(static_cast<long long>(8 * kIndexStep));
    __m256i even0 = _mm256_setr_epi64x(static_cast<long long>(k0), static_cast<long long>(k0 + 2 * kIndexStep),
                                       static_cast<long long>(k0 + 4 * kIndexStep),
                                       static_cast<long long>(k0 + 6 * kIndexStep));
    __m256i odd0 = _mm256_add_epi64(even0, one);
    __m256i even1 = _mm256_add_epi64(even0, eight);
    __m256i odd1 = _mm256_add_epi64(odd0, eight);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i group0 = interleave_avx2(mixed_fields_avx2(s, even0, mix_low, gather_fields, cross),
                                               mixed_fields_avx2(s, odd0, mix_low, gather_fields, cross));
        const __m256i group1 = interleave_avx2(mixed_fields_avx2(s, even1, mix_low, gather_fields, cross),
                                               mixed_fields_avx2(s, odd1, mix_low, gather_fields, cross));
        even0 = _mm256_add_epi64(even0, step);
        odd0 = _mm256_add_epi64(odd0, step);
        even1 = _mm256_add_epi64(even1, step);
        odd1 = _mm256_add_epi64(odd1, step);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), sixteen_levels_avx2<kFullRange>(group0, group1, mask));
    }
    return i;
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
        i = n == 65536 ? generate_power_of_two_avx2<true>(out, count, k0, n, s)
                       : generate_power_of_two_avx2<false>(out, count, k0, n, s);
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
