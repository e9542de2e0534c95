// The resonator's inner loops over codebook entries read in place as 16-bit
// levels: each level's cosine and sine come from the entry's grid table, so no
// entry is ever turned into an array of phasors.
//
// Both kernels give, bit for bit, the step-by-step sums: every dot runs over
// i ascending from +0.0 with term = re * b_re + im * b_im (two rounded products,
// rounded sum), and every accumulator receives its entries in entry order. Fast
// paths only run independent sums side by side (different entries, or different
// positions, in different lanes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "phasor.hpp"

namespace verrakin {

/// out[j] = sum over i < length, ascending, of cos(x) * b_re[i] + sin(x) * b_im[i]
/// with x the angle of entries[j][i] on `grid`. Every entry holds `length` levels.
void level_dots(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                const double* b_re, const double* b_im, std::size_t length, double* out);

/// The two vectors level_dots_twice dots every entry with, each as its own
/// re and im arrays and both interleaved per position as [a_re a_im b_re b_im]
/// (4 * length doubles, best 32-byte aligned): the form the AVX2 kernel reads,
/// one load per position for both vectors.
struct DotVectors {
    const double* a_re;
    const double* a_im;
    const double* b_re;
    const double* b_im;
    const double* interleaved;
};

/// Writes the interleaved form of (a_re, a_im) and (b_re, b_im) into `out`.
void interleave_dot_vectors(const double* a_re, const double* a_im, const double* b_re, const double* b_im,
                            std::size_t length, double* out) noexcept;

/// level_dots against two vectors at once, reading each entry's levels once:
/// out_a as level_dots with (a_re, a_im), out_b with (b_re, b_im), bit for bit.
void level_dots_twice(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                      const DotVectors& vectors, std::size_t length, double* out_a, double* out_b);

/// For j = 0 .. count-1 in order, for every i < length:
/// acc_re[i] = cos(x) * weights[j] + acc_re[i], acc_im[i] = sin(x) * weights[j] + acc_im[i].
/// A weight of 1.0 gives the plain sum, since cos(x) * 1.0 == cos(x) exactly.
void level_superpose(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                     const double* weights, std::size_t length, double* acc_re, double* acc_im);

namespace detail {

// The step-by-step references (any grid, tabled or not) and the fast kernels
// (tabled grids only), exposed for the native differential check.
void level_dots_scalar(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                       const double* b_re, const double* b_im, std::size_t length, double* out);
void level_superpose_scalar(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                            const double* weights, std::size_t length, double* acc_re, double* acc_im);
void level_dots_avx2(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                     const double* b_re, const double* b_im, std::size_t length, double* out);
void level_dots_twice_avx2(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                           const double* interleaved, std::size_t length, double* out_a, double* out_b);
void level_superpose_avx2(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                          const double* weights, std::size_t length, double* acc_re, double* acc_im);
void level_dots_avx512(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                       const double* b_re, const double* b_im, std::size_t length, double* out);
void level_superpose_avx512(const std::uint16_t* const* entries, std::size_t count, const GridPhasors& grid,
                            const double* weights, std::size_t length, double* acc_re, double* acc_im);

/// The superposition of positions [from, length) one at a time, each receiving
/// the entries in entry order: the tail the vector kernels leave (tabled grid).
inline void superpose_tail_positions(const std::uint16_t* const* entries, std::size_t count, const double* cos,
                                     const double* sin, const double* weights, std::size_t from,
                                     std::size_t length, double* acc_re, double* acc_im) noexcept {
    for (std::size_t at = from; at < length; ++at) {
        double re = acc_re[at];
        double im = acc_im[at];
        for (std::size_t j = 0; j < count; ++j) {
            const std::uint16_t level = entries[j][at];
            re = cos[level] * weights[j] + re;
            im = sin[level] * weights[j] + im;
        }
        acc_re[at] = re;
        acc_im[at] = im;
    }
}

}  // namespace detail
}  // namespace verrakin
