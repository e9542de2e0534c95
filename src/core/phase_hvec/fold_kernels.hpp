// Instruction-set specific fold kernels (fold_simd.cpp); fold.cpp dispatches.
#pragma once

#include "fold.hpp"

namespace verrakin {

/// Resolutions whose whole level tables fit two AVX-512 registers.
inline constexpr std::uint32_t kPermuteLevels = 32;

/// Smallest n read through the octant table: below it the packed table fits L1.
inline constexpr std::uint32_t kOctantLevels = 8192;

namespace detail {

/// Sixteen positions per step, the points looked up in registers (n <= 32, fewer than 131072 items).
void fold_permute_avx512(std::span<const PhaseHVec> items, const FoldTables& tables, std::uint64_t start,
                         std::size_t count, FoldScratch& scratch) noexcept;

/// Sixteen positions per step, the points gathered from the octant table
/// (tables.octant_points not empty, fewer than 131072 items).
void fold_octant_avx512(std::span<const PhaseHVec> items, const FoldTables& tables, std::uint64_t start,
                         std::size_t count, FoldScratch& scratch) noexcept;

/// The same on eight lanes with AVX2 gathers.
void fold_octant_avx2(std::span<const PhaseHVec> items, const FoldTables& tables, std::uint64_t start,
                      std::size_t count, FoldScratch& scratch) noexcept;

}  // namespace detail
}  // namespace verrakin
