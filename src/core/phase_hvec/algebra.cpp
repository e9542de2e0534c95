#include "algebra.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

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

// One accumulator, terms added in index order; -0.0 keeps the first term unchanged.
double sum_cosines(const std::uint16_t* a, const std::uint16_t* b, std::uint64_t m, std::uint32_t n) noexcept {
    const double resolution = static_cast<double>(n);
    double sum = -0.0;
    for (std::uint64_t i = 0; i < m; ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += std::cos(level_angle(d, resolution));
    }
    return sum;
}

// The same sum with each term read from a table of the 2n - 1 possible
// differences. A term is the same cos() of the same angle either way, and the
// terms are still added one at a time in index order, so every bit agrees with
// sum_cosines. Worth it once there are more terms than table entries; without
// memory for the table the direct sum is used.
double sum_cosines_tabled(const std::uint16_t* a, const std::uint16_t* b, std::uint64_t m,
                          std::uint32_t n) noexcept {
    const std::size_t entries = 2 * std::size_t{n} - 1;
    std::unique_ptr<double[]> table(new (std::nothrow) double[entries]);
    if (!table) return sum_cosines(a, b, m, n);
    const double resolution = static_cast<double>(n);
    for (std::size_t j = 0; j < entries; ++j) {
        const double d = static_cast<double>(static_cast<std::int64_t>(j) - static_cast<std::int64_t>(n - 1));
        table[j] = std::cos(level_angle(d, resolution));
    }
    const double* by_difference = table.get() + (n - 1);  // index -(n-1) .. n-1
    double sum = -0.0;
    for (std::uint64_t i = 0; i < m; ++i) {
        sum += by_difference[static_cast<std::int32_t>(a[i]) - static_cast<std::int32_t>(b[i])];
    }
    return sum;
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
    const std::uint64_t m = common_length(a, b);
    const double sum = m >= 2 * std::uint64_t{a.n} ? sum_cosines_tabled(a.phases.data(), b.phases.data(), m, a.n)
                                                   : sum_cosines(a.phases.data(), b.phases.data(), m, a.n);
    return sum / static_cast<double>(a.dim);
}

}  // namespace verrakin
