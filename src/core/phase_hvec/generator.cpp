#include "generator.hpp"

#include <algorithm>

#include "../cpu/isa.hpp"
#include "generator_kernels.hpp"

namespace verrakin {

namespace detail {

// The reference: one full 64-bit remainder per phase.
void generate_phases_scalar(std::uint16_t* out, std::size_t count, std::uint64_t first, std::uint32_t n,
                            std::uint64_t seed) noexcept {
    const std::uint64_t s = seed * kSeedMultiplier;
    const std::uint64_t modulus = n;
    std::uint64_t k = first * kIndexStep;  // i * kIndexStep, kept as a running sum
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::uint16_t>(mixed_word(s, k) % modulus);
        k += kIndexStep;
    }
}

}  // namespace detail

namespace {

// The one dispatch point of the generator: phases first .. first + out.size() - 1.
void generate_run(std::span<std::uint16_t> out, std::uint64_t first, std::uint32_t n, std::uint64_t seed) noexcept {
    switch (active_isa()) {
        case Isa::avx512: return detail::generate_phases_avx512(out.data(), out.size(), first, n, seed);
        case Isa::avx2: return detail::generate_phases_avx2(out.data(), out.size(), first, n, seed);
        case Isa::scalar: break;
    }
    detail::generate_phases_scalar(out.data(), out.size(), first, n, seed);
}

}  // namespace

void generate_phases(std::span<std::uint16_t> out, std::uint32_t n, std::uint64_t seed) noexcept {
    generate_run(out, 0, n, seed);
}

Expected<PhaseHVec, PhaseError> random_vector(std::uint64_t dim, std::uint32_t n, std::uint64_t seed) {
    auto result = random_vector(dim, n, seed, CancelCheck{});
    if (!result) return unexpected(std::get<PhaseError>(std::move(result).error()));
    return std::move(result).value();
}

Expected<PhaseHVec, PhaseFailure> random_vector(std::uint64_t dim, std::uint32_t n, std::uint64_t seed,
                                               const CancelCheck& cancel) {
    // One wrapping comparison admits exactly 2..=65536.
    if (static_cast<std::uint32_t>(n - kMinResolution) >= 0xFFFFu) {
        return unexpected(PhaseFailure{PhaseError{"n (phase resolution) must be in 2..=65536"}});
    }
    PhaseHVec record{dim, n, PhaseArray::allocate(dim)};
    // Long vectors are generated in chunks, the check polled between them.
    const std::span<std::uint16_t> levels = record.phases.span();
    CancelPacer pacer(cancel);
    for (std::size_t first = 0; first < levels.size(); first += CancelPacer::kPollWork) {
        const std::size_t count = std::min<std::size_t>(CancelPacer::kPollWork, levels.size() - first);
        generate_run(levels.subspan(first, count), first, n, seed);
        if (first + count < levels.size() && pacer.after(count)) return unexpected(PhaseFailure{Cancelled{}});
    }
    return record;
}

}  // namespace verrakin
