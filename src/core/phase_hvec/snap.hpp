// The snapping rule over whole arrays: the one entry point through which
// bundling and the resonator turn accumulated directions back into levels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace verrakin {

/// out[i] = snap_to_level(y[i], x[i], n) for every i < count, bit for bit.
/// Dispatches on the active instruction set.
void snap_levels(const double* y, const double* x, std::uint16_t* out, std::size_t count,
                 std::uint32_t n) noexcept;

namespace detail {

/// The kernels behind snap_levels, each giving the same levels.
void snap_levels_scalar(const double* y, const double* x, std::uint16_t* out, std::size_t count,
                        std::uint32_t n) noexcept;
void snap_levels_avx2(const double* y, const double* x, std::uint16_t* out, std::size_t count,
                      std::uint32_t n) noexcept;
void snap_levels_avx512(const double* y, const double* x, std::uint16_t* out, std::size_t count,
                        std::uint32_t n) noexcept;

}  // namespace detail
}  // namespace verrakin
