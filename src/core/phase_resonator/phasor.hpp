// Phasor form of a phase vector and the grids of phasors it is read from.
#pragma once

#include <cstdint>
#include <vector>


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
    /// Whether a table pays off for the expected number of lookups.
    static bool worth_tabling(std::uint32_t n, std::uint64_t expected_lookups) noexcept {
        return expected_lookups >= 2 * std::uint64_t{n};
    }
    std::uint32_t resolution() const noexcept { return n_; }
    void phasor(std::uint32_t level, double& re, double& im) const noexcept;
    /// Whether the grid is tabled; only then are cosines() and sines() non-null.
    bool tabled() const noexcept { return !cos_.empty(); }
    const double* cosines() const noexcept { return tabled() ? cos_.data() : nullptr; }
    const double* sines() const noexcept { return tabled() ? sin_.data() : nullptr; }

private:
    std::uint32_t n_;
    std::vector<double> cos_;
    std::vector<double> sin_;
};

/// A raw dot against a vector of `length` phases turned into a similarity:
/// divided by the length, or by 1 when it is empty.
inline double similarity_from_dot(double dot, std::uint64_t length) noexcept {
    return dot / (length == 0 ? 1.0 : static_cast<double>(length));
}

}  // namespace verrakin
