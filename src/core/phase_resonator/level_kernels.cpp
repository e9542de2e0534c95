#include "level_kernels.hpp"

#include "../cpu/isa.hpp"

namespace verrakin {
namespace detail {

// A tabled grid is read directly: the values phasor() would return, without a
// branch per element.
void level_dots_scalar(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                       const double* b_re, const double* b_im, std::size_t length, double* out) {
    const double* cos = grid.cosines();
    const double* sin = grid.sines();
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint16_t* levels = entries[j];
        double sum = 0.0;
        for (std::size_t i = 0; i < length; ++i) {
            double re, im;
            if (cos != nullptr) {
                re = cos[levels[i]];
                im = sin[levels[i]];
            } else {
                grid.phasor(levels[i], re, im);
            }
            const double term = re * b_re[i] + im * b_im[i];
            sum = sum + term;
        }
        out[j] = sum;
    }
}

void level_superpose_scalar(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                            const double* weights, std::size_t length, double* acc_re, double* acc_im) {
    const double* cos = grid.cosines();
    const double* sin = grid.sines();
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint16_t* levels = entries[j];
        const double w = weights[j];
        for (std::size_t i = 0; i < length; ++i) {
            double re, im;
            if (cos != nullptr) {
                re = cos[levels[i]];
                im = sin[levels[i]];
            } else {
                grid.phasor(levels[i], re, im);
            }
            acc_re[i] = re * w + acc_re[i];
            acc_im[i] = im * w + acc_im[i];
        }
    }
}

}  // namespace detail

namespace {

// Measured choices (bench/level_kernel_times.cpp, on an AVX-512 Intel core with
// the AVX2 path forced as well): the AVX-512 kernels win only up to 32 levels,
// where their tables sit in registers; beyond, the AVX2 kernels' table loads
// beat their gathers. A vector dot block fills four or eight lanes, so for
// fewer than three entries the step-by-step dots are faster.
constexpr std::uint32_t kAvx512MaxResolution = 32;
constexpr std::size_t kMinVectorEntries = 3;

Isa level_kernel_isa(const GridPhasors& grid) noexcept {
    if (!grid.tabled()) return Isa::scalar;
    const Isa isa = active_isa();
    if (isa == Isa::avx512 && grid.resolution() > kAvx512MaxResolution) return Isa::avx2;
    return isa;
}

}  // namespace

// The one dispatch point of each kernel. Fast paths read the grid's table, so
// a grid that computes its phasors on demand always takes the reference. The
// dots of a last group of fewer than kMinVectorEntries entries take the
// reference too (each entry's dot is its own sum, so the split changes no bit).
void level_dots(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                const double* b_re, const double* b_im, std::size_t length, double* out) {
    const Isa isa = level_kernel_isa(grid);
    const std::size_t spare = count % 8;
    const std::size_t vectored = isa == Isa::scalar ? 0 : spare < kMinVectorEntries ? count - spare : count;
#if VK_X86_64
    if (vectored > 0) {
        if (isa == Isa::avx512) {
            detail::level_dots_avx512(entries, vectored, grid, b_re, b_im, length, out);
        } else {
            detail::level_dots_avx2(entries, vectored, grid, b_re, b_im, length, out);
        }
    }
#endif
    if (vectored < count) {
        detail::level_dots_scalar(entries + vectored, count - vectored, grid, b_re, b_im, length, out + vectored);
    }
}

void interleave_dot_vectors(const double* a_re, const double* a_im, const double* b_re, const double* b_im,
                            std::size_t length, double* out) noexcept {
    for (std::size_t i = 0; i < length; ++i) {
        out[4 * i] = a_re[i];
        out[4 * i + 1] = a_im[i];
        out[4 * i + 2] = b_re[i];
        out[4 * i + 3] = b_im[i];
    }
}

// Only the AVX2 kernel reads the levels once for both vectors; the AVX-512
// dots (small grids, tables in registers) are fast enough run twice. The AVX2
// kernel takes four entries at a time: a last single entry is cheaper step by
// step, a last two or three fill a block of four better.
void level_dots_twice(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                      const DotVectors& vectors, std::size_t length, double* out_a, double* out_b) {
#if VK_X86_64
    if (level_kernel_isa(grid) == Isa::avx2) {
        const std::size_t vectored = count % 4 == 1 ? count - 1 : count;
        detail::level_dots_twice_avx2(entries, vectored, grid, vectors.interleaved, length, out_a, out_b);
        entries += vectored;
        count -= vectored;
        out_a += vectored;
        out_b += vectored;
    }
#endif
    level_dots(entries, count, grid, vectors.a_re, vectors.a_im, length, out_a);
    level_dots(entries, count, grid, vectors.b_re, vectors.b_im, length, out_b);
}

void level_superpose(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                     const double* weights, std::size_t length, double* acc_re, double* acc_im) {
    switch (level_kernel_isa(grid)) {
#if VK_X86_64
        case Isa::avx512:
            return detail::level_superpose_avx512(entries, count, grid, weights, length, acc_re, acc_im);
        case Isa::avx2: return detail::level_superpose_avx2(entries, count, grid, weights, length, acc_re, acc_im);
#else
        case Isa::avx512:
        case Isa::avx2:
#endif
        case Isa::scalar: break;
    }
    detail::level_superpose_scalar(entries, count, grid, weights, length, acc_re, acc_im);
}

}  // namespace verrakin
