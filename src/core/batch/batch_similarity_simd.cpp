// The batch kernels: several entries' sums side by side, each sum still one
// chain of additions in index order (see batch_kernels.hpp). What the wider
// levels buy is more chains in flight and more loads per cycle; no sum is ever
// split or reordered, so every kernel gives the reference's bits.
#include <cstring>

#include "../cpu/isa.hpp"
#include "batch_kernels.hpp"

namespace verrakin::detail {
namespace {

// K entries side by side. A block of four levels per entry is read with one
// 64-bit load and taken apart by shifts, which halves the loads per term; the
// table is indexed from the query's row, so one term is one load and one add.
template <std::size_t K>
[[gnu::always_inline]] inline void sums_side_by_side(const std::uint16_t* query, const std::uint16_t* const* entries,
                                                     std::uint64_t length, const double* by_difference,
                                                     double* sums) noexcept {
    double acc[K];
    const std::uint16_t* entry[K];
    for (std::size_t k = 0; k < K; ++k) {
        acc[k] = -0.0;
        entry[k] = entries[k];
    }
    std::uint64_t i = 0;
    for (; i + 4 <= length; i += 4) {
        std::uint64_t block[K];
        for (std::size_t k = 0; k < K; ++k) std::memcpy(&block[k], entry[k] + i, sizeof block[k]);
        for (unsigned lane = 0; lane < 4; ++lane) {
            const double* row = by_difference + query[i + lane];
            for (std::size_t k = 0; k < K; ++k) {
                // Little-endian: level i + lane sits in bits 16 * lane.
                acc[k] += row[-static_cast<std::int32_t>((block[k] >> (16 * lane)) & 0xFFFF)];
            }
        }
    }
    for (; i < length; ++i) {
        const double* row = by_difference + query[i];
        for (std::size_t k = 0; k < K; ++k) acc[k] += row[-static_cast<std::int32_t>(entry[k][i])];
    }
    for (std::size_t k = 0; k < K; ++k) sums[k] = acc[k];
}

template <std::size_t K>
[[gnu::always_inline]] inline void sums_in_groups(const std::uint16_t* query, const std::uint16_t* const* entries,
                                                  std::size_t count, std::uint64_t length,
                                                  const double* by_difference, double* sums) noexcept {
    std::size_t j = 0;
    for (; j + K <= count; j += K) sums_side_by_side<K>(query, entries + j, length, by_difference, sums + j);
    for (; j + 2 <= count; j += 2) sums_side_by_side<2>(query, entries + j, length, by_difference, sums + j);
    if (j < count) sums_side_by_side<1>(query, entries + j, length, by_difference, sums + j);
}

}  // namespace

#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the batch kernels read four levels per 64-bit load in little-endian order"
#endif

void batch_sums_scalar(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                       std::uint64_t length, const double* by_difference, double* sums) noexcept {
    sums_in_groups<4>(query, entries, count, length, by_difference, sums);
}

VK_TARGET_AVX2 void batch_sums_avx2(const std::uint16_t* query, const std::uint16_t* const* entries,
                                    std::size_t count, std::uint64_t length, const double* by_difference,
                                    double* sums) noexcept {
    sums_in_groups<8>(query, entries, count, length, by_difference, sums);
}

VK_TARGET_AVX512 void batch_sums_avx512(const std::uint16_t* query, const std::uint16_t* const* entries,
                                        std::size_t count, std::uint64_t length, const double* by_difference,
                                        double* sums) noexcept {
    sums_in_groups<8>(query, entries, count, length, by_difference, sums);
}

}  // namespace verrakin::detail
