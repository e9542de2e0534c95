// The batch kernels: several entries' sums side by side, each sum still one
// chain of additions in index order (see batch_kernels.hpp). What the wider
// levels buy is more chains in flight and fewer loads per term; no sum is ever
// split or reordered, so every kernel gives the reference's bits.
#include "../platform/compiler.hpp"

#if VK_X86_64
#include <immintrin.h>
#endif

VK_ALLOW_UNDEFINED_INTRINSIC_OPERANDS

#include <cstring>
#include <type_traits>

#include "../cpu/isa.hpp"
#include "batch_kernels.hpp"

namespace verrakin::detail {
namespace {

// Positions per block: the first pass of a block writes every term's table
// index, the second adds the terms. The indices of 16 entries stay in the
// first-level cache.
constexpr std::size_t kBlockPositions = 256;

// K entries side by side, one table load per term. The first pass is plain
// integer arithmetic the compiler vectorises at the target's width; the second
// adds the terms with K independent chains of additions in flight. The loads
// bound it, so fewer pay: a mirrored table is indexed by |d| < 65536 kept in 16
// bits ("packed"), one 8-byte load giving four positions' indices taken apart
// in registers (1.25 loads per term instead of 2; 12-20 % faster at every n
// above 16 on a Sapphire Rapids core at the AVX2 and scalar levels). Any other
// table is indexed by the signed difference, one 4-byte index per term.
template <std::size_t K, bool packed>
VK_ALWAYS_INLINE void sums_by_term(const std::uint16_t* query, const std::uint16_t* const* entries,
                                   std::uint64_t length, const double* by_difference, double* sums) noexcept {
    using Index = std::conditional_t<packed, std::uint16_t, std::int32_t>;
    double acc[K];
    for (std::size_t k = 0; k < K; ++k) acc[k] = -0.0;
    alignas(64) Index differences[K][kBlockPositions];
    for (std::uint64_t first = 0; first < length; first += kBlockPositions) {
        const std::size_t count = length - first < kBlockPositions ? static_cast<std::size_t>(length - first)
                                                                    : kBlockPositions;
        const std::uint16_t* q = query + first;
        for (std::size_t k = 0; k < K; ++k) {
            const std::uint16_t* e = entries[k] + first;
            if constexpr (packed) {
                // |d| straight from the 16-bit levels (the larger minus the
                // smaller), with no widening to 32 bits and back.
                for (std::size_t i = 0; i < count; ++i) {
                    differences[k][i] = static_cast<Index>(q[i] > e[i] ? q[i] - e[i] : e[i] - q[i]);
                }
            } else {
                for (std::size_t i = 0; i < count; ++i) {
                    differences[k][i] = static_cast<std::int32_t>(q[i]) - static_cast<std::int32_t>(e[i]);
                }
            }
        }
        std::size_t i = 0;
        if constexpr (packed) {
            for (; i + 4 <= count; i += 4) {
                for (std::size_t k = 0; k < K; ++k) {
                    std::uint64_t four;
                    std::memcpy(&four, &differences[k][i], sizeof four);
                    acc[k] += by_difference[four & 0xffff];
                    acc[k] += by_difference[(four >> 16) & 0xffff];
                    acc[k] += by_difference[(four >> 32) & 0xffff];
                    acc[k] += by_difference[four >> 48];
                }
            }
        }
        for (; i < count; ++i) {
            for (std::size_t k = 0; k < K; ++k) acc[k] += by_difference[differences[k][i]];
        }
    }
    for (std::size_t k = 0; k < K; ++k) sums[k] = acc[k];
}

// Two doubles in one register; lane j is entry 2p + j's own accumulator, so a
// lane-wise addition is two separate roundings, in order, as the scalar sum.
#if defined(_MSC_VER) && !defined(__clang__)
// MSVC has no vector extensions: two doubles side by side, added lane by lane
// (its baseline SSE2 code pairs them or not; the roundings are the same).
struct Pair {
    double lane[2];
    Pair& operator+=(const Pair& other) noexcept {
        lane[0] += other.lane[0];
        lane[1] += other.lane[1];
        return *this;
    }
    double operator[](std::size_t j) const noexcept { return lane[j]; }
};
#else
using Pair = double __attribute__((vector_size(16)));
#endif

VK_ALWAYS_INLINE void add_pair(Pair& acc, const unsigned char* pair) noexcept {
    Pair term;
    std::memcpy(&term, pair, sizeof term);
    acc += term;
}

// 2P entries side by side through the pair table: the first pass writes the
// pair's offset per position, the second makes one 16-byte load and one
// two-lane addition per two terms.
template <std::size_t P>
VK_ALWAYS_INLINE void sums_by_pair(const std::uint16_t* query, const std::uint16_t* const* entries,
                                                std::uint64_t length, const BatchTables& tables,
                                                double* sums) noexcept {
    Pair acc[P];
    for (std::size_t p = 0; p < P; ++p) acc[p] = Pair{-0.0, -0.0};
    const auto bias = static_cast<std::int32_t>(tables.n - 1);
    const auto stride = static_cast<std::int32_t>(2 * tables.n - 1);
    const auto* pair_bytes = reinterpret_cast<const unsigned char*>(tables.pairs);
    // Byte offsets: below 16 (2n - 1)^2 = 15376 at n = 16, so 16 bits hold them.
    alignas(64) std::uint16_t offsets[P][kBlockPositions];
    for (std::uint64_t first = 0; first < length; first += kBlockPositions) {
        const std::size_t count = length - first < kBlockPositions ? static_cast<std::size_t>(length - first)
                                                                    : kBlockPositions;
        const std::uint16_t* q = query + first;
        for (std::size_t p = 0; p < P; ++p) {
            const std::uint16_t* e0 = entries[2 * p] + first;
            const std::uint16_t* e1 = entries[2 * p + 1] + first;
            for (std::size_t i = 0; i < count; ++i) {
                const std::int32_t d0 = static_cast<std::int32_t>(q[i]) - static_cast<std::int32_t>(e0[i]) + bias;
                const std::int32_t d1 = static_cast<std::int32_t>(q[i]) - static_cast<std::int32_t>(e1[i]) + bias;
                offsets[p][i] = static_cast<std::uint16_t>(16 * (d0 * stride + d1));
            }
        }
        // With many pairs, two positions' offsets per 4-byte load: half the
        // index loads for one shift each (8-11 % faster on a Sapphire Rapids
        // core at the AVX2 level; 2 % slower with the scalar level's two pairs).
        std::size_t i = 0;
        if constexpr (P >= 4) {
            for (; i + 2 <= count; i += 2) {
                std::uint32_t two[P];
                for (std::size_t p = 0; p < P; ++p) std::memcpy(&two[p], &offsets[p][i], sizeof two[p]);
                for (std::size_t p = 0; p < P; ++p) add_pair(acc[p], pair_bytes + (two[p] & 0xffff));
                for (std::size_t p = 0; p < P; ++p) add_pair(acc[p], pair_bytes + (two[p] >> 16));
            }
        }
        for (; i < count; ++i) {
            for (std::size_t p = 0; p < P; ++p) add_pair(acc[p], pair_bytes + offsets[p][i]);
        }
    }
    for (std::size_t p = 0; p < P; ++p) {
        sums[2 * p] = acc[p][0];
        sums[2 * p + 1] = acc[p][1];
    }
}

#if VK_X86_64
// At n <= 16 with a mirrored table the terms by |d| fit two registers, and one
// two-register permute looks up eight entries' terms at once. Lane k of a group
// holds entry k's own chain. One gather reads four consecutive levels (one
// 8-byte word) of each of the group's eight entries; the 16-bit differences go
// into the permute's index one position after the other by shifting the word
// down 16 bits (the permute reads only an index's low four bits).
template <std::size_t G>
VK_TARGET_AVX512 inline void sums_by_register_table(const std::uint16_t* query, const std::uint16_t* const* entries,
                                                    std::uint64_t length, const BatchTables& tables,
                                                    double* sums) noexcept {
    alignas(64) double terms[16] = {};  // lanes from n up are never indexed: |d| < n
    for (std::uint32_t d = 0; d < tables.n; ++d) terms[d] = tables.by_difference[d];
    const __m512d low = _mm512_load_pd(terms);
    const __m512d high = _mm512_load_pd(terms + 8);
    // Each entry's address as a byte distance from the first entry's.
    const auto* base = reinterpret_cast<const char*>(entries[0]);
    __m512i distance[G];
    __m512d acc[G];
    for (std::size_t g = 0; g < G; ++g) {
        alignas(64) std::int64_t d[8];
        for (std::size_t k = 0; k < 8; ++k) {
            d[k] = static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(entries[8 * g + k]) -
                                             reinterpret_cast<std::uintptr_t>(base));
        }
        distance[g] = _mm512_load_si512(d);
        acc[g] = _mm512_set1_pd(-0.0);
    }
    std::uint64_t i = 0;
    for (; i + 4 <= length; i += 4) {
        std::int64_t four;
        std::memcpy(&four, query + i, sizeof four);
        const __m512i q = _mm512_set1_epi64(four);
        __m512i index[G];
        for (std::size_t g = 0; g < G; ++g) {
            const __m512i e = _mm512_i64gather_epi64(distance[g], base + 2 * i, 1);
            index[g] = _mm512_abs_epi16(_mm512_sub_epi16(q, e));
        }
        for (int t = 0; t < 4; ++t) {
            for (std::size_t g = 0; g < G; ++g) {
                acc[g] = _mm512_add_pd(acc[g], _mm512_permutex2var_pd(low, index[g], high));
                index[g] = _mm512_srli_epi64(index[g], 16);
            }
        }
    }
    for (std::size_t g = 0; g < G; ++g) _mm512_storeu_pd(sums + 8 * g, acc[g]);
    // The last positions continue each chain one entry at a time.
    for (std::size_t k = 0; k < 8 * G; ++k) {
        double sum = sums[k];
        for (std::uint64_t p = i; p < length; ++p) {
            const std::int32_t d = static_cast<std::int32_t>(query[p]) - static_cast<std::int32_t>(entries[k][p]);
            sum += terms[d < 0 ? -d : d];
        }
        sums[k] = sum;
    }
}

#endif

// K entries side by side in general; with a mirrored table, Packed entries read
// four 16-bit |d| per load (fewer loads than one index per term, and at most
// eight groups so that the index words and the sums stay in registers).
template <std::size_t K, std::size_t Packed>
VK_ALWAYS_INLINE void sums_in_groups(const std::uint16_t* query, const std::uint16_t* const* entries,
                                     std::size_t count, std::uint64_t length, const BatchTables& tables,
                                     double* sums) noexcept {
    std::size_t j = 0;
    if (tables.pairs != nullptr) {
        for (; j + K <= count; j += K) sums_by_pair<K / 2>(query, entries + j, length, tables, sums + j);
    }
    if (tables.mirrored) {
        for (; j + Packed <= count; j += Packed) {
            sums_by_term<Packed, true>(query, entries + j, length, tables.by_difference, sums + j);
        }
    }
    for (; j + K <= count; j += K) sums_by_term<K, false>(query, entries + j, length, tables.by_difference, sums + j);
    for (; j + 2 <= count; j += 2) sums_by_term<2, false>(query, entries + j, length, tables.by_difference, sums + j);
    if (j < count) sums_by_term<1, false>(query, entries + j, length, tables.by_difference, sums + j);
}

}  // namespace

// Baseline x86-64 (SSE2) has the two-lane additions too; elsewhere the
// compiler splits them into scalar ones, which round the same.
void batch_sums_scalar(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                       std::uint64_t length, const BatchTables& tables, double* sums) noexcept {
    sums_in_groups<4, 4>(query, entries, count, length, tables, sums);
}

// The wider kernels exist on x86-64 only. AVX-512 comes twice: with the loads,
// and with gathers for 16 < n <= 8192 (batch_kernel() keeps the faster on this
// core).
#if VK_X86_64
VK_TARGET_AVX2 void batch_sums_avx2(const std::uint16_t* query, const std::uint16_t* const* entries,
                                    std::size_t count, std::uint64_t length, const BatchTables& tables,
                                    double* sums) noexcept {
    sums_in_groups<16, 8>(query, entries, count, length, tables, sums);
}

namespace {

// Eight entries at a time through the 16-entry register table at n <= 16.
VK_TARGET_AVX512 std::size_t sums_at_small_n(const std::uint16_t* query, const std::uint16_t* const* entries,
                                             std::size_t count, std::uint64_t length, const BatchTables& tables,
                                             double* sums) noexcept {
    std::size_t j = 0;
    if (tables.mirrored && tables.n <= 16) {
        for (; j + 32 <= count; j += 32) sums_by_register_table<4>(query, entries + j, length, tables, sums + j);
        for (; j + 8 <= count; j += 8) sums_by_register_table<1>(query, entries + j, length, tables, sums + j);
    }
    return j;
}

}  // namespace

VK_TARGET_AVX512 void batch_sums_avx512(const std::uint16_t* query, const std::uint16_t* const* entries,
                                        std::size_t count, std::uint64_t length, const BatchTables& tables,
                                        double* sums) noexcept {
    const std::size_t j = sums_at_small_n(query, entries, count, length, tables, sums);
    sums_in_groups<16, 8>(query, entries + j, count - j, length, tables, sums + j);
}

VK_TARGET_AVX512 void batch_sums_avx512_gathers(const std::uint16_t* query, const std::uint16_t* const* entries,
                                                std::size_t count, std::uint64_t length, const BatchTables& tables,
                                                double* sums) noexcept {
    std::size_t j = sums_at_small_n(query, entries, count, length, tables, sums);
    j += gather_sums_avx512(query, entries + j, count - j, length, tables, sums + j);
    sums_in_groups<16, 8>(query, entries + j, count - j, length, tables, sums + j);
}

#endif

}  // namespace verrakin::detail
