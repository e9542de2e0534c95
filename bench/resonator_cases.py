"""resonator_factorize against the same algorithm in NumPy, the FHRR resonator a
torch user writes by hand, and torchhd's MAP resonator, per sweep, plus
verrakin's peak extra memory per codebook phase.

    python bench/resonator_cases.py [--quick] [--repeat N]

`run(quick, repeat)` returns one dict per problem for bench/compare.py.
Contenders run interleaved on the same inputs, best of `repeat` rounds, NumPy's
BLAS and torch on one thread. The sweep count is the smallest `max_iter` whose
answer equals the one at 50; the peers run exactly that many sweeps. Every row
records the CPU class and kernel level of the run (bench/machine_info.py).
No floor is given: the lookups the algorithm cannot avoid (the cosine and sine
of every codebook phase, three times per sweep) run faster in verrakin than in
any NumPy expression of them, so a NumPy floor would bound nothing.
"""

import argparse
import json
import os
import random
import subprocess
import sys
import time

from machine_info import describe, machine_info  # first: it may lower the peers' instruction sets

import numpy as np

from verrakin import PhaseHVec, resonator_factorize

TWO_PI = 6.283185307179586
PROBLEMS = [(1024, 3, 32, 16), (4096, 3, 64, 64), (10000, 4, 100, 256), (2048, 2, 1000, 16)]

try:
    from threadpoolctl import threadpool_limits
except ImportError:  # pragma: no cover - the bench then says so
    threadpool_limits = None

try:
    import torch
except ImportError:
    torch = None
try:
    import torchhd
except ImportError:
    torchhd = None


def make_problem(d, f, m, n, seed=7):
    """Codebooks of random entries and the bind of one entry of each."""
    rng = random.Random(seed)
    books = [[PhaseHVec.random(d, n, rng.getrandbits(64)) for _ in range(m)] for _ in range(f)]
    truth = [rng.randrange(m) for _ in range(f)]
    composite = books[0][truth[0]]
    for book, j in zip(books[1:], truth[1:]):
        composite = composite.bind(book[j])
    return composite, books, truth


def sweeps_needed(composite, books):
    """The smallest max_iter whose answer equals the one at 50."""
    final = resonator_factorize(composite, books, 50)
    for sweeps in range(1, 51):
        if resonator_factorize(composite, books, sweeps) == final:
            return sweeps, final
    return 50, final


class NumpyResonator:
    """The same resonator in complex128, mat-vecs through BLAS."""

    def __init__(self, composite, books, n):
        self.n = n
        self.levels_c = np.array(composite.phases(), dtype=np.uint16)
        self.levels = [np.array([e.phases() for e in book], dtype=np.uint16) for book in books]

    def phasors(self, levels):
        return np.exp(1j * ((levels.astype(np.float64) * TWO_PI) / self.n))

    def snap(self, acc):
        t = (np.arctan2(acc.imag, acc.real) / TWO_PI) * self.n
        q = np.trunc(t + np.copysign(0.5, t)).astype(np.int64) % self.n
        return np.exp(1j * ((q * TWO_PI) / self.n))

    def __call__(self, sweeps):
        c = self.phasors(self.levels_c)
        books = [self.phasors(lv) for lv in self.levels]
        conj = [b.conj() for b in books]
        est = [self.snap(b.sum(axis=0)) for b in books]
        for _ in range(sweeps):
            for k, book in enumerate(books):
                target = c.copy()
                for m, e in enumerate(est):
                    if m != k:
                        target *= np.conj(e)
                w = (conj[k] @ target).real
                est[k] = self.snap(w @ book)
            [int(np.argmax((cb @ e).real)) for cb, e in zip(conj, est)]
        return [int(np.argmax((cb @ e).real)) for cb, e in zip(conj, est)]


class TorchFhrrResonator:
    """The FHRR resonator a torch user writes by hand: complex64 phasors, per
    factor unbind the others' estimates, weights = Re(conj(codebook) @ target),
    estimate = weights @ codebook normalised to unit phasors."""

    def __init__(self, composite, books, n):
        def phasors(levels):
            angles = torch.from_numpy((np.asarray(levels, dtype=np.float64) * TWO_PI / n).astype(np.float32))
            return torch.polar(torch.ones_like(angles), angles)

        self.composite = phasors(composite.phases())
        self.books = [phasors([e.phases() for e in book]) for book in books]
        self.conj = [b.conj() for b in self.books]

    @staticmethod
    def normalise(v):
        return v / v.abs().clamp_min(1e-30)

    def __call__(self, sweeps):
        est = [self.normalise(b.sum(dim=0)) for b in self.books]
        for _ in range(sweeps):
            for k, book in enumerate(self.books):
                target = self.composite.clone()
                for m, e in enumerate(est):
                    if m != k:
                        target = target * e.conj()
                weights = (self.conj[k] @ target).real
                est[k] = self.normalise(weights.to(book.dtype) @ book)
            [int(torch.argmax((cb @ e).real)) for cb, e in zip(self.conj, est)]
        return [int(torch.argmax((cb @ e).real)) for cb, e in zip(self.conj, est)]


class TorchhdResonator:
    """torchhd's MAP resonator on random MAP codebooks of the same shape."""

    def __init__(self, d, f, m, truth):
        gen = torch.Generator().manual_seed(11)
        self.domains = torchhd.random(f * m, d, "MAP", generator=gen).reshape(f, m, d)
        composite = self.domains[0, truth[0]]
        for k in range(1, f):
            composite = torchhd.bind(composite, self.domains[k, truth[k]])
        self.composite = composite
        self.initial = torchhd.multiset(self.domains)

    def __call__(self, sweeps):
        estimates = self.initial
        for _ in range(sweeps):
            estimates = torchhd.resonator(self.composite, estimates, self.domains)
        return estimates


MEMORY_PROBE = r"""
import sys
sys.path.insert(0, {bench!r})
from resonator_cases import make_problem
from verrakin import resonator_factorize

def hwm():
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmHWM:"))

composite, books, _ = make_problem({d}, {f}, {m}, {n})
before = hwm()
resonator_factorize(composite, books)
print(hwm() - before)
"""


def bytes_per_codebook_phase(d, f, m, n):
    """Peak extra memory of one call, in a fresh interpreter."""
    code = MEMORY_PROBE.format(bench=os.path.dirname(os.path.abspath(__file__)), d=d, f=f, m=m, n=n)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return int(out.stdout) / (d * f * m)


def best_of(contenders, repeat):
    """Best time of each contender, running them interleaved."""
    best = {name: float("inf") for name in contenders}
    for _ in range(repeat):
        for name, fn in contenders.items():
            start = time.perf_counter()
            fn()
            best[name] = min(best[name], time.perf_counter() - start)
    return best


def run(quick=False, repeat=5):
    if torch is not None:
        torch.set_num_threads(1)
    limits = threadpool_limits(1, "blas") if threadpool_limits else None
    rows = []
    try:
        for d, f, m, n in PROBLEMS:
            composite, books, truth = make_problem(d, f, m, n)
            sweeps, final = sweeps_needed(composite, books)
            contenders = {"verrakin": lambda: resonator_factorize(composite, books, sweeps)}
            contenders["numpy"] = lambda ref=NumpyResonator(composite, books, n): ref(sweeps)
            if torch is not None:
                contenders["torch_fhrr"] = lambda ref=TorchFhrrResonator(composite, books, n): ref(sweeps)
            if torchhd is not None:
                contenders["torchhd"] = lambda ref=TorchhdResonator(d, f, m, truth): ref(sweeps)
            rounds = max(1, repeat // 2) if quick and d * f * m > 3_000_000 else repeat
            best = best_of(contenders, rounds)
            row = {
                "case": f"resonator_factorize D={d} F={f} M={m} n={n}",
                "verrakin_s": best["verrakin"],
                "numpy_s": best["numpy"],
                "torchhd_s": best.get("torchhd"),
                "torch_fhrr_s": best.get("torch_fhrr"),
                "floor_s": None,
                "sweeps": sweeps,
                "recovered": [i for i, _ in final] == truth,
                "bytes_per_codebook_phase": bytes_per_codebook_phase(d, f, m, n),
                "machine": machine_info(),
            }
            for name in ("verrakin", "numpy", "torch_fhrr", "torchhd"):
                value = row[f"{name}_s"]
                row[f"{name}_per_sweep_s"] = None if value is None else value / sweeps
            rows.append(row)
    finally:
        if limits is not None:
            limits.unregister()
    return rows


def ratio(peer, ours):
    return "-" if peer is None else f"{peer / ours:6.2f}x"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--json")
    args = parser.parse_args()
    if torchhd is None:
        print("torchhd is not installed: its column stays empty")
    print(f"machine: {describe()}")
    rows = run(args.quick, args.repeat)
    print(f"{'case':<46}{'sweeps':>7}{'ms/sweep':>10}{'vs numpy':>10}{'vs torch FHRR':>14}{'vs torchhd':>11}"
          f"{'B/phase':>9}  recovered")
    for r in rows:
        print(f"{r['case']:<46}{r['sweeps']:>7}{r['verrakin_per_sweep_s'] * 1e3:>10.3f}"
              f"{ratio(r['numpy_s'], r['verrakin_s']):>10}{ratio(r['torch_fhrr_s'], r['verrakin_s']):>14}"
              f"{ratio(r['torchhd_s'], r['verrakin_s']):>11}{r['bytes_per_codebook_phase']:>9.2f}  {r['recovered']}")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)


if __name__ == "__main__":
    main()
