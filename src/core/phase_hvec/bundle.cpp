#include "bundle.hpp"

#include <cmath>

#include "../fatal.hpp"
#include "angles.hpp"

namespace verrakin {
namespace {

std::int64_t fold_coordinate(double unit) noexcept {
    return static_cast<std::int64_t>(std::round(unit * FOLD_SCALE));
}

void add_item(const PhaseHVec& item, const LevelTables& tables, std::int64_t* cos_sums,
              std::int64_t* sin_sums) noexcept {
    const std::uint16_t* levels = item.phases.data();
    const std::int64_t* cos_table = tables.cosine.data();
    const std::int64_t* sin_table = tables.sine.data();
    for (std::uint64_t i = 0; i < item.dim; ++i) {
        cos_sums[i] += cos_table[levels[i]];
        sin_sums[i] += sin_table[levels[i]];
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
    std::vector<std::int64_t> cos_sums(dim);
    std::vector<std::int64_t> sin_sums(dim);
    for (const PhaseHVec& item : items) {
        if (item.dim != dim) assert_equal_failed("phase-vector dimension mismatch in bundle", item.dim, dim);
        if (item.n != n) assert_equal_failed("phase-vector resolution mismatch in bundle", item.n, n);
        add_item(item, tables, cos_sums.data(), sin_sums.data());
    }
    PhaseHVec result{dim, n, PhaseArray::allocate(dim)};
    std::uint16_t* out = result.phases.data();
    for (std::uint64_t i = 0; i < dim; ++i) {
        const double y = static_cast<double>(sin_sums[i]);
        const double x = static_cast<double>(cos_sums[i]);
        out[i] = static_cast<std::uint16_t>(snap_to_level(y, x, n));
    }
    return result;
}

}  // namespace verrakin
