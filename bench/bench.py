"""Times verrakin against plain NumPy versions of the same computations, in one
run, and reports the ratios (NumPy time / verrakin time; above 1 means verrakin
is faster).

    python bench/bench.py [--dim 1000000] [--repeat 5]
"""

import argparse
import time

import numpy as np

from verrakin import PhaseHVec, resonator_factorize

TWO_PI = 6.283185307179586


def best_time(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def np_random(dim, n, seed):
    with np.errstate(over="ignore"):
        i = np.arange(dim, dtype=np.uint64)
        s = np.uint64(seed) * np.uint64(0xC2B2AE3D27D4EB4F)
        t = s ^ (i * np.uint64(0x9E3779B97F4A7C15))
        t ^= t >> np.uint64(29)
        t *= np.uint64(0xBF58476D1CE4E5B9)
        t ^= t >> np.uint64(32)
        return (t % np.uint64(n)).astype(np.uint16)


def np_bind(a, b, n):
    return ((a.astype(np.uint32) + b) % n).astype(np.uint16)


def np_similarity(a, b, n):
    d = a.astype(np.float64) - b.astype(np.float64)
    return np.cos((d * TWO_PI) / n).sum() / a.size


def np_bundle(items, n):
    k = np.arange(n, dtype=np.float64)
    cos_t = np.round(np.cos((k * TWO_PI) / n) * 16384.0).astype(np.int64)
    sin_t = np.round(np.sin((k * TWO_PI) / n) * 16384.0).astype(np.int64)
    cs = np.zeros(items[0].size, dtype=np.int64)
    ss = np.zeros(items[0].size, dtype=np.int64)
    for p in items:
        cs += cos_t[p]
        ss += sin_t[p]
    t = (np.arctan2(ss.astype(np.float64), cs.astype(np.float64)) / TWO_PI) * n
    k = np.trunc(t + np.copysign(0.5, t)).astype(np.int64)  # half away from zero (close enough here)
    return (k % n).astype(np.uint16)


def np_factorize(composite, books, n, max_iter=50):
    """A vectorised resonator with the same update and stopping rules."""
    def phasors(p, m):
        return np.exp(1j * ((p.astype(np.float64) * TWO_PI) / m))

    def snap(acc):
        q = np.round((np.angle(acc) / TWO_PI) * n).astype(np.int64) % n
        return np.exp(1j * ((q * TWO_PI) / n))

    c = phasors(composite, n)
    cb = [np.stack([phasors(e, n) for e in book]) for book in books]
    est = [snap(book.sum(axis=0)) for book in cb]
    def indices():
        return [int(np.argmax((book.conj() @ e).real)) for book, e in zip(cb, est)]

    history = []
    for _ in range(max_iter):
        for k, book in enumerate(cb):
            target = c.copy()
            for m, e in enumerate(est):
                if m != k:
                    target *= np.conj(e)
            w = (book.conj() @ target).real
            est[k] = snap(w @ book)
        history.append(indices())
        if len(history) >= 4 and all(h == history[-1] for h in history[-4:]):
            break
    return indices()


def report(name, ours, theirs):
    print(f"{name:<34} verrakin {ours * 1e3:9.3f} ms   numpy {theirs * 1e3:9.3f} ms   ratio {theirs / ours:6.2f}x")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dim", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    dim, rep = args.dim, args.repeat

    for n in (16, 65536):
        a, b = PhaseHVec.random(dim, n, 1), PhaseHVec.random(dim, n, 2)
        na, nb = np.array(a.phases(), dtype=np.uint16), np.array(b.phases(), dtype=np.uint16)
        assert np.array_equal(np_random(dim, n, 1), na)
        report(f"random dim={dim} n={n}", best_time(lambda: PhaseHVec.random(dim, n, 1), rep),
               best_time(lambda: np_random(dim, n, 1), rep))
        report(f"bind dim={dim} n={n}", best_time(lambda: a.bind(b), rep), best_time(lambda: np_bind(na, nb, n), rep))
        assert abs(a.similarity(b) - np_similarity(na, nb, n)) < 1e-9
        report(f"similarity dim={dim} n={n}", best_time(lambda: a.similarity(b), rep),
               best_time(lambda: np_similarity(na, nb, n), rep))
        items = [PhaseHVec.random(dim, n, s) for s in range(8)]
        np_items = [np.array(v.phases(), dtype=np.uint16) for v in items]
        report(f"bundle 8 items dim={dim} n={n}", best_time(lambda: PhaseHVec.bundle(items), rep),
               best_time(lambda: np_bundle(np_items, n), rep))

    d, n, factors, size = 1024, 16, 3, 32
    books = [[PhaseHVec.random(d, n, 1000 * f + j) for j in range(size)] for f in range(factors)]
    truth = [24, 26, 2]
    composite = books[0][truth[0]].bind(books[1][truth[1]]).bind(books[2][truth[2]])
    result = resonator_factorize(composite, books)
    assert [i for i, _ in result] == truth
    np_books = [[np.array(e.phases(), dtype=np.uint16) for e in book] for book in books]
    np_comp = np.array(composite.phases(), dtype=np.uint16)
    assert np_factorize(np_comp, np_books, n) == truth
    report(f"resonator d={d} F={factors} M={size}", best_time(lambda: resonator_factorize(composite, books), rep),
           best_time(lambda: np_factorize(np_comp, np_books, n), rep))


if __name__ == "__main__":
    main()
