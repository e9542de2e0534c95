"""Functions that worker processes import by name (pickling tests)."""

from verrakin import PhaseHVec


def make_vector(seed):
    return PhaseHVec.random(256, 16, seed)


def bind_pair(pair):
    a, b = pair
    return a.bind(b)
