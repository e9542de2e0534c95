"""Batch clean-up: one query against a memory of 1,000 entries, at dim 1024 and
10,000 and n = 16, 256, 65536. Contenders, timed interleaved in one process,
best of several repeats, all on one thread:

- loop:     [query.similarity(v) for v in memory] (verrakin, one call per entry);
- batch:    verrakin_extras.similarities(query, memory), the same floats bit for bit;
- matrix:   verrakin_extras.similarity_matrix(queries, memory), per query;
- fhrr:     torchhd FHRR (complex64) batched dot similarity, per query, queries in one matmul;
- map:      torchhd MAP (float32 bipolar) batched dot similarity, the same way.

torchhd computes in single precision with BLAS (not bit-exact, and not the same
similarity); it is here as the speed a user gets from the usual library.

    python bench/batch_similarity.py [--quick] [--json FILE]
"""

import argparse
import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from machine_info import describe, machine_info  # noqa: E402  (first: it may lower the peers' instruction sets)

import verrakin_extras  # noqa: E402
from verrakin import PhaseHVec  # noqa: E402

try:
    import torch
    import torchhd
except ImportError:  # the torch contenders are skipped
    torch = torchhd = None

ENTRIES = 1000
QUERIES = 32


def best_time(run, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def case(dim, n, repeat):
    memory = [PhaseHVec.random(dim, n, 1000 + j) for j in range(ENTRIES)]
    queries = [PhaseHVec.random(dim, n, j) for j in range(QUERIES)]
    loop_queries = queries[: max(2, QUERIES // 8)]  # the loop is slow: fewer queries, the same per-query cost
    assert verrakin_extras.similarities(queries[0], memory) == [queries[0].similarity(v) for v in memory]
    runs = {
        "loop": (lambda: [[q.similarity(v) for v in memory] for q in loop_queries], len(loop_queries)),
        "batch": (lambda: [verrakin_extras.similarities(q, memory) for q in queries], QUERIES),
        "matrix": (lambda: verrakin_extras.similarity_matrix(queries, memory), QUERIES),
    }
    if torch is not None:
        fhrr_memory, fhrr_queries = torchhd.random(ENTRIES, dim, "FHRR"), torchhd.random(QUERIES, dim, "FHRR")
        map_memory, map_queries = torchhd.random(ENTRIES, dim, "MAP"), torchhd.random(QUERIES, dim, "MAP")
        runs["fhrr"] = (lambda: torchhd.dot_similarity(fhrr_queries, fhrr_memory), QUERIES)
        runs["map"] = (lambda: torchhd.dot_similarity(map_queries, map_memory), QUERIES)
    per_query = {name: float("inf") for name in runs}
    for _ in range(repeat):  # interleaved, so load changes hit every contender alike
        for name, (run, count) in runs.items():
            per_query[name] = min(per_query[name], best_time(run, 1) / count)
    return per_query


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="fewer repeats")
    parser.add_argument("--json", metavar="FILE", help="write the results as JSON")
    args = parser.parse_args()
    if torch is not None:
        torch.set_num_threads(1)
    repeat = 3 if args.quick else 7
    info = verrakin_extras.build_info()
    print(f"CPU: {describe()}; {os.cpu_count()} cores; verrakin kernels {info['kernels']}, "
          f"maths {info['maths']}; torch {torch.__version__ if torch else 'absent'}, one thread")
    print(f"per query, {ENTRIES} entries: times in ms; speed-ups of the batch over the loop and over torchhd FHRR")
    print(f"{'dim':>6} {'n':>6} {'loop':>8} {'batch':>8} {'matrix':>8} {'fhrr':>8} {'map':>8} {'x loop':>7} {'x fhrr':>7}")
    rows = []
    for dim in (1024, 10000):
        for n in (16, 256, 65536):
            t = case(dim, n, repeat)
            fast = min(t["batch"], t["matrix"])
            row = {"dim": dim, "n": n, **{k: v * 1e3 for k, v in t.items()},
                   "vs_loop": t["loop"] / fast, "vs_fhrr": t.get("fhrr", float("nan")) / fast}
            rows.append(row)
            print(f"{dim:>6} {n:>6} {row['loop']:8.3f} {row['batch']:8.3f} {row['matrix']:8.3f} "
                  f"{row.get('fhrr', float('nan')):8.3f} {row.get('map', float('nan')):8.3f} "
                  f"{row['vs_loop']:7.2f} {row['vs_fhrr']:7.2f}")
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"machine": machine_info(), "build": info, "rows": rows}, f, indent=1)


if __name__ == "__main__":
    main()
