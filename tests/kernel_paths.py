"""Compares every element-wise operation with the model in this process, so it
can run under any forced kernel path (VERRAKIN_ISA) or emulated CPU, where the
C library itself may take other code paths. Exits non-zero on a difference.

    python tests/kernel_paths.py [--small]
"""

import os
import random
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import maths_model  # noqa: E402
import model  # noqa: E402
import verrakin  # noqa: E402
import verrakin_extras  # noqa: E402
from verrakin import PhaseHVec  # noqa: E402


def bits(x):
    return struct.pack("<d", x)


def main():
    maths_model.follow(verrakin)
    small = "--small" in sys.argv
    rng = random.Random(7)
    ns = [2, 3, 16, 17, 65536] if small else [2, 3, 4, 5, 16, 17, 31, 32, 33, 255, 256, 1000, 65535, 65536]
    dims = [0, 1, 33, 1100] if small else [0, 1, 7, 31, 33, 64, 1023, 1025, 2100]
    failures = []
    for n in ns:
        for dim in dims:
            seeds = [rng.getrandbits(64) for _ in range(4)]
            vectors = [PhaseHVec.random(dim, n, s) for s in seeds]
            phases = [model.random_phases(dim, n, s) for s in seeds]
            for v, p in zip(vectors, phases):
                if v.phases() != p:
                    failures.append(("random", n, dim))
            a, b = vectors[0], vectors[1]
            pa, pb = phases[0], phases[1]
            if a.bind(b).phases() != model.bind(pa, pb, n):
                failures.append(("bind", n, dim))
            if a.unbind(b).phases() != model.unbind(pa, pb, n):
                failures.append(("unbind", n, dim))
            expected = bits(model.similarity(pa, pb, n))
            # twice: the second call may read the cosine table kept from the first
            if bits(a.similarity(b)) != expected or bits(a.similarity(b)) != expected:
                failures.append(("similarity", n, dim))
            for k in (1, 2, 3, 4, 5):
                items = vectors[:k] if k <= 4 else vectors + [a]
                items_phases = phases[:k] if k <= 4 else phases + [pa]
                if PhaseHVec.bundle(items).phases() != model.bundle(items_phases, n):
                    failures.append(("bundle", n, dim, k))
    # The batch similarity, every group size and remainder of its kernels (27
    # entries: groups of 16 and 8 and a rest of 3), lengths around the gathers'
    # blocks of 16 and 32 positions; the matrix likewise.
    for n in ns:
        for dim in [0, 1, 5, 16, 33, 64, 1100]:
            query = PhaseHVec.random(dim, n, rng.getrandbits(64))
            other = PhaseHVec.random(dim, n, rng.getrandbits(64))
            entries = [PhaseHVec.random(dim, n, rng.getrandbits(64)) for _ in range(26)] + [query]
            want = [bits(query.similarity(v)) for v in entries]
            if [bits(x) for x in verrakin_extras.similarities(query, entries)] != want:
                failures.append(("similarities", n, dim))
            rows = verrakin_extras.similarity_matrix([other, query], entries).tolist()
            if [[bits(x) for x in row] for row in rows] != [[bits(other.similarity(v)) for v in entries], want]:
                failures.append(("similarity_matrix", n, dim))
    if failures:
        print("differences:", failures[:20])
        return 1
    print("kernel paths agree with the model")
    return 0


if __name__ == "__main__":
    sys.exit(main())
