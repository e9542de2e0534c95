"""verrakin against what its users would write instead, on the same inputs, in
one process: NumPy as a user writes it, torchhd (optional), for the resonator
also the FHRR resonator a torch user writes by hand, and simple floors.

    python bench/compare.py [--quick] [--repeat N] [--json FILE] [--plot FILE.png]

Contenders of a case run interleaved, each timed as the best of several
repeats; NumPy's BLAS and torch run on one thread, so every ratio is per core.
Speed-up = peer time / verrakin time (above 1: verrakin is faster); resonator
times are per sweep. The table and every JSON row name the CPU model, its
AVX2 / AVX-512 support and the verrakin kernel level (VERRAKIN_ISA) of the run.

Where semantics differ: torchhd's MCR similarity is a triangle kernel, not a
cosine, and its bundle (FHRR normalize(multiset)) works in complex64; the
NumPy versions use NumPy's own cos/arctan2, which may differ from the C
library's in the last bits. Only verrakin is bit-reproducible.
"""

import argparse
import importlib
import json
import os
import platform
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from machine_info import describe, machine_info  # noqa: E402  (first: it may lower the peers' instruction sets)

try:
    import numpy as np
    from threadpoolctl import threadpool_limits
except ImportError as missing:  # the comparison is against NumPy: nothing to measure without it
    sys.exit(f"bench/compare.py needs {missing.name}, which is not installed: pip install '.[bench]'")

from verrakin import PhaseHVec

TWO_PI = 6.283185307179586
FOLD_SCALE = 16384.0

try:
    import torch
    import torchhd
except ImportError:  # torchhd is optional
    torch = torchhd = None


def calibrate(fn, budget):
    """Calls per timing so that one timing takes about `budget` seconds."""
    number = 1
    while True:
        start = time.perf_counter()
        for _ in range(number):
            fn()
        elapsed = time.perf_counter() - start
        if elapsed >= budget or number >= 1 << 20:
            return number
        number *= 2 if elapsed <= 0 else max(2, min(10, int(budget / elapsed) + 1))


def best_times(contenders, repeat, budget):
    """Best time per call of each contender, measured interleaved."""
    numbers = {name: calibrate(fn, budget) for name, fn in contenders.items() if fn is not None}
    best = {name: float("inf") for name in numbers}
    for _ in range(repeat):
        for name, fn in contenders.items():
            if fn is None:
                continue
            number = numbers[name]
            start = time.perf_counter()
            for _ in range(number):
                fn()
            best[name] = min(best[name], (time.perf_counter() - start) / number)
    return {name: best.get(name) for name in contenders}


def levels(v):
    return np.array(v.phases(), dtype=np.uint16)


# --- NumPy, as a user writes it -------------------------------------------

def np_bind(a, b, n):
    return ((a.astype(np.uint32) + b) % n).astype(np.uint16)


def np_unbind(a, b, n):
    return ((n - b.astype(np.uint32) + a) % n).astype(np.uint16)


def np_similarity(a, b, n):
    return np.cos(((a.astype(np.float64) - b) * TWO_PI) / n).mean()


def np_level_tables(n):
    k = np.arange(n, dtype=np.float64)
    angles = (k * TWO_PI) / n
    return (np.round(np.cos(angles) * FOLD_SCALE).astype(np.int64),
            np.round(np.sin(angles) * FOLD_SCALE).astype(np.int64))


def np_bundle(items, tables, n):
    cos_t, sin_t = tables
    cs = np.zeros(items[0].size, dtype=np.int64)
    ss = np.zeros(items[0].size, dtype=np.int64)
    for p in items:
        cs += cos_t[p]
        ss += sin_t[p]
    t = (np.arctan2(ss.astype(np.float64), cs.astype(np.float64)) / TWO_PI) * n
    k = np.trunc(t + np.copysign(0.5, t)).astype(np.int64)
    return (k % n).astype(np.uint16)


# --- torchhd ----------------------------------------------------------------

def mcr(phases, n):
    x = torchhd.random(1, phases.size, "MCR", block_size=n)
    x.copy_(torch.from_numpy(phases.astype(np.int64)).unsqueeze(0))
    return x


def fhrr(item_levels, n):
    angles = torch.from_numpy((np.stack(item_levels).astype(np.float64) * TWO_PI / n).astype(np.float32))
    x = torchhd.random(len(item_levels), item_levels[0].size, "FHRR")
    x.copy_(torch.polar(torch.ones_like(angles), angles))
    return x


# --- cases --------------------------------------------------------------------

def element_cases(quick):
    dims = [64, 10**4, 10**6]
    return [(op, d, n) for op in ("random", "bind", "unbind", "similarity") for d in dims for n in (16, 65536)]


def bundle_cases(quick):
    return [(k, d, n) for k in (2, 16, 256) for d in (10**4, 10**5) for n in (16, 65536)]


def run_element(op, dim, n, repeat, budget):
    a, b = PhaseHVec.random(dim, n, 1), PhaseHVec.random(dim, n, 2)
    la, lb = levels(a), levels(b)
    out = np.empty_like(la)
    rng = np.random.default_rng(3)
    th = torchhd is not None
    if th:
        ta, tb = mcr(la, n), mcr(lb, n)
    floor = None
    extra = {}
    if op == "random":
        fns = {"verrakin": lambda: PhaseHVec.random(dim, n, 7),
               "numpy": lambda: rng.integers(0, n, dim, dtype=np.uint16),
               "torchhd": (lambda: torchhd.random(1, dim, "MCR", block_size=n)) if th else None}
    elif op == "bind":
        assert np.array_equal(levels(a.bind(b)), np_bind(la, lb, n))
        fns = {"verrakin": lambda: a.bind(b), "numpy": lambda: np_bind(la, lb, n),
               "torchhd": (lambda: torchhd.bind(ta, tb)) if th else None,
               "floor": lambda: np.add(la, lb, out=out)}
        floor = "np.add(a, b, out=c) on uint16"
    elif op == "unbind":
        assert np.array_equal(levels(a.unbind(b)), np_unbind(la, lb, n))
        fns = {"verrakin": lambda: a.unbind(b), "numpy": lambda: np_unbind(la, lb, n),
               "torchhd": (lambda: torchhd.bind(ta, tb.inverse())) if th else None,
               "floor": lambda: np.add(la, lb, out=out)}
        floor = "np.add(a, b, out=c) on uint16"
    else:
        terms = np.ones(dim)
        fns = {"verrakin": lambda: a.similarity(b), "numpy": lambda: np_similarity(la, lb, n),
               "torchhd": (lambda: torchhd.cosine_similarity(ta, tb)) if th else None,
               "floor": lambda: np.cumsum(terms)}
        floor = "np.cumsum over dim doubles: one dependent add per element"
    times = best_times(fns, repeat, budget)
    if op == "similarity" and times["verrakin"]:
        extra["verrakin_ns_per_element"] = times["verrakin"] / dim * 1e9
        extra["floor_ns_per_element"] = times["floor"] / dim * 1e9
    return {"case": f"{op} D={dim} n={n}", "verrakin_s": times["verrakin"], "numpy_s": times["numpy"],
            "torchhd_s": times["torchhd"], "floor_s": times.get("floor"), "floor": floor, **extra}


def run_bundle(k, dim, n, repeat, budget):
    items = [PhaseHVec.random(dim, n, 100 + i) for i in range(k)]
    arrays = [levels(v) for v in items]
    tables = np_level_tables(n)  # a user keeps the tables too
    mismatches = int(np.count_nonzero(levels(PhaseHVec.bundle(items)) != np_bundle(arrays, tables, n)))
    fns = {"verrakin": lambda: PhaseHVec.bundle(items), "numpy": lambda: np_bundle(arrays, tables, n)}
    if torchhd is not None:
        x = fhrr(arrays, n)
        fns["torchhd"] = lambda: torchhd.normalize(torchhd.multiset(x))
    else:
        fns["torchhd"] = None
    times = best_times(fns, repeat, budget)
    return {"case": f"bundle K={k} D={dim} n={n}", "verrakin_s": times["verrakin"], "numpy_s": times["numpy"],
            "torchhd_s": times["torchhd"], "floor_s": None,
            "numpy_levels_differing": mismatches}


def run_resonator(quick, repeat):
    try:
        cases = importlib.import_module("resonator_cases")
    except ImportError:
        print("(bench/resonator_cases.py not found: resonator cases skipped)")
        return []
    return cases.run(quick=quick, repeat=repeat)


# --- report -------------------------------------------------------------------

def fmt_time(s):
    if s is None:
        return "–"
    if s < 1e-3:
        return f"{s * 1e6:.2f} µs"
    return f"{s * 1e3:.3g} ms" if s < 1 else f"{s:.3g} s"


def ratio(peer, ours):
    return f"{peer / ours:.2f}" if peer is not None and ours else "–"


def per_call(r, name):
    """A row's time for `name`: per sweep for the resonator, else per call."""
    return r.get(f"{name}_per_sweep_s", r.get(f"{name}_s"))


def table(rows):
    lines = ["| case | verrakin | NumPy | torchhd | torch FHRR | floor | speed-up vs NumPy | vs torchhd "
             "| vs torch FHRR | verrakin / floor |",
             "|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        v = per_call(r, "verrakin")
        numpy_t, torchhd_t, fhrr_t = per_call(r, "numpy"), per_call(r, "torchhd"), per_call(r, "torch_fhrr")
        case = r["case"] + (" (per sweep)" if "sweeps" in r else "")
        lines.append(f"| {case} | {fmt_time(v)} | {fmt_time(numpy_t)} | {fmt_time(torchhd_t)} | "
                     f"{fmt_time(fhrr_t)} | {fmt_time(r['floor_s'])} | {ratio(numpy_t, v)} | {ratio(torchhd_t, v)} | "
                     f"{ratio(fhrr_t, v)} | {ratio(v, r['floor_s']) if r['floor_s'] else '–'} |")
    return "\n".join(lines)


def plot(rows, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    peers = [("numpy_s", "NumPy"), ("torchhd_s", "torchhd"), ("floor_s", "floor")]
    fig, ax = plt.subplots(figsize=(max(10, 0.45 * len(rows)), 6))
    width = 0.8 / len(peers)
    for j, (key, label) in enumerate(peers):
        xs = [i + (j - 1) * width for i, r in enumerate(rows) if r.get(key) and r["verrakin_s"]]
        ys = [r[key] / r["verrakin_s"] for r in rows if r.get(key) and r["verrakin_s"]]
        ax.bar(xs, ys, width, label=f"{label} time / verrakin time")
    ax.axhline(1.0, color="black", linewidth=0.8)
    ax.set_yscale("log")
    ax.set_xticks(range(len(rows)))
    ax.set_xticklabels([r["case"] for r in rows], rotation=75, ha="right", fontsize=7)
    ax.set_ylabel("speed-up of verrakin (log)")
    ax.set_title("verrakin vs peers, one core (above 1: verrakin faster)")
    ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def machine():
    model = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} cores, Python {platform.python_version()}, NumPy {np.__version__}" + (
        f", torch {torch.__version__}, torchhd {getattr(torchhd, '__version__', '?')}" if torchhd else "")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="fewer repeats, shorter timings (under two minutes)")
    parser.add_argument("--repeat", type=int, default=None, help="timings per contender (best is kept)")
    parser.add_argument("--json", metavar="FILE", help="write the results as JSON")
    parser.add_argument("--plot", metavar="FILE.png", help="draw the speed-ups")
    args = parser.parse_args()
    repeat = args.repeat or (3 if args.quick else 7)
    budget = 0.002 if args.quick else 0.01

    threadpool_limits(1)
    if torch is not None:
        torch.set_num_threads(1)
    else:
        print("torchhd is not installed: its column stays empty (pip install torch-hd)")
    info = machine_info()
    print(f"machine: {machine()}; {describe(info)}")

    # The table is printed once, a row as soon as its case is measured.
    print()
    print(table([]), flush=True)
    rows = []
    for op, dim, n in element_cases(args.quick):
        rows.append(run_element(op, dim, n, repeat, budget))
        print(table(rows[-1:]).splitlines()[-1], flush=True)
    for k, dim, n in bundle_cases(args.quick):
        rows.append(run_bundle(k, dim, n, repeat, budget))
        print(table(rows[-1:]).splitlines()[-1], flush=True)
    for row in run_resonator(args.quick, repeat):
        rows.append(row)
        print(table([row]).splitlines()[-1], flush=True)

    for row in rows:
        row["machine"] = info
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)
    if args.plot:
        plot(rows, args.plot)


if __name__ == "__main__":
    main()
