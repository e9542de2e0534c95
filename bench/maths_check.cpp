// Native check of verrakin::maths against MPFR (correctly rounded at 53 bits
// with the double exponent range): every grid angle (k 2pi) / n and its
// negative, which include every angle similarity forms from a signed level
// difference, and atan2 on random, bundle-sized, near-half-level, axis, zero,
// subnormal, infinite and extreme-ratio inputs. Prints the counts and exits 1
// on any mismatch.
//
//   maths_check            n <= 4096 and n = 8192 .. 65536, ten million atan2 inputs
//   maths_check --quick    n <= 512 and n = 65536, one million atan2 inputs
//   maths_check --full     every n <= 65536 (about 4.3e9 angles: some 12 core-hours)
#include <mpfr.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "../src/core/maths/accurate.hpp"
#include "../src/core/maths/maths.hpp"
#include "../src/core/phase_hvec/angles.hpp"

namespace {

struct Counts {
    std::uint64_t checked = 0;
    std::uint64_t mismatched = 0;
};

bool same_bits(double a, double b) {
    if (a != a && b != b) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class Reference {
public:
    Reference() {
        mpfr_set_emin(-1073);
        mpfr_set_emax(1024);
        mpfr_inits2(53, r_, x_, y_, static_cast<mpfr_ptr>(nullptr));
    }
    ~Reference() { mpfr_clears(r_, x_, y_, static_cast<mpfr_ptr>(nullptr)); }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    double sin(double x) { return unary(mpfr_sin, x); }
    double cos(double x) { return unary(mpfr_cos, x); }
    double atan2(double y, double x) {
        mpfr_set_d(y_, y, MPFR_RNDN);
        mpfr_set_d(x_, x, MPFR_RNDN);
        const int t = mpfr_atan2(r_, y_, x_, MPFR_RNDN);
        mpfr_subnormalize(r_, t, MPFR_RNDN);
        return mpfr_get_d(r_, MPFR_RNDN);
    }

private:
    double unary(int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t), double x) {
        mpfr_set_d(x_, x, MPFR_RNDN);
        const int t = f(r_, x_, MPFR_RNDN);
        mpfr_subnormalize(r_, t, MPFR_RNDN);
        return mpfr_get_d(r_, MPFR_RNDN);
    }
    mpfr_t r_, x_, y_;
};

void report(const char* what, double input_y, double input_x, double got, double want, Counts& c) {
    ++c.checked;
    if (same_bits(got, want)) return;
    if (++c.mismatched <= 10) {
        std::printf("MISMATCH %s(%a, %a): got %a, MPFR %a\n", what, input_y, input_x, got, want);
    }
}

void check_angle(Reference& ref, double x, Counts& c) {
    double s, co;
    verrakin::maths::sincos(x, s, co);
    const double want_s = ref.sin(x);
    const double want_c = ref.cos(x);
    report("sin", x, 0, verrakin::maths::sin(x), want_s, c);
    report("cos", x, 0, verrakin::maths::cos(x), want_c, c);
    report("sincos.sin", x, 0, s, want_s, c);
    report("sincos.cos", x, 0, co, want_c, c);
}

void check_grid(Reference& ref, std::uint32_t n, Counts& c) {
    for (std::uint32_t k = 0; k < n; ++k) {
        const double a = verrakin::level_angle(static_cast<double>(k), static_cast<double>(n));
        check_angle(ref, a, c);
        check_angle(ref, -a, c);
    }
}

std::uint64_t state = 0x9E3779B97F4A7C15ull;
std::uint64_t next_random() {  // splitmix64
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
double random_unit() { return static_cast<double>(next_random() >> 11) * 0x1p-53; }
double random_bits() {
    const std::uint64_t b = next_random();
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

void check_atan2(Reference& ref, double y, double x, Counts& c) {
    report("atan2", y, x, verrakin::maths::atan2(y, x), ref.atan2(y, x), c);
}

void check_atan2_battery(Reference& ref, std::uint64_t per_kind, Counts& c) {
    const double specials[] = {0.0, -0.0, 0x1p-1074, -0x1p-1074, 0x1p-1022, 0x1.fffffffffffffp-1023,
                               1.0, -1.0, 0x1.fffffffffffffp1023, -0x1.fffffffffffffp1023,
                               1.0 / 0.0, -1.0 / 0.0, 0.0 / 0.0, 3.0, -5.0, 0x1p-600, 0x1p600};
    for (double y : specials) {
        for (double x : specials) check_atan2(ref, y, x, c);
    }
    for (std::uint64_t i = 0; i < per_kind; ++i) {
        // Random bit patterns: every exponent, subnormals, infinities, NaN.
        check_atan2(ref, random_bits(), random_bits(), c);
        // Integer pairs of bundle magnitude (up to 16384 per item, 2^10 items).
        const double scale = static_cast<double>(1u << (next_random() % 25));
        check_atan2(ref, static_cast<double>(static_cast<std::int64_t>((random_unit() * 2 - 1) * scale)),
                    static_cast<double>(static_cast<std::int64_t>((random_unit() * 2 - 1) * scale)), c);
        // Directions within 1e-9 of a half level at resolution n, as doubles and
        // as the nearest integer sums of bundle magnitude.
        const std::uint32_t n = 2 + static_cast<std::uint32_t>(next_random() % 65535);
        const double half = static_cast<double>(next_random() % n) + 0.5;
        const double t = half + (random_unit() * 2 - 1) * 1e-9;
        const double angle = (t / static_cast<double>(n)) * verrakin::kTwoPi;
        const double radius = 1.0 + random_unit() * 16384.0 * 1024.0;
        const double px = radius * ref.cos(angle);
        const double py = radius * ref.sin(angle);
        check_atan2(ref, py, px, c);
        check_atan2(ref, static_cast<double>(static_cast<std::int64_t>(py)),
                    static_cast<double>(static_cast<std::int64_t>(px)), c);
        // Axes and near-axes, signed zeros, huge and tiny ratios, subnormals.
        const double m = random_unit() + 0.5;
        const int e1 = static_cast<int>(next_random() % 2098) - 1074;
        const int e2 = static_cast<int>(next_random() % 2098) - 1074;
        double a = m, b = random_unit() + 0.5;
        for (int k = 0; k < (e1 < 0 ? -e1 : e1); ++k) a = e1 < 0 ? a * 0.5 : (a * 2 > 0x1p1023 ? a : a * 2);
        for (int k = 0; k < (e2 < 0 ? -e2 : e2); ++k) b = e2 < 0 ? b * 0.5 : (b * 2 > 0x1p1023 ? b : b * 2);
        const double sy = (next_random() & 1) ? -1.0 : 1.0;
        const double sx = (next_random() & 1) ? -1.0 : 1.0;
        check_atan2(ref, sy * a, sx * b, c);
        check_atan2(ref, sy * a, sx * 0.0, c);
        check_atan2(ref, sy * 0.0, sx * b, c);
    }
}

/// Random finite doubles of every exponent through the public functions (|x|
/// >= 2^20 takes the accurate reduction) and through the accurate paths alone.
void check_accurate_paths(Reference& ref, std::uint64_t count, Counts& c) {
    for (std::uint64_t i = 0; i < count; ++i) {
        double x = random_bits();
        if (!(x - x == 0.0)) continue;
        check_angle(ref, x, c);
        const double small = (random_unit() * 2 - 1) * 16.0;  // the range the system forms
        for (double v : {x, small}) {
            const double av = v < 0 ? -v : v;
            if (av < 0x1p-27) continue;
            double s, co;
            verrakin::maths::detail::accurate_sin_cos(v, &s, &co);
            report("accurate sin", v, 0, s, ref.sin(v), c);
            report("accurate cos", v, 0, co, ref.cos(v), c);
        }
        const double y = random_bits();
        const double x2 = (i % 2) ? random_bits() : (random_unit() * 2 - 1) * 4096.0;
        const double y2 = (i % 2) ? (random_unit() * 2 - 1) * 4096.0 : y;
        for (auto [py, px] : {std::pair{y, x}, std::pair{y2, x2}}) {
            if (!(py - py == 0.0) || !(px - px == 0.0) || py == 0 || px == 0) continue;
            report("accurate atan2", py, px, verrakin::maths::detail::accurate_atan2(py, px), ref.atan2(py, px), c);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    std::printf("maths: %s\n", verrakin::maths::implementation_name());
    Reference ref;
    Counts grid, atan;
    std::uint32_t dense = mode == "--quick" ? 512 : mode == "--full" ? 65536 : 4096;
    for (std::uint32_t n = 1; n <= dense; ++n) check_grid(ref, n, grid);
    for (std::uint32_t n : {8192u, 16384u, 32768u, 65536u}) {
        if (n > dense && (mode != "--quick" || n == 65536u)) check_grid(ref, n, grid);
    }
    std::printf("sin/cos/sincos on grid angles and their negatives (n <= %u and powers of two to 65536): "
                "%llu checked, %llu mismatched\n",
                dense, static_cast<unsigned long long>(grid.checked),
                static_cast<unsigned long long>(grid.mismatched));
    const std::uint64_t per_kind = mode == "--quick" ? 150000 : 1500000;  // 7 inputs each
    check_atan2_battery(ref, per_kind, atan);
    std::printf("atan2: %llu checked, %llu mismatched\n", static_cast<unsigned long long>(atan.checked),
                static_cast<unsigned long long>(atan.mismatched));
    Counts accurate;
    check_accurate_paths(ref, mode == "--quick" ? 20000 : 200000, accurate);
    std::printf("random arguments of every exponent and the accurate paths alone: %llu checked, %llu mismatched\n",
                static_cast<unsigned long long>(accurate.checked),
                static_cast<unsigned long long>(accurate.mismatched));
    return grid.mismatched + atan.mismatched + accurate.mismatched == 0 ? 0 : 1;
}
