// Nanoseconds per call of verrakin::maths against the C library's functions,
// on the arguments the system forms: the level angles of an n = 65536 table
// (what a table build evaluates) and atan2 of integer sums of bundle
// magnitude. The two run interleaved, best of several repeats, one thread.
//
//   maths_speed
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "../src/core/maths/maths.hpp"
#include "../src/core/phase_hvec/angles.hpp"

namespace {

volatile double sink;

template <class F>
double best_ns_per_call(F f, std::size_t calls) {
    double best = 1e30;
    for (int repeat = 0; repeat < 7; ++repeat) {
        const auto start = std::chrono::steady_clock::now();
        f();
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best) best = took.count();
    }
    return best / static_cast<double>(calls);
}

}  // namespace

int main() {
    std::printf("maths: %s\n", verrakin::maths::implementation_name());
    const std::uint32_t n = 65536;
    std::vector<double> angles(n);
    for (std::uint32_t k = 0; k < n; ++k) {
        angles[k] = verrakin::level_angle(static_cast<double>(k), static_cast<double>(n));
    }
    std::vector<double> ys(n), xs(n);
    std::uint64_t state = 12345;
    for (std::uint32_t i = 0; i < n; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        ys[i] = static_cast<double>(static_cast<std::int32_t>(state >> 40) % 5000000);
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        xs[i] = static_cast<double>(static_cast<std::int32_t>(state >> 40) % 5000000);
    }
    struct Row {
        const char* name;
        double ours;
        double platform;
    };
    std::vector<Row> rows;
    for (int round = 0; round < 2; ++round) {  // interleaved: ours, platform, ours, platform
        const auto sum_of = [&](auto f) {
            return [&, f] {
                double s = 0;
                for (double a : angles) s += f(a);
                sink = s;
            };
        };
        const double cos_ours = best_ns_per_call(sum_of([](double a) { return verrakin::maths::cos(a); }), n);
        const double cos_libc = best_ns_per_call(sum_of([](double a) { return std::cos(a); }), n);
        const double sin_ours = best_ns_per_call(sum_of([](double a) { return verrakin::maths::sin(a); }), n);
        const double sin_libc = best_ns_per_call(sum_of([](double a) { return std::sin(a); }), n);
        const double pair_ours = best_ns_per_call(sum_of([](double a) {
            double s, c;
            verrakin::maths::sincos(a, s, c);
            return s + c;
        }), n);
        const double pair_libc = best_ns_per_call(sum_of([](double a) { return std::sin(a) + std::cos(a); }), n);
        const auto atan_of = [&](auto f) {
            return [&, f] {
                double s = 0;
                for (std::uint32_t i = 0; i < n; ++i) s += f(ys[i], xs[i]);
                sink = s;
            };
        };
        const double atan_ours = best_ns_per_call(atan_of([](double y, double x) { return verrakin::maths::atan2(y, x); }), n);
        const double atan_libc = best_ns_per_call(atan_of([](double y, double x) { return std::atan2(y, x); }), n);
        if (round == 1) {
            rows = {{"cos", cos_ours, cos_libc}, {"sin", sin_ours, sin_libc},
                    {"sincos (sin + cos)", pair_ours, pair_libc}, {"atan2", atan_ours, atan_libc}};
        }
    }
    std::printf("%-20s %12s %12s %8s\n", "function", "verrakin ns", "C library ns", "ratio");
    for (const Row& r : rows) std::printf("%-20s %12.1f %12.1f %8.2f\n", r.name, r.ours, r.platform, r.ours / r.platform);
    return 0;
}
