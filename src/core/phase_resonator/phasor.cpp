#include "phasor.hpp"

#include <cmath>

#include "../phase_hvec/angles.hpp"
#include "../phase_hvec/snap.hpp"

namespace verrakin {

GridPhasors::GridPhasors(std::uint32_t n, std::uint64_t expected_lookups) : n_(n) {
    if (expected_lookups < 2 * std::uint64_t{n}) return;
    cos_.resize(n);
    sin_.resize(n);
    const double resolution = static_cast<double>(n);
    for (std::uint32_t q = 0; q < n; ++q) {
        const double y = level_angle(static_cast<double>(q), resolution);
        cos_[q] = std::cos(y);
        sin_[q] = std::sin(y);
    }
}

void GridPhasors::phasor(std::uint32_t level, double& re, double& im) const noexcept {
    if (!cos_.empty()) {
        re = cos_[level];
        im = sin_[level];
        return;
    }
    const double y = level_angle(static_cast<double>(level), static_cast<double>(n_));
    re = std::cos(y);
    im = std::sin(y);
}

PhasorVec to_phasors(const PhaseHVec& record, const GridPhasors& levels) {
    const std::uint64_t length = record.phases.size();
    PhasorVec out{std::vector<double>(length), std::vector<double>(length)};
    const std::uint16_t* phases = record.phases.data();
    for (std::uint64_t i = 0; i < length; ++i) levels.phasor(phases[i], out.re[i], out.im[i]);
    return out;
}

void snap_to_grid(const std::vector<double>& acc_re, const std::vector<double>& acc_im, const GridPhasors& grid,
                  std::vector<std::uint16_t>& levels, PhasorVec& out) {
    const std::size_t length = acc_re.size();
    levels.resize(length);
    out.re.resize(length);
    out.im.resize(length);
    snap_levels(acc_im.data(), acc_re.data(), levels.data(), length, grid.resolution());
    for (std::size_t i = 0; i < length; ++i) grid.phasor(levels[i], out.re[i], out.im[i]);
}

}  // namespace verrakin
