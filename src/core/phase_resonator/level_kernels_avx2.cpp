// AVX2 forms of the level kernels. Table lookups are plain loads, not gathers
// (a gather costs more than the loads it replaces on most AVX2 cores): a level's
// [cos sin] pair is one 16-byte load, and at small resolutions two levels' pairs
// are one 32-byte row of the grid's level-pair table, indexed by both levels at
// once. Levels come in as 64-bit words of four.
//
// Dots keep one entry per lane: two entries' pairs in one register, multiplied
// by [b_re b_im b_re b_im], and a horizontal add makes each entry's term exactly
// as the reference does (c * b_re + s * b_im); each lane then adds its own
// entry's terms over i ascending. Against two vectors at larger resolutions,
// one entry's pair is broadcast to both halves instead and multiplied by both
// vectors at once. The superposition keeps positions in lanes,
// as [re im] pairs, each receiving the entries in entry order. Every product
// and sum is its own rounded instruction (no fused multiply-add).
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "../platform/compiler.hpp"
#include "level_kernels.hpp"
#include "phasor_pairs.hpp"


static_assert(verrakin::kPairRowsMaxResolution <= 64, "row indices take two levels of at most 6 bits");

namespace verrakin::detail {
namespace {

inline std::uint64_t four_levels(const std::uint16_t* p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Levels packed into row indices come pre-multiplied by 4 (two spare low bits),
// so that a row index scaled by 8 in the address is the row's byte offset.
constexpr unsigned kRowShift = 2;

// The scaled row index of the two levels in field S (16 bits each) of `packed`.
template <int S>
inline std::size_t row_index(std::uint64_t packed, std::uint64_t row_mask) noexcept {
    return static_cast<std::size_t>((packed >> (16 * S)) & row_mask);
}

VK_TARGET_AVX2 inline __m256d row_at(const double* rows, std::size_t scaled_index) {
    return _mm256_load_pd(rows + scaled_index);
}

// [cos a, sin a, cos b, sin b] from the pair table, given the offsets 2a, 2b
// of the levels' pairs in doubles.
VK_TARGET_AVX2 inline __m256d two_pairs(const double* pairs, std::uint64_t twice_a, std::uint64_t twice_b) {
    const __m128d low = _mm_load_pd(pairs + twice_a);
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(low), _mm_load_pd(pairs + twice_b), 1);
}

// Pair offsets from a word of four levels. Below 2^15 levels, one add of the
// whole word doubles every field in place, which saves a shift per level; the
// widest grids double each field on its own. Field S comes out of a rotation
// of the word (rorx: no copy of the word first), then its low 16 bits; the
// top field is a plain shift.
template <bool Wide>
struct PairOffsets {
    static std::uint64_t prepare(std::uint64_t word) noexcept { return Wide ? word : word + word; }

    template <int S>
    static std::uint64_t at(std::uint64_t prepared) noexcept {
        std::uint64_t field;
        if constexpr (S == 0) {
            field = static_cast<std::uint16_t>(prepared);
        } else if constexpr (S == 3) {
            field = prepared >> 48;
        } else {
            field = static_cast<std::uint16_t>(prepared >> (16 * S) | prepared << (64 - 16 * S));
        }
        return Wide ? 2 * field : field;
    }
};

// Levels of a grid of at most this many levels may be doubled in place.
constexpr std::uint32_t kNarrowPairResolution = std::uint32_t{1} << 15;

// [b_re[i], b_im[i], b_re[i], b_im[i]].
VK_TARGET_AVX2 inline __m256d position_b(const double* b_re, const double* b_im, std::size_t i) {
    return _mm256_blend_pd(_mm256_broadcast_sd(b_re + i), _mm256_broadcast_sd(b_im + i), 0b1010);
}

// The terms of four entries, from their pairs [e0 e1] and [e2 e3]: lanes hold
// the terms of entries 0, 2, 1, 3.
VK_TARGET_AVX2 inline __m256d terms_of(__m256d pairs01, __m256d pairs23, __m256d b) {
    return _mm256_hadd_pd(_mm256_mul_pd(pairs01, b), _mm256_mul_pd(pairs23, b));
}

// The vectors the entries are dotted with: V of them, each entry's levels
// read once for all. One vector comes as separate re and im arrays; two come
// interleaved per position as [a_re a_im b_re b_im], so that each vector's
// [re im re im] is a single broadcast load.
template <int V>
struct DotTargets;

template <>
struct DotTargets<1> {
    const double* re;
    const double* im;

    VK_TARGET_AVX2 void at(std::size_t i, __m256d* b) const { b[0] = position_b(re, im, i); }
};

template <>
struct DotTargets<2> {
    const double* interleaved;

    VK_TARGET_AVX2 void at(std::size_t i, __m256d* b) const {
        b[0] = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(interleaved + 4 * i));
        b[1] = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(interleaved + 4 * i + 2));
    }

    // [a_re a_im b_re b_im] at position i.
    VK_TARGET_AVX2 __m256d both(std::size_t i) const { return _mm256_loadu_pd(interleaved + 4 * i); }
};

// Per vector, Q quads of entries (four or eight entries), each lane one entry's
// sum, over i ascending; quad q's register holds entries 4q + 0, 2, 1, 3.
template <int V, int Q>
struct DotSums {
    __m256d quad[V][Q];

    VK_TARGET_AVX2 void zero() {
        for (int v = 0; v < V; ++v) {
            for (int q = 0; q < Q; ++q) quad[v][q] = _mm256_setzero_pd();
        }
    }

    // Adds the terms of pairs [e0 e1] [e2 e3] of every quad, for each vector.
    VK_TARGET_AVX2 void add(const __m256d* pairs, const __m256d* b) {
        for (int v = 0; v < V; ++v) {
            for (int q = 0; q < Q; ++q) {
                quad[v][q] = _mm256_add_pd(quad[v][q], terms_of(pairs[2 * q], pairs[2 * q + 1], b[v]));
            }
        }
    }

    VK_TARGET_AVX2 void store(double* const* out) const {
        for (int v = 0; v < V; ++v) {
            for (int q = 0; q < Q; ++q) _mm256_storeu_pd(out[v] + 4 * q, _mm256_permute4x64_pd(quad[v][q], 0xD8));
        }
    }
};

// Small resolutions: entries 2p and 2p+1 share a row, indexed by the two levels
// at a position taken from one combined word.
template <int S, int V, int Q>
VK_TARGET_AVX2 inline void add_row_terms(DotSums<V, Q>& sums, const double* rows, const std::uint64_t* packed,
                                        std::uint64_t row_mask, const DotTargets<V>& targets, std::size_t i) {
    __m256d row[2 * Q];
    for (int p = 0; p < 2 * Q; ++p) row[p] = row_at(rows, row_index<S>(packed[p], row_mask));
    __m256d b[V];
    targets.at(i, b);
    sums.add(row, b);
}

template <int V, int Q>
VK_TARGET_AVX2 void row_dots_block(const std::uint16_t* const* entries, const PhasorPairs& t,
                                  const DotTargets<V>& targets, std::size_t length, double* const* out) {
    const std::uint64_t row_mask = ((std::uint64_t{1} << (2 * t.bits)) - 1) << kRowShift;
    const unsigned high = t.bits + kRowShift;
    DotSums<V, Q> sums;
    sums.zero();
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        std::uint64_t packed[2 * Q];
        for (int p = 0; p < 2 * Q; ++p) {
            packed[p] = four_levels(entries[2 * p] + i) << kRowShift | four_levels(entries[2 * p + 1] + i) << high;
        }
        add_row_terms<0>(sums, t.rows, packed, row_mask, targets, i);
        add_row_terms<1>(sums, t.rows, packed, row_mask, targets, i + 1);
        add_row_terms<2>(sums, t.rows, packed, row_mask, targets, i + 2);
        add_row_terms<3>(sums, t.rows, packed, row_mask, targets, i + 3);
    }
    for (; i < length; ++i) {
        std::uint64_t packed[2 * Q];
        for (int p = 0; p < 2 * Q; ++p) {
            packed[p] = std::uint64_t{entries[2 * p][i]} << kRowShift | std::uint64_t{entries[2 * p + 1][i]} << high;
        }
        add_row_terms<0>(sums, t.rows, packed, row_mask, targets, i);
    }
    sums.store(out);
}

// Larger resolutions: each entry's pair is its own 16-byte load. Takes the
// level in field S of each entry's prepared word.
template <bool Wide, int S, int V, int Q>
VK_TARGET_AVX2 inline void add_pair_terms(DotSums<V, Q>& sums, const double* pairs, const std::uint64_t* prepared,
                                          const DotTargets<V>& targets, std::size_t i) {
    using Offsets = PairOffsets<Wide>;
    __m256d two[2 * Q];
    for (int p = 0; p < 2 * Q; ++p) {
        two[p] = two_pairs(pairs, Offsets::template at<S>(prepared[2 * p]),
                           Offsets::template at<S>(prepared[2 * p + 1]));
    }
    __m256d b[V];
    targets.at(i, b);
    sums.add(two, b);
}

template <bool Wide, int V, int Q>
VK_TARGET_AVX2 void pair_dots_block(const std::uint16_t* const* entries, const PhasorPairs& t,
                                   const DotTargets<V>& targets, std::size_t length, double* const* out) {
    using Offsets = PairOffsets<Wide>;
    DotSums<V, Q> sums;
    sums.zero();
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        std::uint64_t prepared[4 * Q];
        for (int l = 0; l < 4 * Q; ++l) prepared[l] = Offsets::prepare(four_levels(entries[l] + i));
        add_pair_terms<Wide, 0>(sums, t.pairs, prepared, targets, i);
        add_pair_terms<Wide, 1>(sums, t.pairs, prepared, targets, i + 1);
        add_pair_terms<Wide, 2>(sums, t.pairs, prepared, targets, i + 2);
        add_pair_terms<Wide, 3>(sums, t.pairs, prepared, targets, i + 3);
    }
    for (; i < length; ++i) {
        std::uint64_t prepared[4 * Q];
        for (int l = 0; l < 4 * Q; ++l) prepared[l] = Offsets::prepare(entries[l][i]);
        add_pair_terms<Wide, 0>(sums, t.pairs, prepared, targets, i);
    }
    sums.store(out);
}

// Against two vectors, larger resolutions, four entries: each entry's pair
// broadcast to [c s c s] times [a_re a_im b_re b_im] holds the products of
// both terms, and a horizontal add of two entries' products makes their terms
// [a e0, a e1, b e0, b e1], each as the reference makes it (c * re + s * im;
// the sum's operands commute exactly). No joining of pairs, one product per
// entry and vector pair, and one load per position for both vectors.
template <bool Wide, int S>
VK_TARGET_AVX2 inline void add_twice_terms(__m256d* sums, const double* pairs, const std::uint64_t* prepared,
                                           __m256d both) {
    using Offsets = PairOffsets<Wide>;
    __m256d products[4];
    for (int l = 0; l < 4; ++l) {
        const double* pair = pairs + Offsets::template at<S>(prepared[l]);
        products[l] = _mm256_mul_pd(_mm256_broadcast_pd(reinterpret_cast<const __m128d*>(pair)), both);
    }
    sums[0] = _mm256_add_pd(sums[0], _mm256_hadd_pd(products[0], products[1]));
    sums[1] = _mm256_add_pd(sums[1], _mm256_hadd_pd(products[2], products[3]));
}

template <bool Wide>
VK_TARGET_AVX2 void pair_dots_twice_block(const std::uint16_t* const* entries, const PhasorPairs& t,
                                         const DotTargets<2>& targets, std::size_t length, double* const* out) {
    using Offsets = PairOffsets<Wide>;
    __m256d sums[2] = {_mm256_setzero_pd(), _mm256_setzero_pd()};  // [a0 a1 b0 b1], [a2 a3 b2 b3]
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        std::uint64_t prepared[4];
        for (int l = 0; l < 4; ++l) prepared[l] = Offsets::prepare(four_levels(entries[l] + i));
        add_twice_terms<Wide, 0>(sums, t.pairs, prepared, targets.both(i));
        add_twice_terms<Wide, 1>(sums, t.pairs, prepared, targets.both(i + 1));
        add_twice_terms<Wide, 2>(sums, t.pairs, prepared, targets.both(i + 2));
        add_twice_terms<Wide, 3>(sums, t.pairs, prepared, targets.both(i + 3));
    }
    for (; i < length; ++i) {
        std::uint64_t prepared[4];
        for (int l = 0; l < 4; ++l) prepared[l] = Offsets::prepare(entries[l][i]);
        add_twice_terms<Wide, 0>(sums, t.pairs, prepared, targets.both(i));
    }
    _mm256_storeu_pd(out[0], _mm256_permute2f128_pd(sums[0], sums[1], 0x20));
    _mm256_storeu_pd(out[1], _mm256_permute2f128_pd(sums[0], sums[1], 0x31));
}

// Accumulators of four positions as two registers of [re im] pairs:
// [re0 im0 re1 im1] and [re2 im2 re3 im3].
VK_TARGET_AVX2 inline void load_pairs(const double* acc_re, const double* acc_im, __m256d* pairs) {
    const __m256d re = _mm256_loadu_pd(acc_re);
    const __m256d im = _mm256_loadu_pd(acc_im);
    const __m256d low = _mm256_unpacklo_pd(re, im);   // re0 im0 re2 im2
    const __m256d high = _mm256_unpackhi_pd(re, im);  // re1 im1 re3 im3
    pairs[0] = _mm256_permute2f128_pd(low, high, 0x20);
    pairs[1] = _mm256_permute2f128_pd(low, high, 0x31);
}

VK_TARGET_AVX2 inline void store_pairs(const __m256d* pairs, double* acc_re, double* acc_im) {
    const __m256d low = _mm256_permute2f128_pd(pairs[0], pairs[1], 0x20);   // re0 im0 re2 im2
    const __m256d high = _mm256_permute2f128_pd(pairs[0], pairs[1], 0x31);  // re1 im1 re3 im3
    _mm256_storeu_pd(acc_re, _mm256_unpacklo_pd(low, high));
    _mm256_storeu_pd(acc_im, _mm256_unpackhi_pd(low, high));
}

// The phasors of one entry's levels at positions at + 4q .. at + 4q + 3, as two
// [cos sin cos sin] registers: rows of the pair table of consecutive positions,
// or two pairs each.
//
// A row index packs two neighbouring levels a | b << bits; with the word's
// levels l0..l3 in 16-bit fields, (word << 2) | (word >> (14 - bits)) holds
// l0 | l1 << bits, scaled by 4, in its low field pair and l2 | l3 << bits in
// its high one (shifts and ors only: pext is slow on some AVX2 cores).
struct RowLookup {
    const double* rows;
    std::uint64_t row_mask;
    unsigned down;  // 14 - bits

    VK_TARGET_AVX2 void operator()(std::uint64_t word, __m256d* out) const {
        const std::uint64_t packed = word << kRowShift | word >> down;
        out[0] = row_at(rows, static_cast<std::size_t>(packed & row_mask));
        out[1] = row_at(rows, static_cast<std::size_t>((packed >> 32) & row_mask));
    }
};

template <bool Wide>
struct PairLookup {
    const double* pairs;

    VK_TARGET_AVX2 void operator()(std::uint64_t word, __m256d* out) const {
        using Offsets = PairOffsets<Wide>;
        const std::uint64_t prepared = Offsets::prepare(word);
        out[0] = two_pairs(pairs, Offsets::template at<0>(prepared), Offsets::template at<1>(prepared));
        out[1] = two_pairs(pairs, Offsets::template at<2>(prepared), Offsets::template at<3>(prepared));
    }
};

// Q groups of four positions stay in registers while every entry, in entry
// order, is added into them: acc = phasor * w + acc, lane by lane.
template <int Q, class Lookup>
VK_TARGET_AVX2 void superpose_block(const std::uint16_t* const* entries, std::size_t count, const Lookup& lookup,
                                   const double* weights, std::size_t at, double* acc_re, double* acc_im) {
    __m256d acc[2 * Q];
    for (int q = 0; q < Q; ++q) load_pairs(acc_re + at + 4 * q, acc_im + at + 4 * q, acc + 2 * q);
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint16_t* p = entries[j] + at;
        const __m256d w = _mm256_set1_pd(weights[j]);
        for (int q = 0; q < Q; ++q) {
            __m256d phasors[2];
            lookup(four_levels(p + 4 * q), phasors);
            acc[2 * q] = _mm256_add_pd(_mm256_mul_pd(phasors[0], w), acc[2 * q]);
            acc[2 * q + 1] = _mm256_add_pd(_mm256_mul_pd(phasors[1], w), acc[2 * q + 1]);
        }
    }
    for (int q = 0; q < Q; ++q) store_pairs(acc + 2 * q, acc_re + at + 4 * q, acc_im + at + 4 * q);
}

// Entries go in groups of at most kSuperposeGroup, every group over all
// positions before the next: a block of positions reads a part of one cache
// line per entry, and the group's lines must still be in the first-level cache
// when the next block reads the rest of them. Each position still receives the
// entries in entry order.
constexpr std::size_t kSuperposeGroup = 128;

template <class Lookup>
VK_TARGET_AVX2 void superpose(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                             const Lookup& lookup, const double* weights, std::size_t length, double* acc_re,
                             double* acc_im) {
    const std::size_t blocked = length / 4 * 4;
    for (std::size_t first = 0; first < count; first += kSuperposeGroup) {
        const std::size_t group = std::min(kSuperposeGroup, count - first);
        std::size_t at = 0;
        for (; at + 16 <= blocked; at += 16) {
            superpose_block<4>(entries + first, group, lookup, weights + first, at, acc_re, acc_im);
        }
        for (; at < blocked; at += 4) {
            superpose_block<1>(entries + first, group, lookup, weights + first, at, acc_re, acc_im);
        }
    }
    superpose_tail_positions(entries, count, grid.cosines(), grid.sines(), weights, blocked, length, acc_re, acc_im);
}

template <int V>
using DotsBlock = void (*)(const std::uint16_t* const*, const PhasorPairs&, const DotTargets<V>&, std::size_t,
                           double* const*);

// The dots kernel of a grid, for V vectors and Q quads of entries.
template <int V, int Q>
DotsBlock<V> dots_block(const GridPhasors& grid, const PhasorPairs& tables) noexcept {
    const bool narrow = grid.resolution() <= kNarrowPairResolution;
    if (tables.rows != nullptr) return row_dots_block<V, Q>;
    if constexpr (V == 2) {
        static_assert(Q == 1, "two vectors take four entries at a time");
        return narrow ? pair_dots_twice_block<false> : pair_dots_twice_block<true>;
    } else {
        return narrow ? pair_dots_block<false, V, Q> : pair_dots_block<true, V, Q>;
    }
}

// Entries go eight at a time against one vector, four at a time against two
// (eight entries' sums for two vectors are more registers than there are).
template <int V>
VK_TARGET_AVX2 void dots(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                        const DotTargets<V>& targets, std::size_t length, double* const* out) {
    if (count == 0) return;
    constexpr int kQuads = V == 1 ? 2 : 1;
    constexpr std::size_t kLanes = 4 * kQuads;
    const std::shared_ptr<const PhasorPairs> tables = phasor_pairs(grid);
    const DotsBlock<V> full = dots_block<V, kQuads>(grid, *tables);
    double* at[V];
    std::size_t j = 0;
    for (; j + kLanes <= count; j += kLanes) {
        for (int v = 0; v < V; ++v) at[v] = out[v] + j;
        full(entries + j, *tables, targets, length, at);
    }
    if (j == count) return;
    // The last few entries fill a group of four or eight whose spare lanes
    // repeat the last entry; lanes are independent sums, so the spare results
    // are dropped.
    const std::size_t lanes = count - j <= 4 ? 4 : 8;
    const std::uint16_t* group[8];
    double sums[V][8];
    for (std::size_t l = 0; l < lanes; ++l) group[l] = entries[j + l < count ? j + l : count - 1];
    for (int v = 0; v < V; ++v) at[v] = sums[v];
    DotsBlock<V> last = dots_block<V, 1>(grid, *tables);
    if constexpr (kQuads == 2) {
        if (lanes == 8) last = dots_block<V, 2>(grid, *tables);
    }
    last(group, *tables, targets, length, at);
    for (int v = 0; v < V; ++v) {
        for (std::size_t l = 0; j + l < count; ++l) out[v][j + l] = sums[v][l];
    }
}

}  // namespace

VK_TARGET_AVX2 void level_dots_avx2(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                                   const double* b_re, const double* b_im, std::size_t length, double* out) {
    dots(entries, count, grid, DotTargets<1>{b_re, b_im}, length, &out);
}

VK_TARGET_AVX2 void level_dots_twice_avx2(const std::uint16_t* const* entries, std::size_t count,
                                         const GridPhasors& grid, const double* interleaved, std::size_t length,
                                         double* out_a, double* out_b) {
    double* const out[2] = {out_a, out_b};
    dots(entries, count, grid, DotTargets<2>{interleaved}, length, out);
}

VK_TARGET_AVX2 void level_superpose_avx2(const std::uint16_t* const* entries, std::size_t count,
                                        const GridPhasors& grid, const double* weights, std::size_t length,
                                        double* acc_re, double* acc_im) {
    const std::shared_ptr<const PhasorPairs> tables = phasor_pairs(grid);
    if (tables->rows != nullptr) {
        const unsigned bits = tables->bits;
        const RowLookup lookup{tables->rows, ((std::uint64_t{1} << (2 * bits)) - 1) << kRowShift, 14 - bits};
        return superpose(entries, count, grid, lookup, weights, length, acc_re, acc_im);
    }
    if (grid.resolution() <= kNarrowPairResolution) {
        return superpose(entries, count, grid, PairLookup<false>{tables->pairs}, weights, length, acc_re, acc_im);
    }
    superpose(entries, count, grid, PairLookup<true>{tables->pairs}, weights, length, acc_re, acc_im);
}

}  // namespace verrakin::detail
