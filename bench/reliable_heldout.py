"""Held-out check of verrakin_extras.factorize_reliably: accuracy and mean cost
(time relative to one resonator_factorize call on the same problem) on fresh
problems, drawn from a seed range no tuning used.

    python bench/reliable_heldout.py [--problems 100] [--first-seed 1000000] [--n 16]

Problems are made as bench/capacity.py makes them (seeded codebooks, random true
indices, composite = bind of the true entries), with seeds from --first-seed on.
Tune on other seeds (capacity.py uses 0..49); report on seeds from 10**6 up.
"""

import argparse
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from capacity import make_problem  # noqa: E402
from verrakin import resonator_factorize  # noqa: E402
from verrakin_extras import factorize_reliably  # noqa: E402

POINTS = [(1500, 3, 79), (2000, 3, 128), (3000, 4, 56)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--problems", type=int, default=100)
    parser.add_argument("--first-seed", type=int, default=10**6)
    parser.add_argument("--n", type=int, default=16)
    args = parser.parse_args()
    print(f"{'(D, F, M)':>16} {'n':>6} {'right':>7} {'calls':>6} {'cost':>6} {'worst':>6}")
    for dim, factors, size in POINTS:
        right = calls = 0
        plain = search = 0.0
        worst = 0.0
        for seed in range(args.first_seed, args.first_seed + args.problems):
            composite, codebooks, truth = make_problem(dim, factors, size, args.n, seed)
            start = time.perf_counter()
            resonator_factorize(composite, codebooks)
            one = time.perf_counter() - start
            start = time.perf_counter()
            answer, made = factorize_reliably(composite, codebooks)
            took = time.perf_counter() - start
            plain += one
            search += took
            worst = max(worst, took / one)
            calls += made
            right += [j for j, _ in answer] == truth
        print(f"{str((dim, factors, size)):>16} {args.n:>6} {100 * right / args.problems:6.1f}% "
              f"{calls / args.problems:6.1f} {search / plain:5.1f}x {worst:5.1f}x", flush=True)


if __name__ == "__main__":
    main()
