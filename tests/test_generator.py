"""Seeded generation: worked values and bit-exact agreement with the model."""

import random

import pytest

import model
from helpers import NS, seed_for
from verrakin import PhaseHVec

TOP = 2**64 - 1


@pytest.mark.parametrize("dim, n, seed, phases", [
    (8, 16, 42, [7, 13, 9, 14, 12, 10, 0, 12]),
    (8, 16, 0, [0, 9, 6, 7, 7, 6, 13, 11]),
    (5, 16, 42, [7, 13, 9, 14, 12]),
    (4, 2, 7, [0, 1, 1, 0]),
    (4, 65536, 1, [37175, 41823, 57896, 19038]),
    (3, 65536, TOP, [61144, 41725, 63407]),
    (0, 16, 5, []),
])
def test_worked_values(dim, n, seed, phases):
    v = PhaseHVec.random(dim, n, seed)
    assert (v.dim, v.n, v.phases()) == (dim, n, phases)
    assert model.random_phases(dim, n, seed) == phases


def _cases():
    rng = random.Random(1101)
    seeds = [0, 1, TOP, 2**63, 2**32 - 1]
    for n in NS + [rng.randint(2, 65536) for _ in range(8)]:
        for dim in (0, 1, 2, 37, rng.randint(100, 10**4)):
            yield dim, n, rng.choice(seeds + [rng.getrandbits(64)])
    yield 10**5, 65536, rng.getrandbits(64)
    yield 10**5, 3, TOP


@pytest.mark.parametrize("dim, n, seed", list(_cases()))
def test_matches_model(dim, n, seed):
    v = PhaseHVec.random(dim, n, seed)
    assert (v.dim, v.n) == (dim, n)
    assert v.phases() == model.random_phases(dim, n, seed)


@pytest.mark.parametrize("n", [2, 3, 16, 65535, 65536])
def test_seed_zero_starts_at_level_zero_and_prefixes_agree(n):
    assert PhaseHVec.random(1, n, 0).phases() == [0]
    long = PhaseHVec.random(500, n, 987654321).phases()
    for d in (0, 1, 2, 250, 499):
        assert PhaseHVec.random(d, n, 987654321).phases() == long[:d]


@pytest.mark.parametrize("t", [2**64 - 1, 2**63 + 12345, 2**32 + 7, 2**48 - 1, 65535])
@pytest.mark.parametrize("n", [3, 255, 65521, 65535, 65536])
def test_remainder_of_the_full_64_bit_value(t, n):
    # the seed makes the first mixed value exactly t, so a remainder taken
    # after dropping high bits would give another phase
    assert PhaseHVec.random(1, n, seed_for(t)).phases() == [t % n]


@pytest.mark.parametrize("n", [0, 1, 65537, 4294967295])
def test_resolution_outside_range(n):
    with pytest.raises(ValueError) as info:
        PhaseHVec.random(4, n, 0)
    assert info.value.args == ("n (phase resolution) must be in 2..=65536",)
