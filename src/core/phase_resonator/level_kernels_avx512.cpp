// AVX-512 forms of the level kernels: eight lanes of doubles.
//
// Dots put one entry in each lane, so each lane is one entry's own sum taken
// over i ascending; the superposition puts one position in each lane, so each
// lane receives the entries in entry order. No sum is ever reordered, and every
// product and sum is its own rounded instruction (no fused multiply-add).
#include <immintrin.h>

#include <cstring>

#include "level_kernels.hpp"

#define VERRAKIN_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl")))

namespace verrakin::detail {
namespace {

// Resolutions up to 16: each table sits in two registers and a lookup is one
// two-source permute (indices use their low four bits; levels are below n).
struct RegisterTable {
    __m512d cos_lo, cos_hi, sin_lo, sin_hi;
};

VERRAKIN_AVX512 RegisterTable load_register_table(const GridPhasors& grid) {
    alignas(64) double c[16] = {};
    alignas(64) double s[16] = {};
    std::memcpy(c, grid.cosines(), grid.resolution() * sizeof(double));
    std::memcpy(s, grid.sines(), grid.resolution() * sizeof(double));
    return {_mm512_load_pd(c), _mm512_load_pd(c + 8), _mm512_load_pd(s), _mm512_load_pd(s + 8)};
}

VERRAKIN_AVX512 inline __m512d cos_of(const RegisterTable& t, __m512i level) {
    return _mm512_permutex2var_pd(t.cos_lo, level, t.cos_hi);
}
VERRAKIN_AVX512 inline __m512d sin_of(const RegisterTable& t, __m512i level) {
    return _mm512_permutex2var_pd(t.sin_lo, level, t.sin_hi);
}

// Larger resolutions: gathers from the grid's table.
struct MemoryTable {
    const double* cos;
    const double* sin;
};

VERRAKIN_AVX512 inline __m512d cos_of(const MemoryTable& t, __m512i level) {
    return _mm512_i64gather_pd(level, t.cos, 8);
}
VERRAKIN_AVX512 inline __m512d sin_of(const MemoryTable& t, __m512i level) {
    return _mm512_i64gather_pd(level, t.sin, 8);
}

// Level S of the four 16-bit levels packed in each 64-bit lane.
template <int S>
VERRAKIN_AVX512 inline __m512i level_in_lane(__m512i packed) {
    return _mm512_and_si512(_mm512_srli_epi64(packed, 16 * S), _mm512_set1_epi64(0xFFFF));
}

template <class Table>
VERRAKIN_AVX512 inline __m512d add_term(__m512d sum, const Table& t, __m512i level, __m512d b_re, __m512d b_im) {
    const __m512d term = _mm512_add_pd(_mm512_mul_pd(cos_of(t, level), b_re), _mm512_mul_pd(sin_of(t, level), b_im));
    return _mm512_add_pd(sum, term);
}

// Position S of every group's packed levels, added into each group's sums.
template <int S, int G, class Table>
VERRAKIN_AVX512 inline void add_position(__m512d* sums, const Table& table, const __m512i* packed, double b_re,
                                         double b_im) {
    const __m512d re = _mm512_set1_pd(b_re);
    const __m512d im = _mm512_set1_pd(b_im);
    for (int g = 0; g < G; ++g) sums[g] = add_term(sums[g], table, level_in_lane<S>(packed[g]), re, im);
}

// Eight entries per group, G groups side by side (independent chains hide the
// latency of the dependent adds). Four positions of all eight entries come in
// with one gather of 64-bit words, taken relative to the first entry.
template <int G, class Table>
VERRAKIN_AVX512 void dots_block(const std::uint16_t* const* entries, const Table& table, const double* b_re,
                                const double* b_im, std::size_t length, double* out) {
    const std::uint16_t* base = entries[0];
    __m512i offsets[G];
    __m512d sums[G];
    for (int g = 0; g < G; ++g) {
        alignas(64) long long bytes[8];
        for (int l = 0; l < 8; ++l) {
            bytes[l] = static_cast<long long>(reinterpret_cast<std::uintptr_t>(entries[8 * g + l]) -
                                              reinterpret_cast<std::uintptr_t>(base));
        }
        offsets[g] = _mm512_load_si512(bytes);
        sums[g] = _mm512_setzero_pd();
    }
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        __m512i packed[G];
        for (int g = 0; g < G; ++g) packed[g] = _mm512_i64gather_epi64(offsets[g], base + i, 1);
        add_position<0, G>(sums, table, packed, b_re[i], b_im[i]);
        add_position<1, G>(sums, table, packed, b_re[i + 1], b_im[i + 1]);
        add_position<2, G>(sums, table, packed, b_re[i + 2], b_im[i + 2]);
        add_position<3, G>(sums, table, packed, b_re[i + 3], b_im[i + 3]);
    }
    for (; i < length; ++i) {
        const __m512d re = _mm512_set1_pd(b_re[i]);
        const __m512d im = _mm512_set1_pd(b_im[i]);
        for (int g = 0; g < G; ++g) {
            alignas(64) long long levels[8];
            for (int l = 0; l < 8; ++l) levels[l] = entries[8 * g + l][i];
            sums[g] = add_term(sums[g], table, _mm512_load_si512(levels), re, im);
        }
    }
    for (int g = 0; g < G; ++g) _mm512_storeu_pd(out + 8 * g, sums[g]);
}

template <class Table>
VERRAKIN_AVX512 void dots(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                          const Table& table, const double* b_re, const double* b_im, std::size_t length,
                          double* out) {
    std::size_t j = 0;
    for (; j + 16 <= count; j += 16) dots_block<2>(entries + j, table, b_re, b_im, length, out + j);
    for (; j + 8 <= count; j += 8) dots_block<1>(entries + j, table, b_re, b_im, length, out + j);
    level_dots_scalar(entries + j, count - j, grid, b_re, b_im, length, out + j);
}

// Eight levels starting at p, widened to one per 64-bit lane.
VERRAKIN_AVX512 inline __m512i eight_levels(const std::uint16_t* p) {
    return _mm512_cvtepu16_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// R registers of eight positions each stay in registers while every entry, in
// entry order, is added into them.
template <int R, class Table>
VERRAKIN_AVX512 void superpose_block(const std::uint16_t* const* entries, std::size_t count, const Table& table,
                                     const double* weights, std::size_t at, double* acc_re, double* acc_im) {
    __m512d re[R], im[R];
    for (int r = 0; r < R; ++r) {
        re[r] = _mm512_loadu_pd(acc_re + at + 8 * r);
        im[r] = _mm512_loadu_pd(acc_im + at + 8 * r);
    }
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint16_t* p = entries[j] + at;
        const __m512d w = _mm512_set1_pd(weights[j]);
        for (int r = 0; r < R; ++r) {
            const __m512i level = eight_levels(p + 8 * r);
            re[r] = _mm512_add_pd(_mm512_mul_pd(cos_of(table, level), w), re[r]);
            im[r] = _mm512_add_pd(_mm512_mul_pd(sin_of(table, level), w), im[r]);
        }
    }
    for (int r = 0; r < R; ++r) {
        _mm512_storeu_pd(acc_re + at + 8 * r, re[r]);
        _mm512_storeu_pd(acc_im + at + 8 * r, im[r]);
    }
}

template <class Table>
VERRAKIN_AVX512 void superpose(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                               const Table& table, const double* weights, std::size_t length, double* acc_re,
                               double* acc_im) {
    std::size_t at = 0;
    for (; at + 32 <= length; at += 32) superpose_block<4>(entries, count, table, weights, at, acc_re, acc_im);
    for (; at + 8 <= length; at += 8) superpose_block<1>(entries, count, table, weights, at, acc_re, acc_im);
    // The last positions, each still receiving the entries in order.
    const double* cos = grid.cosines();
    const double* sin = grid.sines();
    for (; at < length; ++at) {
        double re = acc_re[at];
        double im = acc_im[at];
        for (std::size_t j = 0; j < count; ++j) {
            const std::uint16_t level = entries[j][at];
            re = cos[level] * weights[j] + re;
            im = sin[level] * weights[j] + im;
        }
        acc_re[at] = re;
        acc_im[at] = im;
    }
}

}  // namespace

VERRAKIN_AVX512 void level_dots_avx512(const std::uint16_t* const* entries, std::size_t count,
                                       const GridPhasors& grid, const double* b_re, const double* b_im,
                                       std::size_t length, double* out) {
    if (grid.resolution() <= 16) {
        dots(entries, count, grid, load_register_table(grid), b_re, b_im, length, out);
    } else {
        dots(entries, count, grid, MemoryTable{grid.cosines(), grid.sines()}, b_re, b_im, length, out);
    }
}

VERRAKIN_AVX512 void level_superpose_avx512(const std::uint16_t* const* entries, std::size_t count,
                                            const GridPhasors& grid, const double* weights, std::size_t length,
                                            double* acc_re, double* acc_im) {
    if (grid.resolution() <= 16) {
        superpose(entries, count, grid, load_register_table(grid), weights, length, acc_re, acc_im);
    } else {
        superpose(entries, count, grid, MemoryTable{grid.cosines(), grid.sines()}, weights, length, acc_re,
                  acc_im);
    }
}

}  // namespace verrakin::detail
