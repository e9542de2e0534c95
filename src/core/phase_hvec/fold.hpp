// The fold of bundling over one block of positions: the per-position sums of
// the items' level points, handed on as doubles (y from the sine sums, x from
// the cosine sums) for the snapping rule.
//
// Every kernel computes the same exact integer sums as the reference (two
// 64-bit sums per position), so their doubles agree bit for bit; integer sums
// do not depend on the order of the additions.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "record.hpp"

namespace verrakin {

/// Largest position count of one block.
inline constexpr std::size_t kFoldBlock = 1024;

/// The level points of one resolution, in the layouts the kernels read.
struct FoldTables {
    std::vector<std::int32_t> cosine;  // rounded x of each level, |x| <= 16384
    std::vector<std::int32_t> sine;    // rounded y of each level
    // (y + 16384) << 32 | (x + 16384): both coordinates summed by one 64-bit
    // addition, the halves staying apart for fewer than 131072 items.
    std::vector<std::uint64_t> packed;
};

/// The tables for n, kept between calls (process-wide cache of a few n).
std::shared_ptr<const FoldTables> fold_tables(std::uint32_t n);

/// Scratch memory for one bundle call: sums and coordinates of one block.
struct FoldScratch {
    std::vector<std::int64_t> sums;  // 2 * kFoldBlock
    std::vector<double> y, x;        // kFoldBlock each
    FoldScratch() : sums(2 * kFoldBlock), y(kFoldBlock), x(kFoldBlock) {}
};

/// Which kernel folds a block.
enum class FoldKernel { reference, packed, permute_avx512 };

/// The kernel for `items` items at resolution n under the active instruction set.
FoldKernel choose_fold_kernel(std::size_t items, std::uint32_t n) noexcept;

/// Folds positions [start, start + count) of every item (count <= kFoldBlock)
/// into scratch.y[0..count) and scratch.x[0..count).
void fold_block(FoldKernel kernel, std::span<const PhaseHVec> items, const FoldTables& tables,
                std::uint64_t start, std::size_t count, FoldScratch& scratch) noexcept;

}  // namespace verrakin
