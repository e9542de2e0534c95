// The gather kernel of the batch similarity: eight entries' terms of one
// position per 8-lane AVX-512 gather, lane k adding only entry k's terms in
// index order, so every chain stays the reference's.
#include "../platform/compiler.hpp"

#if VK_X86_64
#include <immintrin.h>

#include "batch_kernels.hpp"

VK_ALLOW_UNDEFINED_INTRINSIC_OPERANDS

namespace verrakin::detail {
namespace {

// Eight entries' terms of one position by one gather, lane k entry k's own
// chain, for any mirrored table. A block of 32 positions of the group's eight
// entries is read as eight rows of 16-bit |d|, transposed in registers (three
// rounds of unpacks) so that one 16-byte load holds a position's eight
// indices. After the unpacks, 128-bit lane L of row j holds position 8L + j.
template <std::size_t G>
VK_TARGET_AVX512 inline void sums_by_gather(const std::uint16_t* query, const std::uint16_t* const* entries,
                                            std::uint64_t length, const double* by_difference,
                                            double* sums) noexcept {
    constexpr std::size_t kPositions = 32;
    __m512d acc[G];
    for (std::size_t g = 0; g < G; ++g) acc[g] = _mm512_set1_pd(-0.0);
    alignas(64) std::uint16_t indices[G][8][kPositions];  // [group][j][L][entry], position 8L + j
    std::uint64_t first = 0;
    for (; first + kPositions <= length; first += kPositions) {
        const __m512i q = _mm512_loadu_si512(query + first);
        for (std::size_t g = 0; g < G; ++g) {
            __m512i r[8];
            for (std::size_t k = 0; k < 8; ++k) {
                const __m512i e = _mm512_loadu_si512(entries[8 * g + k] + first);
                r[k] = _mm512_sub_epi16(_mm512_max_epu16(q, e), _mm512_min_epu16(q, e));
            }
            __m512i t[8], u[8];
            for (std::size_t k = 0; k < 8; k += 2) {
                t[k] = _mm512_unpacklo_epi16(r[k], r[k + 1]);      // positions 0-3 of the lane
                t[k + 1] = _mm512_unpackhi_epi16(r[k], r[k + 1]);  // positions 4-7
            }
            for (std::size_t h = 0; h < 8; h += 4) {
                u[h] = _mm512_unpacklo_epi32(t[h], t[h + 2]);      // positions 0, 1; four entries
                u[h + 1] = _mm512_unpackhi_epi32(t[h], t[h + 2]);  // 2, 3
                u[h + 2] = _mm512_unpacklo_epi32(t[h + 1], t[h + 3]);  // 4, 5
                u[h + 3] = _mm512_unpackhi_epi32(t[h + 1], t[h + 3]);  // 6, 7
            }
            for (std::size_t h = 0; h < 4; ++h) {
                _mm512_store_si512(indices[g][2 * h], _mm512_unpacklo_epi64(u[h], u[h + 4]));
                _mm512_store_si512(indices[g][2 * h + 1], _mm512_unpackhi_epi64(u[h], u[h + 4]));
            }
        }
        for (std::size_t p = 0; p < kPositions; ++p) {
            for (std::size_t g = 0; g < G; ++g) {
                const auto* eight = reinterpret_cast<const __m128i*>(&indices[g][p % 8][8 * (p / 8)]);
                const __m256i index = _mm256_cvtepu16_epi32(_mm_load_si128(eight));
                acc[g] = _mm512_add_pd(acc[g], _mm512_i32gather_pd(index, by_difference, 8));
            }
        }
    }
    for (std::size_t g = 0; g < G; ++g) _mm512_storeu_pd(sums + 8 * g, acc[g]);
    // The last positions continue each chain one entry at a time.
    for (std::size_t k = 0; k < 8 * G; ++k) {
        double sum = sums[k];
        for (std::uint64_t i = first; i < length; ++i) {
            sum += by_difference[query[i] > entries[k][i] ? query[i] - entries[k][i] : entries[k][i] - query[i]];
        }
        sums[k] = sum;
    }
}

}  // namespace

// The largest n whose table gathers read faster than the packed loads: beyond
// it (a mirrored table over 64 KB, out of the first-level cache) each gathered
// term waits on the second level as a loaded one does, and the gather's own
// work makes it 5-8 % slower (Sapphire Rapids, n = 16384 to 65536).
constexpr std::uint32_t kMaxGatherResolution = 8192;

// Two groups of eight keep two gathers in flight.
VK_TARGET_AVX512 std::size_t gather_sums_avx512(const std::uint16_t* query, const std::uint16_t* const* entries,
                                                std::size_t count, std::uint64_t length, const BatchTables& tables,
                                                double* sums) noexcept {
    std::size_t j = 0;
    if (!tables.mirrored || tables.n > kMaxGatherResolution) return j;
    for (; j + 16 <= count; j += 16) sums_by_gather<2>(query, entries + j, length, tables.by_difference, sums + j);
    for (; j + 8 <= count; j += 8) sums_by_gather<1>(query, entries + j, length, tables.by_difference, sums + j);
    return j;
}

}  // namespace verrakin::detail

#endif
