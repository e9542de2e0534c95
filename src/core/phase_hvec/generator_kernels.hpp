// The generator's kernels, one per instruction-set level, all giving the bits
// of generate_phases_scalar. generate_phases (generator.cpp) picks one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace verrakin::detail {

inline constexpr std::uint64_t kSeedMultiplier = 0xC2B2AE3D27D4EB4FULL;
inline constexpr std::uint64_t kIndexStep = 0x9E3779B97F4A7C15ULL;  // golden-ratio increment
inline constexpr std::uint64_t kMixMultiplier = 0xBF58476D1CE4E5B9ULL;

/// The mixed 64-bit word of phase i, given s = seed * kSeedMultiplier and k = i * kIndexStep.
inline std::uint64_t mixed_word(std::uint64_t s, std::uint64_t k) noexcept {
    std::uint64_t t = s ^ k;
    t ^= t >> 29;
    t *= kMixMultiplier;
    t ^= t >> 32;
    return t;
}

/// Phases first .. first + count - 1 into out[0 .. count - 1], step by step.
void generate_phases_scalar(std::uint16_t* out, std::size_t count, std::uint64_t first, std::uint32_t n,
                            std::uint64_t seed) noexcept;
void generate_phases_avx2(std::uint16_t* out, std::size_t count, std::uint64_t first, std::uint32_t n,
                          std::uint64_t seed) noexcept;
void generate_phases_avx512(std::uint16_t* out, std::size_t count, std::uint64_t first, std::uint32_t n,
                            std::uint64_t seed) noexcept;

}  // namespace verrakin::detail
