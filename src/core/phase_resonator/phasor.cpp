#include "phasor.hpp"

#include "../fatal.hpp"
#include "../maths/maths.hpp"
#include "../phase_hvec/angles.hpp"
#include "../phase_hvec/table_cache.hpp"

namespace verrakin {
namespace {

// Kept between calls (at most four, like the other tables): one at n = 65536
// takes about 1.6 ms to build.
TableCache<PhasorTable> phasor_tables;

PhasorTable phasor_table(std::uint32_t n) {
    PhasorTable table;
    table.cos.resize(n);
    table.sin.resize(n);
    const double resolution = static_cast<double>(n);
    for (std::uint32_t q = 0; q < n; ++q) {
        maths::sincos(level_angle(static_cast<double>(q), resolution), table.sin[q], table.cos[q]);
    }
    return table;
}

}  // namespace

GridPhasors::GridPhasors(std::uint32_t n, std::uint64_t expected_lookups) : n_(n) {
    if (!worth_tabling(n, expected_lookups)) {
        table_ = phasor_tables.find(n);  // a cached table costs nothing; otherwise compute on request
        return;
    }
    table_ = naming_allocation(16 * std::uint64_t{n}, n, "resonator grid table levels",
                               [&] { return phasor_tables.get(n, [n] { return phasor_table(n); }); });
}

void GridPhasors::phasor(std::uint32_t level, double& re, double& im) const noexcept {
    if (table_) {
        re = table_->cos[level];
        im = table_->sin[level];
        return;
    }
    const double y = level_angle(static_cast<double>(level), static_cast<double>(n_));
    maths::sincos(y, im, re);
}

}  // namespace verrakin
