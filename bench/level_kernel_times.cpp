// Times the resonator's two hot kernels (weight dots, superposition) on every
// path this CPU runs, in ns per entry-position term, best of several repeats
// (for AVX2 also the dots against two vectors at once, per entry-position),
// for the codebook shapes of bench/resonator_cases.py; and the table-lookup
// floor: the same [cos sin] pair loads, four entries side by side, each lane
// adding its pair into its own sum and no arithmetic beyond that.
//
//     build/check/level_kernel_times
#include <immintrin.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "../src/core/cpu/isa.hpp"
#include "../src/core/phase_resonator/level_kernels.hpp"
#include "../src/core/phase_resonator/phasor_pairs.hpp"

using namespace verrakin;

namespace {

struct Shape {
    std::size_t length, count;
    std::uint32_t n;
};

template <class F>
double best_ns(F f, double terms, int repeat = 15) {
    double best = 1e300;
    for (int r = 0; r < repeat; ++r) {
        const auto start = std::chrono::steady_clock::now();
        f();
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best / terms;
}

// The lookups alone: per entry-position one 16-byte [cos sin] pair load, eight
// entries side by side with their levels read as 64-bit words of four, each
// load added into its entry's own sum (the least work that keeps the loads).
VK_TARGET_AVX2 double lookup_floor(const std::uint16_t* const* entries, std::size_t count, const double* pairs,
                                   std::size_t length) {
    __m128d sums[8];
    for (__m128d& s : sums) s = _mm_setzero_pd();
    for (std::size_t j = 0; j + 8 <= count; j += 8) {
        for (std::size_t i = 0; i + 4 <= length; i += 4) {
            std::uint64_t words[8];
#pragma GCC unroll 8
            for (int l = 0; l < 8; ++l) std::memcpy(&words[l], entries[j + l] + i, sizeof words[l]);
#pragma GCC unroll 4
            for (int at = 0; at < 4; ++at) {
#pragma GCC unroll 8
                for (int l = 0; l < 8; ++l) {
                    sums[l] = _mm_add_pd(sums[l], _mm_load_pd(pairs + 2 * ((words[l] >> (16 * at)) & 0xFFFF)));
                }
            }
        }
    }
    __m128d all = sums[0];
    for (int l = 1; l < 8; ++l) all = _mm_add_pd(all, sums[l]);
    return _mm_cvtsd_f64(all);
}

}  // namespace

int main() {
    const Shape shapes[] = {{1024, 32, 16}, {4096, 64, 64}, {10000, 100, 256}, {2048, 1000, 16}, {4096, 64, 32},
                            {4096, 3, 64}, {4096, 4, 256}, {4096, 1, 256}, {10000, 16, 256}, {4096, 64, 4096}, {4096, 20, 65536}, {2048, 128, 16}};
    std::mt19937_64 rng(5);
    std::printf("%-22s %-7s %12s %14s %12s\n", "shape (D, M, n)", "path", "dots ns", "superpose ns", "twice ns");
    for (const Shape& s : shapes) {
        const GridPhasors grid(s.n, 2 * std::uint64_t{s.n});
        std::vector<std::vector<std::uint16_t>> levels(s.count, std::vector<std::uint16_t>(s.length));
        std::vector<const std::uint16_t*> entries(s.count);
        for (std::size_t j = 0; j < s.count; ++j) {
            for (std::uint16_t& p : levels[j]) p = static_cast<std::uint16_t>(rng() % s.n);
            entries[j] = levels[j].data();
        }
        std::vector<double> b_re(s.length, 0.5), b_im(s.length, -0.25), weights(s.count, 0.75), out(s.count);
        std::vector<double> acc_re(s.length), acc_im(s.length);
        const double terms = static_cast<double>(s.length) * static_cast<double>(s.count);
        const double floor_terms = static_cast<double>(s.length / 4 * 4) * static_cast<double>(s.count / 8 * 8);
        struct Path {
            const char* name;
            Isa isa;
            decltype(&detail::level_dots_scalar) dots;
            decltype(&detail::level_superpose_scalar) superpose;
        };
        const Path paths[] = {
            {"scalar", Isa::scalar, detail::level_dots_scalar, detail::level_superpose_scalar},
            {"avx2", Isa::avx2, detail::level_dots_avx2, detail::level_superpose_avx2},
            {"avx512", Isa::avx512, detail::level_dots_avx512, detail::level_superpose_avx512},
        };
        char label[64];
        std::snprintf(label, sizeof label, "(%zu, %zu, %u)", s.length, s.count, s.n);
        for (const Path& p : paths) {
            if (supported_isa() < p.isa) continue;
            const double dots = best_ns([&] {
                p.dots(entries.data(), s.count, grid, b_re.data(), b_im.data(), s.length, out.data());
            }, terms);
            const double superpose = best_ns([&] {
                p.superpose(entries.data(), s.count, grid, weights.data(), s.length, acc_re.data(), acc_im.data());
            }, terms);
            std::printf("%-22s %-7s %12.3f %14.3f", label, p.name, dots, superpose);
            if (p.isa == Isa::avx2) {
                std::vector<double> other(s.count), interleaved(4 * s.length);
                interleave_dot_vectors(b_re.data(), b_im.data(), b_im.data(), b_re.data(), s.length,
                                       interleaved.data());
                const double twice = best_ns([&] {
                    detail::level_dots_twice_avx2(entries.data(), s.count, grid, interleaved.data(), s.length,
                                                  out.data(), other.data());
                }, terms);
                std::printf(" %12.3f", twice);
            }
            std::printf("\n");
        }
        if (supported_isa() >= Isa::avx2) {
            const auto tables = phasor_pairs(grid);
            volatile double sink = 0;
            const double floor = best_ns([&] {
                sink = lookup_floor(entries.data(), s.count, tables->pairs, s.length);
            }, floor_terms);
            std::printf("%-22s %-7s %12.3f\n", label, "floor", floor);
        }
    }
}
