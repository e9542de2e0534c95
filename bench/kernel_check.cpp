// Checks every fast kernel against its scalar reference, bit for bit, on random
// and adversarial inputs: generator, bind/unbind, snapping rule and fold, for
// each instruction-set level this CPU runs. Prints the per-position time of each
// snapping kernel (a diagnostic, not a check).
//
//     cmake -S . -B build/check -DVERRAKIN_NATIVE_CHECKS=ON && cmake --build build/check
//     build/check/kernel_check
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "../src/core/cpu/isa.hpp"
#include "../src/core/phase_hvec/algebra_kernels.hpp"
#include "../src/core/phase_hvec/angles.hpp"
#include "../src/core/phase_hvec/bundle.hpp"
#include "../src/core/phase_hvec/fold.hpp"
#include "../src/core/phase_hvec/fold_kernels.hpp"
#include "../src/core/phase_hvec/generator_kernels.hpp"
#include "../src/core/phase_hvec/pair_bundle.hpp"
#include "../src/core/phase_hvec/snap.hpp"

using namespace verrakin;

namespace {

std::mt19937_64 rng(20261208);
std::uint64_t checked = 0;
std::uint64_t mismatches = 0;

bool runs(Isa isa) { return supported_isa() >= isa; }

template <class T>
void compare(const char* what, std::uint32_t n, const std::vector<T>& fast, const std::vector<T>& reference) {
    checked += reference.size();
    for (std::size_t i = 0; i < reference.size(); ++i) {
        if (std::memcmp(&fast[i], &reference[i], sizeof(T)) != 0 && ++mismatches <= 20) {
            std::printf("mismatch %s n=%u at %zu\n", what, n, i);
        }
    }
}

const std::uint32_t kResolutions[] = {2, 3, 4, 5, 7, 8, 11, 13, 16, 17, 31, 32, 33, 64, 255, 256, 1000, 4096,
                                      32767, 32768, 65535, 65536};

void check_generator() {
    for (std::uint32_t n : kResolutions) {
        for (std::uint64_t seed : {std::uint64_t{0}, std::uint64_t{1}, ~std::uint64_t{0}, rng(), rng()}) {
            for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{31},
                                      std::size_t{33}, std::size_t{100003}}) {
                // A run may start anywhere: long runs are generated in chunks.
                for (std::uint64_t first : {std::uint64_t{0}, std::uint64_t{5}, std::uint64_t{1} << 40}) {
                    std::vector<std::uint16_t> reference(count), fast(count);
                    detail::generate_phases_scalar(reference.data(), count, first, n, seed);
                    if (runs(Isa::avx2)) {
                        detail::generate_phases_avx2(fast.data(), count, first, n, seed);
                        compare("generator avx2", n, fast, reference);
                    }
                    if (runs(Isa::avx512)) {
                        detail::generate_phases_avx512(fast.data(), count, first, n, seed);
                        compare("generator avx512", n, fast, reference);
                    }
                }
            }
        }
    }
}

void check_algebra() {
    using Kernel = void (*)(const std::uint16_t*, const std::uint16_t*, std::uint16_t*, std::uint64_t,
                            std::uint32_t) noexcept;
    struct Family {
        const char* name;
        Kernel reference, avx2, avx512;
    };
    const Family families[] = {
        {"bind", detail::add_levels_scalar, detail::add_levels_avx2, detail::add_levels_avx512},
        {"unbind", detail::subtract_levels_scalar, detail::subtract_levels_avx2, detail::subtract_levels_avx512}};
    for (std::uint32_t n : kResolutions) {
        // every pair of levels for small n; random pairs plus the extremes otherwise
        std::vector<std::uint16_t> a, b;
        if (n <= 256) {
            for (std::uint32_t p = 0; p < n; ++p) {
                for (std::uint32_t q = 0; q < n; ++q) {
                    a.push_back(static_cast<std::uint16_t>(p));
                    b.push_back(static_cast<std::uint16_t>(q));
                }
            }
        } else {
            for (std::uint32_t p : {0u, 1u, n / 2, n - 2, n - 1}) {
                for (std::uint32_t q : {0u, 1u, n / 2, n - 2, n - 1}) {
                    a.push_back(static_cast<std::uint16_t>(p));
                    b.push_back(static_cast<std::uint16_t>(q));
                }
            }
            for (int i = 0; i < 200003; ++i) {
                a.push_back(static_cast<std::uint16_t>(rng() % n));
                b.push_back(static_cast<std::uint16_t>(rng() % n));
            }
        }
        std::vector<std::uint16_t> reference(a.size()), fast(a.size());
        for (const Family& f : families) {
            f.reference(a.data(), b.data(), reference.data(), a.size(), n);
            if (runs(Isa::avx2)) {
                f.avx2(a.data(), b.data(), fast.data(), a.size(), n);
                compare(f.name, n, fast, reference);
            }
            if (runs(Isa::avx512)) {
                f.avx512(a.data(), b.data(), fast.data(), a.size(), n);
                compare(f.name, n, fast, reference);
            }
        }
    }
}

// Points the snapping rule meets: level sums, accumulator-like doubles of every
// magnitude, level boundaries, axes, signed zeros, infinities and NaN.
void snap_points(std::uint32_t n, std::vector<double>& y, std::vector<double>& x) {
    const LevelTables tables = level_tables(n);
    const auto add = [&](double py, double px) {
        y.push_back(py);
        x.push_back(px);
    };
    for (int trial = 0; trial < 200000; ++trial) {
        const int items = 1 + static_cast<int>(rng() % 9);
        std::int64_t sx = 0, sy = 0;
        for (int i = 0; i < items; ++i) {
            const std::uint32_t level = static_cast<std::uint32_t>(rng() % n);
            sx += tables.cosine[level];
            sy += tables.sine[level];
        }
        add(static_cast<double>(sy), static_cast<double>(sx));
    }
    std::normal_distribution<double> normal;
    for (int trial = 0; trial < 100000; ++trial) {
        const double scale = std::ldexp(1.0, static_cast<int>(rng() % 2000) - 1000);
        add(normal(rng) * scale, normal(rng) * scale);
        const double boundary = ((static_cast<double>(rng() % n) + 0.5) * kTwoPi) / n;
        const double radius = std::ldexp(1.0, static_cast<int>(rng() % 40));
        add(std::sin(boundary) * radius, std::cos(boundary) * radius);
    }
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double specials[] = {0.0, -0.0, 1.0, -1.0, 5e-324, -5e-324, 1e308, -1e308, inf, -inf, nan, 16384.0};
    for (double py : specials) {
        for (double px : specials) add(py, px);
    }
}

double seconds_per_point(void (*kernel)(const double*, const double*, std::uint16_t*, std::size_t, std::uint32_t) noexcept,
                         const std::vector<double>& y, const std::vector<double>& x, std::vector<std::uint16_t>& out,
                         std::uint32_t n) {
    const auto start = std::chrono::steady_clock::now();
    kernel(y.data(), x.data(), out.data(), y.size(), n);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / y.size();
}

void check_snap() {
    double time_scalar = 0, time_avx2 = 0, time_avx512 = 0;
    for (std::uint32_t n : kResolutions) {
        std::vector<double> y, x;
        snap_points(n, y, x);
        std::vector<std::uint16_t> exact(y.size()), reference(y.size()), fast(y.size());
        for (std::size_t i = 0; i < y.size(); ++i) {
            exact[i] = static_cast<std::uint16_t>(snap_to_level_exact(y[i], x[i], n));
        }
        time_scalar += seconds_per_point(detail::snap_levels_scalar, y, x, reference, n);
        compare("snap scalar vs step-by-step", n, reference, exact);
        if (runs(Isa::avx2)) {
            time_avx2 += seconds_per_point(detail::snap_levels_avx2, y, x, fast, n);
            compare("snap avx2", n, fast, exact);
        }
        if (runs(Isa::avx512)) {
            time_avx512 += seconds_per_point(detail::snap_levels_avx512, y, x, fast, n);
            compare("snap avx512", n, fast, exact);
        }
    }
    const double runs_count = static_cast<double>(sizeof kResolutions / sizeof kResolutions[0]);
    std::printf("snap ns/position: scalar %.2f, avx2 %.2f, avx512 %.2f\n", 1e9 * time_scalar / runs_count,
                1e9 * time_avx2 / runs_count, 1e9 * time_avx512 / runs_count);
}

void check_fold() {
    for (std::uint32_t n : kResolutions) {
        const auto tables = fold_tables(n);
        for (std::size_t item_count : {1, 2, 3, 4, 6, 7, 9, 300}) {
            const std::uint64_t dim = 1 + rng() % 3000;
            std::vector<PhaseHVec> items;
            for (std::size_t k = 0; k < item_count; ++k) {
                PhaseHVec item{dim, n, PhaseArray::allocate(dim)};
                // half the items at the extreme level n - 1, the rest random
                for (std::uint64_t i = 0; i < dim; ++i) {
                    item.phases.data()[i] = static_cast<std::uint16_t>(k % 2 ? n - 1 : rng() % n);
                }
                items.push_back(std::move(item));
            }
            for (std::uint64_t start = 0; start < dim; start += kFoldBlock) {
                const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kFoldBlock, dim - start));
                FoldScratch reference, fast;
                fold_block(FoldKernel::reference, items, *tables, start, count, reference);
                reference.y.resize(count);
                reference.x.resize(count);
                std::vector<FoldKernel> kernels = {FoldKernel::packed};
                if (runs(Isa::avx512) && n <= kPermuteLevels) kernels.push_back(FoldKernel::permute_avx512);
                for (FoldKernel kernel : kernels) {
                    fold_block(kernel, items, *tables, start, count, fast);
                    fast.y.resize(count);
                    fast.x.resize(count);
                    compare("fold y", n, fast.y, reference.y);
                    compare("fold x", n, fast.x, reference.x);
                    fast = FoldScratch();
                }
            }
        }
    }
}

// Every entry of every pair table against the step-by-step rule on the exact sums.
void check_pairs() {
    for (std::uint32_t n = 2; n <= kPairLevels; ++n) {
        const LevelTables exact = level_tables(n);
        const auto table = pair_table(n);
        std::vector<std::uint16_t> reference(std::size_t{n} * n);
        for (std::uint32_t p = 0; p < n; ++p) {
            for (std::uint32_t q = 0; q < n; ++q) {
                reference[std::size_t{p} * n + q] = static_cast<std::uint16_t>(
                    snap_to_level_exact(static_cast<double>(exact.sine[p] + exact.sine[q]),
                                        static_cast<double>(exact.cosine[p] + exact.cosine[q]), n));
            }
        }
        compare("pair table", n, table->levels, reference);
    }
}

}  // namespace

int main() {
    std::printf("kernel_check on %s\n", isa_name(supported_isa()));
    check_generator();
    check_algebra();
    check_snap();
    check_fold();
    check_pairs();
    std::printf("kernel_check: %llu values, %llu mismatches\n", static_cast<unsigned long long>(checked),
                static_cast<unsigned long long>(mismatches));
    return mismatches == 0 ? 0 : 1;
}
