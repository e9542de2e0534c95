// Instruction-set specific fold kernels (fold_simd.cpp); fold.cpp dispatches.
#pragma once

#include "fold.hpp"

namespace verrakin {

/// Resolutions whose whole level tables fit two AVX-512 registers.
inline constexpr std::uint32_t kPermuteLevels = 32;

namespace detail {

/// Sixteen positions per step, the points looked up in registers (n <= 32, fewer than 131072 items).
void fold_permute_avx512(std::span<const PhaseHVec> items, const FoldTables& tables, std::uint64_t start,
                         std::size_t count, FoldScratch& scratch) noexcept;

}  // namespace detail
}  // namespace verrakin
