"""bind, unbind and similarity: worked values, wrap-around, exact bits."""

import random

import pytest

import model
from helpers import NS, bits, rand_vec, vec
from verrakin import PhaseHVec

MISMATCH = "phase vectors differ in dimension or resolution"


@pytest.fixture
def ab():
    return PhaseHVec.random(8, 16, 42), PhaseHVec.random(8, 16, 0)


def test_worked_values(ab):
    a, b = ab
    assert a.bind(b).phases() == b.bind(a).phases() == [7, 6, 15, 5, 3, 0, 13, 7]
    assert a.unbind(b).phases() == [7, 4, 3, 7, 5, 4, 3, 1]
    assert b.unbind(a).phases() == [9, 12, 13, 9, 11, 12, 13, 15]
    assert a.bind(b).bind(b).phases() == [7, 15, 5, 12, 10, 6, 10, 2]
    r = a.bind(b)
    assert (r.dim, r.n) == (8, 16)
    expected = bits(-0.06764951251827453)
    assert bits(a.similarity(b)) == bits(b.similarity(a)) == expected
    assert bits(a.similarity(a)) == bits(1.0)


@pytest.mark.parametrize("op, x, y, n, out", [
    ("bind", 65535, 65535, 65536, 65534),
    ("bind", 65535, 65534, 65536, 65533),
    ("bind", 32768, 32768, 65536, 0),
    ("unbind", 3, 5, 65536, 65534),
    ("unbind", 65535, 65535, 65536, 0),
    ("unbind", 65535, 65534, 65536, 1),
    ("unbind", 0, 65535, 65536, 1),
    ("unbind", 3, 5, 16, 14),
    ("bind", 65534, 65534, 65535, 65533),
    ("unbind", 0, 1, 2, 1),
    ("bind", 1, 1, 2, 0),
])
def test_wrap_around(op, x, y, n, out):
    assert getattr(vec([x], n), op)(vec([y], n)).phases() == [out]


@pytest.mark.parametrize("a, b, n, expected", [
    ([1, 1], [0, 0], 4, 6.123233995736766e-17),  # quarter turn is not exactly 0
    ([2], [0], 4, -1.0),
    ([0], [3], 4, -1.8369701987210297e-16),  # difference -3 is not reduced
    ([1], [0], 4, 6.123233995736766e-17),
    ([0, 1], [1, 1], 2, 0.0),
    ([1, 0], [0, 1], 2, -1.0),
])
def test_small_similarities(a, b, n, expected):
    assert bits(vec(a, n).similarity(vec(b, n))) == bits(expected)
    assert bits(model.similarity(a, b, n)) == bits(expected)


@pytest.mark.parametrize("n", NS)
def test_dim_zero(n):
    a, b = PhaseHVec.random(0, n, 1), PhaseHVec.random(0, n, 2)
    for r in (a.bind(b), a.unbind(b)):
        assert (r.dim, r.n, r.phases()) == (0, n, [])
    assert bits(a.similarity(b)) == bits(1.0)


@pytest.mark.parametrize("op", ["bind", "unbind", "similarity"])
@pytest.mark.parametrize("other", [(8, 17, 0), (7, 16, 0), (9, 16, 42), (0, 16, 0), (8, 2, 42)])
def test_mismatch(op, other):
    a = PhaseHVec.random(8, 16, 42)
    with pytest.raises(ValueError) as info:
        getattr(a, op)(PhaseHVec.random(*other))
    assert info.value.args == (MISMATCH,)


def _pairs():
    rng = random.Random(1202)
    for n in NS + [rng.randint(2, 65536) for _ in range(6)]:
        for dim in (1, 2, 3, rng.randint(10, 300), rng.randint(1000, 10**4)):
            yield n, dim, rng.getrandbits(32)
    yield 65536, 10**5, 5
    yield 7, 10**5, 6


@pytest.mark.parametrize("n, dim, seed", list(_pairs()))
def test_matches_model(n, dim, seed):
    rng = random.Random(seed)
    (a, pa), (b, pb) = rand_vec(rng, dim, n), rand_vec(rng, dim, n)
    ab, amb = a.bind(b), a.unbind(b)
    assert ab.phases() == model.bind(pa, pb, n)
    assert amb.phases() == model.unbind(pa, pb, n)
    assert b.unbind(a).phases() == model.unbind(pb, pa, n)
    assert bits(a.similarity(b)) == bits(model.similarity(pa, pb, n))
    assert bits(b.similarity(a)) == bits(model.similarity(pb, pa, n))
    assert bits(a.similarity(a)) == bits(1.0)
    # algebraic identities
    assert ab.unbind(b).phases() == pa
    assert amb.bind(b).phases() == pa
    assert b.bind(a).phases() == ab.phases()
    assert a.bind(a).phases() == [2 * p % n for p in pa]
    assert (ab.dim, ab.n, amb.dim, amb.n) == (dim, n, dim, n)

