// The kernels of the batch similarity, one per instruction-set level, all giving
// the bits of the step-by-step sum; batch_similarity.cpp dispatches.
//
// A kernel sums `by_difference[query[i] - entry[i]]` over i = 0 .. length-1 in
// index order for `count` entries side by side, each entry with its own
// accumulator started at -0.0: the additions of one entry stay one chain in
// index order, only different entries' chains run at the same time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace verrakin::detail {

using BatchKernel = void (*)(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                             std::uint64_t length, const double* by_difference, double* sums) noexcept;

/// One entry after the other: the reference.
void batch_sums_reference(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                          std::uint64_t length, const double* by_difference, double* sums) noexcept;
void batch_sums_scalar(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                       std::uint64_t length, const double* by_difference, double* sums) noexcept;
void batch_sums_avx2(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                     std::uint64_t length, const double* by_difference, double* sums) noexcept;
void batch_sums_avx512(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                       std::uint64_t length, const double* by_difference, double* sums) noexcept;

/// The kernel of the active instruction-set level.
BatchKernel batch_kernel() noexcept;

}  // namespace verrakin::detail
