// Reliable factoring: a short, deterministic search around the resonator that
// recovers the true entries almost always.
//
// One call of the resonator often settles on a wrong answer once the codebooks
// are large for the dimension. A wrong answer is easy to recognise (the chosen
// entries bound together do not reproduce the composite), and a factor reported
// with a high similarity is usually right even when the others are not. So the
// search tries the whole problem, peels confident factors off a wrong answer and
// solves the rest, then tries sub-problems in which every codebook is cut to one
// half of its entries, peeling from each in the same way. A split sorts the
// entries by one bit of the index (bit 0 first, ...) or by the parity of two
// neighbouring ones; exactly one choice of halves per split holds every true
// entry. The halves run with a short sweep cap, by one bit and then by two, and
// by one bit in full last. It stops at the first answer that reproduces the
// composite.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "factorize.hpp"

namespace verrakin {

/// A factor reported at or above this similarity is peeled off as probably found.
inline constexpr double kConfident = 0.8;
/// The chosen entries bound together must match the target at least this well.
inline constexpr double kVerified = 0.5;
/// Sub-problems are first tried with at most this many sweeps each (a call
/// that will help usually has confident factors by then, and one that will not
/// would mostly run to max_iter); only the one-bit halves are tried again with
/// max_iter.
inline constexpr std::uint64_t kQuickSweeps = 8;

struct ReliableAnswer {
    std::vector<FactorResult> results;  // one per codebook, indices into the caller's codebooks
    std::uint64_t calls;                // resonator calls made
};

/// Factors `composite` over `codebooks`. If no answer reproduces the composite,
/// the first call's answer is returned. A PhaseError comes only from unbinding a
/// confident factor whose shape differs from the composite's; `cancel` is
/// polled inside every resonator call.
Expected<ReliableAnswer, PhaseFailure> factorize_reliably(const PhaseHVec& composite,
                                                         std::span<const Codebook> codebooks, std::uint64_t max_iter,
                                                         const CancelCheck& cancel = {});

}  // namespace verrakin
