// Phasor form of a phase vector and the inner products the resonator uses.
//
// All sums run one term at a time in index order from +0.0, without fused
// multiply-add: the order fixes the last bits of every weight and similarity.
#pragma once

#include <cstdint>
#include <vector>

#include "../phase_hvec/record.hpp"

namespace verrakin {

/// Cosines (`re`) and sines (`im`) of a vector's phase angles, one pair per phase.
struct PhasorVec {
    std::vector<double> re;
    std::vector<double> im;

    std::uint64_t size() const noexcept { return re.size(); }
};


/// The cosine and sine of every level of one grid, y = (q * 2pi) / n, either
/// tabled up front (when many snaps will read it) or computed on each request.
/// Both give the same bits: the same functions of the same angles.
class GridPhasors {
public:
    GridPhasors(std::uint32_t n, std::uint64_t expected_lookups);
    std::uint32_t resolution() const noexcept { return n_; }
    void phasor(std::uint32_t level, double& re, double& im) const noexcept;

private:
    std::uint32_t n_;
    std::vector<double> cos_;
    std::vector<double> sin_;
};

/// Converts every level with the record's own resolution: x = (p * 2pi) / n.
/// `levels` must be the grid of the record's n.
PhasorVec to_phasors(const PhaseHVec& record, const GridPhasors& levels);

/// The phasor on the grid nearest to each accumulated direction.
PhasorVec snap_to_grid(const std::vector<double>& acc_re, const std::vector<double>& acc_im,
                       const GridPhasors& grid);

/// Raw real inner product over a's length; b must be at least as long, otherwise
/// the first access past b's end is an internal fatal error (bounds check).
double phasor_dot(const PhasorVec& a, const PhasorVec& b);

/// out[j] = phasor_dot(entries[j], b) for every entry, bit for bit: entries of
/// b's length are taken four at a time, each with its own accumulator summed in
/// index order, so only independent sums run side by side.
void phasor_dots(const std::vector<PhasorVec>& entries, const PhasorVec& b, std::vector<double>& out);

/// A raw dot against b turned into a similarity: divided by b's length, or by 1
/// when b is empty.
inline double similarity_from_dot(double dot, const PhasorVec& b) noexcept {
    return dot / (b.size() == 0 ? 1.0 : static_cast<double>(b.size()));
}

/// phasor_dot(a, b) as a similarity.
inline double phasor_similarity(const PhasorVec& a, const PhasorVec& b) {
    return similarity_from_dot(phasor_dot(a, b), b);
}

}  // namespace verrakin
