#include "snap.hpp"

#include "../cpu/isa.hpp"
#include "angles.hpp"

namespace verrakin {

namespace detail {

void snap_levels_scalar(const double* y, const double* x, std::uint16_t* out, std::size_t count,
                        std::uint32_t n) noexcept {
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint16_t>(snap_to_level(y[i], x[i], n));
}

}  // namespace detail

// The one dispatch point of the snapping rule.
void snap_levels(const double* y, const double* x, std::uint16_t* out, std::size_t count,
                 std::uint32_t n) noexcept {
    switch (active_isa()) {
#if VK_X86_64
        case Isa::avx512: return detail::snap_levels_avx512(y, x, out, count, n);
        case Isa::avx2: return detail::snap_levels_avx2(y, x, out, count, n);
#else
        case Isa::avx512:
        case Isa::avx2:
#endif
        case Isa::scalar: break;
    }
    detail::snap_levels_scalar(y, x, out, count, n);
}

}  // namespace verrakin
