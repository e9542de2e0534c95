// Checks every fast resonator kernel this CPU runs against the step-by-step one,
// bit for bit: dots (against one vector, or two at once) and superpositions of
// entries read as levels, over entry counts and lengths that reach every block
// and tail of the vector code (and the superposition's entry groups), at
// resolutions on both sides of the register-table limit, with random and
// adversarial vectors and weights (signed zeros, subnormals, huge magnitudes,
// sums that cancel).
//
//     cmake -S . -B build/check -DVERRAKIN_NATIVE_CHECKS=ON && cmake --build build/check
//     build/check/resonator_check
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "../src/core/cpu/isa.hpp"
#include "../src/core/phase_resonator/level_kernels.hpp"

using namespace verrakin;

namespace {

using Dots = void (*)(const std::uint16_t* const*, std::size_t, const GridPhasors&, const double*, const double*,
                      std::size_t, double*);
using Superpose = void (*)(const std::uint16_t* const*, std::size_t, const GridPhasors&, const double*,
                           std::size_t, double*, double*);
// Dots against two vectors, given as DotVectors (the kernels read the form
// they take from it).
using DotsTwice = void (*)(const std::uint16_t* const*, std::size_t, const GridPhasors&, const DotVectors&,
                           std::size_t, double*, double*);

struct Path {
    Isa isa;
    Dots dots;
    Superpose superpose;
    DotsTwice twice;  // null where the path has none of its own
};

std::mt19937_64 rng(20261208);
std::uint64_t checked = 0;
std::uint64_t mismatches = 0;

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// One double of the given flavour: plain, or chosen to stress rounding.
double value(int flavour) {
    std::normal_distribution<double> normal;
    switch (flavour % 6) {
        case 0: return normal(rng);
        case 1: return (rng() & 1) ? 0.0 : -0.0;
        case 2: return normal(rng) * std::numeric_limits<double>::denorm_min() * 1e3;
        case 3: return normal(rng) * 1e300;
        case 4: return (rng() & 1) ? 1.0 : -1.0;
        default: return std::ldexp(normal(rng), static_cast<int>(rng() % 120) - 60);
    }
}

void fill(std::vector<double>& v, int flavour) {
    for (double& x : v) x = value(flavour == 6 ? static_cast<int>(rng() % 6) : flavour);
}

void report(const char* what, const Path& path, std::uint32_t n, std::size_t count, std::size_t length,
            int flavour) {
    if (++mismatches <= 20) {
        std::printf("mismatch %s %s n=%u count=%zu length=%zu flavour=%d\n", what, isa_name(path.isa), n, count,
                    length, flavour);
    }
}

void check_case(const Path& path, const GridPhasors& grid, std::size_t count, std::size_t length, int flavour) {
    // Each entry its own allocation of exactly `length` levels, as records are.
    std::vector<std::vector<std::uint16_t>> levels(count, std::vector<std::uint16_t>(length));
    std::vector<const std::uint16_t*> entries(count);
    const bool constant = rng() % 8 == 0;  // every level equal: sums that only grow or cancel
    const std::uint16_t fixed = static_cast<std::uint16_t>(rng() % grid.resolution());
    for (std::size_t j = 0; j < count; ++j) {
        for (std::uint16_t& p : levels[j]) p = constant ? fixed : static_cast<std::uint16_t>(rng() % grid.resolution());
        entries[j] = levels[j].data();
    }
    std::vector<double> b_re(length), b_im(length), weights(count);
    fill(b_re, flavour);
    fill(b_im, flavour);
    fill(weights, flavour);

    std::vector<double> want(count), got(count);
    detail::level_dots_scalar(entries.data(), count, grid, b_re.data(), b_im.data(), length, want.data());
    path.dots(entries.data(), count, grid, b_re.data(), b_im.data(), length, got.data());
    ++checked;
    if (!same_bits(want, got)) report("dots", path, grid.resolution(), count, length, flavour);

    if (path.twice != nullptr) {
        // The second vector: the first reversed, so the two sums differ.
        const std::vector<double> a_re(b_re.rbegin(), b_re.rend()), a_im(b_im.rbegin(), b_im.rend());
        std::vector<double> want_a(count), got_a(count), got_b(count);
        detail::level_dots_scalar(entries.data(), count, grid, a_re.data(), a_im.data(), length, want_a.data());
        // Interleaved at an odd double offset now and then: the kernel must not
        // rely on alignment.
        std::vector<double> storage(4 * length + 1);
        double* interleaved = storage.data() + (rng() % 2);
        interleave_dot_vectors(a_re.data(), a_im.data(), b_re.data(), b_im.data(), length, interleaved);
        const DotVectors vectors{a_re.data(), a_im.data(), b_re.data(), b_im.data(), interleaved};
        path.twice(entries.data(), count, grid, vectors, length, got_a.data(), got_b.data());
        ++checked;
        if (!same_bits(want_a, got_a) || !same_bits(want, got_b)) {
            report("dots twice", path, grid.resolution(), count, length, flavour);
        }
    }

    std::vector<double> want_re = b_re, want_im = b_im, got_re = b_re, got_im = b_im;
    detail::level_superpose_scalar(entries.data(), count, grid, weights.data(), length, want_re.data(),
                                   want_im.data());
    path.superpose(entries.data(), count, grid, weights.data(), length, got_re.data(), got_im.data());
    ++checked;
    if (!same_bits(want_re, got_re) || !same_bits(want_im, got_im)) {
        report("superpose", path, grid.resolution(), count, length, flavour);
    }
}

// The AVX2 dots against two vectors, in the DotsTwice form.
#if VK_X86_64
void dots_twice_avx2(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                     const DotVectors& vectors, std::size_t length, double* out_a, double* out_b) {
    detail::level_dots_twice_avx2(entries, count, grid, vectors.interleaved, length, out_a, out_b);
}
#endif

}  // namespace

int main() {
    std::vector<Path> paths;
#if VK_X86_64
    if (supported_isa() >= Isa::avx2) {
        paths.push_back({Isa::avx2, detail::level_dots_avx2, detail::level_superpose_avx2, dots_twice_avx2});
    }
    if (supported_isa() >= Isa::avx512) {
        paths.push_back({Isa::avx512, detail::level_dots_avx512, detail::level_superpose_avx512, nullptr});
    }
#endif
    // The dispatch point as well: it splits the entries between a vector kernel
    // and the reference, and picks the kernel by resolution (VERRAKIN_ISA sets
    // its level, so each level's choices can be checked in turn).
    paths.push_back({active_isa(), level_dots, level_superpose, level_dots_twice});
    const std::uint32_t resolutions[] = {2, 3, 4, 5, 15, 16, 17, 31, 32, 33, 48, 63, 64, 65, 255, 256, 4096, 65536};
    // Beyond 128 entries the superposition goes in groups of entries.
    const std::size_t counts[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 15, 16, 17, 24, 31, 32, 33, 40, 64, 71, 130, 261};
    const std::size_t lengths[] = {0, 1, 3, 4, 5, 15, 16, 17, 31, 32, 33, 100, 127, 128, 129, 160, 257, 300};
    for (const Path& path : paths) {
        for (std::uint32_t n : resolutions) {
            const GridPhasors grid(n, 2 * std::uint64_t{n});  // tabled: the fast kernels' precondition
            for (std::size_t count : counts) {
                for (std::size_t length : lengths) {
                    for (int flavour = 0; flavour <= 6; ++flavour) check_case(path, grid, count, length, flavour);
                }
            }
        }
    }
    std::printf("%zu paths, %llu kernel calls checked, %llu mismatches\n", paths.size(),
                static_cast<unsigned long long>(checked), static_cast<unsigned long long>(mismatches));
    return mismatches == 0 ? 0 : 1;
}
