"""Hostile input as a property: every entry point, called with arguments drawn
from a wide pool of odd objects, returns the documented type or raises one of
the documented exceptions (or the exception a user object raised itself), and
leaves every vector it was given unchanged."""

import math

from hypothesis import HealthCheck, given, settings, strategies as st

from verrakin import PhaseHVec, resonator_factorize

R = PhaseHVec.random


class Hostile(Exception):
    """Raised by the user objects below; it must reach the caller unchanged."""


class IndexOf:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IndexRaises:
    def __index__(self):
        raise Hostile("__index__")


class IndexReturnsFloat:
    def __index__(self):
        return 1.5


class LenRaises(list):
    def __len__(self):
        raise Hostile("__len__")


class LenLies(list):
    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        return self.length


class GetitemRaises:
    def __len__(self):
        return 2

    def __getitem__(self, index):
        raise Hostile("__getitem__")


class GetitemLies:
    """Says it has many items, then ends after its real ones."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return 10**12

    def __getitem__(self, index):
        return self.items[index]


class GrowsWhileIterated(list):
    def __iter__(self):
        for item in list.__iter__(self):
            if len(self) < 40:
                self.append(item)
            yield item


class EmptiesWhileIterated(list):
    def __iter__(self):
        for item in list.__iter__(self):
            self.clear()
            yield item


VECTORS = [R(8, 16, 1), R(8, 16, 2), R(0, 16, 0), R(3, 16, 3), R(8, 17, 4), R(8, 2, 5), R(1, 65536, 6)]
SNAPSHOT = [(v.dim, v.n, v.phases()) for v in VECTORS]

ints = st.one_of(
    st.integers(-3, 70),
    st.sampled_from([65535, 65536, 65537, 2**31, 2**32, 2**32 + 1, 2**61, 2**62, 2**63 - 1, 2**63,
                     2**64 - 1, 2**64, 2**100, -1, -(2**63), -(2**63) - 1, -(2**64)]),
)
vectors = st.sampled_from(VECTORS)
scalars = st.one_of(
    ints,
    st.booleans(),
    st.floats(allow_nan=True, allow_infinity=True),
    st.sampled_from([None, "", "ab", b"", b"ab", object(), PhaseHVec, math.nan, 1j]),
    ints.map(IndexOf),
    st.builds(IndexRaises),
    st.builds(IndexReturnsFloat),
)


def containers(inner):
    def with_items(make):
        return st.lists(inner, max_size=4).map(make)

    return st.one_of(
        with_items(list),
        with_items(tuple),
        st.sets(vectors, max_size=2),
        st.dictionaries(st.integers(0, 3), inner, max_size=2),
        with_items(lambda xs: (x for x in xs)),
        with_items(LenRaises),
        st.tuples(st.lists(inner, max_size=3), st.sampled_from([0, 1, 10**10, 2**62, 2**63 - 1])).map(
            lambda pair: LenLies(*pair)),
        st.just(GetitemRaises()),
        with_items(GetitemLies),
        with_items(GrowsWhileIterated),
        with_items(EmptiesWhileIterated),
        st.sampled_from([range(0), range(3), range(10**18)]),
    )


arguments = st.recursive(st.one_of(scalars, vectors), containers, max_leaves=12)

BUILT_IN_ERRORS = (ValueError, TypeError, OverflowError, MemoryError, RuntimeError, RecursionError, Hostile)


def is_panic(error):
    return type(error).__module__ == "pyo3_runtime" and type(error).__name__ == "PanicException"


def check(call, result_ok, panics_allowed):
    try:
        result = call()
    except BaseException as error:  # noqa: BLE001 - classified below
        assert isinstance(error, BUILT_IN_ERRORS) or (panics_allowed and is_panic(error)), repr(error)
    else:
        assert result_ok(result), repr(result)
    assert [(v.dim, v.n, v.phases()) for v in VECTORS] == SNAPSHOT


def is_vector(result):
    return type(result) is PhaseHVec


def is_similarity(result):
    return type(result) is float and (math.isnan(result) or -1.0 <= result <= 1.0)


def is_factorization(result):
    return type(result) is list and all(
        type(pair) is tuple and len(pair) == 2 and type(pair[0]) is int and type(pair[1]) is float
        for pair in result)


def small_dim(dim):
    value = dim.value if isinstance(dim, IndexOf) else dim
    return 7 if isinstance(value, int) and 10**5 < value < 2**61 else dim


HOSTILE = settings(max_examples=100, deadline=None, suppress_health_check=list(HealthCheck))


@HOSTILE
@given(st.lists(arguments, max_size=4), st.dictionaries(st.sampled_from(["dim", "n", "seed", "x"]), arguments,
                                                       max_size=2))
def test_random(args, kwargs):
    # A dim that can be allocated is filled level by level: keep those small.
    if args:
        args[0] = small_dim(args[0])
    if "dim" in kwargs:
        kwargs["dim"] = small_dim(kwargs["dim"])
    check(lambda: R(*args, **kwargs), is_vector, panics_allowed=True)  # capacity overflow


@HOSTILE
@given(vectors, st.sampled_from(["bind", "unbind", "similarity"]), st.lists(arguments, max_size=2),
       st.dictionaries(st.sampled_from(["other", "x"]), arguments, max_size=2))
def test_binary_methods(self, method, args, kwargs):
    ok = is_similarity if method == "similarity" else is_vector
    check(lambda: getattr(self, method)(*args, **kwargs), ok, panics_allowed=False)


@HOSTILE
@given(st.lists(arguments, max_size=2), st.dictionaries(st.sampled_from(["items", "x"]), arguments, max_size=2))
def test_bundle(args, kwargs):
    check(lambda: PhaseHVec.bundle(*args, **kwargs), is_vector, panics_allowed=True)  # dim or n mismatch


@HOSTILE
@given(st.lists(arguments, max_size=4),
       st.dictionaries(st.sampled_from(["composite", "codebooks", "max_iter", "x"]), arguments, max_size=2))
def test_resonator_factorize(args, kwargs):
    # Keep the sweep count of successful calls small.
    if len(args) > 2 and isinstance(args[2], int) and args[2] > 100:
        args[2] = 3
    if isinstance(kwargs.get("max_iter"), int) and kwargs["max_iter"] > 100:
        kwargs["max_iter"] = 3
    check(lambda: resonator_factorize(*args, **kwargs), is_factorization, panics_allowed=True)  # bounds error


@HOSTILE
@given(st.lists(arguments, max_size=2), st.dictionaries(st.sampled_from(["dim", "x"]), arguments, max_size=1))
def test_constructor_and_accessors(args, kwargs):
    check(lambda: PhaseHVec(*args, **kwargs), lambda result: False, panics_allowed=False)
    for v in VECTORS:
        check(lambda: (v.phases(), repr(v), v.dim, v.n),
              lambda result: result == (v.phases(), f"PhaseHVec(dim={v.dim}, n={v.n})", v.dim, v.n),
              panics_allowed=False)
