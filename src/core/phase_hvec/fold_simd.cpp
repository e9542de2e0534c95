// Vector folds. For n <= 32 the 32-bit points of all levels fit two
// registers, and one two-register permute looks up sixteen positions at once.
// For large n the points are gathered (AVX-512 or AVX2) from the octant
// table, which stays in L1 where the packed table would not. Sums are 32-bit,
// exact for fewer than 131072 items (|sum| <= 131071 * 16384 < 2^31).
#include <immintrin.h>

// GCC 12's intrinsics leave the unused pass-through operand of some
// instructions undefined on purpose, which -Wmaybe-uninitialized reports.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <algorithm>

#include "../cpu/isa.hpp"
#include "fold_kernels.hpp"

namespace verrakin::detail {

VK_TARGET_AVX512 void fold_permute_avx512(std::span<const PhaseHVec> items, const FoldTables& tables,
                                          std::uint64_t start, std::size_t count, FoldScratch& scratch) noexcept {
    alignas(64) std::int32_t cos_points[kPermuteLevels] = {};
    alignas(64) std::int32_t sin_points[kPermuteLevels] = {};
    std::copy(tables.cosine.begin(), tables.cosine.end(), cos_points);
    std::copy(tables.sine.begin(), tables.sine.end(), sin_points);
    const __m512i cos_low = _mm512_load_si512(cos_points);
    const __m512i cos_high = _mm512_load_si512(cos_points + 16);
    const __m512i sin_low = _mm512_load_si512(sin_points);
    const __m512i sin_high = _mm512_load_si512(sin_points + 16);

    auto* cos_sums = reinterpret_cast<std::int32_t*>(scratch.sums.data());
    std::int32_t* sin_sums = cos_sums + kFoldBlock;
    const std::size_t steps = (count + 15) / 16;  // the last step masked
    std::fill(cos_sums, cos_sums + 16 * steps, 0);
    std::fill(sin_sums, sin_sums + 16 * steps, 0);
    for (const PhaseHVec& item : items) {
        const std::uint16_t* levels = item.phases.data() + start;
        for (std::size_t s = 0; s < steps; ++s) {
            const std::size_t left = count - 16 * s;
            const __mmask16 lanes = left >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << left) - 1);
            const __m512i index = _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(lanes, levels + 16 * s));
            __m512i* cs = reinterpret_cast<__m512i*>(cos_sums + 16 * s);
            __m512i* ss = reinterpret_cast<__m512i*>(sin_sums + 16 * s);
            _mm512_storeu_si512(cs, _mm512_add_epi32(_mm512_loadu_si512(cs),
                                                     _mm512_permutex2var_epi32(cos_low, index, cos_high)));
            _mm512_storeu_si512(ss, _mm512_add_epi32(_mm512_loadu_si512(ss),
                                                     _mm512_permutex2var_epi32(sin_low, index, sin_high)));
        }
    }
    for (std::size_t s = 0; s < steps; ++s) {
        const __m512i cs = _mm512_loadu_si512(cos_sums + 16 * s);
        const __m512i ss = _mm512_loadu_si512(sin_sums + 16 * s);
        const std::size_t left = std::min<std::size_t>(16, count - 16 * s);
        alignas(64) double y[16];
        alignas(64) double x[16];
        _mm512_store_pd(y, _mm512_cvtepi32_pd(_mm512_castsi512_si256(ss)));
        _mm512_store_pd(y + 8, _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(ss, 1)));
        _mm512_store_pd(x, _mm512_cvtepi32_pd(_mm512_castsi512_si256(cs)));
        _mm512_store_pd(x + 8, _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(cs, 1)));
        std::copy(y, y + left, scratch.y.data() + 16 * s);
        std::copy(x, x + left, scratch.x.data() + 16 * s);
    }
}

// Per item and position: octant o, remainder r and quadrant q of the level,
// one gathered 32-bit entry split into its sign-extended 16-bit halves, the
// swap of x and y when o and q differ in parity, and the signs of the quarter
// turns (x negated in quadrants 1 and 2, y in 2 and 3).
VK_TARGET_AVX512 void fold_octant_avx512(std::span<const PhaseHVec> items, const FoldTables& tables,
                                         std::uint64_t start, std::size_t count, FoldScratch& scratch) noexcept {
    const std::uint32_t* points = tables.octant_points.data();
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(tables.octant_shift));
    const __m512i eighth = _mm512_set1_epi32(1 << tables.octant_shift);
    const __m512i below_eighth = _mm512_set1_epi32((1 << tables.octant_shift) - 1);
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i two = _mm512_set1_epi32(2);
    for (std::size_t s = 0; 16 * s < count; ++s) {
        const std::size_t left = count - 16 * s;
        // Idle lanes read level 0; the scratch holds kFoldBlock (a multiple of 16) entries.
        const __mmask16 lanes = left >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << left) - 1);
        __m512i xs = _mm512_setzero_si512();
        __m512i ys = _mm512_setzero_si512();
        for (const PhaseHVec& item : items) {
            const __m512i level =
                _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(lanes, item.phases.data() + start + 16 * s));
            const __m512i o = _mm512_srl_epi32(level, shift);
            const __m512i q = _mm512_srli_epi32(o, 1);
            const __m512i r = _mm512_and_si512(level, below_eighth);
            const __m512i index = _mm512_mask_sub_epi32(r, _mm512_test_epi32_mask(o, one), eighth, r);
            const __m512i entry = _mm512_i32gather_epi32(index, points, 4);
            const __m512i low = _mm512_srai_epi32(_mm512_slli_epi32(entry, 16), 16);
            const __m512i high = _mm512_srai_epi32(entry, 16);
            const __mmask16 swap = _mm512_test_epi32_mask(_mm512_xor_si512(o, q), one);
            const __m512i x = _mm512_mask_blend_epi32(swap, low, high);
            const __m512i y = _mm512_mask_blend_epi32(swap, high, low);
            const __mmask16 negate_x = _mm512_test_epi32_mask(_mm512_add_epi32(q, one), two);
            const __mmask16 negate_y = _mm512_test_epi32_mask(q, two);
            xs = _mm512_mask_sub_epi32(_mm512_add_epi32(xs, x), negate_x, xs, x);
            ys = _mm512_mask_sub_epi32(_mm512_add_epi32(ys, y), negate_y, ys, y);
        }
        double* y_out = scratch.y.data() + 16 * s;
        double* x_out = scratch.x.data() + 16 * s;
        _mm512_storeu_pd(y_out, _mm512_cvtepi32_pd(_mm512_castsi512_si256(ys)));
        _mm512_storeu_pd(y_out + 8, _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(ys, 1)));
        _mm512_storeu_pd(x_out, _mm512_cvtepi32_pd(_mm512_castsi512_si256(xs)));
        _mm512_storeu_pd(x_out + 8, _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(xs, 1)));
    }
}

// The same per item and position on eight lanes; lanes past the block's end
// read level 0 from a zeroed copy of the tail.
VK_TARGET_AVX2 void fold_octant_avx2(std::span<const PhaseHVec> items, const FoldTables& tables,
                                     std::uint64_t start, std::size_t count, FoldScratch& scratch) noexcept {
    const auto* points = reinterpret_cast<const int*>(tables.octant_points.data());
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(tables.octant_shift));
    const __m256i eighth = _mm256_set1_epi32(1 << tables.octant_shift);
    const __m256i below_eighth = _mm256_set1_epi32((1 << tables.octant_shift) - 1);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low_half = _mm256_set1_epi32(0xFFFF);
    for (std::size_t s = 0; 8 * s < count; ++s) {
        const std::size_t left = count - 8 * s;
        __m256i xs = zero;
        __m256i ys = zero;
        for (const PhaseHVec& item : items) {
            const std::uint16_t* at = item.phases.data() + start + 8 * s;
            alignas(16) std::uint16_t tail[8] = {};
            if (left < 8) std::copy(at, at + left, tail);
            const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left < 8 ? tail : at));
            const __m256i level = _mm256_cvtepu16_epi32(raw);
            const __m256i o = _mm256_srl_epi32(level, shift);
            const __m256i q = _mm256_srli_epi32(o, 1);
            const __m256i r = _mm256_and_si256(level, below_eighth);
            const __m256i odd = _mm256_cmpeq_epi32(_mm256_and_si256(o, one), one);
            // odd ? eighth - r : r, by masks (no variable blends)
            const __m256i mirror = _mm256_sub_epi32(eighth, _mm256_add_epi32(r, r));
            const __m256i index = _mm256_add_epi32(r, _mm256_and_si256(odd, mirror));
            const __m256i entry = _mm256_i32gather_epi32(points, index, 4);
            // the points of the first eighth are never negative
            const __m256i low = _mm256_and_si256(entry, low_half);
            const __m256i high = _mm256_srli_epi32(entry, 16);
            const __m256i swap = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_xor_si256(o, q), one), one);
            const __m256i exchange = _mm256_and_si256(_mm256_xor_si256(low, high), swap);
            const __m256i x = _mm256_xor_si256(low, exchange);
            const __m256i y = _mm256_xor_si256(high, exchange);
            // all ones where the quarter turns negate: x in quadrants 1 and 2, y in 2 and 3
            const __m256i turn_x = _mm256_srli_epi32(_mm256_add_epi32(q, one), 1);
            const __m256i negate_x = _mm256_sub_epi32(zero, _mm256_and_si256(turn_x, one));
            const __m256i negate_y = _mm256_sub_epi32(zero, _mm256_and_si256(_mm256_srli_epi32(q, 1), one));
            xs = _mm256_add_epi32(xs, _mm256_sub_epi32(_mm256_xor_si256(x, negate_x), negate_x));
            ys = _mm256_add_epi32(ys, _mm256_sub_epi32(_mm256_xor_si256(y, negate_y), negate_y));
        }
        double* y_out = scratch.y.data() + 8 * s;
        double* x_out = scratch.x.data() + 8 * s;
        _mm256_storeu_pd(y_out, _mm256_cvtepi32_pd(_mm256_castsi256_si128(ys)));
        _mm256_storeu_pd(y_out + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(ys, 1)));
        _mm256_storeu_pd(x_out, _mm256_cvtepi32_pd(_mm256_castsi256_si128(xs)));
        _mm256_storeu_pd(x_out + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(xs, 1)));
    }
}

}  // namespace verrakin::detail
