"""Factor many composites across processes with Dask.

Every call holds the interpreter lock, so threads give no parallel speed-up;
processes do. Only seeds and sizes travel to the workers: each worker rebuilds
the codebooks and composites from them, bit for bit, and factors its share.
The script checks that the distributed results equal the single-process ones
exactly (indices and the bits of every similarity) and prints the throughput.

    python examples/scale_out.py                       # LocalCluster, 1 then 2 workers
    python examples/scale_out.py --scheduler tcp://HOST:8786   # an existing cluster

Needs `pip install "dask[distributed]"` (and verrakin on every worker).
"""

from __future__ import annotations

import argparse
import logging
import time
from dataclasses import dataclass

Result = list[tuple[int, float]]


@dataclass(frozen=True)
class Problem:
    """Everything a worker needs, as plain numbers: about a hundred bytes per task."""

    dim: int
    n: int
    factors: int
    book_size: int
    max_iter: int

    def book_seed(self, factor: int, entry: int) -> int:
        return 1_000 * (factor + 1) + entry

    def picks(self, composite: int) -> list[int]:
        """The entry of each codebook bound into composite number `composite`."""
        return [(composite * (2 * f + 3) + f) % self.book_size for f in range(self.factors)]


def factor_range(problem: Problem, first: int, count: int) -> list[Result]:
    """Rebuild the codebooks and composites first..first+count-1 and factor them."""
    # Imported here, not at module level: Dask ships this function by value, and
    # the class (whose module reads "builtins") cannot travel by reference.
    from verrakin import PhaseHVec, resonator_factorize

    books = [
        [PhaseHVec.random(problem.dim, problem.n, problem.book_seed(f, e)) for e in range(problem.book_size)]
        for f in range(problem.factors)
    ]
    results = []
    for c in range(first, first + count):
        picks = problem.picks(c)
        composite = books[0][picks[0]]
        for book, p in zip(books[1:], picks[1:]):
            composite = composite.bind(book[p])
        results.append(resonator_factorize(composite, books, problem.max_iter))
    return results


def chunks(total: int, size: int) -> list[tuple[int, int]]:
    return [(first, min(size, total - first)) for first in range(0, total, size)]


def run_on(client, problem: Problem, total: int, chunk: int) -> tuple[list[Result], float]:
    """Factor all composites on the cluster behind `client`; return results and seconds."""
    start = time.perf_counter()
    futures = [client.submit(factor_range, problem, first, count, pure=False) for first, count in chunks(total, chunk)]
    results = [r for part in client.gather(futures) for r in part]
    return results, time.perf_counter() - start


def bits(results: list[Result]) -> list[list[tuple[int, str]]]:
    return [[(index, similarity.hex()) for index, similarity in r] for r in results]


def main() -> None:
    parser = argparse.ArgumentParser(description="Factor many composites across processes with Dask.")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="an existing Dask scheduler (default: LocalCluster)")
    parser.add_argument("--composites", type=int, default=128)
    parser.add_argument("--dim", type=int, default=4096)
    parser.add_argument("--n", type=int, default=16)
    parser.add_argument("--factors", type=int, default=3)
    parser.add_argument("--book-size", type=int, default=32)
    parser.add_argument("--max-iter", type=int, default=50)
    parser.add_argument("--chunk", type=int, default=16, help="composites per task")
    args = parser.parse_args()
    try:
        from dask.distributed import Client, LocalCluster
    except ImportError:
        raise SystemExit('this example needs Dask: pip install "dask[distributed]"') from None

    problem = Problem(args.dim, args.n, args.factors, args.book_size, args.max_iter)
    total = args.composites
    start = time.perf_counter()
    reference = factor_range(problem, 0, total)
    local_seconds = time.perf_counter() - start
    right = sum([i for i, _ in r] == problem.picks(c) for c, r in enumerate(reference))
    print(f"{total} composites, dim {problem.dim}, n {problem.n}, {problem.factors} codebooks of {problem.book_size}")
    print(f"single process: {total / local_seconds:8.1f} composites/s ({right} of {total} fully recovered)")

    if args.scheduler:
        runs = [(None, lambda: Client(args.scheduler))]
    else:
        runs = [
            (workers, lambda workers=workers: Client(LocalCluster(
                n_workers=workers, threads_per_worker=1, processes=True,
                dashboard_address=None, silence_logs=logging.ERROR)))
            for workers in (1, 2)
        ]
    for workers, connect in runs:
        with connect() as client:
            if workers is None:
                workers = len(client.scheduler_info()["workers"])
            client.run(lambda: __import__("verrakin"))  # import before timing
            results, seconds = run_on(client, problem, total, args.chunk)
            if args.scheduler is None:
                client.cluster.close()
        same = bits(results) == bits(reference)
        print(f"{workers} worker(s):    {total / seconds:8.1f} composites/s, bit-identical to single process: {same}")
        if not same:
            raise SystemExit("distributed results differ from the single-process ones")


if __name__ == "__main__":
    main()
