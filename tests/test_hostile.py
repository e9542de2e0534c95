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


# --- calls at interpreter shutdown ---------------------------------------------------


def outcome(call):
    """What a call gives, as text: its result, or its exception's type and text."""
    try:
        result = call()
    except BaseException as error:  # noqa: BLE001 - the outcome is compared as text
        return f"{type(error).__name__}: {error}"
    if type(result) is PhaseHVec:
        return f"PhaseHVec {result.phases()}"
    return repr(result)


SHUTDOWN_SCRIPT = """
import os
from operations import catalogue

class Late:
    def __init__(self, names):
        self.names = names

    def __del__(self):
        calls = dict(catalogue())
        for name in self.names:
            os.write(1, (name + " -> " + outcome(calls[name]) + "\\n").encode())

late = [Late({names!r})]
"""


def catalogue_outcomes(names):
    from operations import catalogue

    calls = dict(catalogue())
    return "".join(f"{name} -> {outcome(calls[name])}\n" for name in names)


@settings(max_examples=12, deadline=None, suppress_health_check=list(HealthCheck))
@given(st.lists(st.sampled_from([name for name, _ in __import__("operations").catalogue()]), min_size=1,
                max_size=8))
def test_calls_from_finalizers_at_shutdown_behave_as_at_any_time(names):
    # Module globals are finalized after the interpreter stops counting as
    # initialized: the calls there must give what they give at any other time.
    import inspect
    import os
    import subprocess
    import sys
    import textwrap

    tests = os.path.dirname(os.path.abspath(__file__))
    script = inspect.getsource(outcome) + textwrap.dedent(SHUTDOWN_SCRIPT.format(names=names))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([tests, os.environ.get("PYTHONPATH", "")]))
    done = subprocess.run([sys.executable, "-c", "from verrakin import PhaseHVec\n" + script], env=env,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout == catalogue_outcomes(names)


# --- interrupts delivered during calls -----------------------------------------------


class Interrupted(Exception):
    """Raised by the test's signal handler."""


# Calls of a few tens of milliseconds; the resonator's problem never settles.
LONG_BOOKS = [[R(48, 3, 46000 + f * 100 + m) for m in range(8)] for f in range(3)]
LONG_COMPOSITE = LONG_BOOKS[0][1].bind(LONG_BOOKS[1][2]).bind(LONG_BOOKS[2][2])
LONG_ITEMS = [R(2**20, 16, seed) for seed in range(3)]
LONG_PAIR = [R(2**23, 16, seed) for seed in range(2)]
LONG_CALLS = {
    "resonator": lambda: resonator_factorize(LONG_COMPOSITE, LONG_BOOKS, 10000),
    "bundle": lambda: PhaseHVec.bundle(LONG_ITEMS * 20),
    "pair bundle": lambda: PhaseHVec.bundle(LONG_PAIR),
    "random": lambda: R(2**24, 251, 9),
}
PROBES = {}


def long_outcome(call):
    """outcome() with a vector shown by its similarities to two probes of its
    shape (bit for bit), which are far cheaper than its millions of levels."""
    def fingerprint():
        result = call()
        if type(result) is not PhaseHVec:
            return result
        key = (result.dim, result.n)
        if key not in PROBES:
            PROBES[key] = (R(*key, 1), R(*key, 2))
        return key, [result.similarity(probe).hex() for probe in PROBES[key]]
    return outcome(fingerprint)


LONG_RESULTS = {name: long_outcome(call) for name, call in LONG_CALLS.items()}


@settings(max_examples=30, deadline=None, suppress_health_check=list(HealthCheck))
@given(st.sampled_from(sorted(LONG_CALLS)), st.floats(0.0001, 0.04))
def test_interrupt_delivered_during_a_call(name, delay):
    # The handler's exception stops the call, or the call ends first: either
    # way no result differs from the uninterrupted one by a bit, and nothing
    # given to the call changes.
    import signal

    armed = [True]

    def handler(signum, frame):
        if armed[0]:
            raise Interrupted

    previous = signal.signal(signal.SIGALRM, handler)
    result = None
    try:
        try:
            signal.setitimer(signal.ITIMER_REAL, delay)
            try:
                result = long_outcome(LONG_CALLS[name])
            finally:
                signal.setitimer(signal.ITIMER_REAL, 0)
        except Interrupted:
            pass
        armed[0] = False
    finally:
        signal.signal(signal.SIGALRM, previous)
    assert result in (None, LONG_RESULTS[name], "Interrupted: ")
    assert long_outcome(LONG_CALLS[name]) == LONG_RESULTS[name]
    assert [(v.dim, v.n, v.phases()) for v in VECTORS] == SNAPSHOT
