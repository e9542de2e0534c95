// Checks the fast snapping rule against the step-by-step one, bit for bit, on
// level sums of bundles, resonator-like accumulators and random points.
//
//     cmake -S . -B build/check -DVERRAKIN_NATIVE_CHECKS=ON && cmake --build build/check
//     build/check/snap_check
#include <cstdint>
#include <cstdio>
#include <random>

#include "../src/core/phase_hvec/angles.hpp"
#include "../src/core/phase_hvec/bundle.hpp"

using namespace verrakin;

namespace {

std::uint64_t checked = 0;
std::uint64_t mismatches = 0;

void check(double y, double x, std::uint32_t n) {
    ++checked;
    const std::uint32_t fast = snap_to_level(y, x, n);
    const std::uint32_t exact = snap_to_level_exact(y, x, n);
    if (fast != exact && ++mismatches <= 20) {
        std::printf("mismatch n=%u y=%.17g x=%.17g fast=%u exact=%u\n", n, y, x, fast, exact);
    }
}

}  // namespace

int main() {
    std::mt19937_64 rng(20261208);
    const std::uint32_t resolutions[] = {2, 3, 4, 5, 6, 7, 8, 11, 13, 16, 64, 255, 256, 1000, 4096, 65535, 65536};
    for (std::uint32_t n : resolutions) {
        const LevelTables tables = level_tables(n);
        // Every pair of levels, and random triples and larger bundles.
        const std::uint32_t pair_limit = n <= 1024 ? n : 1024;
        for (std::uint32_t p = 0; p < pair_limit; ++p) {
            for (std::uint32_t q = 0; q < pair_limit; ++q) {
                const std::uint32_t a = n <= 1024 ? p : static_cast<std::uint32_t>(rng() % n);
                const std::uint32_t b = n <= 1024 ? q : static_cast<std::uint32_t>(rng() % n);
                check(static_cast<double>(tables.sine[a] + tables.sine[b]),
                      static_cast<double>(tables.cosine[a] + tables.cosine[b]), n);
            }
        }
        for (int trial = 0; trial < 300000; ++trial) {
            const int items = 1 + static_cast<int>(rng() % 9);
            std::int64_t sx = 0, sy = 0;
            for (int i = 0; i < items; ++i) {
                const std::uint32_t level = static_cast<std::uint32_t>(rng() % n);
                sx += tables.cosine[level];
                sy += tables.sine[level];
            }
            check(static_cast<double>(sy), static_cast<double>(sx), n);
        }
        // Accumulator-like doubles of all magnitudes, and points on level boundaries.
        std::normal_distribution<double> normal;
        for (int trial = 0; trial < 300000; ++trial) {
            const double scale = std::ldexp(1.0, static_cast<int>(rng() % 80) - 40);
            check(normal(rng) * scale, normal(rng) * scale, n);
            const double boundary = ((static_cast<double>(rng() % n) + 0.5) * kTwoPi) / n;
            const double radius = std::ldexp(1.0, static_cast<int>(rng() % 40));
            check(std::sin(boundary) * radius, std::cos(boundary) * radius, n);
        }
    }
    std::printf("snap_check: %llu points, %llu mismatches\n", static_cast<unsigned long long>(checked),
                static_cast<unsigned long long>(mismatches));
    return mismatches == 0 ? 0 : 1;
}
