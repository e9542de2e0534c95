// AVX-512 forms of the level kernels: eight lanes of doubles.
//
// Dots put one entry in each lane, so each lane is one entry's own sum taken
// over i ascending; the superposition puts one position in each lane, so each
// lane receives the entries in entry order. No sum is ever reordered, and every
// product and sum is its own rounded instruction (no fused multiply-add).
#include <immintrin.h>

#include "../platform/compiler.hpp"

VK_ALLOW_UNDEFINED_INTRINSIC_OPERANDS

#include <type_traits>
#include <vector>

#include "level_kernels.hpp"

namespace verrakin::detail {
namespace {

// Resolutions up to 16 * P (P = 1, 2, 4): each table sits in 2P registers. A
// lookup is P two-source permutes, which read only the low four bits of each
// index, and a blend on bits 4 and 5 among their results.
template <int P>
struct RegisterTable {
    __m512d cos[2 * P];
    __m512d sin[2 * P];
};

// Masked loads stop at the table's end and leave the spare slots at zero; no
// level reaches them.
template <int P>
VK_TARGET_AVX512 RegisterTable<P> load_register_table(const GridPhasors& grid) {
    RegisterTable<P> t;
    const std::uint32_t n = grid.resolution();
    for (std::uint32_t r = 0; r < 2 * P; ++r) {
        const std::uint32_t left = n > 8 * r ? n - 8 * r : 0;
        const __mmask8 mask = static_cast<__mmask8>(left >= 8 ? 0xFF : (1u << left) - 1);
        t.cos[r] = _mm512_maskz_loadu_pd(mask, grid.cosines() + 8 * r);
        t.sin[r] = _mm512_maskz_loadu_pd(mask, grid.sines() + 8 * r);
    }
    return t;
}

template <int P>
VK_TARGET_AVX512 inline __m512d register_lookup(const __m512d* table, __m512i level) {
    __m512d part[P];
    for (int p = 0; p < P; ++p) part[p] = _mm512_permutex2var_pd(table[2 * p], level, table[2 * p + 1]);
    if constexpr (P == 1) {
        return part[0];
    } else {
        const __mmask8 bit4 = _mm512_test_epi64_mask(level, _mm512_set1_epi64(16));
        if constexpr (P == 2) {
            return _mm512_mask_blend_pd(bit4, part[0], part[1]);
        } else {
            const __mmask8 bit5 = _mm512_test_epi64_mask(level, _mm512_set1_epi64(32));
            return _mm512_mask_blend_pd(bit5, _mm512_mask_blend_pd(bit4, part[0], part[1]),
                                        _mm512_mask_blend_pd(bit4, part[2], part[3]));
        }
    }
}

// The permutes and blends read only the low six bits of each index, so a level
// shifted down to the low bits of its lane needs no mask.
template <int S, int P>
VK_TARGET_AVX512 inline __m512i level_in_lane(const RegisterTable<P>&, __m512i packed) {
    return _mm512_srli_epi64(packed, 16 * S);
}

template <int P>
VK_TARGET_AVX512 inline __m512d cos_of(const RegisterTable<P>& t, __m512i level) {
    return register_lookup<P>(t.cos, level);
}
template <int P>
VK_TARGET_AVX512 inline __m512d sin_of(const RegisterTable<P>& t, __m512i level) {
    return register_lookup<P>(t.sin, level);
}

// Larger resolutions: gathers from the grid's table.
struct MemoryTable {
    const double* cos;
    const double* sin;
};

VK_TARGET_AVX512 inline __m512d cos_of(const MemoryTable& t, __m512i level) {
    return _mm512_i64gather_pd(level, t.cos, 8);
}
VK_TARGET_AVX512 inline __m512d sin_of(const MemoryTable& t, __m512i level) {
    return _mm512_i64gather_pd(level, t.sin, 8);
}

// Level S of the four 16-bit levels packed in each 64-bit lane, as a gather index.
template <int S>
VK_TARGET_AVX512 inline __m512i level_in_lane(const MemoryTable&, __m512i packed) {
    return _mm512_and_si512(_mm512_srli_epi64(packed, 16 * S), _mm512_set1_epi64(0xFFFF));
}

template <class Table>
VK_TARGET_AVX512 inline __m512d add_term(__m512d sum, const Table& t, __m512i level, __m512d b_re, __m512d b_im) {
    const __m512d term = _mm512_add_pd(_mm512_mul_pd(cos_of(t, level), b_re), _mm512_mul_pd(sin_of(t, level), b_im));
    return _mm512_add_pd(sum, term);
}

// Position S of every group's packed levels, added into each group's sums.
template <int S, int G, class Table>
VK_TARGET_AVX512 inline void add_position(__m512d* sums, const Table& table, const __m512i* packed, double b_re,
                                         double b_im) {
    const __m512d re = _mm512_set1_pd(b_re);
    const __m512d im = _mm512_set1_pd(b_im);
    for (int g = 0; g < G; ++g) sums[g] = add_term(sums[g], table, level_in_lane<S>(table, packed[g]), re, im);
}

// Turns eight rows of eight 64-bit words into eight columns: out[q] holds word q
// of every row, row l in lane l (unpack pairs, then 128-bit and 256-bit halves).
VK_TARGET_AVX512 inline void transpose_words(const __m512i* rows, __m512i* out) {
    __m512i t[8], u[8];
    for (int r = 0; r < 8; r += 2) {
        t[r] = _mm512_unpacklo_epi64(rows[r], rows[r + 1]);      // words 0 2 4 6 of rows r, r+1
        t[r + 1] = _mm512_unpackhi_epi64(rows[r], rows[r + 1]);  // words 1 3 5 7
    }
    for (int r = 0; r < 8; r += 4) {
        for (int h = 0; h < 2; ++h) {
            u[r + 2 * h] = _mm512_shuffle_i64x2(t[r + h], t[r + h + 2], 0x88);      // words 0 4 (or 1 5)
            u[r + 2 * h + 1] = _mm512_shuffle_i64x2(t[r + h], t[r + h + 2], 0xDD);  // words 2 6 (or 3 7)
        }
    }
    // u[0]: words 0,4; u[1]: 2,6; u[2]: 1,5; u[3]: 3,7 of rows 0-3; u[4..7] the same of rows 4-7.
    constexpr int first[4] = {0, 2, 1, 3};
    for (int k = 0; k < 4; ++k) {
        out[first[k]] = _mm512_shuffle_i64x2(u[k], u[k + 4], 0x88);
        out[first[k] + 4] = _mm512_shuffle_i64x2(u[k], u[k + 4], 0xDD);
    }
}

// Eight entries per group, G groups side by side (independent chains hide the
// latency of the dependent adds). Each entry's next 32 levels are one 64-byte
// load; a transpose turns them into eight vectors of four positions of all
// eight entries.
template <int G, class Table>
VK_TARGET_AVX512 VK_NOINLINE void dots_block(const std::uint16_t* const* entries, const Table& table, const double* b_re,
                                const double* b_im, std::size_t length, double* out) {
    __m512d sums[G];
    for (int g = 0; g < G; ++g) sums[g] = _mm512_setzero_pd();
    std::size_t i = 0;
    for (; i + 32 <= length; i += 32) {
        __m512i words[G][8];
        for (int g = 0; g < G; ++g) {
            __m512i rows[8];
            for (int l = 0; l < 8; ++l) rows[l] = _mm512_loadu_si512(entries[8 * g + l] + i);
            transpose_words(rows, words[g]);
        }
        for (int q = 0; q < 8; ++q) {
            __m512i packed[G];
            for (int g = 0; g < G; ++g) packed[g] = words[g][q];
            const std::size_t at = i + 4 * q;
            add_position<0, G>(sums, table, packed, b_re[at], b_im[at]);
            add_position<1, G>(sums, table, packed, b_re[at + 1], b_im[at + 1]);
            add_position<2, G>(sums, table, packed, b_re[at + 2], b_im[at + 2]);
            add_position<3, G>(sums, table, packed, b_re[at + 3], b_im[at + 3]);
        }
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
VK_TARGET_AVX512 void dots(const std::uint16_t* const* entries, std::size_t count, const Table& table,
                          const double* b_re, const double* b_im, std::size_t length, double* out) {
    std::size_t j = 0;
    for (; j + 16 <= count; j += 16) dots_block<2>(entries + j, table, b_re, b_im, length, out + j);
    for (; j + 8 <= count; j += 8) dots_block<1>(entries + j, table, b_re, b_im, length, out + j);
    if (j == count) return;
    // The last few entries fill a group whose spare lanes repeat the last
    // entry; lanes are independent sums, so the spare results are dropped.
    const std::uint16_t* group[8];
    double sums[8];
    for (std::size_t l = 0; l < 8; ++l) group[l] = entries[j + l < count ? j + l : count - 1];
    dots_block<1>(group, table, b_re, b_im, length, sums);
    for (std::size_t l = 0; j + l < count; ++l) out[j + l] = sums[l];
}

// Resolutions up to 16 with many entries: the term of every level at a
// position, cos(x) * b_re[i] + sin(x) * b_im[i], is the same for every entry, so
// it is computed once per (position, level), rounded exactly as the term itself,
// and each entry's sum adds the tabled term. Positions go in blocks whose
// 16 terms each stay in L1; every sum carries over from block to block, still
// over i ascending.
constexpr std::size_t kTermBlock = 128;

VK_TARGET_AVX512 void fill_terms(const RegisterTable<1>& t, const double* b_re, const double* b_im, std::size_t from,
                                std::size_t to, double* terms) {
    for (std::size_t i = from; i < to; ++i) {
        const __m512d re = _mm512_set1_pd(b_re[i]);
        const __m512d im = _mm512_set1_pd(b_im[i]);
        double* row = terms + 16 * (i - from);
        _mm512_storeu_pd(row, _mm512_add_pd(_mm512_mul_pd(t.cos[0], re), _mm512_mul_pd(t.sin[0], im)));
        _mm512_storeu_pd(row + 8, _mm512_add_pd(_mm512_mul_pd(t.cos[1], re), _mm512_mul_pd(t.sin[1], im)));
    }
}

template <int S, int G>
VK_TARGET_AVX512 inline void add_tabled(__m512d* sums, const double* row, const __m512i* packed) {
    const __m512d lo = _mm512_loadu_pd(row);
    const __m512d hi = _mm512_loadu_pd(row + 8);
    for (int g = 0; g < G; ++g) {
        sums[g] = _mm512_add_pd(sums[g], _mm512_permutex2var_pd(lo, _mm512_srli_epi64(packed[g], 16 * S), hi));
    }
}

template <int G>
VK_TARGET_AVX512 VK_NOINLINE void tabled_dots_block(const std::uint16_t* const* entries, const double* terms, std::size_t from,
                                       std::size_t to, double* out) {
    __m512d sums[G];
    for (int g = 0; g < G; ++g) sums[g] = _mm512_loadu_pd(out + 8 * g);
    std::size_t i = from;
    for (; i + 32 <= to; i += 32) {
        __m512i words[G][8];
        for (int g = 0; g < G; ++g) {
            __m512i rows[8];
            for (int l = 0; l < 8; ++l) {
                const std::uint16_t* p = entries[8 * g + l] + i;
                rows[l] = _mm512_loadu_si512(p);
                // The same entry's levels of the next block: by the time the other
                // entries of this block are done, they are in cache (a hint only,
                // it never faults past the end). Into the second level only: the
                // whole block of entries passes before they are read, which would
                // evict them from the first, and with them the tabled terms.
                const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(p) + sizeof(std::uint16_t) * kTermBlock;
                _mm_prefetch(reinterpret_cast<const char*>(ahead), _MM_HINT_T1);
            }
            transpose_words(rows, words[g]);
        }
        for (int q = 0; q < 8; ++q) {
            __m512i packed[G];
            for (int g = 0; g < G; ++g) packed[g] = words[g][q];
            const double* row = terms + 16 * (i - from + 4 * q);
            add_tabled<0, G>(sums, row, packed);
            add_tabled<1, G>(sums, row + 16, packed);
            add_tabled<2, G>(sums, row + 32, packed);
            add_tabled<3, G>(sums, row + 48, packed);
        }
    }
    for (; i < to; ++i) {
        __m512i packed[G];
        for (int g = 0; g < G; ++g) {
            alignas(64) long long levels[8];
            for (int l = 0; l < 8; ++l) levels[l] = entries[8 * g + l][i];
            packed[g] = _mm512_load_si512(levels);
        }
        add_tabled<0, G>(sums, terms + 16 * (i - from), packed);
    }
    for (int g = 0; g < G; ++g) _mm512_storeu_pd(out + 8 * g, sums[g]);
}

VK_TARGET_AVX512 void tabled_dots(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                                 const double* b_re, const double* b_im, std::size_t length, double* out) {
    const RegisterTable<1> table = load_register_table<1>(grid);
    std::vector<double> terms(16 * kTermBlock);
    const std::size_t vectored = count - count % 8;
    for (std::size_t j = 0; j < vectored; ++j) out[j] = 0.0;
    for (std::size_t from = 0; from < length; from += kTermBlock) {
        const std::size_t to = length - from < kTermBlock ? length : from + kTermBlock;
        fill_terms(table, b_re, b_im, from, to, terms.data());
        std::size_t j = 0;
        for (; j + 32 <= vectored; j += 32) tabled_dots_block<4>(entries + j, terms.data(), from, to, out + j);
        for (; j + 16 <= vectored; j += 16) tabled_dots_block<2>(entries + j, terms.data(), from, to, out + j);
        for (; j < vectored; j += 8) tabled_dots_block<1>(entries + j, terms.data(), from, to, out + j);
    }
    dots(entries + vectored, count - vectored, table, b_re, b_im, length, out + vectored);
}

// Eight levels starting at p, widened to one per 64-bit lane.
VK_TARGET_AVX512 inline __m512i eight_levels(const std::uint16_t* p) {
    return _mm512_cvtepu16_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// R registers of eight positions each stay in registers while every entry, in
// entry order, is added into them.
template <int R, class Table>
VK_TARGET_AVX512 void superpose_block(const std::uint16_t* const* entries, std::size_t count, const Table& table,
                                     const double* weights, std::size_t at, double* acc_re, double* acc_im) {
    __m512d re[R], im[R];
    for (int r = 0; r < R; ++r) {
        re[r] = _mm512_loadu_pd(acc_re + at + 8 * r);
        im[r] = _mm512_loadu_pd(acc_im + at + 8 * r);
    }
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint16_t* p = entries[j] + at;
        const __m512d w = _mm512_set1_pd(weights[j]);
        if constexpr (std::is_same_v<Table, RegisterTable<1>>) {
            // Sixteen levels: the entry's products c * w, s * w for every level
            // (the same products, rounded once each) cost fewer multiplies than
            // one per position.
            const RegisterTable<1> scaled{{_mm512_mul_pd(table.cos[0], w), _mm512_mul_pd(table.cos[1], w)},
                                          {_mm512_mul_pd(table.sin[0], w), _mm512_mul_pd(table.sin[1], w)}};
            for (int r = 0; r < R; ++r) {
                const __m512i level = eight_levels(p + 8 * r);
                re[r] = _mm512_add_pd(cos_of(scaled, level), re[r]);
                im[r] = _mm512_add_pd(sin_of(scaled, level), im[r]);
            }
        } else {
            for (int r = 0; r < R; ++r) {
                const __m512i level = eight_levels(p + 8 * r);
                re[r] = _mm512_add_pd(_mm512_mul_pd(cos_of(table, level), w), re[r]);
                im[r] = _mm512_add_pd(_mm512_mul_pd(sin_of(table, level), w), im[r]);
            }
        }
    }
    for (int r = 0; r < R; ++r) {
        _mm512_storeu_pd(acc_re + at + 8 * r, re[r]);
        _mm512_storeu_pd(acc_im + at + 8 * r, im[r]);
    }
}

template <class Table>
VK_TARGET_AVX512 void superpose(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                               const Table& table, const double* weights, std::size_t length, double* acc_re,
                               double* acc_im) {
    std::size_t at = 0;
    for (; at + 32 <= length; at += 32) superpose_block<4>(entries, count, table, weights, at, acc_re, acc_im);
    for (; at + 8 <= length; at += 8) superpose_block<1>(entries, count, table, weights, at, acc_re, acc_im);
    superpose_tail_positions(entries, count, grid.cosines(), grid.sines(), weights, at, length, acc_re, acc_im);
}

}  // namespace

VK_TARGET_AVX512 void level_dots_avx512(const std::uint16_t* const* entries, std::size_t count,
                                       const GridPhasors& grid, const double* b_re, const double* b_im,
                                       std::size_t length, double* out) {
    const std::uint32_t n = grid.resolution();
    if (n <= 16 && count >= 16) return tabled_dots(entries, count, grid, b_re, b_im, length, out);
    if (n <= 16) return dots(entries, count, load_register_table<1>(grid), b_re, b_im, length, out);
    if (n <= 32) return dots(entries, count, load_register_table<2>(grid), b_re, b_im, length, out);
    if (n <= 64) return dots(entries, count, load_register_table<4>(grid), b_re, b_im, length, out);
    dots(entries, count, MemoryTable{grid.cosines(), grid.sines()}, b_re, b_im, length, out);
}

VK_TARGET_AVX512 void level_superpose_avx512(const std::uint16_t* const* entries, std::size_t count,
                                            const GridPhasors& grid, const double* weights, std::size_t length,
                                            double* acc_re, double* acc_im) {
    const std::uint32_t n = grid.resolution();
    if (n <= 16) {
        return superpose(entries, count, grid, load_register_table<1>(grid), weights, length, acc_re, acc_im);
    }
    if (n <= 32) {
        return superpose(entries, count, grid, load_register_table<2>(grid), weights, length, acc_re, acc_im);
    }
    if (n <= 64) {
        return superpose(entries, count, grid, load_register_table<4>(grid), weights, length, acc_re, acc_im);
    }
    superpose(entries, count, grid, MemoryTable{grid.cosines(), grid.sines()}, weights, length, acc_re, acc_im);
}

}  // namespace verrakin::detail
