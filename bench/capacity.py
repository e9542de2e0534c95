"""Measures how often the resonator recovers the true factors, alone and inside
search recipes, over seeded random problems; costs are relative to one plain
`resonator_factorize` call on the same problems.

    python bench/capacity.py [--quick] [--problems 50] [--slow-problems K]
                             [--scan-problems 20] [--json FILE] [--plot FILE.png]

A problem at (D, F, M, n): F codebooks of M random vectors (dim D, resolution n,
each from its own seed), one true index per codebook drawn from the problem's
seed, and the composite = bind of the true entries. Methods:

- call:   one `resonator_factorize` call;
- orders: the call in every factor order (permuted codebooks, answers mapped
          back) until the chosen entries bind to the composite, at most F! calls;
- halves: the reliable search, in its step-by-step Python form (tests/reliable_model.py,
          the model verrakin_extras.factorize_reliably is checked against: same
          answers, same calls), so that every call it makes can be logged.

Per point and method: accuracy (all F indices right), mean calls, and mean time
relative to the plain call (total method time / total plain-call time over the
same problems). It also reports the smallest similarity that a factor of a
wholly right answer reported and the largest that a wrong factor reported, over
the plain calls and over every call the recipe made (sub-problems included).
Then, unless --quick, a scan over D per (F, M) at n = 16: how large D must be.
"""

import argparse
import importlib.util
import itertools
import json
import pathlib
import random
import time

from verrakin import PhaseHVec, resonator_factorize

HERE = pathlib.Path(__file__).resolve().parent
_spec = importlib.util.spec_from_file_location("reliable_model", HERE.parent / "tests" / "reliable_model.py")
recipe = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(recipe)

POINTS = [(1500, 3, 79), (2000, 3, 128), (3000, 4, 56), (1024, 3, 32), (4096, 3, 64), (256, 3, 256)]
RESOLUTIONS = [2, 16]
METHODS = ["call", "orders", "halves"]


def make_problem(dim, factors, size, n, seed):
    rng = random.Random(f"{dim}/{factors}/{size}/{n}/{seed}")
    first_seed = rng.randrange(2**48)
    codebooks = [
        [PhaseHVec.random(dim, n, first_seed + k * size + j) for j in range(size)] for k in range(factors)
    ]
    truth = [rng.randrange(size) for _ in range(factors)]
    composite = codebooks[0][truth[0]]
    for k in range(1, factors):
        composite = composite.bind(codebooks[k][truth[k]])
    return composite, codebooks, truth


def binds_to(composite, entries):
    product = entries[0]
    for entry in entries[1:]:
        product = product.bind(entry)
    return composite.similarity(product) >= recipe.VERIFIED


def one_call(composite, codebooks):
    return resonator_factorize(composite, codebooks), 1


def in_every_order(composite, codebooks):
    calls, first = 0, None
    for order in itertools.permutations(range(len(codebooks))):
        reported = resonator_factorize(composite, [codebooks[k] for k in order])
        calls += 1
        answer = [None] * len(codebooks)
        for position, k in enumerate(order):
            answer[k] = reported[position]
        first = first or answer
        if binds_to(composite, [codebooks[k][j] for k, (j, _) in enumerate(answer)]):
            return answer, calls
    return first, calls


SOLVERS = {"call": one_call, "orders": in_every_order, "halves": recipe.factorize_reliably}


class SimilarityLog:
    """Wraps the factorizer the recipe calls and records, for every factor of
    every call, the reported similarity and whether the chosen entry is true."""

    def __init__(self):
        self.truth = {}
        self.right_min = None  # over factors of calls whose whole answer is right
        self.wrong_max = None  # over factors whose chosen entry is wrong

    def expect(self, codebooks, truth):
        self.truth = {id(entry): j == truth[k] for k, book in enumerate(codebooks) for j, entry in enumerate(book)}

    def __call__(self, composite, codebooks, max_iter=50):
        answer = resonator_factorize(composite, codebooks, max_iter)
        right = [self.truth[id(book[j])] for book, (j, _) in zip(codebooks, answer)]
        for is_right, (_, similarity) in zip(right, answer):
            if all(right):
                self.right_min = similarity if self.right_min is None else min(self.right_min, similarity)
            elif not is_right:
                self.wrong_max = similarity if self.wrong_max is None else max(self.wrong_max, similarity)
        return answer


def measure_point(dim, factors, size, n, problems, methods=METHODS):
    totals = {m: {"right": 0, "calls": 0, "time": 0.0} for m in methods}
    plain_log, recipe_log = SimilarityLog(), SimilarityLog()
    for seed in range(problems):
        composite, codebooks, truth = make_problem(dim, factors, size, n, seed)
        for method in methods:  # interleaved, so load changes hit every method alike
            start = time.perf_counter()
            answer, calls = SOLVERS[method](composite, codebooks)
            totals[method]["time"] += time.perf_counter() - start
            totals[method]["calls"] += calls
            totals[method]["right"] += [j for j, _ in answer] == truth
        # Untimed replays that look at every reported similarity.
        for log in (plain_log, recipe_log):
            log.expect(codebooks, truth)
        plain_log(composite, codebooks)
        recipe.resonator_factorize = recipe_log
        try:
            recipe.factorize_reliably(composite, codebooks)
        finally:
            recipe.resonator_factorize = resonator_factorize
    base = totals["call"]["time"]
    return {
        "dim": dim, "factors": factors, "size": size, "n": n, "problems": problems,
        "call_seconds": base / problems,
        "similarity": {
            "call": {"right_min": plain_log.right_min, "wrong_max": plain_log.wrong_max},
            "halves": {"right_min": recipe_log.right_min, "wrong_max": recipe_log.wrong_max},
        },
        "methods": {
            m: {
                "accuracy": t["right"] / problems,
                "mean_calls": t["calls"] / problems,
                "relative_time": t["time"] / base,
            }
            for m, t in totals.items()
        },
    }


def fmt_similarity(log):
    return " / ".join("-" if log[key] is None else f"{log[key]:.3f}" for key in ("right_min", "wrong_max"))


def print_row(row):
    cells = [f"({row['dim']}, {row['factors']}, {row['size']})", str(row["n"]), str(row["problems"])]
    for m, r in row["methods"].items():
        cells.append(f"{r['accuracy']:.0%}, {r['mean_calls']:.1f} calls, {r['relative_time']:.1f}x")
    cells += [fmt_similarity(row["similarity"]["call"]), fmt_similarity(row["similarity"]["halves"])]
    print("| " + " | ".join(cells) + " |", flush=True)


def print_header(methods):
    similarity = ["right min / wrong max similarity: call", "halves (all its calls)"]
    print("| (D, F, M) | n | problems | " + " | ".join(list(methods) + similarity) + " |")
    print("|---" * (len(methods) + 5) + "|")


def plot(rows, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, len(RESOLUTIONS), figsize=(11, 4.5), sharey=True)
    markers = {"call": "o", "orders": "s", "halves": "^"}
    for ax, n in zip(axes, RESOLUTIONS):
        for i, row in enumerate(r for r in rows if r["n"] == n):
            colour = f"C{i}"
            points = [(row["methods"][m]["relative_time"], 100 * row["methods"][m]["accuracy"], m) for m in METHODS]
            label = f"D={row['dim']}, F={row['factors']}, M={row['size']}"
            ax.plot([p[0] for p in points], [p[1] for p in points], color=colour, lw=0.6, alpha=0.5)
            for x, y, m in points:
                ax.plot(x, y, markers[m], color=colour, label=label if m == "call" else None)
        ax.set_xscale("log")
        ax.set_title(f"n = {n}")
        ax.set_xlabel("mean time / one plain call")
        ax.grid(True, which="both", alpha=0.3)
    axes[0].set_ylabel("problems solved (%)")
    axes[0].legend(fontsize=7, loc="center right")
    handles = [plt.Line2D([], [], marker=markers[m], color="grey", ls="") for m in METHODS]
    axes[-1].legend(handles, METHODS, fontsize=8, loc="center right", title="method")
    fig.tight_layout()
    fig.savefig(path, dpi=110)


SCAN = [(3, 32), (3, 64), (3, 128), (4, 32), (4, 56)]
SCAN_DIMS = [256, 512, 1024, 2048, 4096]


def scan_dims(problems, n=16):
    """Per (F, M): call and recipe accuracy as D grows, until one call solves all."""
    print(f"\nn = {n}, {problems} problems per cell: call accuracy / halves accuracy (halves mean time)")
    print("| F | M | " + " | ".join(f"D = {d}" for d in SCAN_DIMS) + " |")
    print("|---" * (len(SCAN_DIMS) + 2) + "|")
    rows = []
    for factors, size in SCAN:
        cells, solved = [], False
        for dim in SCAN_DIMS:
            if solved:
                cells.append("")
                continue
            row = measure_point(dim, factors, size, n, problems, methods=["call", "halves"])
            rows.append(row)
            call, halves = row["methods"]["call"], row["methods"]["halves"]
            cells.append(f"{call['accuracy']:.0%} / {halves['accuracy']:.0%} ({halves['relative_time']:.1f}x)")
            solved = call["accuracy"] == 1.0
        print(f"| {factors} | {size} | " + " | ".join(cells) + " |", flush=True)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="6 problems per point, no D scan (under three minutes)")
    parser.add_argument("--problems", type=int, default=50, help="problems per point (default 50)")
    parser.add_argument("--slow-problems", type=int, default=None,
                        help="problems at (256, 3, 256), the slowest point (default: as --problems)")
    parser.add_argument("--scan-problems", type=int, default=20,
                        help="problems per cell of the D scan (default 20; 0 skips the scan)")
    parser.add_argument("--scan-only", action="store_true", help="only the D scan")
    parser.add_argument("--json", metavar="FILE", help="write all rows as JSON")
    parser.add_argument("--plot", metavar="FILE.png", help="plot accuracy against cost per point")
    args = parser.parse_args()
    problems = 6 if args.quick else args.problems

    rows = []
    if not args.scan_only:
        print_header(METHODS)
        for n in RESOLUTIONS:
            for dim, factors, size in POINTS:
                count = problems
                if (dim, factors, size) == (256, 3, 256) and args.slow_problems is not None and not args.quick:
                    count = args.slow_problems
                rows.append(measure_point(dim, factors, size, n, count))
                print_row(rows[-1])
        if args.plot:
            plot(rows, args.plot)
    scan = [] if args.quick or args.scan_problems == 0 else scan_dims(args.scan_problems)
    if args.json:
        pathlib.Path(args.json).write_text(json.dumps({"points": rows, "dim_scan": scan}, indent=1) + "\n")


if __name__ == "__main__":
    main()
