#include "snap.hpp"

#include "angles.hpp"

namespace verrakin {

void snap_levels(const double* y, const double* x, std::uint16_t* out, std::size_t count,
                 std::uint32_t n) noexcept {
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint16_t>(snap_to_level(y[i], x[i], n));
}

}  // namespace verrakin
