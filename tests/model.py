"""Slow, obviously correct pure-Python model of the verrakin algebra and resonator.

Every floating-point step is written out one operation at a time, in the order
the extension performs it; Python floats are IEEE doubles and never fuse a
multiply with an add; cos, sin and atan2 come from maths_model, which follows
the extension's build (correctly rounded by default, or the C library's).
"""

import functools
import math

import maths_model

MASK64 = (1 << 64) - 1
TWO_PI = 6.283185307179586
FOLD_SCALE = 16384.0
GOLDEN = 0x9E3779B97F4A7C15
SEED_MUL = 0xC2B2AE3D27D4EB4F
MIX_MUL = 0xBF58476D1CE4E5B9
NO_INDEX = MASK64


class BoundsPanic(Exception):
    """A bounds-checked element access past the end of a vector."""


def bounds_message(length, index):
    """The text of a refused element access."""
    return f"index out of bounds: the len is {length} but the index is {index}"


def at(seq, i):
    """Element i of seq, refusing any index past the end like the extension."""
    if i >= len(seq):
        raise BoundsPanic(bounds_message(len(seq), i))
    return seq[i]


def round_half_away(x):
    """C's round(): nearest integer, exact halves away from zero."""
    r = abs(x)
    k = math.floor(r)
    if r - k >= 0.5:  # r - floor(r) is exact for every finite double
        k += 1
    return -k if x < 0 else k


# ---------------------------------------------------------------- generator

def random_phases(dim, n, seed):
    """The counter-based generator: phase i depends only on seed, i and n."""
    s = (seed * SEED_MUL) & MASK64
    k = 0
    out = []
    for _ in range(dim):
        t = s ^ k
        t ^= t >> 29
        t = (t * MIX_MUL) & MASK64
        t ^= t >> 32
        out.append(t % n)
        k = (k + GOLDEN) & MASK64
    return out


# ------------------------------------------------------------ element-wise

def bind(a, b, n):
    """Phase addition modulo n."""
    return [(x + y) % n for x, y in zip(a, b)]


def unbind(a, b, n):
    """Phase subtraction modulo n, computed as (n - b + a) mod n."""
    return [(n - y + x) % n for x, y in zip(a, b)]


def similarity(a, b, n):
    """Mean cosine of the unreduced phase differences, summed from -0.0."""
    if len(a) == 0:
        return 1.0
    big_n = float(n)
    total = -0.0
    for x, y in zip(a, b):
        d = float(x) - float(y)
        angle = (d * TWO_PI) / big_n
        total = total + maths_model.cos(angle)
    return total / float(len(a))


# ----------------------------------------------------------------- bundling

def level_angle(k, n):
    """The angle of level k at resolution n: product first, then quotient."""
    return (float(k) * TWO_PI) / float(n)


@functools.lru_cache(maxsize=None)
def level_tables(n):
    """The integer cosine and sine tables of the n levels, radius 16384."""
    cos_t = [round_half_away(maths_model.cos(level_angle(k, n)) * FOLD_SCALE) for k in range(n)]
    sin_t = [round_half_away(maths_model.sin(level_angle(k, n)) * FOLD_SCALE) for k in range(n)]
    return tuple(cos_t), tuple(sin_t)


def snap_level(angle_im_sum, angle_re_sum, n):
    """Turn a direction (y, x) back into the nearest level of resolution n."""
    a = maths_model.atan2(angle_im_sum, angle_re_sum)
    t = (a / TWO_PI) * float(n)
    return round_half_away(t) % n  # Python's % is the Euclidean remainder here


def bundle(items, n):
    """Exact integer fold of equal-length phase lists at resolution n."""
    cos_t, sin_t = level_tables(n)
    dim = len(items[0])
    cos_sum = [0] * dim
    sin_sum = [0] * dim
    for phases in items:
        for i, p in enumerate(phases):
            cos_sum[i] += cos_t[p]
            sin_sum[i] += sin_t[p]
    return [snap_level(float(sin_sum[i]), float(cos_sum[i]), n) for i in range(dim)]


# ---------------------------------------------------------------- resonator

def to_phasors(phases, n):
    """Cosines and sines of each level's angle at the vector's own n."""
    angles = [level_angle(p, n) for p in phases]
    return [maths_model.cos(x) for x in angles], [maths_model.sin(x) for x in angles]


def snap_to_grid(acc_re, acc_im, n):
    """Snap each accumulated direction to resolution n, as phasors."""
    levels = [snap_level(y, x, n) for x, y in zip(acc_re, acc_im)]
    return to_phasors(levels, n)


def phasor_dot(a, b):
    """Raw real inner product over a's length, summed from +0.0 in order."""
    a_re, a_im = a
    b_re, b_im = b
    total = 0.0
    for i in range(len(a_re)):
        term = a_re[i] * at(b_re, i) + a_im[i] * at(b_im, i)
        total = total + term
    return total


def phasor_similarity(a, b):
    """phasor_dot divided by b's length (or by 1 when b is empty)."""
    length = len(b[0])
    return phasor_dot(a, b) / (float(length) if length else 1.0)


def best_match(book, estimate):
    """(index, similarity) of the best entry; ties go to the later entry."""
    if not book:
        return 0, 0.0
    best, best_sim = 0, phasor_similarity(book[0], estimate)
    for j in range(1, len(book)):
        s = phasor_similarity(book[j], estimate)
        if s >= best_sim:
            best, best_sim = j, s
    return best, best_sim


def initial_estimate(book, d, n):
    """The plain superposition of a codebook, snapped to the composite grid."""
    acc_re = [0.0] * d
    acc_im = [0.0] * d
    for e_re, e_im in book:
        for i in range(d):
            acc_re[i] = at(e_re, i) + acc_re[i]
            acc_im[i] = at(e_im, i) + acc_im[i]
    return snap_to_grid(acc_re, acc_im, n)


def unbind_estimate(target, estimate):
    """Multiply target by the complex conjugate of estimate, in place."""
    t_re, t_im = target
    e_re, e_im = estimate
    for i in range(len(t_re)):
        r, s = t_re[i], t_im[i]
        t_re[i] = r * e_re[i] + s * e_im[i]
        t_im[i] = s * e_re[i] - r * e_im[i]


def update_factor(k, comp, books, estimates, n):
    """One factor update: unbind the others, weight, superpose, snap."""
    d = len(comp[0])
    target = (list(comp[0]), list(comp[1]))
    for m, est in enumerate(estimates):
        if m != k:
            unbind_estimate(target, est)
    acc_re = [0.0] * d
    acc_im = [0.0] * d
    for entry in books[k]:
        w = phasor_dot(entry, target)
        e_re, e_im = entry
        for i in range(d):
            acc_re[i] = e_re[i] * w + acc_re[i]
            acc_im[i] = e_im[i] * w + acc_im[i]
    estimates[k] = snap_to_grid(acc_re, acc_im, n)


def factorize(composite_phases, composite_n, codebooks, max_iter):
    """The resonator: list of (index, similarity, iterations, converged)."""
    if not codebooks:
        return []
    n = composite_n
    comp = to_phasors(composite_phases, n)
    books = [[to_phasors(p, en) for p, en in book] for book in codebooks]
    estimates = [initial_estimate(book, len(composite_phases), n) for book in books]
    sweeps, converged = 0, False
    if max_iter > 0:
        previous = [NO_INDEX] * len(books)
        stable = 0
        while True:
            sweeps += 1
            for k in range(len(books)):
                update_factor(k, comp, books, estimates, n)
            current = [best_match(b, e)[0] for b, e in zip(books, estimates)]
            if current == previous:
                if stable > 1:
                    converged = True
                    break
                stable += 1
            else:
                stable = 0
            previous = current
            if sweeps == max_iter:
                break
    return [best_match(b, e) + (sweeps, converged) for b, e in zip(books, estimates)]
