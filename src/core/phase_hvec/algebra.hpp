// Element-wise operations on two records of equal dim and n.
#pragma once

#include "record.hpp"

namespace verrakin {

inline constexpr PhaseError kMismatchError{"phase vectors differ in dimension or resolution"};

/// Phase-add modulo n.
Expected<PhaseHVec, PhaseError> bind(const PhaseHVec& a, const PhaseHVec& b);

/// Phase-subtract modulo n; the exact inverse of bind.
Expected<PhaseHVec, PhaseError> unbind(const PhaseHVec& a, const PhaseHVec& b);

/// Mean cosine of the phase differences; 1.0 for dim 0.
Expected<double, PhaseError> similarity(const PhaseHVec& a, const PhaseHVec& b);

}  // namespace verrakin
