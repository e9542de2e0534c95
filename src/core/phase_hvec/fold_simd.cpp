// The fold with the level tables held in registers: for n <= 32 the 32-bit
// points of all levels fit two AVX-512 registers, and one two-register permute
// looks up sixteen positions at once. Sums are 32-bit, exact for fewer than
// 131072 items (|sum| <= 131071 * 16384 < 2^31).
#include <immintrin.h>

#include "../platform/compiler.hpp"

VK_ALLOW_UNDEFINED_INTRINSIC_OPERANDS

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

}  // namespace verrakin::detail
