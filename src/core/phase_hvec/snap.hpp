// The snapping rule over whole arrays: the one entry point through which
// bundling and the resonator turn accumulated directions back into levels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace verrakin {

/// out[i] = snap_to_level(y[i], x[i], n) for every i < count, bit for bit.
void snap_levels(const double* y, const double* x, std::uint16_t* out, std::size_t count,
                 std::uint32_t n) noexcept;

}  // namespace verrakin
