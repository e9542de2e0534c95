#include "phasor_pairs.hpp"

#include <cstdint>

#include "../fatal.hpp"
#include "../phase_hvec/table_cache.hpp"

namespace verrakin {
namespace {

TableCache<PhasorPairs> phasor_pair_cache;

unsigned bits_for(std::uint32_t n) noexcept {
    unsigned bits = 0;
    while (bits < 32 && (std::uint64_t{1} << bits) < n) ++bits;
    return bits;
}

// The first 32-byte boundary at or after `p`, counted in doubles.
std::size_t aligned_start(const double* p) noexcept {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(p);
    return ((32 - address % 32) % 32) / sizeof(double);
}

}  // namespace

std::shared_ptr<const PhasorPairs> phasor_pairs(const GridPhasors& grid) {
    const std::uint32_t n = grid.resolution();
    auto build = [&grid, n] {
        auto tables = std::make_shared<PhasorPairs>();
        const double* cos = grid.cosines();
        const double* sin = grid.sines();
        const bool rows = n <= kPairRowsMaxResolution;
        const unsigned bits = bits_for(n);
        const std::size_t row_count = rows ? std::size_t{1} << (2 * bits) : 0;
        tables->bits = bits;
        tables->storage_.assign(4 + 4 * row_count + 2 * std::size_t{n}, 0.0);
        double* base = tables->storage_.data();
        base += aligned_start(base);
        double* row_table = base;
        double* pair_table = base + 4 * row_count;
        for (std::uint32_t a = 0; rows && a < n; ++a) {
            for (std::uint32_t b = 0; b < n; ++b) {
                double* row = row_table + 4 * (a | (std::size_t{b} << bits));
                row[0] = cos[a];
                row[1] = sin[a];
                row[2] = cos[b];
                row[3] = sin[b];
            }
        }
        for (std::uint32_t q = 0; q < n; ++q) {
            pair_table[2 * q] = cos[q];
            pair_table[2 * q + 1] = sin[q];
        }
        tables->rows = rows ? row_table : nullptr;
        tables->pairs = pair_table;
        return std::shared_ptr<const PhasorPairs>(std::move(tables));
    };
    if (auto cached = phasor_pair_cache.find(n)) return cached;
    const std::uint64_t rows = n <= kPairRowsMaxResolution ? std::uint64_t{1} << (2 * bits_for(n)) : 0;
    const std::uint64_t doubles = 4 * rows + 2 * std::uint64_t{n};
    return phasor_pair_cache.publish(
        n, naming_allocation(8 * doubles, doubles, "resonator level pair table values", build));
}

}  // namespace verrakin
