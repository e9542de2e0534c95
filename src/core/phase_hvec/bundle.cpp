#include "bundle.hpp"

#include <algorithm>
#include <cmath>

#include "../fatal.hpp"
#include "angles.hpp"

namespace verrakin {
namespace {

std::int64_t fold_coordinate(double unit) noexcept {
    return static_cast<std::int64_t>(std::round(unit * FOLD_SCALE));
}

// Positions are folded a block at a time so that the sums stay in cache and no
// dim-sized sum arrays are allocated. Integer sums do not depend on the order of
// the additions, so the result is the same as folding item after item. The
// block's sums live on the heap (made once per call): threads may run with
// small stacks.
constexpr std::uint64_t kBlock = 2048;

void fold_block(std::span<const PhaseHVec> items, const LevelTables& tables, std::uint64_t start,
                std::uint64_t count, std::uint16_t* out, std::uint32_t n, std::int64_t* cos_sums,
                std::int64_t* sin_sums) noexcept {
    std::fill(cos_sums, cos_sums + count, 0);
    std::fill(sin_sums, sin_sums + count, 0);
    const std::int64_t* cos_table = tables.cosine.data();
    const std::int64_t* sin_table = tables.sine.data();
    for (const PhaseHVec& item : items) {
        const std::uint16_t* levels = item.phases.data() + start;
        for (std::uint64_t i = 0; i < count; ++i) {
            cos_sums[i] += cos_table[levels[i]];
            sin_sums[i] += sin_table[levels[i]];
        }
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        const double y = static_cast<double>(sin_sums[i]);
        const double x = static_cast<double>(cos_sums[i]);
        out[start + i] = static_cast<std::uint16_t>(snap_to_level(y, x, n));
    }
}

}  // namespace

LevelTables level_tables(std::uint32_t n) {
    LevelTables tables{std::vector<std::int64_t>(n), std::vector<std::int64_t>(n)};
    const double resolution = static_cast<double>(n);
    for (std::uint32_t k = 0; k < n; ++k) {
        tables.cosine[k] = fold_coordinate(std::cos(level_angle(static_cast<double>(k), resolution)));
    }
    for (std::uint32_t k = 0; k < n; ++k) {
        tables.sine[k] = fold_coordinate(std::sin(level_angle(static_cast<double>(k), resolution)));
    }
    return tables;
}

Expected<PhaseHVec, PhaseError> bundle(std::span<const PhaseHVec> items) {
    if (items.empty()) return unexpected(PhaseError{"cannot bundle an empty list"});
    const std::uint64_t dim = items.front().dim;
    const std::uint32_t n = items.front().n;
    const LevelTables tables = level_tables(n);
    // Each item is checked in list order; the first that differs is reported.
    for (const PhaseHVec& item : items) {
        if (item.dim != dim) assert_equal_failed("phase-vector dimension mismatch in bundle", item.dim, dim);
        if (item.n != n) assert_equal_failed("phase-vector resolution mismatch in bundle", item.n, n);
    }
    PhaseHVec result{dim, n, PhaseArray::allocate(dim)};
    std::vector<std::int64_t> sums(2 * kBlock);
    for (std::uint64_t start = 0; start < dim; start += kBlock) {
        fold_block(items, tables, start, std::min(kBlock, dim - start), result.phases.data(), n, sums.data(),
                   sums.data() + kBlock);
    }
    return result;
}

}  // namespace verrakin
