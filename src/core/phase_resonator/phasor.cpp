#include "phasor.hpp"

#include <cmath>

#include "../fatal.hpp"
#include "../phase_hvec/angles.hpp"

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

namespace {

// Four entries against one b, all of b's length.
void dot_four(const PhasorVec* e, const PhasorVec& b, double* out) noexcept {
    const std::size_t length = b.re.size();
    const double *r0 = e[0].re.data(), *r1 = e[1].re.data(), *r2 = e[2].re.data(), *r3 = e[3].re.data();
    const double *i0 = e[0].im.data(), *i1 = e[1].im.data(), *i2 = e[2].im.data(), *i3 = e[3].im.data();
    const double* br = b.re.data();
    const double* bi = b.im.data();
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
        s0 = s0 + (r0[i] * br[i] + i0[i] * bi[i]);
        s1 = s1 + (r1[i] * br[i] + i1[i] * bi[i]);
        s2 = s2 + (r2[i] * br[i] + i2[i] * bi[i]);
        s3 = s3 + (r3[i] * br[i] + i3[i] * bi[i]);
    }
    out[0] = s0;
    out[1] = s1;
    out[2] = s2;
    out[3] = s3;
}

}  // namespace

void phasor_dots(const std::vector<PhasorVec>& entries, const PhasorVec& b, std::vector<double>& out) {
    const std::size_t count = entries.size();
    out.resize(count);
    std::size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        const bool uniform = entries[j].size() == b.size() && entries[j + 1].size() == b.size() &&
                             entries[j + 2].size() == b.size() && entries[j + 3].size() == b.size();
        if (uniform) {
            dot_four(&entries[j], b, &out[j]);
        } else {
            for (std::size_t k = j; k < j + 4; ++k) out[k] = phasor_dot(entries[k], b);
        }
    }
    for (; j < count; ++j) out[j] = phasor_dot(entries[j], b);
}

}  // namespace verrakin
