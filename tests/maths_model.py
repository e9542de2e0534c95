"""cos, sin and atan2 as the extension computes them, for the model.

The default build rounds every result correctly: here MPFR (through gmpy2) at
53 bits with the double exponent range and subnormals gives those values. A
build with VERRAKIN_MATH=platform calls the C library instead, as Python's
math module does. `follow(verrakin)` picks the one the installed extension
matches, from a single-dimension similarity (which is exactly a cosine) at an
angle where the two differ.
"""

import functools
import math

import gmpy2

_IEEE_DOUBLE = gmpy2.ieee(64)
TWO_PI = 6.283185307179586


@functools.lru_cache(maxsize=1 << 16)
def correctly_rounded_cos(x):
    return float(_IEEE_DOUBLE.cos(x))


@functools.lru_cache(maxsize=1 << 16)
def correctly_rounded_sin(x):
    return float(_IEEE_DOUBLE.sin(x))


def correctly_rounded_atan2(y, x):
    if math.isnan(x) or math.isnan(y):
        return math.nan
    return float(_IEEE_DOUBLE.atan2(y, x))


class _Choice:
    platform = False


def cos(x):
    return math.cos(x) if _Choice.platform else correctly_rounded_cos(x)


def sin(x):
    return math.sin(x) if _Choice.platform else correctly_rounded_sin(x)


def atan2(y, x):
    return math.atan2(y, x) if _Choice.platform else correctly_rounded_atan2(y, x)


def discriminating_level():
    """(k, n) whose level angle has a platform cosine that is not correctly
    rounded, or None when this C library gets all those tried right."""
    for n in range(2, 1025):
        for k in range(n):
            a = (float(k) * TWO_PI) / float(n)
            if math.cos(a) != correctly_rounded_cos(a):
                return k, n
    return None


def follow(verrakin_module):
    """Use the maths the installed extension uses; returns "platform" or
    "correctly rounded"."""
    found = discriminating_level()
    if found is None:
        _Choice.platform = False
        return "correctly rounded"
    k, n = found
    import helpers  # noqa: PLC0415 (helpers imports the model)

    got = helpers.vec([k], n).similarity(helpers.vec([0], n))
    a = (float(k) * TWO_PI) / float(n)
    assert got in (math.cos(a), correctly_rounded_cos(a)), (k, n, got)
    _Choice.platform = got == math.cos(a)
    return "platform" if _Choice.platform else "correctly rounded"


def uses_platform():
    return _Choice.platform
