// Counter-based seeded generation: phase i is a pure function of (seed, i, n).
#pragma once

#include "../cancel.hpp"
#include "record.hpp"

namespace verrakin {

/// A random record of `dim` levels at resolution `n`, deterministic in `seed`,
/// or the PhaseError "n (phase resolution) must be in 2..=65536".
Expected<PhaseHVec, PhaseError> random_vector(std::uint64_t dim, std::uint32_t n, std::uint64_t seed);

/// The same, polling `cancel` between chunks of a long vector.
Expected<PhaseHVec, PhaseFailure> random_vector(std::uint64_t dim, std::uint32_t n, std::uint64_t seed,
                                               const CancelCheck& cancel);

/// Writes the generator's phases for indices [0, out.size()) into `out`.
void generate_phases(std::span<std::uint16_t> out, std::uint32_t n, std::uint64_t seed) noexcept;

}  // namespace verrakin
