// Phasor form of a phase vector and the grids of phasors it is read from.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>


namespace verrakin {

/// Cosines (`re`) and sines (`im`) of a vector's phase angles, one pair per phase.
struct PhasorVec {
    std::vector<double> re;
    std::vector<double> im;

    std::uint64_t size() const noexcept { return re.size(); }
};


/// The cosine and sine of every level of one resolution.
struct PhasorTable {
    std::vector<double> cos;
    std::vector<double> sin;
};

/// The cosine and sine of every level of one grid, y = (q * 2pi) / n, either
/// tabled (when many snaps will read it, or when a table for n is cached from
/// an earlier call) or computed on each request. Both give the same bits: the
/// same functions of the same angles.
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
    bool tabled() const noexcept { return table_ != nullptr; }
    const double* cosines() const noexcept { return tabled() ? table_->cos.data() : nullptr; }
    const double* sines() const noexcept { return tabled() ? table_->sin.data() : nullptr; }

private:
    std::uint32_t n_;
    std::shared_ptr<const PhasorTable> table_;
};

/// A raw dot against a vector of `length` phases turned into a similarity:
/// divided by the length, or by 1 when it is empty.
inline double similarity_from_dot(double dot, std::uint64_t length) noexcept {
    return dot / (length == 0 ? 1.0 : static_cast<double>(length));
}

}  // namespace verrakin
