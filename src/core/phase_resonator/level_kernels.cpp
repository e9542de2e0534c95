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

// The one dispatch point of each kernel. Fast paths read the grid's table, so
// a grid that computes its phasors on demand always takes the reference.
void level_dots(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                const double* b_re, const double* b_im, std::size_t length, double* out) {
    const Isa isa = grid.tabled() ? active_isa() : Isa::scalar;
    switch (isa) {
#if VK_X86_64
        case Isa::avx512: return detail::level_dots_avx512(entries, count, grid, b_re, b_im, length, out);
        case Isa::avx2: return detail::level_dots_avx2(entries, count, grid, b_re, b_im, length, out);
#else
        case Isa::avx512:
        case Isa::avx2:
#endif
        case Isa::scalar: break;
    }
    detail::level_dots_scalar(entries, count, grid, b_re, b_im, length, out);
}

void level_superpose(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                     const double* weights, std::size_t length, double* acc_re, double* acc_im) {
    const Isa isa = grid.tabled() ? active_isa() : Isa::scalar;
    switch (isa) {
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
