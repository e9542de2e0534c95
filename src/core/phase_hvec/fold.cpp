#include "fold.hpp"

#include <algorithm>

#include "../cpu/isa.hpp"
#include "../fatal.hpp"
#include "angles.hpp"
#include "bundle.hpp"
#include "fold_kernels.hpp"
#include "table_cache.hpp"

namespace verrakin {
namespace {

constexpr std::int64_t kOffset = 16384;  // shifts every coordinate to 0..32768
constexpr std::size_t kPackedItemLimit = 131072;

FoldTables build_fold_tables(std::uint32_t n) {
    const LevelTables exact = level_tables(n);
    FoldTables tables;
    tables.cosine.assign(exact.cosine.begin(), exact.cosine.end());
    tables.sine.assign(exact.sine.begin(), exact.sine.end());
    tables.packed.resize(n);
    for (std::uint32_t k = 0; k < n; ++k) {
        tables.packed[k] = static_cast<std::uint64_t>(exact.sine[k] + kOffset) << 32 |
                           static_cast<std::uint64_t>(exact.cosine[k] + kOffset);
    }
    return tables;
}

TableCache<FoldTables> fold_table_cache;

// The reference: two 64-bit sums per position, item after item.
void fold_reference(std::span<const PhaseHVec> items, const FoldTables& tables, std::uint64_t start,
                    std::size_t count, FoldScratch& scratch) noexcept {
    std::int64_t* cos_sums = scratch.sums.data();
    std::int64_t* sin_sums = cos_sums + kFoldBlock;
    std::fill(cos_sums, cos_sums + count, 0);
    std::fill(sin_sums, sin_sums + count, 0);
    for (const PhaseHVec& item : items) {
        const std::uint16_t* levels = item.phases.data() + start;
        for (std::size_t i = 0; i < count; ++i) {
            cos_sums[i] += tables.cosine[levels[i]];
            sin_sums[i] += tables.sine[levels[i]];
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        scratch.y[i] = static_cast<double>(sin_sums[i]);
        scratch.x[i] = static_cast<double>(cos_sums[i]);
    }
}

// One 64-bit addition per item and position carries both offset coordinates.
// The first pass stores (up to four items), later passes add four items, then
// two, then one, so that few passes go over the block's sums.
void fold_packed(std::span<const PhaseHVec> items, const FoldTables& tables, std::uint64_t start,
                 std::size_t count, FoldScratch& scratch) noexcept {
    auto* sums = reinterpret_cast<std::uint64_t*>(scratch.sums.data());
    const std::uint64_t* packed = tables.packed.data();
    const auto levels = [&](std::size_t k) { return items[k].phases.data() + start; };
    std::size_t k = 0;
    if (items.size() >= 4) {
        const std::uint16_t *a = levels(0), *b = levels(1), *c = levels(2), *d = levels(3);
        for (std::size_t i = 0; i < count; ++i) sums[i] = (packed[a[i]] + packed[b[i]]) + (packed[c[i]] + packed[d[i]]);
        k = 4;
    } else if (items.size() >= 2) {
        const std::uint16_t *a = levels(0), *b = levels(1);
        for (std::size_t i = 0; i < count; ++i) sums[i] = packed[a[i]] + packed[b[i]];
        k = 2;
    } else {
        const std::uint16_t* a = levels(0);
        for (std::size_t i = 0; i < count; ++i) sums[i] = packed[a[i]];
        k = 1;
    }
    for (; k + 8 <= items.size(); k += 8) {
        const std::uint16_t *a = levels(k), *b = levels(k + 1), *c = levels(k + 2), *d = levels(k + 3);
        const std::uint16_t *e = levels(k + 4), *f = levels(k + 5), *g = levels(k + 6), *h = levels(k + 7);
        for (std::size_t i = 0; i < count; ++i) {
            sums[i] += ((packed[a[i]] + packed[b[i]]) + (packed[c[i]] + packed[d[i]])) +
                       ((packed[e[i]] + packed[f[i]]) + (packed[g[i]] + packed[h[i]]));
        }
    }
    for (; k + 4 <= items.size(); k += 4) {
        const std::uint16_t *a = levels(k), *b = levels(k + 1), *c = levels(k + 2), *d = levels(k + 3);
        for (std::size_t i = 0; i < count; ++i) {
            sums[i] += (packed[a[i]] + packed[b[i]]) + (packed[c[i]] + packed[d[i]]);
        }
    }
    if (k + 2 <= items.size()) {
        const std::uint16_t *a = levels(k), *b = levels(k + 1);
        for (std::size_t i = 0; i < count; ++i) sums[i] += packed[a[i]] + packed[b[i]];
        k += 2;
    }
    if (k < items.size()) {
        const std::uint16_t* a = levels(k);
        for (std::size_t i = 0; i < count; ++i) sums[i] += packed[a[i]];
    }
    const std::int64_t offset = static_cast<std::int64_t>(items.size()) * kOffset;
    for (std::size_t i = 0; i < count; ++i) {
        scratch.y[i] = static_cast<double>(static_cast<std::int64_t>(sums[i] >> 32) - offset);
        scratch.x[i] = static_cast<double>(static_cast<std::int64_t>(sums[i] & 0xFFFFFFFFu) - offset);
    }
}

}  // namespace

std::shared_ptr<const FoldTables> fold_tables(std::uint32_t n) {
    return naming_allocation(32 * std::uint64_t{n}, n, "bundle fold table levels",
                             [n] { return fold_table_cache.get(n, [n] { return build_fold_tables(n); }); });
}

// The one dispatch point of the fold. Sums of fewer than 131072 items fit the
// 32-bit halves of the packed and permuting kernels; beyond that the reference runs.
FoldKernel choose_fold_kernel(std::size_t items, std::uint32_t n) noexcept {
    if (items >= kPackedItemLimit) return FoldKernel::reference;
    switch (active_isa()) {
        case Isa::avx512: return n <= kPermuteLevels ? FoldKernel::permute_avx512 : FoldKernel::packed;
        case Isa::avx2: return FoldKernel::packed;
        case Isa::scalar: break;
    }
    return FoldKernel::reference;
}

void fold_block(FoldKernel kernel, std::span<const PhaseHVec> items, const FoldTables& tables,
                std::uint64_t start, std::size_t count, FoldScratch& scratch) noexcept {
    switch (kernel) {
        case FoldKernel::permute_avx512: return detail::fold_permute_avx512(items, tables, start, count, scratch);
        case FoldKernel::packed: return fold_packed(items, tables, start, count, scratch);
        case FoldKernel::reference: break;
    }
    fold_reference(items, tables, start, count, scratch);
}

}  // namespace verrakin
