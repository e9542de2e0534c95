"""How often two seeds give correlated random vectors, per resolution n.

Independent random phase vectors have similarity near 0 (standard deviation
about 1/sqrt(2 * dim), 1/sqrt(dim) at n = 2). The generator is fixed, and some
seed pairs give vectors far more alike than that, mostly at small n. This
script counts the pairs with |similarity| above a threshold among a set of
seeds, and names the worst pair with its exact `similarity`:

    python bench/seed_screen.py [--dim 65536] [--seeds 300] [--sigmas 6]
                                [--ns 2,3,4,8,16,64,256,65536] [--random-seeds]

The threshold is `--sigmas` standard deviations of chance similarity at the
vectors' dim and n (`chance_threshold`): a fixed threshold such as 0.05 flags
thousands of pairs by chance alone at dim 1024 and misses correlated ones at
large dim. `correlated_pairs(vectors)` is the screen to run on a codebook
before use (NumPy; the pairs it reports are confirmed with `similarity`).
"""

import argparse
import math
import random

import numpy as np

from verrakin import PhaseHVec

TWO_PI = 6.283185307179586


def chance_threshold(dim, n, sigmas=6.0):
    """`sigmas` standard deviations of the similarity of two independent random
    vectors: 1/sqrt(dim) at n = 2 (each term is +1 or -1), 1/sqrt(2 * dim) above."""
    return sigmas / math.sqrt(max(dim, 1) if n == 2 else 2 * max(dim, 1))


def correlated_pairs(vectors, threshold=None):
    """Index pairs (i, j), i < j, whose |similarity| exceeds `threshold` (by
    default six standard deviations of chance), with it."""
    if threshold is None:
        threshold = chance_threshold(vectors[0].dim, vectors[0].n)
    levels = np.array([v.phases() for v in vectors], dtype=np.float64)
    angles = (levels * TWO_PI) / vectors[0].n
    cos, sin = np.cos(angles), np.sin(angles)
    gram = (cos @ cos.T + sin @ sin.T) / max(vectors[0].dim, 1)
    rows, cols = np.nonzero(np.triu(np.abs(gram) > threshold * 0.99, k=1))
    found = []
    for i, j in zip(rows.tolist(), cols.tolist()):
        exact = vectors[i].similarity(vectors[j])
        if abs(exact) > threshold:
            found.append((i, j, exact))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dim", type=int, default=65536)
    parser.add_argument("--seeds", type=int, default=300, help="number of seeds (0, 1, 2, ... by default)")
    parser.add_argument("--sigmas", type=float, default=6.0, help="threshold in standard deviations of chance")
    parser.add_argument("--ns", default="2,3,4,8,16,64,256,65536")
    parser.add_argument("--random-seeds", action="store_true", help="random 64-bit seeds instead of 0, 1, 2, ...")
    args = parser.parse_args()

    if args.random_seeds:
        rng = random.Random(1)
        seeds = [rng.getrandbits(64) for _ in range(args.seeds)]
    else:
        seeds = list(range(args.seeds))
    pairs = len(seeds) * (len(seeds) - 1) // 2
    kind = "random 64-bit seeds" if args.random_seeds else f"seeds 0..{len(seeds) - 1}"
    print(f"dim {args.dim}, {kind}: {pairs} pairs, |similarity| > {args.sigmas} standard deviations of chance")
    print(f"{'n':>6} {'threshold':>9} {'pairs':>6} {'rate':>10}  worst pair")
    for n in (int(x) for x in args.ns.split(",")):
        vectors = [PhaseHVec.random(args.dim, n, s) for s in seeds]
        threshold = chance_threshold(args.dim, n, args.sigmas)
        found = correlated_pairs(vectors, threshold)
        worst = ""
        if found:
            i, j, sim = max(found, key=lambda f: abs(f[2]))
            worst = f"seeds {seeds[i]} and {seeds[j]}: {sim:+.3f}"
        print(f"{n:>6} {threshold:>9.4f} {len(found):>6} {len(found) / pairs:>10.2e}  {worst}")


if __name__ == "__main__":
    main()
