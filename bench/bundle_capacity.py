"""How many role-filler pairs one bundled record holds and still decodes.

A record is `PhaseHVec.bundle([role_i.bind(filler_i) for i in range(k)])`
with random roles and fillers drawn from a clean-up memory of 64 random
vectors. Decoding role i unbinds it and picks the nearest memory entry by mean
cosine (the quantity `similarity` computes; NumPy does the many comparisons).
The capacity is the largest k at which at least 99% of all queried pairs, over
all trials, decode to the right filler:

    python bench/bundle_capacity.py [--dims 256,1024,4096,16384]
                                    [--ns 2,4,16,256,65536] [--trials 3]
"""

import argparse
import random

import numpy as np

from verrakin import PhaseHVec

TWO_PI = 6.283185307179586
MEMORY_SIZE = 64
TARGET = 0.99


def unit_phasors(vectors, n):
    angles = (np.array([v.phases() for v in vectors], dtype=np.float64) * TWO_PI) / n
    return np.cos(angles), np.sin(angles)


class Setup:
    """Roles and clean-up memory for one (dim, n); records are made per trial."""

    def __init__(self, dim, n, max_pairs):
        self.dim, self.n = dim, n
        self.roles = [PhaseHVec.random(dim, n, 1_000_000 + i) for i in range(max_pairs)]
        self.memory = [PhaseHVec.random(dim, n, 2_000_000 + j) for j in range(MEMORY_SIZE)]
        self.mem_cos, self.mem_sin = unit_phasors(self.memory, n)

    def accuracy(self, pairs, trials):
        correct = 0
        for trial in range(trials):
            rng = random.Random(trial * 1_000_003 + pairs)
            fillers = [rng.randrange(MEMORY_SIZE) for _ in range(pairs)]
            record = PhaseHVec.bundle([self.roles[i].bind(self.memory[f]) for i, f in enumerate(fillers)])
            queries = [record.unbind(self.roles[i]) for i in range(pairs)]
            q_cos, q_sin = unit_phasors(queries, self.n)
            scores = q_cos @ self.mem_cos.T + q_sin @ self.mem_sin.T
            correct += int(np.sum(np.argmax(scores, axis=1) == np.array(fillers)))
        return correct / (pairs * trials)


def capacity(dim, n, trials, max_pairs):
    setup = Setup(dim, n, max_pairs)
    passes = lambda k: setup.accuracy(k, trials) >= TARGET  # noqa: E731
    if not passes(1):
        return 0
    lo, hi = 1, 2
    while hi <= max_pairs and passes(hi):
        lo, hi = hi, hi * 2
    hi = min(hi, max_pairs + 1)
    while hi - lo > 1:  # lo passes, hi fails (or is past the limit)
        mid = (lo + hi) // 2
        lo, hi = (mid, hi) if passes(mid) else (lo, mid)
    return lo


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dims", default="256,1024,4096,16384")
    parser.add_argument("--ns", default="2,4,16,256,65536")
    parser.add_argument("--trials", type=int, default=3)
    args = parser.parse_args()
    dims = [int(x) for x in args.dims.split(",")]
    ns = [int(x) for x in args.ns.split(",")]
    print(f"pairs a record holds with >= {TARGET:.0%} decoded ({MEMORY_SIZE}-entry memory, {args.trials} trials)")
    print(f"{'dim':>7} " + " ".join(f"{'n=' + str(n):>8}" for n in ns))
    for dim in dims:
        row = [capacity(dim, n, args.trials, max_pairs=dim // 2) for n in ns]
        print(f"{dim:>7} " + " ".join(f"{c:>8}" for c in row), flush=True)


if __name__ == "__main__":
    main()
