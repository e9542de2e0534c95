"""Every operation of the module on one small set of vectors, success and error
paths alike: the catalogue that the allocation-failure sweep, the small-stack
check and the reference-count check walk through.

Each entry is (name, call); a call may raise (an error path is part of it)."""

from verrakin import PhaseHVec, resonator_factorize

R = PhaseHVec.random


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Raiser:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error("from __index__")


class LyingLength(list):
    def __len__(self):
        return 2**62


def catalogue():
    a, b, short, other_n = R(8, 16, 1), R(8, 16, 2), R(3, 16, 0), R(8, 17, 0)
    x, big = object(), int("9" * 30)
    items, bad_items = [a, b], [a, x]
    books = [[R(8, 16, 10 + j) for j in range(3)] for _ in range(2)]
    composite = books[0][1].bind(books[1][2])
    return [
        ("random", lambda: R(64, 16, 7)),
        ("random-keywords", lambda: R(seed=3, n=65536, dim=Index(5))),
        ("random-index-raises", lambda: R(4, 16, Raiser(KeyError))),
        ("random-bad-type", lambda: R(4.0, 16, 0)),
        ("random-overflow", lambda: R(4, 16, -1)),
        ("random-narrowing", lambda: R(4, 2**40, 0)),
        ("random-range", lambda: R(4, 1, 0)),
        ("random-huge", lambda: R(2**62, 16, 0)),
        ("random-surplus", lambda: R(1, 2, 3, 4)),
        ("random-missing", lambda: R(4)),
        ("random-unexpected", lambda: R(4, 16, 0, extra=1)),
        ("bind", lambda: a.bind(b)),
        ("unbind-keyword", lambda: a.unbind(other=b)),
        ("similarity", lambda: a.similarity(a)),
        ("bind-mismatch", lambda: a.bind(short)),
        ("similarity-mismatch", lambda: a.similarity(other_n)),
        ("bind-wrong-type", lambda: a.bind(x)),
        ("bind-none", lambda: a.bind(None)),
        ("bind-duplicate", lambda: a.bind(b, other=b)),
        ("bundle", lambda: PhaseHVec.bundle([a, b, a])),
        ("bundle-tuple-lying-length", lambda: PhaseHVec.bundle(LyingLength(items))),
        ("bundle-empty", lambda: PhaseHVec.bundle([])),
        ("bundle-str", lambda: PhaseHVec.bundle("ab")),
        ("bundle-not-sequence", lambda: PhaseHVec.bundle(5)),
        ("bundle-bad-element", lambda: PhaseHVec.bundle(bad_items)),
        ("bundle-range", lambda: PhaseHVec.bundle(range(10**18))),
        ("bundle-mismatch-panic", lambda: PhaseHVec.bundle([a, short])),
        ("phases", lambda: a.phases()),
        ("repr", lambda: repr(a)),
        ("dim-n", lambda: (a.dim, a.n)),
        ("construct", lambda: PhaseHVec()),
        ("resonator", lambda: resonator_factorize(composite, books, max_iter=Index(5))),
        ("resonator-bad-composite", lambda: resonator_factorize(x, books)),
        ("resonator-bad-codebook", lambda: resonator_factorize(composite, [items, bad_items])),
        ("resonator-bad-max-iter", lambda: resonator_factorize(composite, books, big)),
        ("resonator-panic", lambda: resonator_factorize(composite, [items, [short]])),
    ]


def extras_catalogue():
    """The same for the companion module verrakin_extras."""
    import array

    import verrakin_extras as X

    a, b, short, other_n = R(8, 16, 1), R(8, 16, 2), R(3, 16, 0), R(8, 17, 0)
    x = object()
    books = [[R(8, 16, 10 + j) for j in range(3)] for _ in range(2)]
    composite = books[0][1].bind(books[1][2])
    data = X.to_bytes(a)
    return [
        ("similarities", lambda: X.similarities(a, [a, b, a])),
        ("similarities-mismatch", lambda: X.similarities(a, [b, other_n])),
        ("similarities-bad-element", lambda: X.similarities(a, [b, x])),
        ("best-match", lambda: X.best_match(a, [b, a])),
        ("best-match-empty", lambda: X.best_match(a, [])),
        ("matrix", lambda: bytes(X.similarity_matrix([a, b], [a, b, a]))),
        ("matrix-mismatch", lambda: X.similarity_matrix([a, short], [b])),
        ("from-levels-list", lambda: X.from_levels([1, 2, Index(3)], 16)),
        ("from-levels-array", lambda: X.from_levels(array.array("q", [1, 2, 3]), 16)),
        ("from-levels-bad-level", lambda: X.from_levels([1, 2, 99], 16)),
        ("from-levels-bad-buffer-level", lambda: X.from_levels(array.array("h", [1, -2]), 16)),
        ("from-levels-bad-type", lambda: X.from_levels([1, "2"], 16)),
        ("from-levels-float-buffer", lambda: X.from_levels(array.array("d", [1.0]), 16)),
        ("from-levels-index-raises", lambda: X.from_levels([Raiser(KeyError)], 16)),
        ("from-levels-bad-n", lambda: X.from_levels([1], 1)),
        ("levels", lambda: X.levels(a).tolist()),
        ("levels-bad-type", lambda: X.levels(x)),
        ("to-bytes", lambda: X.to_bytes(a)),
        ("from-bytes", lambda: X.from_bytes(data)),
        ("from-bytes-truncated", lambda: X.from_bytes(data[:-1])),
        ("from-bytes-corrupted", lambda: X.from_bytes(data[:40] + b"\xff" + data[41:])),
        ("from-bytes-bad-type", lambda: X.from_bytes("text")),
        ("permute", lambda: X.permute(a, -3)),
        ("permute-huge", lambda: X.permute(a, 10**40)),
        ("permute-bad-shift", lambda: X.permute(a, 1.5)),
        ("factorize", lambda: X.factorize(composite, books, Index(5))),
        ("factorize-bad-codebook", lambda: X.factorize(composite, [books[0], [a, x]])),
        ("factorize-panic", lambda: X.factorize(composite, [books[0], [short]])),
        ("factorize-reliably", lambda: X.factorize_reliably(composite, books)),
        ("build-info", lambda: X.build_info()),
    ]
