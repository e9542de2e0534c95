"""One SHA-256 over a fixed battery of results: every level of `bundle`, and
the bits of every float from `similarity` and `resonator_factorize`, at
resolutions where C libraries are known to round cosines, sines and atan2
differently (n = 137, 60, 52, 61 among others). With the correctly rounded
maths it is the same on every CPU, operating system and compiler.

    python tests/digest.py          exits 0 when the digest matches, 1 when not
    python tests/digest.py --print  prints the digest alone

Needs only the installed extension (no test dependencies), so it also runs on
emulated CPUs and other architectures.
"""

import hashlib
import random
import sys

from verrakin import PhaseHVec, resonator_factorize

EXPECTED = "6656ec74a7ba39cc93199263d5237017ad47a89e8220d071752d6e2fcdd9c089"

MASK64 = (1 << 64) - 1
MIX_INV = pow(0xBF58476D1CE4E5B9, -1, 1 << 64)
SEED_INV = pow(0xC2B2AE3D27D4EB4F, -1, 1 << 64)
TRICKY = (137, 60, 52, 61, 7, 255, 1000, 4096)


def single(level, n):
    """A one-dimensional vector holding `level`: the seed whose first phase is it."""
    t = level
    t ^= t >> 32
    t = (t * MIX_INV) & MASK64
    x = t
    for _ in range(3):
        x = t ^ (x >> 29)
    v = PhaseHVec.random(1, n, (x * SEED_INV) & MASK64)
    assert v.phases() == [level]
    return v


def battery():
    """Yields one line per result."""
    rng = random.Random(20261208)
    # Every cosine similarity can form at the tricky resolutions, and a stride
    # through the finest one.
    for n in TRICKY + (65536,):
        zero = single(0, n)
        for k in range(0, n, 1 if n <= 4096 else 37):
            s = single(k, n).similarity(zero)
            yield f"similarity {n} {k} {s.hex()}"
            yield f"similarity {n} -{k} {zero.similarity(single(k, n)).hex()}"
    # Sums of many cosines.
    for n in (137, 60, 52, 61, 256, 65536):
        for _ in range(6):
            a = PhaseHVec.random(1000, n, rng.getrandbits(64))
            b = PhaseHVec.random(1000, n, rng.getrandbits(64))
            yield f"similarity-1000 {n} {a.similarity(b).hex()}"
    # Bundles: atan2 of integer fold sums, many near half levels.
    for n in (137, 60, 52, 61, 256, 4096, 65535, 65536):
        for count in (2, 3, 4, 7, 16, 101):
            items = [PhaseHVec.random(512, n, rng.getrandbits(64)) for _ in range(count)]
            yield f"bundle {n} {count} {PhaseHVec.bundle(items).phases()}"
    # The resonator: phasors, similarities and snapping together.
    for n in (137, 60, 52, 61, 256):
        for factors in (2, 3):
            books = [[PhaseHVec.random(256, n, rng.getrandbits(64)) for _ in range(8)] for _ in range(factors)]
            picks = [rng.randrange(8) for _ in range(factors)]
            composite = books[0][picks[0]]
            for book, pick in zip(books[1:], picks[1:]):
                composite = composite.bind(book[pick])
            noise = PhaseHVec.random(256, n, rng.getrandbits(64))
            noisy = PhaseHVec.bundle([composite, composite, noise])
            for target in (composite, noisy):
                result = resonator_factorize(target, books, 20)
                yield f"resonator {n} {factors} {[(i, s.hex()) for i, s in result]}"


def digest():
    h = hashlib.sha256()
    for line in battery():
        h.update(line.encode())
        h.update(b"\n")
    return h.hexdigest()


def main():
    got = digest()
    if "--print" in sys.argv:
        print(got)
        return 0
    if got == EXPECTED:
        print(f"digest matches: {got}")
        return 0
    print(f"digest differs: got {got}, expected {EXPECTED}")
    return 1


if __name__ == "__main__":
    sys.exit(main())
