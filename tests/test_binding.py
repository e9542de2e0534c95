"""Argument binding and value conversion: binder messages, integer and vector
conversions, the order in which arguments are checked, and argument notes."""

import itertools
import operator

import pytest

from verrakin import PhaseHVec, resonator_factorize

R = PhaseHVec.random
RF = resonator_factorize
A = PhaseHVec.random(8, 16, 42)
B = PhaseHVec.random(8, 16, 0)

RANGE_ERROR = "n (phase resolution) must be in 2..=65536"
TOO_SMALL = "number too small to fit in target type"
TOO_LARGE = "number too large to fit in target type"
STR_TO_VEC = "Can't extract `str` to `Vec`"
NOT_VEC = "'int' object is not an instance of 'PhaseHVec'"
NAMELESS = "'<failed to extract type name>' object is not an instance of 'PhaseHVec'"


class Index:
    """An object with integer meaning only through __index__; given an
    exception class, its __index__ raises a fresh instance of it."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, type) and issubclass(self.value, BaseException):
            raise self.value("from __index__")
        return self.value

    def __repr__(self):
        return f"Index({self.value!r})"


class Outer:
    class Inner:
        pass


def instance_whose_type_name(qualname):
    """An object whose type answers __qualname__ through `qualname()`."""

    def lookup(cls, name):
        return qualname() if name == "__qualname__" else type.__getattribute__(cls, name)

    return type("Meta", (type,), {"__getattribute__": lookup})("Nameless", (), {})()


class Key(str):
    """A keyword name whose str() differs from its text."""

    def __str__(self):
        return "shown"


class BadKey(str):
    def __str__(self):
        raise RuntimeError("unprintable")


def raises(exc_type, call, message=None):
    with pytest.raises(exc_type) as ei:
        call()
    if message is not None:
        assert str(ei.value) == message and ei.value.args == (message,)
    return ei.value


# --- binder messages ----------------------------------------------------------

PR, PB, RFN = "PhaseHVec.random()", "PhaseHVec.bind()", "resonator_factorize()"
MISSING_1 = "missing 1 required positional argument:"
MISSING_2 = "missing 2 required positional arguments:"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: R(), f"{PR} missing 3 required positional arguments: 'dim', 'n', and 'seed'"),
        (lambda: R(4), f"{PR} {MISSING_2} 'n' and 'seed'"),
        (lambda: R(4, 16), f"{PR} {MISSING_1} 'seed'"),
        (lambda: R(n=16), f"{PR} {MISSING_2} 'dim' and 'seed'"),
        (lambda: R(4, seed=1), f"{PR} {MISSING_1} 'n'"),
        (lambda: A.random(4, 16), f"{PR} {MISSING_1} 'seed'"),  # through an instance
        (lambda: R("s", n=None), f"{PR} {MISSING_1} 'seed'"),  # binding precedes conversion
        (lambda: R(1, 2, 3, 4), f"{PR} takes 3 positional arguments but 4 were given"),
        (lambda: R(1, 2, 3, 4, 5, bogus=1), f"{PR} takes 3 positional arguments but 5 were given"),
        (lambda: R(4, 16, seed=1, extra=2), f"{PR} got an unexpected keyword argument 'extra'"),
        (lambda: R(extra=2), f"{PR} got an unexpected keyword argument 'extra'"),
        (lambda: R(4, 16, 1, dim=3), f"{PR} got multiple values for argument 'dim'"),
        # Keywords are walked in the order given; the first bad one is reported.
        (lambda: R(4, extra=1, dim=2), f"{PR} got an unexpected keyword argument 'extra'"),
        (lambda: R(4, dim=2, extra=1), f"{PR} got multiple values for argument 'dim'"),
        (lambda: R(4, **{Key("bogus"): 1}), f"{PR} got an unexpected keyword argument 'shown'"),
        (lambda: A.bind(), f"{PB} {MISSING_1} 'other'"),
        (lambda: A.bind(B, A), f"{PB} takes 1 positional arguments but 2 were given"),
        (lambda: A.bind(B, other=B), f"{PB} got multiple values for argument 'other'"),
        (lambda: A.bind(5, other=B), f"{PB} got multiple values for argument 'other'"),
        (lambda: A.unbind(), f"PhaseHVec.unbind() {MISSING_1} 'other'"),
        (lambda: A.unbind(B, B, B), "PhaseHVec.unbind() takes 1 positional arguments but 3 were given"),
        (lambda: A.similarity(others=B), "PhaseHVec.similarity() got an unexpected keyword argument 'others'"),
        (lambda: A.similarity(), f"PhaseHVec.similarity() {MISSING_1} 'other'"),
        (lambda: PhaseHVec.bundle(), f"PhaseHVec.bundle() {MISSING_1} 'items'"),
        (lambda: PhaseHVec.bundle([A], [B]), "PhaseHVec.bundle() takes 1 positional arguments but 2 were given"),
        (lambda: PhaseHVec.bundle(item=[A]), "PhaseHVec.bundle() got an unexpected keyword argument 'item'"),
        (lambda: A.bundle([A], items=[A]), "PhaseHVec.bundle() got multiple values for argument 'items'"),
        (lambda: RF(), f"{RFN} {MISSING_2} 'composite' and 'codebooks'"),
        (lambda: RF(max_iter=3), f"{RFN} {MISSING_2} 'composite' and 'codebooks'"),
        (lambda: RF(A), f"{RFN} {MISSING_1} 'codebooks'"),
        (lambda: RF(codebooks=[]), f"{RFN} {MISSING_1} 'composite'"),
        (lambda: RF(1, 2, 3, 4), f"{RFN} takes from 2 to 3 positional arguments but 4 were given"),
        (lambda: RF(A, [], 3, max_iter=4), f"{RFN} got multiple values for argument 'max_iter'"),
        (lambda: RF(A, [], maxiter=4), f"{RFN} got an unexpected keyword argument 'maxiter'"),
    ],
)
def test_binding_messages(call, message, assert_note):
    assert_note(raises(TypeError, call, message), None)


@pytest.mark.parametrize(
    "key, shown, unraisable",
    [
        (BadKey("x"), "<unprintable BadKey object>", RuntimeError),
        ("\udcff", "\udcff", None),  # not encodable, yet printable: str() of a str is itself
        ("seed\0", "seed\0", None),  # names compare as whole byte strings
    ],
    ids=repr,
)
def test_keyword_names_in_messages(key, shown, unraisable, monkeypatch):
    seen = []
    monkeypatch.setattr("sys.unraisablehook", seen.append)
    raises(TypeError, lambda: R(4, 16, **{key: 1}), f"{PR} got an unexpected keyword argument '{shown}'")
    assert [type(u.exc_value) for u in seen] == ([unraisable] if unraisable else [])


@pytest.mark.parametrize("names", list(itertools.permutations(["dim", "n", "seed"])))
def test_random_keywords_in_any_order(names):
    values = {"dim": 4, "n": 16, "seed": 1}
    expected = R(4, 16, 1).phases()
    assert R(**{k: values[k] for k in names}).phases() == expected
    assert R(4, **{k: values[k] for k in names if k != "dim"}).phases() == expected
    assert R(**{Key(k): values[k] for k in names}).phases() == expected  # keys match by text


def test_other_callables_take_keywords():
    assert A.bind(other=B).phases() == A.bind(B).phases()
    assert A.unbind(other=B).phases() == A.unbind(B).phases()
    assert A.similarity(other=B) == A.similarity(B)
    assert PhaseHVec.bundle(items=[A]).phases() == A.phases()
    books = [[A, B]]
    expected = RF(A, books, 7)
    for names in itertools.permutations(["composite", "codebooks", "max_iter"]):
        kwargs = {"composite": A, "codebooks": books, "max_iter": 7}
        assert RF(**{k: kwargs[k] for k in names}) == expected
    assert RF(A, books, max_iter=7) == expected
    assert RF(A, books) == RF(A, books, 50)


# --- integer conversions --------------------------------------------------------


class IntSub(int):
    def __index__(self):
        raise AssertionError("an int subclass is read directly")


@pytest.mark.parametrize(
    "args, same_as",
    [
        ((True, 16, 0), (1, 16, 0)),
        ((4, 16, True), (4, 16, 1)),
        ((Index(7), Index(16), Index(42)), (7, 16, 42)),
        ((IntSub(5), IntSub(16), IntSub(42)), (5, 16, 42)),
        ((3, 65536, 2**64 - 1), (3, 65536, 18446744073709551615)),
        ((3, 65536, Index(2**64 - 1)), (3, 65536, 2**64 - 1)),
        ((0, 2, 0), (0, 2, 0)),
    ],
)
def test_integer_arguments_accepted(args, same_as):
    v, ref = R(*args), R(*same_as)
    assert (v.dim, v.n, v.phases()) == (ref.dim, ref.n, ref.phases())


def test_converted_values_reach_the_generator():
    assert R(3, 65536, 2**64 - 1).phases() == [61144, 41725, 63407]
    assert R(Index(8), Index(16), Index(42)).phases() == [7, 13, 9, 14, 12, 10, 0, 12]
    assert R(IntSub(4), IntSub(65536), IntSub(1)).phases() == [37175, 41823, 57896, 19038]


NOT_INTEGERS = [4.0, None, "4", b"4", [4], Index(4.0), Index("x"), Index(None)]


@pytest.mark.parametrize("bad", NOT_INTEGERS, ids=repr)
@pytest.mark.parametrize("pos, name", [(0, "dim"), (1, "n"), (2, "seed")])
def test_non_integers_refused_with_interpreter_error(bad, pos, name, assert_note):
    with pytest.raises(TypeError) as expected:
        operator.index(bad)
    args = [4, 16, 1]
    args[pos] = bad
    err = raises(TypeError, lambda: R(*args), str(expected.value))
    assert_note(err, name)


@pytest.mark.parametrize("bad", [-1, 2**64, -(2**64), 2**100, Index(-1), Index(2**64)], ids=repr)
@pytest.mark.parametrize("pos, name", [(0, "dim"), (2, "seed")])
def test_unsigned_out_of_range(bad, pos, name, assert_note):
    args = [4, 16, 1]
    args[pos] = bad
    assert_note(raises(OverflowError, lambda: R(*args)), name)


@pytest.mark.parametrize(
    "n, message",
    [
        (-1, TOO_SMALL),
        (Index(-1), TOO_SMALL),
        (-(2**63), TOO_SMALL),
        (2**32, TOO_LARGE),
        (Index(2**32), TOO_LARGE),
        (2**63 - 1, TOO_LARGE),
        # Outside the signed 64-bit range: the interpreter's own error, not the narrowing one.
        (2**63, None),
        (-(2**63) - 1, None),
        (2**64, None),
        (Index(2**63), None),
    ],
    ids=repr,
)
def test_n_conversion_and_narrowing(n, message, assert_note):
    err = raises(OverflowError, lambda: R(4, n, 1), message)
    if message is None:
        assert str(err) not in (TOO_SMALL, TOO_LARGE)
    assert_note(err, "n")


@pytest.mark.parametrize("n", [0, 1, True, 65537, 2**32 - 1, Index(1)], ids=repr)
def test_n_range_checked_after_conversion(n, assert_note):
    assert_note(raises(ValueError, lambda: R(4, n, 1), RANGE_ERROR), None)


@pytest.mark.parametrize(
    "args, exc_type, name",
    [
        ((10, 1, "s"), TypeError, "seed"),
        ((10, -1, "s"), OverflowError, "n"),
        (("s", -1, -1), TypeError, "dim"),
        ((2**64, 2**64, "s"), OverflowError, "dim"),
        ((4, 2**32, -1), OverflowError, "n"),
        ((4, 0, -1), OverflowError, "seed"),
        ((Index(KeyError), Index(LookupError), 0), KeyError, "dim"),
        ((4, Index(LookupError), Index(KeyError)), LookupError, "n"),
    ],
    ids=repr,
)
def test_arguments_checked_in_order(args, exc_type, name, assert_note):
    assert_note(raises(exc_type, lambda: R(*args)), name)


def test_conversion_stops_at_first_failure():
    calls = []

    class Spy:
        def __init__(self, tag, value):
            self.tag, self.value = tag, value

        def __index__(self):
            calls.append(self.tag)
            return self.value

    raises(OverflowError, lambda: R(Spy("dim", 4), Spy("n", -1), Spy("seed", 1)), TOO_SMALL)
    assert calls == ["dim", "n"]
    calls.clear()
    R(seed=Spy("seed", 1), n=Spy("n", 16), dim=Spy("dim", 4))
    assert calls == ["dim", "n", "seed"]


@pytest.mark.parametrize(
    "bad, exc_type", [(None, TypeError), (-1, OverflowError), (1.5, TypeError), (2**64, OverflowError)], ids=repr
)
def test_max_iter_conversion(bad, exc_type, assert_note):
    assert_note(raises(exc_type, lambda: RF(A, [[A]], bad)), "max_iter")
    assert_note(raises(exc_type, lambda: RF(A, [[A]], max_iter=bad)), "max_iter")


def test_max_iter_accepts_index_objects():
    assert RF(A, [[A, B]], Index(3)) == RF(A, [[A, B]], 3)
    assert RF(A, [[A, B]], True) == RF(A, [[A, B]], 1)


# --- vector arguments ------------------------------------------------------------


@pytest.mark.parametrize(
    "other, message",
    [
        (5, NOT_VEC),
        (None, "'None' is not an instance of 'PhaseHVec'"),
        ([7, 13], "'list' object is not an instance of 'PhaseHVec'"),
        (PhaseHVec, "'type' object is not an instance of 'PhaseHVec'"),
        (Outer.Inner(), "'Outer.Inner' object is not an instance of 'PhaseHVec'"),
        (instance_whose_type_name(lambda: 1 / 0), NAMELESS),
        (instance_whose_type_name(lambda: 5), NAMELESS),
    ],
    ids=repr,
)
@pytest.mark.parametrize("method", ["bind", "unbind", "similarity"])
def test_other_must_be_a_vector(method, other, message, assert_note):
    short = PhaseHVec.random(3, 16, 0)  # a dimension mismatch would be reported later
    assert_note(raises(TypeError, lambda: getattr(short, method)(other), message), "other")
    assert_note(raises(TypeError, lambda: getattr(short, method)(other=other), message), "other")


def test_self_as_other_is_accepted():
    assert A.bind(A).phases() == [(2 * p) % 16 for p in A.phases()]
    assert A.similarity(A) == 1.0


@pytest.mark.parametrize(
    "call, name, message",
    [
        (lambda: RF(5, []), "composite", NOT_VEC),
        (lambda: RF(None, "x", None), "composite", "'None' is not an instance of 'PhaseHVec'"),
        (lambda: RF(A, "ab"), "codebooks", STR_TO_VEC),
        (lambda: RF(A, [[A], "ab"]), "codebooks", STR_TO_VEC),
        (lambda: RF(A, [[A, 1]]), "codebooks", NOT_VEC),
        (lambda: RF(A, [[1]], None), "codebooks", NOT_VEC),
        (lambda: RF(A, 5), "codebooks", "'int' object is not an instance of 'Sequence'"),
        (lambda: RF(A, [iter([A])]), "codebooks", "'list_iterator' object is not an instance of 'Sequence'"),
        (lambda: RF(A, {0: [A]}), "codebooks", "'dict' object is not an instance of 'Sequence'"),
        (lambda: RF(A, [{A}]), "codebooks", "'set' object is not an instance of 'Sequence'"),
    ],
)
def test_resonator_argument_errors(call, name, message, assert_note):
    assert_note(raises(TypeError, call, message), name)


@pytest.mark.parametrize(
    "items, message",
    [
        ("ab", STR_TO_VEC),
        ("", STR_TO_VEC),
        (type("StrSub", (str,), {})("ab"), STR_TO_VEC),
        ((x for x in [A, B]), "'generator' object is not an instance of 'Sequence'"),
        ({A}, "'set' object is not an instance of 'Sequence'"),
        ({0: A}, "'dict' object is not an instance of 'Sequence'"),
        (5, "'int' object is not an instance of 'Sequence'"),
        (None, "'None' is not an instance of 'Sequence'"),
        ([A, 1], NOT_VEC),
        ((A, B, None), "'None' is not an instance of 'PhaseHVec'"),
        ([[A]], "'list' object is not an instance of 'PhaseHVec'"),
    ],
    ids=repr,
)
def test_bundle_items_refused(items, message, assert_note):
    assert_note(raises(TypeError, lambda: PhaseHVec.bundle(items), message), "items")


class Seq:
    """A sequence by __getitem__, whose length and iteration can be made to fail."""

    def __init__(self, items, len_error=None, iter_error=None, item_error_at=None):
        self.items, self.len_error, self.iter_error, self.item_error_at = items, len_error, iter_error, item_error_at

    def __len__(self):
        if self.len_error is not None:
            raise self.len_error
        return len(self.items)

    def __getitem__(self, i):
        if i == self.item_error_at:
            raise self.iter_error
        return self.items[i]


class IterSeq(Seq):
    """Iterated through __iter__: it fails at once, or after `item_error_at` items."""

    def __iter__(self):
        if self.item_error_at is None:
            raise self.iter_error

        def gen():
            yield from self.items[: self.item_error_at]
            raise self.iter_error

        return gen()


class IterOnly(Seq):
    def __getitem__(self, i):
        raise AssertionError("elements must come from iteration")

    def __iter__(self):
        return iter(self.items)


def test_sequence_whose_len_raises_is_taken():
    items = Seq([A, B, A], len_error=RuntimeError("no length"))
    assert PhaseHVec.bundle(items).phases() == PhaseHVec.bundle([A, B, A]).phases()
    assert PhaseHVec.bundle(Seq([A], len_error=OverflowError())).phases() == A.phases()
    assert RF(A, Seq([items], len_error=ValueError())) == RF(A, [[A, B, A]])


@pytest.mark.parametrize(
    "make",
    [
        lambda err: IterSeq([A], iter_error=err),
        lambda err: IterSeq([A, B], iter_error=err, item_error_at=1),
        lambda err: Seq([A, B], iter_error=err, item_error_at=1),
        lambda err: Seq([A], iter_error=err, item_error_at=0, len_error=err),
    ],
)
@pytest.mark.parametrize("nested", [False, True])
def test_iteration_error_propagates_unchanged(make, nested, assert_note):
    err = ZeroDivisionError("from iteration")
    if nested:
        caught = raises(ZeroDivisionError, lambda: RF(A, [[A], make(err)]))
    else:
        caught = raises(ZeroDivisionError, lambda: PhaseHVec.bundle(make(err)))
    assert caught is err and err.args == ("from iteration",)
    assert_note(err, "codebooks" if nested else "items")


def test_tuples_and_other_sequences_are_taken():
    ref = PhaseHVec.bundle([A, B, B]).phases()
    assert PhaseHVec.bundle((A, B, B)).phases() == ref
    assert PhaseHVec.bundle(Seq([A, B, B])).phases() == ref
    # Elements come from iteration, never from indexing.
    assert PhaseHVec.bundle(IterOnly([A, B, B])).phases() == ref
    assert RF(A, ((A, B),)) == RF(A, [[A, B]])
    assert RF(A, []) == [] and RF(A, ()) == []
