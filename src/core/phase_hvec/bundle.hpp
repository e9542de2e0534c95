// Bundling: the deterministic integer fold of a list of records.
//
// Each level is a fixed point with integer coordinates on a circle of radius
// FOLD_SCALE; the points are summed per position in exact 64-bit integers, so
// the result does not depend on the order of the items.
#pragma once

#include <vector>

#include "record.hpp"

namespace verrakin {

inline constexpr double FOLD_SCALE = 16384.0;

/// The rounded x (cosine) and y (sine) coordinates of every level at resolution n.
struct LevelTables {
    std::vector<std::int64_t> cosine;
    std::vector<std::int64_t> sine;
};

LevelTables level_tables(std::uint32_t n);

/// The superposition of `items`, or the PhaseError "cannot bundle an empty list".
/// An item whose dim or n differs from the first item's is an internal fatal error.
Expected<PhaseHVec, PhaseError> bundle(std::span<const PhaseHVec> items);

/// The same, polling `cancel` between blocks of positions.
Expected<PhaseHVec, PhaseFailure> bundle(std::span<const PhaseHVec> items, const CancelCheck& cancel);

}  // namespace verrakin
