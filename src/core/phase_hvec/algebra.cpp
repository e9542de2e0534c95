#include "algebra.hpp"

#include <algorithm>
#include <cmath>

#include "angles.hpp"

namespace verrakin {
namespace {

bool same_shape(const PhaseHVec& a, const PhaseHVec& b) noexcept { return a.dim == b.dim && a.n == b.n; }

std::uint64_t common_length(const PhaseHVec& a, const PhaseHVec& b) noexcept {
    return std::min(a.phases.size(), b.phases.size());
}

// Both kernels widen to 32 bits. Since every level is below n, (a + b) and
// (n - b + a) lie in [0, 2n), so one conditional subtraction is the remainder.
void add_levels(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out, std::uint64_t m,
                std::uint32_t n) noexcept {
    for (std::uint64_t i = 0; i < m; ++i) {
        const std::uint32_t sum = std::uint32_t{a[i]} + std::uint32_t{b[i]};
        out[i] = static_cast<std::uint16_t>(sum >= n ? sum - n : sum);
    }
}

void subtract_levels(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out, std::uint64_t m,
                     std::uint32_t n) noexcept {
    for (std::uint64_t i = 0; i < m; ++i) {
        const std::uint32_t shifted = n - std::uint32_t{b[i]} + std::uint32_t{a[i]};
        out[i] = static_cast<std::uint16_t>(shifted >= n ? shifted - n : shifted);
    }
}

template <class Kernel>
Expected<PhaseHVec, PhaseError> elementwise(const PhaseHVec& a, const PhaseHVec& b, Kernel kernel) {
    if (!same_shape(a, b)) return unexpected(kMismatchError);
    const std::uint64_t m = common_length(a, b);
    PhaseHVec result{a.dim, a.n, PhaseArray::allocate(m)};
    kernel(a.phases.data(), b.phases.data(), result.phases.data(), m, a.n);
    return result;
}

}  // namespace

Expected<PhaseHVec, PhaseError> bind(const PhaseHVec& a, const PhaseHVec& b) {
    return elementwise(a, b, add_levels);
}

Expected<PhaseHVec, PhaseError> unbind(const PhaseHVec& a, const PhaseHVec& b) {
    return elementwise(a, b, subtract_levels);
}

Expected<double, PhaseError> similarity(const PhaseHVec& a, const PhaseHVec& b) {
    if (!same_shape(a, b)) return unexpected(kMismatchError);
    if (a.dim == 0) return 1.0;
    const double resolution = static_cast<double>(a.n);
    const std::uint64_t m = common_length(a, b);
    const std::uint16_t* pa = a.phases.data();
    const std::uint16_t* pb = b.phases.data();
    // One accumulator, terms added in index order; -0.0 keeps the first term unchanged.
    double sum = -0.0;
    for (std::uint64_t i = 0; i < m; ++i) {
        const double d = static_cast<double>(pa[i]) - static_cast<double>(pb[i]);
        sum += std::cos(level_angle(d, resolution));
    }
    return sum / static_cast<double>(a.dim);
}

}  // namespace verrakin
