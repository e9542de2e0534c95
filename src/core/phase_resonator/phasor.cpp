#include "phasor.hpp"

#include "../fatal.hpp"
#include "../maths/maths.hpp"
#include "../phase_hvec/angles.hpp"

namespace verrakin {

GridPhasors::GridPhasors(std::uint32_t n, std::uint64_t expected_lookups) : n_(n) {
    if (!worth_tabling(n, expected_lookups)) return;
    naming_allocation(16 * std::uint64_t{n}, n, "resonator grid table levels", [&] {
        cos_.resize(n);
        sin_.resize(n);
    });
    const double resolution = static_cast<double>(n);
    for (std::uint32_t q = 0; q < n; ++q) {
        const double y = level_angle(static_cast<double>(q), resolution);
        maths::sincos(y, sin_[q], cos_[q]);
    }
}

void GridPhasors::phasor(std::uint32_t level, double& re, double& im) const noexcept {
    if (!cos_.empty()) {
        re = cos_[level];
        im = sin_[level];
        return;
    }
    const double y = level_angle(static_cast<double>(level), static_cast<double>(n_));
    maths::sincos(y, im, re);
}

}  // namespace verrakin
