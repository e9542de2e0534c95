"""Bundling: the exact integer fold, its tables, snapping and mismatch panics."""

import random

import pytest

import model
from helpers import NS, expect_panic, rand_vec, vec
from verrakin import PhaseHVec, resonator_factorize


def folded(levels, n):
    """The single level that bundling dim-1 vectors of these levels gives."""
    r = PhaseHVec.bundle([vec([p], n) for p in levels])
    assert (r.dim, r.n) == (1, n)
    return r.phases()[0]


@pytest.mark.parametrize("n, levels, out", [
    (2, [0, 1], 0), (2, [1, 1], 1), (2, [1, 1, 0], 1), (2, [0, 1, 1, 0], 0),
    (3, [1, 2], 2), (3, [0, 1], 1), (3, [0, 2], 2), (3, [0, 1, 2], 0),
    (4, [1, 3], 0), (4, [0, 2], 0), (4, [0, 1], 1), (4, [1, 2], 2),
    (4, [2, 3], 2), (4, [3, 0], 3), (4, [0, 0, 1], 0), (4, [0, 2, 2], 2),
    (5, [0, 1, 2, 3, 4], 0), (6, [0, 2, 4], 0), (8, [0, 4], 0), (8, [1, 5], 0),
    (65536, [0, 32768], 0), (65536, [0, 1], 1), (65536, [65535, 0], 65535),
    (65536, [65535, 1], 0), (65536, [16384, 49152], 0),
    # the rounded integer points decide these: exact cosines and sines
    # would snap each of them to the neighbouring level
    (5, [0, 1], 0), (6, [0, 3], 0), (6, [1, 2], 2), (7, [0, 3], 1),
    (8, [0, 1], 0), (8, [0, 3], 1), (8, [0, 5], 7), (16, [1, 2], 1),
    (16, [0, 13], 14), (65536, [0, 9], 4), (65536, [0, 15], 8),
    # exact half levels: t is (angle / 2pi) * n, quotient first
    (11, [3, 8], 6), (13, [4, 9], 7),
])
def test_level_sets(n, levels, out):
    assert folded(levels, n) == out
    assert model.bundle([[p] for p in levels], n) == [out]


@pytest.mark.parametrize("n, cos_t, sin_t", [
    (4, [16384, 0, -16384, 0], [0, 16384, 0, -16384]),
    (3, [16384, -8192, -8192], [0, 14189, -14189]),
    (8, [16384, 11585, 0, -11585, -16384, -11585, 0, 11585],
     [0, 11585, 16384, 11585, 0, -11585, -16384, -11585]),
])
def test_model_tables(n, cos_t, sin_t):
    assert model.level_tables(n) == (tuple(cos_t), tuple(sin_t))


def _copy_ns():
    rng = random.Random(1303)
    return (list(range(2, 300)) + sorted(rng.sample(range(300, 65535), 40))
            + [32768, 32769, 65535, 65536])


@pytest.mark.parametrize("n", _copy_ns())
def test_copies_give_back_the_vector(n):
    # the two largest resolutions get enough dimensions to hold every level
    dim = 1 << 20 if n >= 65535 else min(16 * n, 1 << 12)
    v = PhaseHVec.random(dim, n, n)
    p = v.phases()
    if n >= 65535:
        assert len(set(p)) == n
    for k in (1, 2, 5):
        r = PhaseHVec.bundle([v] * k)
        assert r is not v
        assert (r.dim, r.n) == (dim, n)
        assert r.phases() == p


def _lists():
    rng = random.Random(1304)
    for n in NS + [5, 6, 8] + [rng.randint(2, 65536) for _ in range(5)]:
        for dim in (1, 2, rng.randint(3, 200), rng.randint(500, 2000)):
            yield n, dim, rng.randint(1, 7), rng.getrandbits(32)
    yield 65536, 10**4, 3, 1
    yield 2, 10**4, 4, 2
    yield 4, 300, 200, 3
    # enough items for the fold's passes of eight, four, two and one at a
    # resolution past the register-table kernels
    yield 65536, 1500, 15, 4
    yield 1000, 700, 24, 5


@pytest.mark.parametrize("n, dim, count, seed", list(_lists()))
def test_matches_model_in_any_order(n, dim, count, seed):
    rng = random.Random(seed)
    pairs = [rand_vec(rng, dim, n) for _ in range(count)]
    expected = model.bundle([p for _, p in pairs], n)
    vs = [v for v, _ in pairs]
    assert PhaseHVec.bundle(vs).phases() == expected
    rng.shuffle(vs)
    assert PhaseHVec.bundle(vs).phases() == expected
    assert PhaseHVec.bundle(tuple(reversed(vs))).phases() == expected


def test_empty_list():
    with pytest.raises(ValueError) as info:
        PhaseHVec.bundle([])
    assert info.value.args == ("cannot bundle an empty list",)


@pytest.mark.parametrize("n", [2, 16, 65536])
def test_dim_zero(n):
    r = PhaseHVec.bundle([PhaseHVec.random(0, n, s) for s in range(3)])
    assert (r.dim, r.n, r.phases()) == (0, n, [])


def _msg(what, left, right):
    return (f"assertion `left == right` failed: phase-vector {what} mismatch in bundle"
            f"\n  left: {left}\n right: {right}")


@pytest.mark.parametrize("shapes, message", [
    ([(4, 16), (3, 16)], _msg("dimension", 3, 4)),
    ([(3, 16), (4, 16)], _msg("dimension", 4, 3)),
    ([(4, 16), (4, 16), (4, 17)], _msg("resolution", 17, 16)),
    ([(4, 17), (4, 16)], _msg("resolution", 16, 17)),
    ([(4, 16), (3, 17)], _msg("dimension", 3, 4)),
    ([(4, 16), (4, 16), (5, 16), (3, 16)], _msg("dimension", 5, 4)),
    ([(5, 16), (5, 8), (6, 16)], _msg("resolution", 8, 16)),
    ([(0, 16), (0, 65536)], _msg("resolution", 65536, 16)),
    ([(0, 2), (1, 2)], _msg("dimension", 1, 0)),
    ([(10**5, 65536), (10**5, 2)], _msg("resolution", 2, 65536)),
])
def test_mismatch_panics(shapes, message):
    items = [PhaseHVec.random(d, n, i) for i, (d, n) in enumerate(shapes)]
    expect_panic(PhaseHVec.bundle, items, message=message)


class FreshVectors:
    """A sequence whose elements exist only while it is iterated: each item is
    made on request, so the call holds the only reference to it."""

    def __init__(self, seeds, dim=3000, n=16):
        self.seeds, self.dim, self.n = seeds, dim, n

    def __len__(self):
        return len(self.seeds)

    def __getitem__(self, i):
        return PhaseHVec.random(self.dim, self.n, self.seeds[i])


class ShrinkingList(list):
    """A list that empties itself once iteration has started, dropping the
    list's references to the vectors already handed out."""

    def __iter__(self):
        items = list(super().__iter__())
        self.clear()
        for item in items:
            yield item
            del item


def test_items_made_or_dropped_during_iteration_are_kept_alive():
    seeds = [11, 12, 13, 14, 15]
    expected = PhaseHVec.bundle([PhaseHVec.random(3000, 16, s) for s in seeds]).phases()
    assert PhaseHVec.bundle(FreshVectors(seeds)).phases() == expected
    assert PhaseHVec.bundle(ShrinkingList(PhaseHVec.random(3000, 16, s) for s in seeds)).phases() == expected
    books = [[PhaseHVec.random(3000, 16, 100 * f + j) for j in range(6)] for f in range(2)]
    composite = books[0][2].bind(books[1][4])
    expected_factors = resonator_factorize(composite, books)
    fresh = [FreshVectors([100 * f + j for j in range(6)]) for f in range(2)]
    assert resonator_factorize(composite, fresh) == expected_factors
    assert resonator_factorize(composite, [ShrinkingList(book) for book in books]) == expected_factors
