#include "phasor.hpp"

#include <cmath>

#include "../fatal.hpp"
#include "../phase_hvec/angles.hpp"

namespace verrakin {

PhasorVec to_phasors(const PhaseHVec& record) {
    const std::uint64_t length = record.phases.size();
    PhasorVec out{std::vector<double>(length), std::vector<double>(length)};
    const double resolution = static_cast<double>(record.n);
    const std::uint16_t* levels = record.phases.data();
    for (std::uint64_t i = 0; i < length; ++i) {
        const double x = level_angle(static_cast<double>(levels[i]), resolution);
        out.re[i] = std::cos(x);
        out.im[i] = std::sin(x);
    }
    return out;
}

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

PhasorVec snap_to_grid(const std::vector<double>& acc_re, const std::vector<double>& acc_im,
                       const GridPhasors& grid) {
    const std::size_t length = acc_re.size();
    PhasorVec out{std::vector<double>(length), std::vector<double>(length)};
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint32_t q = snap_to_level(acc_im[i], acc_re[i], grid.resolution());
        grid.phasor(q, out.re[i], out.im[i]);
    }
    return out;
}

double phasor_dot(const PhasorVec& a, const PhasorVec& b) {
    if (a.size() > b.size()) index_out_of_bounds(b.size(), b.size());
    const std::size_t length = a.re.size();
    double sum = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
        const double term = a.re[i] * b.re[i] + a.im[i] * b.im[i];
        sum = sum + term;
    }
    return sum;
}

double phasor_similarity(const PhasorVec& a, const PhasorVec& b) {
    const double length = b.size() == 0 ? 1.0 : static_cast<double>(b.size());
    return phasor_dot(a, b) / length;
}

}  // namespace verrakin
