// Tables the AVX2 level kernels read instead of a grid's separate cosine and
// sine arrays: the phasor of a level as one adjacent [cos sin] pair, and, for
// small resolutions, the phasors of two levels side by side in one 32-byte row.
// Every value is copied from the grid's own table, so no bit changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "phasor.hpp"

namespace verrakin {

/// Resolutions up to this many levels get a table of level pairs.
inline constexpr std::uint32_t kPairRowsMaxResolution = 64;

/// Row a | b << bits holds [cos a, sin a, cos b, sin b] for levels a, b below
/// the grid's resolution (other rows are zero and never read); `bits` is the
/// width of the largest level. `pairs` holds [cos q, sin q] for every level q.
struct PhasorPairs {
    unsigned bits = 0;
    const double* rows = nullptr;   // 32-byte aligned, 4 doubles a row (small resolutions only)
    const double* pairs = nullptr;  // 16-byte aligned, 2 doubles a level

    PhasorPairs() = default;
    PhasorPairs(const PhasorPairs&) = delete;
    PhasorPairs& operator=(const PhasorPairs&) = delete;

private:
    friend std::shared_ptr<const PhasorPairs> phasor_pairs(const GridPhasors& grid);
    std::vector<double> storage_;
};

/// The tables of a tabled grid, from a small process-wide cache keyed by its
/// resolution (a table depends on nothing else).
std::shared_ptr<const PhasorPairs> phasor_pairs(const GridPhasors& grid);

}  // namespace verrakin
