// AVX2 forms of the level kernels: four lanes of doubles, table lookups by
// gather. Dots put one entry in each lane (each lane one entry's own sum over i
// ascending); the superposition puts one position in each lane (each lane
// receives the entries in entry order). Every product and sum is its own
// rounded instruction (no fused multiply-add).
#include <immintrin.h>

#include "../platform/compiler.hpp"

VK_ALLOW_UNDEFINED_INTRINSIC_OPERANDS

#include "level_kernels.hpp"

namespace verrakin::detail {
namespace {

VK_TARGET_AVX2 inline __m256d add_term(__m256d sum, const double* cos, const double* sin, __m256i level,
                                      __m256d b_re, __m256d b_im) {
    const __m256d c = _mm256_i64gather_pd(cos, level, 8);
    const __m256d s = _mm256_i64gather_pd(sin, level, 8);
    return _mm256_add_pd(sum, _mm256_add_pd(_mm256_mul_pd(c, b_re), _mm256_mul_pd(s, b_im)));
}

// Level S of the four 16-bit levels packed in each 64-bit lane.
template <int S>
VK_TARGET_AVX2 inline __m256i level_in_lane(__m256i packed) {
    return _mm256_and_si256(_mm256_srli_epi64(packed, 16 * S), _mm256_set1_epi64x(0xFFFF));
}

// Four entries per group, two groups side by side; four positions of a group
// come in with one gather of 64-bit words taken relative to the first entry.
template <int S>
VK_TARGET_AVX2 inline void add_position(__m256d* sums, const double* cos, const double* sin, const __m256i* packed,
                                       double b_re, double b_im) {
    const __m256d re = _mm256_set1_pd(b_re);
    const __m256d im = _mm256_set1_pd(b_im);
    for (int g = 0; g < 2; ++g) sums[g] = add_term(sums[g], cos, sin, level_in_lane<S>(packed[g]), re, im);
}

VK_TARGET_AVX2 void dots_block(const std::uint16_t* const* entries, const double* cos, const double* sin,
                              const double* b_re, const double* b_im, std::size_t length, double* out) {
    const std::uint16_t* base = entries[0];
    __m256i offsets[2];
    __m256d sums[2];
    for (int g = 0; g < 2; ++g) {
        alignas(32) long long bytes[4];
        for (int l = 0; l < 4; ++l) {
            bytes[l] = static_cast<long long>(reinterpret_cast<std::uintptr_t>(entries[4 * g + l]) -
                                              reinterpret_cast<std::uintptr_t>(base));
        }
        offsets[g] = _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
        sums[g] = _mm256_setzero_pd();
    }
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        __m256i packed[2];
        for (int g = 0; g < 2; ++g) {
            packed[g] = _mm256_i64gather_epi64(reinterpret_cast<const long long*>(base + i), offsets[g], 1);
        }
        add_position<0>(sums, cos, sin, packed, b_re[i], b_im[i]);
        add_position<1>(sums, cos, sin, packed, b_re[i + 1], b_im[i + 1]);
        add_position<2>(sums, cos, sin, packed, b_re[i + 2], b_im[i + 2]);
        add_position<3>(sums, cos, sin, packed, b_re[i + 3], b_im[i + 3]);
    }
    for (; i < length; ++i) {
        const __m256d re = _mm256_set1_pd(b_re[i]);
        const __m256d im = _mm256_set1_pd(b_im[i]);
        for (int g = 0; g < 2; ++g) {
            const __m256i level = _mm256_setr_epi64x(entries[4 * g][i], entries[4 * g + 1][i],
                                                     entries[4 * g + 2][i], entries[4 * g + 3][i]);
            sums[g] = add_term(sums[g], cos, sin, level, re, im);
        }
    }
    for (int g = 0; g < 2; ++g) _mm256_storeu_pd(out + 4 * g, sums[g]);
}

// Four levels starting at p, widened to one per 32-bit lane.
VK_TARGET_AVX2 inline __m128i four_levels(const std::uint16_t* p) {
    return _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

// R registers of four positions each stay in registers while every entry, in
// entry order, is added into them.
template <int R>
VK_TARGET_AVX2 void superpose_block(const std::uint16_t* const* entries, std::size_t count, const double* cos,
                                   const double* sin, const double* weights, std::size_t at, double* acc_re,
                                   double* acc_im) {
    __m256d re[R], im[R];
    for (int r = 0; r < R; ++r) {
        re[r] = _mm256_loadu_pd(acc_re + at + 4 * r);
        im[r] = _mm256_loadu_pd(acc_im + at + 4 * r);
    }
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint16_t* p = entries[j] + at;
        const __m256d w = _mm256_set1_pd(weights[j]);
        for (int r = 0; r < R; ++r) {
            const __m128i level = four_levels(p + 4 * r);
            re[r] = _mm256_add_pd(_mm256_mul_pd(_mm256_i32gather_pd(cos, level, 8), w), re[r]);
            im[r] = _mm256_add_pd(_mm256_mul_pd(_mm256_i32gather_pd(sin, level, 8), w), im[r]);
        }
    }
    for (int r = 0; r < R; ++r) {
        _mm256_storeu_pd(acc_re + at + 4 * r, re[r]);
        _mm256_storeu_pd(acc_im + at + 4 * r, im[r]);
    }
}

}  // namespace

VK_TARGET_AVX2 void level_dots_avx2(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                                   const double* b_re, const double* b_im, std::size_t length, double* out) {
    std::size_t j = 0;
    for (; j + 8 <= count; j += 8) dots_block(entries + j, grid.cosines(), grid.sines(), b_re, b_im, length, out + j);
    if (j == count) return;
    // The last few entries fill a group whose spare lanes repeat the last
    // entry; lanes are independent sums, so the spare results are dropped.
    const std::uint16_t* group[8];
    double sums[8];
    for (std::size_t l = 0; l < 8; ++l) group[l] = entries[j + l < count ? j + l : count - 1];
    dots_block(group, grid.cosines(), grid.sines(), b_re, b_im, length, sums);
    for (std::size_t l = 0; j + l < count; ++l) out[j + l] = sums[l];
}

VK_TARGET_AVX2 void level_superpose_avx2(const std::uint16_t* const* entries, std::size_t count,
                                        const GridPhasors& grid, const double* weights, std::size_t length,
                                        double* acc_re, double* acc_im) {
    const double* cos = grid.cosines();
    const double* sin = grid.sines();
    std::size_t at = 0;
    for (; at + 16 <= length; at += 16) superpose_block<4>(entries, count, cos, sin, weights, at, acc_re, acc_im);
    for (; at + 4 <= length; at += 4) superpose_block<1>(entries, count, cos, sin, weights, at, acc_re, acc_im);
    superpose_tail_positions(entries, count, cos, sin, weights, at, length, acc_re, acc_im);
}

}  // namespace verrakin::detail
