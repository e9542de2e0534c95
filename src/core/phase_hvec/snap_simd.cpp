// The snapping rule with 4 (AVX2) or 8 (AVX-512) positions per register.
//
// Each lane performs exactly the operations of snap_to_level (angles.hpp), in
// the same order and with the same roundings (no fused multiply-add), so every
// lane's approximate t, and with it every decision, has the scalar's bits. Lanes
// on an axis get the exact angle as the scalar does; lanes with a non-finite
// coordinate or t near a half level, and any lane whose level would leave
// [0, n), are finished by snap_to_level.
#include <immintrin.h>

#include "../platform/compiler.hpp"

VK_ALLOW_UNDEFINED_INTRINSIC_OPERANDS

#include <bit>
#include <limits>

#include "../cpu/isa.hpp"
#include "angles.hpp"
#include "snap.hpp"

namespace verrakin::detail {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kNearHalf = 1e-7;

}  // namespace

VK_TARGET_AVX2 void snap_levels_avx2(const double* y, const double* x, std::uint16_t* out, std::size_t count,
                                     std::uint32_t n) noexcept {
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d infinity = _mm256_set1_pd(std::numeric_limits<double>::infinity());
    const __m256d zero = _mm256_setzero_pd();
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d factor = _mm256_set1_pd(static_cast<double>(n) / kTwoPi);
    const __m256d resolution = _mm256_set1_pd(static_cast<double>(n));
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d vy = _mm256_loadu_pd(y + i);
        const __m256d vx = _mm256_loadu_pd(x + i);
        const __m256d ax = _mm256_andnot_pd(sign, vx);
        const __m256d ay = _mm256_andnot_pd(sign, vy);
        const __m256d finite =
            _mm256_and_pd(_mm256_cmp_pd(ax, infinity, _CMP_LT_OQ), _mm256_cmp_pd(ay, infinity, _CMP_LT_OQ));
        const __m256d regular = _mm256_and_pd(
            finite, _mm256_and_pd(_mm256_cmp_pd(vx, zero, _CMP_NEQ_OQ), _mm256_cmp_pd(vy, zero, _CMP_NEQ_OQ)));
        const __m256d axis = _mm256_andnot_pd(regular, finite);
        const __m256d x_smaller = _mm256_cmp_pd(ax, ay, _CMP_LT_OQ);
        const __m256d low = _mm256_blendv_pd(ay, ax, x_smaller);
        const __m256d high = _mm256_blendv_pd(ax, ay, x_smaller);
        // Irregular lanes index entry 0 (their u may be NaN).
        const __m256d u = _mm256_and_pd(_mm256_div_pd(low, high), regular);
        const __m128i j = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(u, _mm256_set1_pd(64.0)), _mm256_set1_pd(0.5)));
        const __m256d c = _mm256_mul_pd(_mm256_cvtepi32_pd(j), _mm256_set1_pd(0.015625));
        const __m256d d = _mm256_div_pd(_mm256_sub_pd(u, c), _mm256_add_pd(one, _mm256_mul_pd(u, c)));
        const __m256d d2 = _mm256_mul_pd(d, d);
        __m256d series = _mm256_sub_pd(_mm256_set1_pd(1.0 / 5.0), _mm256_mul_pd(d2, _mm256_set1_pd(1.0 / 7.0)));
        series = _mm256_sub_pd(_mm256_set1_pd(1.0 / 3.0), _mm256_mul_pd(d2, series));
        series = _mm256_sub_pd(one, _mm256_mul_pd(d2, series));
        series = _mm256_mul_pd(d, series);
        __m256d a = _mm256_add_pd(_mm256_i32gather_pd(atan_table.data(), j, 8), series);
        a = _mm256_blendv_pd(a, _mm256_sub_pd(_mm256_set1_pd(kHalfPi), a), _mm256_cmp_pd(ay, ax, _CMP_GT_OQ));
        a = _mm256_blendv_pd(a, _mm256_sub_pd(_mm256_set1_pd(kPi), a), _mm256_cmp_pd(vx, zero, _CMP_LT_OQ));
        a = _mm256_or_pd(_mm256_andnot_pd(sign, a), _mm256_and_pd(sign, vy));
        const __m256d v = _mm256_add_pd(_mm256_mul_pd(a, factor), _mm256_set1_pd(65536.5));
        const __m256d whole = _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m256d fraction = _mm256_sub_pd(v, whole);
        __m256d level = _mm256_sub_pd(whole, _mm256_set1_pd(65536.0));
        level = _mm256_add_pd(level, _mm256_and_pd(_mm256_cmp_pd(level, zero, _CMP_LT_OQ), resolution));
        __m256d good = _mm256_and_pd(
            _mm256_and_pd(regular, _mm256_and_pd(_mm256_cmp_pd(fraction, _mm256_set1_pd(kNearHalf), _CMP_GE_OQ),
                                                 _mm256_cmp_pd(fraction, _mm256_set1_pd(1.0 - kNearHalf), _CMP_LE_OQ))),
            _mm256_and_pd(_mm256_cmp_pd(level, zero, _CMP_GE_OQ), _mm256_cmp_pd(level, resolution, _CMP_LT_OQ)));
        {
            // As in the AVX-512 kernel: exact angles on the axes, exact rounding of t.
            const __m256d y_zero = _mm256_cmp_pd(vy, zero, _CMP_EQ_OQ);
            const __m256d on_x_axis = _mm256_blendv_pd(zero, _mm256_set1_pd(0.5), vx);  // by the sign bit of x
            const __m256d quotient = _mm256_blendv_pd(_mm256_set1_pd(0.25), on_x_axis, y_zero);
            const __m256d t = _mm256_mul_pd(_mm256_or_pd(quotient, _mm256_and_pd(sign, vy)), resolution);
            const __m256d half = _mm256_or_pd(_mm256_set1_pd(0.5), _mm256_and_pd(sign, t));
            __m256d k = _mm256_round_pd(_mm256_add_pd(t, half), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
            k = _mm256_add_pd(k, _mm256_and_pd(_mm256_cmp_pd(k, zero, _CMP_LT_OQ), resolution));
            level = _mm256_blendv_pd(level, k, axis);
            good = _mm256_or_pd(good, axis);
        }
        const __m128i levels = _mm256_cvttpd_epi32(_mm256_and_pd(level, good));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi32(levels, levels));
        for (unsigned rest = static_cast<unsigned>(~_mm256_movemask_pd(good)) & 0xFu; rest != 0; rest &= rest - 1) {
            const std::size_t lane = i + static_cast<unsigned>(std::countr_zero(rest));
            out[lane] = static_cast<std::uint16_t>(snap_to_level(y[lane], x[lane], n));
        }
    }
    snap_levels_scalar(y + i, x + i, out + i, count - i, n);
}

// The 65 entries of atan_table in registers: four two-register permutes cover
// entries 0..63, entry 64 (j = 64, u = 1) is a broadcast. Faster than a gather.
struct AtanTable512 {
    __m512d entries[8];
    __m512d last;
};

VK_TARGET_AVX512 inline AtanTable512 load_atan_table_avx512() {
    AtanTable512 table;
    for (int r = 0; r < 8; ++r) table.entries[r] = _mm512_loadu_pd(atan_table.data() + 8 * r);
    table.last = _mm512_set1_pd(atan_table[64]);
    return table;
}

VK_TARGET_AVX512 inline __m512d atan_table_avx512(const AtanTable512& table, __m256i j) {
    const __m512i index = _mm512_cvtepi32_epi64(j);
    const __m512i group = _mm512_srli_epi64(index, 4);
    __m512d value = _mm512_permutex2var_pd(table.entries[0], index, table.entries[1]);
    for (int g = 1; g < 4; ++g) {
        const __mmask8 in_group = _mm512_cmpeq_epi64_mask(group, _mm512_set1_epi64(g));
        value = _mm512_mask_mov_pd(value, in_group,
                                   _mm512_permutex2var_pd(table.entries[2 * g], index, table.entries[2 * g + 1]));
    }
    return _mm512_mask_mov_pd(value, _mm512_cmpeq_epi64_mask(group, _mm512_set1_epi64(4)), table.last);
}

VK_TARGET_AVX512 void snap_levels_avx512(const double* y, const double* x, std::uint16_t* out, std::size_t count,
                                         std::uint32_t n) noexcept {
    const __m512d sign = _mm512_set1_pd(-0.0);
    const __m512d infinity = _mm512_set1_pd(std::numeric_limits<double>::infinity());
    const __m512d zero = _mm512_setzero_pd();
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d factor = _mm512_set1_pd(static_cast<double>(n) / kTwoPi);
    const __m512d resolution = _mm512_set1_pd(static_cast<double>(n));
    const AtanTable512 table = load_atan_table_avx512();
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m512d vy = _mm512_loadu_pd(y + i);
        const __m512d vx = _mm512_loadu_pd(x + i);
        const __m512d ax = _mm512_andnot_pd(sign, vx);
        const __m512d ay = _mm512_andnot_pd(sign, vy);
        const __mmask8 finite = _mm512_cmp_pd_mask(ax, infinity, _CMP_LT_OQ) & _mm512_cmp_pd_mask(ay, infinity, _CMP_LT_OQ);
        const __mmask8 regular = finite & _mm512_cmp_pd_mask(vx, zero, _CMP_NEQ_OQ) & _mm512_cmp_pd_mask(vy, zero, _CMP_NEQ_OQ);
        const __mmask8 axis = finite & static_cast<__mmask8>(~regular);
        const __mmask8 x_smaller = _mm512_cmp_pd_mask(ax, ay, _CMP_LT_OQ);
        const __m512d low = _mm512_mask_blend_pd(x_smaller, ay, ax);
        const __m512d high = _mm512_mask_blend_pd(x_smaller, ax, ay);
        const __m512d u = _mm512_div_pd(low, high);
        const __m256i j = _mm512_maskz_cvttpd_epi32(
            regular, _mm512_add_pd(_mm512_mul_pd(u, _mm512_set1_pd(64.0)), _mm512_set1_pd(0.5)));
        const __m512d c = _mm512_mul_pd(_mm512_cvtepi32_pd(j), _mm512_set1_pd(0.015625));
        const __m512d d = _mm512_div_pd(_mm512_sub_pd(u, c), _mm512_add_pd(one, _mm512_mul_pd(u, c)));
        const __m512d d2 = _mm512_mul_pd(d, d);
        __m512d series = _mm512_sub_pd(_mm512_set1_pd(1.0 / 5.0), _mm512_mul_pd(d2, _mm512_set1_pd(1.0 / 7.0)));
        series = _mm512_sub_pd(_mm512_set1_pd(1.0 / 3.0), _mm512_mul_pd(d2, series));
        series = _mm512_sub_pd(one, _mm512_mul_pd(d2, series));
        series = _mm512_mul_pd(d, series);
        __m512d a = _mm512_add_pd(atan_table_avx512(table, j), series);
        const __mmask8 steep = _mm512_cmp_pd_mask(ay, ax, _CMP_GT_OQ);
        a = _mm512_mask_sub_pd(a, steep, _mm512_set1_pd(kHalfPi), a);
        const __mmask8 left = _mm512_cmp_pd_mask(vx, zero, _CMP_LT_OQ);
        a = _mm512_mask_sub_pd(a, left, _mm512_set1_pd(kPi), a);
        a = _mm512_or_pd(_mm512_andnot_pd(sign, a), _mm512_and_pd(sign, vy));
        const __m512d v = _mm512_add_pd(_mm512_mul_pd(a, factor), _mm512_set1_pd(65536.5));
        const __m512d whole = _mm512_roundscale_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m512d fraction = _mm512_sub_pd(v, whole);
        __m512d level = _mm512_sub_pd(whole, _mm512_set1_pd(65536.0));
        level = _mm512_mask_add_pd(level, _mm512_cmp_pd_mask(level, zero, _CMP_LT_OQ), level, resolution);
        __mmask8 good = regular & _mm512_cmp_pd_mask(fraction, _mm512_set1_pd(kNearHalf), _CMP_GE_OQ) &
                        _mm512_cmp_pd_mask(fraction, _mm512_set1_pd(1.0 - kNearHalf), _CMP_LE_OQ) &
                        _mm512_cmp_pd_mask(level, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(level, resolution, _CMP_LT_OQ);
        {
            // On an axis the angle a is exact (axis_atan2): 0, pi/2 or pi rounded,
            // signed as y, and a / 2pi is exactly 0, 1/4 or 1/2 with that sign. So
            // t = (a / 2pi) n is a multiple of 1/4 below 2^15, t + copysign(0.5, t)
            // is exact and its truncation is t rounded half away from zero.
            // Computed for every lane, without a branch the data would decide.
            const __mmask8 y_zero = _mm512_cmp_pd_mask(vy, zero, _CMP_EQ_OQ);
            const __mmask8 x_negative = _mm512_movepi64_mask(_mm512_castpd_si512(vx));
            const __m512d on_x_axis = _mm512_mask_blend_pd(x_negative, zero, _mm512_set1_pd(0.5));
            const __m512d quotient = _mm512_mask_blend_pd(y_zero, _mm512_set1_pd(0.25), on_x_axis);
            const __m512d t = _mm512_mul_pd(_mm512_or_pd(quotient, _mm512_and_pd(sign, vy)), resolution);
            const __m512d half = _mm512_or_pd(_mm512_set1_pd(0.5), _mm512_and_pd(sign, t));
            __m512d k = _mm512_roundscale_pd(_mm512_add_pd(t, half), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
            k = _mm512_mask_add_pd(k, _mm512_cmp_pd_mask(k, zero, _CMP_LT_OQ), k, resolution);
            level = _mm512_mask_mov_pd(level, axis, k);
            good |= axis;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm256_cvtepi32_epi16(_mm512_maskz_cvttpd_epi32(good, level)));
        for (unsigned rest = static_cast<unsigned>(~good) & 0xFFu; rest != 0; rest &= rest - 1) {
            const std::size_t lane = i + static_cast<unsigned>(std::countr_zero(rest));
            out[lane] = static_cast<std::uint16_t>(snap_to_level(y[lane], x[lane], n));
        }
    }
    snap_levels_scalar(y + i, x + i, out + i, count - i, n);
}

}  // namespace verrakin::detail
