#include "bundle.hpp"

#include <algorithm>
#include <cmath>

#include "../cpu/isa.hpp"
#include "../fatal.hpp"
#include "../maths/maths.hpp"
#include "angles.hpp"
#include "fold.hpp"
#include "pair_bundle.hpp"
#include "snap.hpp"

namespace verrakin {
namespace {

std::int64_t fold_coordinate(double unit) noexcept {
    return static_cast<std::int64_t>(std::round(unit * FOLD_SCALE));
}

}  // namespace

LevelTables level_tables(std::uint32_t n) {
    LevelTables tables{std::vector<std::int64_t>(n), std::vector<std::int64_t>(n)};
    const double resolution = static_cast<double>(n);
    for (std::uint32_t k = 0; k < n; ++k) {
        tables.cosine[k] = fold_coordinate(maths::cos(level_angle(static_cast<double>(k), resolution)));
    }
    for (std::uint32_t k = 0; k < n; ++k) {
        tables.sine[k] = fold_coordinate(maths::sin(level_angle(static_cast<double>(k), resolution)));
    }
    return tables;
}

Expected<PhaseHVec, PhaseError> bundle(std::span<const PhaseHVec> items) {
    auto result = bundle(items, CancelCheck{});
    if (!result) return unexpected(std::get<PhaseError>(std::move(result).error()));
    return std::move(result).value();
}

// Positions are folded a block at a time, so the sums stay in cache and no
// dim-sized sum arrays are allocated; each block's sums are snapped at once.
// The level tables are a pure function of n, kept between calls.
Expected<PhaseHVec, PhaseFailure> bundle(std::span<const PhaseHVec> items, const CancelCheck& cancel) {
    if (items.empty()) return unexpected(PhaseFailure{PhaseError{"cannot bundle an empty list"}});
    const std::uint64_t dim = items.front().dim;
    const std::uint32_t n = items.front().n;
    const std::shared_ptr<const FoldTables> tables = fold_tables(n);
    // Each item is checked in list order; the first that differs is reported.
    for (const PhaseHVec& item : items) {
        if (item.dim != dim) assert_equal_failed("phase-vector dimension mismatch in bundle", item.dim, dim);
        if (item.n != n) assert_equal_failed("phase-vector resolution mismatch in bundle", item.n, n);
    }
    PhaseHVec result{dim, n, PhaseArray::allocate(dim)};
    if (dim == 0) return result;
    CancelPacer pacer(cancel);
    // Two items at a small n: one read of the kept pair table per position (the
    // scalar level keeps the step-by-step fold as the reference). Positions are
    // independent, so a long pair is bundled in runs with polls between them.
    if (items.size() == 2 && n <= kPairLevels && active_isa() != Isa::scalar) {
        const std::shared_ptr<const PairTable> pairs = pair_table(n);
        for (std::uint64_t start = 0; start < dim; start += CancelPacer::kPollWork) {
            const std::uint64_t count = std::min<std::uint64_t>(CancelPacer::kPollWork, dim - start);
            bundle_pairs(items[0].phases.data() + start, items[1].phases.data() + start, result.phases.data() + start,
                         count, *pairs, n);
            if (start + count < dim && pacer.after(count)) return unexpected(PhaseFailure{Cancelled{}});
        }
        return result;
    }
    FoldScratch scratch = naming_allocation(sizeof(std::int64_t) * 4 * kFoldBlock, kFoldBlock,
                                            "bundle block positions", [] { return FoldScratch(); });
    const FoldKernel kernel = choose_fold_kernel(items.size(), n);
    for (std::uint64_t start = 0; start < dim; start += kFoldBlock) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kFoldBlock, dim - start));
        fold_block(kernel, items, *tables, start, count, scratch);
        snap_levels(scratch.y.data(), scratch.x.data(), result.phases.data() + start, count, n);
        if (start + count < dim && pacer.after(items.size() * count)) return unexpected(PhaseFailure{Cancelled{}});
    }
    return result;
}

}  // namespace verrakin
