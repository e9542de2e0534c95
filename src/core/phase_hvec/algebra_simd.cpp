// The bind and unbind kernels compiled for AVX2 and AVX-512 (x86-64 only).
#include "../cpu/isa.hpp"
#include "algebra_kernels.hpp"

namespace verrakin::detail {

// The same results in 16-bit lanes, which the compiler vectorises at twice the
// width. With c = n - b (1..n, or 0 for b = 0 at n = 65536, all taken mod 2^16):
// a + b >= n exactly when a >= c, and then the result is a - c; otherwise it is
// a - c + n, below n. Everything is mod 2^16, where n = 65536 adds nothing.
// Unbind is the same with c = b: a - b, plus n when a < b.
namespace {

VK_ALWAYS_INLINE void add_levels_narrow(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out,
                                        std::uint64_t m, std::uint32_t n) noexcept {
    const auto wide_n = static_cast<std::uint16_t>(n);
    for (std::uint64_t i = 0; i < m; ++i) {
        const auto c = static_cast<std::uint16_t>(wide_n - b[i]);
        const auto d = static_cast<std::uint16_t>(a[i] - c);
        out[i] = a[i] >= c ? d : static_cast<std::uint16_t>(d + wide_n);
    }
}

VK_ALWAYS_INLINE void subtract_levels_narrow(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out,
                                             std::uint64_t m, std::uint32_t n) noexcept {
    const auto wide_n = static_cast<std::uint16_t>(n);
    for (std::uint64_t i = 0; i < m; ++i) {
        const auto d = static_cast<std::uint16_t>(a[i] - b[i]);
        out[i] = a[i] >= b[i] ? d : static_cast<std::uint16_t>(d + wide_n);
    }
}

}  // namespace

VK_TARGET_AVX2 void add_levels_avx2(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out,
                                    std::uint64_t m, std::uint32_t n) noexcept {
    add_levels_narrow(a, b, out, m, n);
}
VK_TARGET_AVX2 void subtract_levels_avx2(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out,
                                         std::uint64_t m, std::uint32_t n) noexcept {
    subtract_levels_narrow(a, b, out, m, n);
}
VK_TARGET_AVX512 void add_levels_avx512(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out,
                                        std::uint64_t m, std::uint32_t n) noexcept {
    add_levels_narrow(a, b, out, m, n);
}
VK_TARGET_AVX512 void subtract_levels_avx512(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out,
                                             std::uint64_t m, std::uint32_t n) noexcept {
    subtract_levels_narrow(a, b, out, m, n);
}

}  // namespace verrakin::detail
