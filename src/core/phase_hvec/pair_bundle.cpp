#include "pair_bundle.hpp"

#include "../fatal.hpp"
#include "fold.hpp"
#include "snap.hpp"
#include "table_cache.hpp"

namespace verrakin {
namespace {

TableCache<PairTable> pair_tables;

// Row p holds the snapped sums of level p with every level q: the same integer
// sums as the fold, converted and snapped by the same rule.
PairTable build_pair_table(std::uint32_t n) {
    const std::shared_ptr<const FoldTables> points = fold_tables(n);
    PairTable table{std::vector<std::uint16_t>(std::size_t{n} * n)};
    std::vector<double> y(n), x(n);
    for (std::uint32_t p = 0; p < n; ++p) {
        for (std::uint32_t q = 0; q < n; ++q) {
            y[q] = static_cast<double>(std::int64_t{points->sine[p]} + points->sine[q]);
            x[q] = static_cast<double>(std::int64_t{points->cosine[p]} + points->cosine[q]);
        }
        snap_levels(y.data(), x.data(), table.levels.data() + std::size_t{p} * n, n, n);
    }
    return table;
}

}  // namespace

std::shared_ptr<const PairTable> pair_table(std::uint32_t n) {
    return naming_allocation(2 * std::uint64_t{n} * n, std::uint64_t{n} * n, "bundle pair table entries",
                             [n] { return pair_tables.get(n, [n] { return build_pair_table(n); }); });
}

void bundle_pairs(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out, std::uint64_t count,
                  const PairTable& table, std::uint32_t n) noexcept {
    const std::uint16_t* levels = table.levels.data();
    for (std::uint64_t i = 0; i < count; ++i) out[i] = levels[std::uint32_t{a[i]} * n + b[i]];
}

}  // namespace verrakin
