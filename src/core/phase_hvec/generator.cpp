#include "generator.hpp"

namespace verrakin {
namespace {
constexpr std::uint64_t kSeedMultiplier = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kIndexStep = 0x9E3779B97F4A7C15ULL;  // golden-ratio increment
constexpr std::uint64_t kMixMultiplier = 0xBF58476D1CE4E5B9ULL;
}  // namespace

void generate_phases(std::span<std::uint16_t> out, std::uint32_t n, std::uint64_t seed) noexcept {
    const std::uint64_t s = seed * kSeedMultiplier;
    const std::uint64_t modulus = n;
    std::uint64_t k = 0;  // i * kIndexStep, kept as a running sum
    for (std::uint16_t& phase : out) {
        std::uint64_t t = s ^ k;
        t ^= t >> 29;
        t *= kMixMultiplier;
        t ^= t >> 32;
        phase = static_cast<std::uint16_t>(t % modulus);  // full 64-bit remainder
        k += kIndexStep;
    }
}

Expected<PhaseHVec, PhaseError> random_vector(std::uint64_t dim, std::uint32_t n, std::uint64_t seed) {
    // One wrapping comparison admits exactly 2..=65536.
    if (static_cast<std::uint32_t>(n - kMinResolution) >= 0xFFFFu) {
        return unexpected(PhaseError{"n (phase resolution) must be in 2..=65536"});
    }
    PhaseHVec record{dim, n, PhaseArray::allocate(dim)};
    generate_phases(record.phases.span(), n, seed);
    return record;
}

}  // namespace verrakin
