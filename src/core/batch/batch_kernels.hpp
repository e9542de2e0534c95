// The kernels of the batch similarity, one per instruction-set level, all giving
// the bits of the step-by-step sum; batch_similarity.cpp dispatches.
//
// A kernel sums `by_difference[query[i] - entry[i]]` over i = 0 .. length-1 in
// index order for `count` entries side by side, each entry with its own
// accumulator started at -0.0: the additions of one entry stay one chain in
// index order, only different entries' chains run at the same time.
//
// At small n a second table holds the terms of two entries at once: for the
// differences d1 and d2 (each biased by n - 1 into 0 .. 2n-2) the pair
// (by_difference[d1], by_difference[d2]) at pairs[2 * (d1 * (2n - 1) + d2)].
// One 16-byte load then feeds two entries' additions in one instruction.
#pragma once

#include <cstddef>
#include <cstdint>

namespace verrakin::detail {

struct BatchTables {
    const double* by_difference;  // cos of the angle of difference d at by_difference[d], d = -(n-1) .. n-1
    const double* pairs;          // the pair table, or null where n is too large for one
    std::uint32_t n;
    /// Every term equals its mirror (by_difference[-d] has the bits of
    /// by_difference[d], checked when the table is built), so |d| may index it:
    /// half the table to keep in cache.
    bool mirrored;
};

/// The largest n with a pair table: (2n - 1)^2 pairs of 16 bytes stay in the
/// first-level cache (15 KB at n = 16).
inline constexpr std::uint32_t kMaxPairResolution = 16;

using BatchKernel = void (*)(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                             std::uint64_t length, const BatchTables& tables, double* sums) noexcept;

/// One entry after the other: the reference.
void batch_sums_reference(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                          std::uint64_t length, const BatchTables& tables, double* sums) noexcept;
void batch_sums_scalar(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                       std::uint64_t length, const BatchTables& tables, double* sums) noexcept;
void batch_sums_avx2(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                     std::uint64_t length, const BatchTables& tables, double* sums) noexcept;
void batch_sums_avx512(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                       std::uint64_t length, const BatchTables& tables, double* sums) noexcept;
/// AVX-512 with gathers (lane = entry) in place of the loads for 16 < n <= 8192.
void batch_sums_avx512_gathers(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                               std::uint64_t length, const BatchTables& tables, double* sums) noexcept;

/// The gather kernel (batch_gathers.cpp): the sums of the first entries, in
/// groups of eight, of a mirrored table of n <= 8192; it returns how many it
/// summed (none for any other table), the rest is left to the caller.
std::size_t gather_sums_avx512(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                               std::uint64_t length, const BatchTables& tables, double* sums) noexcept;

/// The kernel of the active instruction-set level; for AVX-512, of its two
/// forms the one that ran faster on a small batch timed at the first call (the
/// forms give the same bits, so the choice shows in the speed only).
BatchKernel batch_kernel() noexcept;

}  // namespace verrakin::detail
