// The deterministic resonator: recovers one codebook entry per factor of a
// composite made by binding one entry of each codebook.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../cancel.hpp"
#include "../phase_hvec/record.hpp"

namespace verrakin {

struct FactorResult {
    std::uint64_t factor;
    std::uint64_t index;
    double similarity;
    std::uint64_t iterations;
    bool converged;
};

using Codebook = std::vector<PhaseHVec>;

/// Runs sweeps until four consecutive index vectors agree or `max_iter` sweeps
/// have run, and returns one result per codebook in codebook order. Entries whose
/// length differs from the composite's end the call in a bounds-check fatal error.
std::vector<FactorResult> factorize(const PhaseHVec& composite, std::span<const Codebook> codebooks,
                                    std::uint64_t max_iter);

/// The same, polling `cancel` between factor updates and sweeps (a few
/// milliseconds of work apart); an uninterrupted run gives the same bits.
Expected<std::vector<FactorResult>, Cancelled> factorize(const PhaseHVec& composite,
                                                         std::span<const Codebook> codebooks,
                                                         std::uint64_t max_iter, const CancelCheck& cancel);

}  // namespace verrakin
