#include "algebra.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "../cpu/isa.hpp"
#include "algebra_kernels.hpp"
#include "../maths/maths.hpp"
#include "angles.hpp"
#include "table_cache.hpp"

namespace verrakin {

namespace detail {

// The reference kernels widen to 32 bits. Since every level is below n, (a + b)
// and (n - b + a) lie in [0, 2n), so one conditional subtraction is the remainder.
void add_levels_scalar(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out, std::uint64_t m,
                       std::uint32_t n) noexcept {
    for (std::uint64_t i = 0; i < m; ++i) {
        const std::uint32_t sum = std::uint32_t{a[i]} + std::uint32_t{b[i]};
        out[i] = static_cast<std::uint16_t>(sum >= n ? sum - n : sum);
    }
}

void subtract_levels_scalar(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out, std::uint64_t m,
                            std::uint32_t n) noexcept {
    for (std::uint64_t i = 0; i < m; ++i) {
        const std::uint32_t shifted = n - std::uint32_t{b[i]} + std::uint32_t{a[i]};
        out[i] = static_cast<std::uint16_t>(shifted >= n ? shifted - n : shifted);
    }
}

// The same results in 16-bit lanes, which the compiler vectorises at twice the
// width. With c = n - b (1..n, or 0 for b = 0 at n = 65536, all taken mod 2^16):
// a + b >= n exactly when a >= c, and then the result is a - c; otherwise it is
// a - c + n, below n. Everything is mod 2^16, where n = 65536 adds nothing.
// Unbind is the same with c = b: a - b, plus n when a < b.
namespace {

[[gnu::always_inline]] inline void add_levels_narrow(const std::uint16_t* a, const std::uint16_t* b,
                                                     std::uint16_t* out, std::uint64_t m,
                                                     std::uint32_t n) noexcept {
    const auto wide_n = static_cast<std::uint16_t>(n);
    for (std::uint64_t i = 0; i < m; ++i) {
        const auto c = static_cast<std::uint16_t>(wide_n - b[i]);
        const auto d = static_cast<std::uint16_t>(a[i] - c);
        out[i] = a[i] >= c ? d : static_cast<std::uint16_t>(d + wide_n);
    }
}

[[gnu::always_inline]] inline void subtract_levels_narrow(const std::uint16_t* a, const std::uint16_t* b,
                                                          std::uint16_t* out, std::uint64_t m,
                                                          std::uint32_t n) noexcept {
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

}  // namespace detail

namespace {
using namespace detail;

bool same_shape(const PhaseHVec& a, const PhaseHVec& b) noexcept { return a.dim == b.dim && a.n == b.n; }

std::uint64_t common_length(const PhaseHVec& a, const PhaseHVec& b) noexcept {
    return std::min(a.phases.size(), b.phases.size());
}

using LevelKernel = void (*)(const std::uint16_t*, const std::uint16_t*, std::uint16_t*, std::uint64_t,
                             std::uint32_t) noexcept;

// The dispatch points of bind and unbind.
LevelKernel add_levels() noexcept {
    switch (active_isa()) {
        case Isa::avx512: return add_levels_avx512;
        case Isa::avx2: return add_levels_avx2;
        case Isa::scalar: break;
    }
    return add_levels_scalar;
}

LevelKernel subtract_levels() noexcept {
    switch (active_isa()) {
        case Isa::avx512: return subtract_levels_avx512;
        case Isa::avx2: return subtract_levels_avx2;
        case Isa::scalar: break;
    }
    return subtract_levels_scalar;
}

// One accumulator, terms added in index order; -0.0 keeps the first term unchanged.
double sum_cosines(const std::uint16_t* a, const std::uint16_t* b, std::uint64_t m, std::uint32_t n) noexcept {
    const double resolution = static_cast<double>(n);
    double sum = -0.0;
    for (std::uint64_t i = 0; i < m; ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += maths::cos(level_angle(d, resolution));
    }
    return sum;
}

// cos(level_angle(d, n)) for every difference d = -(n-1) .. n-1, at index d + n - 1.
using CosineTable = std::vector<double>;

CosineTable cosine_table(std::uint32_t n) {
    CosineTable table(2 * std::size_t{n} - 1);
    const double resolution = static_cast<double>(n);
    for (std::size_t j = 0; j < table.size(); ++j) {
        const double d = static_cast<double>(static_cast<std::int64_t>(j) - static_cast<std::int64_t>(n - 1));
        table[j] = maths::cos(level_angle(d, resolution));
    }
    return table;
}

TableCache<CosineTable> cosine_tables;

// The same sum with each term read from the table. A term is the same cos() of
// the same angle either way, and the terms are still added one at a time in
// index order, so every bit agrees with sum_cosines.
double sum_cosines_tabled(const std::uint16_t* a, const std::uint16_t* b, std::uint64_t m,
                          const CosineTable& table, std::uint32_t n) noexcept {
    const double* by_difference = table.data() + (n - 1);
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
    return elementwise(a, b, add_levels());
}

Expected<PhaseHVec, PhaseError> unbind(const PhaseHVec& a, const PhaseHVec& b) {
    return elementwise(a, b, subtract_levels());
}

// The table of 2n - 1 cosines is kept between calls. It is built when it pays
// for itself in this call (at least 2n terms) or when n comes back (a second
// call with the same n); a one-off short similarity calls cos() directly.
Expected<double, PhaseError> similarity(const PhaseHVec& a, const PhaseHVec& b) {
    if (!same_shape(a, b)) return unexpected(kMismatchError);
    if (a.dim == 0) return 1.0;
    const std::uint64_t m = common_length(a, b);
    const std::uint32_t n = a.n;
    bool asked_before = false;
    auto table = cosine_tables.find(n, &asked_before);
    if (!table && (asked_before || m >= 2 * std::uint64_t{n})) {
        try {
            table = cosine_tables.publish(n, std::make_shared<const CosineTable>(cosine_table(n)));
        } catch (const std::bad_alloc&) {
            // The table is an optimisation: without memory for it the direct sum gives the same bits.
        }
    }
    const double sum = table ? sum_cosines_tabled(a.phases.data(), b.phases.data(), m, *table, n)
                             : sum_cosines(a.phases.data(), b.phases.data(), m, n);
    return sum / static_cast<double>(a.dim);
}

}  // namespace verrakin
