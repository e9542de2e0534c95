"""The resonator factorizer: edge cases, bounds panics and bit-exact runs."""

import os
import random
import subprocess
import sys

import pytest

import model
from helpers import NS, bits, expect_panic, rand_vec
from verrakin import PhaseHVec, resonator_factorize
from verrakin_extras import factorize


def book_of(rng, size, dim, n):
    """A codebook of `size` random entries, as (vector, phases) pairs."""
    return [rand_vec(rng, dim, n) for _ in range(size)]


def bound_composite(books, picks, n):
    """The bind of entry picks[k] of every codebook k."""
    v, p = books[0][picks[0]]
    for book, j in zip(books[1:], picks[1:]):
        v, p = v.bind(book[j][0]), model.bind(p, book[j][1], n)
    return v, p


def check(comp, books, max_iter):
    """Run extension and model on one problem; demand identical bits."""
    cv, cp = comp
    got = resonator_factorize(cv, [[v for v, _ in b] for b in books], max_iter)
    want = model.factorize(cp, cv.n, [[(p, v.n) for v, p in b] for b in books], max_iter)
    assert type(got) is list
    assert all(type(t) is tuple and type(t[0]) is int and type(t[1]) is float for t in got)
    assert [(i, bits(s)) for i, s in got] == [(i, bits(s)) for i, s, _, _ in want]
    # the model's stopping rule: four equal index vectors, or the limit
    assert len({(it, conv) for _, _, it, conv in want}) <= 1
    for _, _, it, conv in want:
        assert (4 <= it <= max_iter) if conv else it == max_iter
    return want


def test_no_codebooks():
    c = PhaseHVec.random(8, 16, 1)
    assert resonator_factorize(c, []) == []
    assert resonator_factorize(c, (), 0) == []
    assert model.factorize(c.phases(), 16, [], 50) == []


def test_empty_codebooks():
    rng = random.Random(2101)
    c = rand_vec(rng, 64, 16)
    [(i, s)] = resonator_factorize(c[0], [[]])
    assert (i, bits(s)) == (0, bits(0.0))
    books = [book_of(rng, 3, 64, 16), [], book_of(rng, 4, 64, 16)]
    want = check(c, books, 10)
    assert want[1][:2] == (0, 0.0)


@pytest.mark.parametrize("n", [2, 16, 65536])
def test_single_codebook_converges_at_sweep_four(n):
    rng = random.Random(n)
    books = [book_of(rng, 5, 96, n)]
    comp = books[0][2]
    want = check(comp, books, 50)
    assert want[0][2:] == (4, True)
    assert check(comp, books, 4)[0] == want[0]
    huge = resonator_factorize(comp[0], [[v for v, _ in books[0]]], 2**64 - 1)
    assert [(i, bits(s)) for i, s in huge] == [(want[0][0], bits(want[0][1]))]


@pytest.mark.parametrize("max_iter", [0, 1, 2, 3])
@pytest.mark.parametrize("sizes", [[4], [3, 5], [2, 3, 4]])
def test_short_sweep_limits(max_iter, sizes):
    rng = random.Random(max_iter * 10 + len(sizes))
    books = [book_of(rng, m, 48, 16) for m in sizes]
    comp = bound_composite(books, [m - 1 for m in sizes], 16)
    for _, _, it, conv in check(comp, books, max_iter):
        assert (it, conv) == (max_iter, False)


# While a sweep's matches cannot end the run they are found during the next
# sweep; at every limit up to and past the sweep that converges, the matches,
# the sweep count and the convergence must still be the model's.
@pytest.mark.parametrize("seed", range(6))
def test_every_sweep_limit_up_to_convergence(seed):
    rng = random.Random(4400 + seed)
    books = [book_of(rng, m, 40, 16) for m in (9, 5, 12)]
    comp = rand_vec(rng, 40, 16) if seed % 2 else bound_composite(books, [1, 2, 3], 16)
    lists = [[v for v, _ in b] for b in books]
    last = check(comp, books, 50)[0][2]
    for max_iter in range(1, last + 2):
        want = check(comp, books, max_iter)[0]
        assert factorize(comp[0], lists, max_iter)[1:] == (want[2], want[3])


def test_duplicate_entries_report_the_later_one():
    rng = random.Random(2104)
    a, b, d = (rand_vec(rng, 128, 16) for _ in range(3))
    assert [i for i, *_ in check(a, [[a, b, a, d]], 50)] == [2]
    assert check(a, [[d, a, a], [b, a]], 0)[0][0] == 2


def test_dim_zero():
    v = [PhaseHVec.random(0, 16, s) for s in range(4)]
    got = resonator_factorize(v[0], [v[:3], [v[3]], []])
    assert [(i, bits(s)) for i, s in got] == [(2, bits(0.0)), (0, bits(0.0)), (0, bits(0.0))]
    check((v[0], []), [[(x, []) for x in v[:3]], [(v[3], [])], []], 50)


def bounds(length, index):
    return f"index out of bounds: the len is {length} but the index is {index}"


@pytest.mark.parametrize("max_iter", [0, 1, 50])
@pytest.mark.parametrize("dims, composite_dim, length, index", [
    ([[16, 15]], 16, 15, 15),
    ([[17]], 16, 16, 16),
    ([[16, 17, 16]], 16, 16, 16),
    ([[16, 14], [15]], 16, 14, 14),
    ([[16], [15, 14]], 16, 15, 15),
    ([[17], [15]], 16, 15, 15),
    ([[16], [16, 17]], 16, 16, 16),
    ([[], [16, 26]], 16, 16, 16),
    ([[1]], 0, 0, 0),
    ([[0]], 1, 0, 0),
])
def test_wrong_entry_length_panics(dims, composite_dim, length, index, max_iter):
    rng = random.Random(2105)
    comp = rand_vec(rng, composite_dim, 16)
    books = [[rand_vec(rng, d, 16) for d in book] for book in dims]
    message = bounds(length, index)
    args = (comp[0], [[v for v, _ in b] for b in books], max_iter)
    expect_panic(resonator_factorize, *args, message=message)
    with pytest.raises(model.BoundsPanic, match=f"^{message}$"):
        model.factorize(comp[1], 16, [[(p, 16) for _, p in b] for b in books], max_iter)


@pytest.mark.parametrize("comp_n, entry_ns", [
    (16, [16, 65536]), (16, [3, 16]), (65536, [2, 2]), (5, [7, 4, 5]), (3, [65535])])
def test_mixed_resolutions(comp_n, entry_ns):
    rng = random.Random(comp_n)
    books = [book_of(rng, 4, 40, n) for n in entry_ns]
    same = [b for b in books if b[0][0].n == comp_n]
    comp = bound_composite(same, [1] * len(same), comp_n) if same else rand_vec(rng, 40, comp_n)
    check(comp, books, 12)


@pytest.mark.parametrize("n", [3, 5, 7])
def test_zero_sine_sum_with_negative_cosine_sum(n):
    # an all-level-0 entry has sines of exactly 0.0; a negative weight then
    # leaves a +0.0 sine sum and a negative cosine sum, which snaps to the
    # level (n + 1) / 2, not (n - 1) / 2
    rng = random.Random(n)
    comp = next(c for c in iter(lambda: rand_vec(rng, 64, n), None)
                if model.similarity(c[1], [0] * 64, n) < 0)
    zero = (comp[0].unbind(comp[0]), [0] * 64)
    [(_, s, _, _)] = check(comp, [[zero]], 6)
    assert bits(s) == bits(model.phasor_similarity(
        model.to_phasors([0] * 64, n), model.to_phasors([(n + 1) // 2] * 64, n)))


def test_repeatable_and_containers_and_composite_as_entry():
    rng = random.Random(2107)
    books = [book_of(rng, 6, 200, 16) for _ in range(3)]
    comp = bound_composite(books, [0, 5, 2], 16)
    books[1].append(comp)
    lists = [[v for v, _ in b] for b in books]
    first = resonator_factorize(comp[0], lists, 20)
    tuples = tuple(tuple(b) for b in lists)
    for again in (resonator_factorize(comp[0], lists, 20),
                  resonator_factorize(comp[0], tuples, 20),
                  resonator_factorize(max_iter=20, codebooks=lists, composite=comp[0])):
        assert [(i, bits(s)) for i, s in again] == [(i, bits(s)) for i, s in first]
    check(comp, books, 20)


def _problems():
    rng = random.Random(2108)
    for case in range(60):
        f = 1 + case % 5
        sizes = [rng.choice([1, 2, 3, 4, 6, 8]) for _ in range(f)]
        dim = rng.choice([1, 2, 7, 32, 100, 256])
        n = rng.choice(NS + [rng.randint(2, 65536)])
        bound = case % 3 != 0
        max_iter = rng.choice([0, 1, 4, 5, 7, 50] if bound else [0, 2, 4, 6, 9])
        yield f, sizes, dim, n, bound, max_iter, rng.getrandbits(32)


@pytest.mark.parametrize("f, sizes, dim, n, bound, max_iter, seed", list(_problems()))
def test_matches_model(f, sizes, dim, n, bound, max_iter, seed):
    rng = random.Random(seed)
    books = [book_of(rng, m, dim, n) for m in sizes]
    if bound:
        comp = bound_composite(books, [rng.randrange(m) for m in sizes], n)
    else:
        comp = rand_vec(rng, dim, n)
    check(comp, books, max_iter)


def test_recovers_the_bound_entries():
    # a resonator can settle on a spurious fixed point, so most (not all)
    # of these fixed problems must come back exactly
    recovered = 0
    for seed in range(10):
        rng = random.Random(seed)
        books = [book_of(rng, 32, 1024, 16) for _ in range(3)]
        truth = [rng.randrange(32) for _ in books]
        comp = bound_composite(books, truth, 16)
        got = resonator_factorize(comp[0], [[v for v, _ in b] for b in books])
        if [i for i, _ in got] == truth:
            recovered += 1
            assert all(s > 0.9 for _, s in got)
        if seed == 0:
            check(comp, books, 50)
    assert recovered >= 7


# Shapes that reach every block and tail of the vector kernels: groups of 8 and
# 16 entries and their remainders, 4-, 8- and 32-position steps, 128-position
# term blocks, tables in registers (n <= 16, 32, 64) and in memory, codebooks whose
# entries change resolution part-way (each run of equal n is its own kernel call).
WIDE = [
    # (composite n, dim, [[entry n per entry] per codebook], max_iter)
    (16, 257, [[16] * 33, [16] * 17], 6),
    (16, 131, [[16] * 16, [64] * 9, [16] * 3], 5),
    (256, 100, [[256] * 24, [256] * 8], 7),
    (3, 45, [[3] * 20, [65536] * 16], 4),
    (16, 32, [[16] * 9 + [64] * 9 + [16] * 18, [16] * 40], 8),
    (65536, 33, [[65536] * 17, [2] * 16], 5),
    (40, 70, [[40] * 17, [20] * 8, [40] * 3], 5),
    # entry counts leaving 2..7 spare lanes in a group of eight (the dispatch
    # splits them between vector kernels and the reference), on grids of 32
    # levels (register tables), 64 (two-level rows) and 256 ([cos sin] pairs)
    (64, 77, [[64] * 13, [64] * 6, [64] * 2], 5),
    (256, 50, [[256] * 7, [256] * 5, [256] * 4], 4),
    (32, 39, [[32] * 21, [16] * 15, [32] * 14], 5),
]


def _wide_inputs(case):
    """Seeds of the composite and entries of one WIDE problem."""
    comp_n, dim, ns, max_iter = WIDE[case]
    rng = random.Random(7700 + case)
    books = [[(n, rng.getrandbits(64)) for n in book] for book in ns]
    return comp_n, dim, books, rng.getrandbits(64), max_iter


def _wide_vectors(case):
    """The composite binds one entry of every codebook on its own grid."""
    comp_n, dim, books, seed, max_iter = _wide_inputs(case)
    comp = (PhaseHVec.random(dim, comp_n, seed), model.random_phases(dim, comp_n, seed))
    vbooks = [[(PhaseHVec.random(dim, n, s), model.random_phases(dim, n, s)) for n, s in b] for b in books]
    for book in vbooks:
        picks = [e for e in book if e[0].n == comp_n]
        if picks:
            e = picks[len(picks) // 2]
            comp = (comp[0].bind(e[0]), model.bind(comp[1], e[1], comp_n))
    return comp, vbooks, max_iter


# Extension and model run in the same interpreter: a stored result would tie
# the check to one C maths library (an emulated CPU picks another variant).
WIDE_SCRIPT = """
import sys
sys.path[:0] = {path!r}
from test_resonator import wide_results
got, want = wide_results()
print("ok" if got == want else ("mismatch", got, want))
"""


def wide_results():
    """(extension, model) results of every WIDE problem, as (index, float hex)."""
    got, want = [], []
    for case in range(len(WIDE)):
        (cv, cp), books, max_iter = _wide_vectors(case)
        ext = resonator_factorize(cv, [[v for v, _ in b] for b in books], max_iter)
        got.append([(i, s.hex()) for i, s in ext])
        ref = model.factorize(cp, cv.n, [[(p, v.n) for v, p in b] for b in books], max_iter)
        want.append([(i, float(s).hex()) for i, s, _, _ in ref])
    return got, want


@pytest.mark.parametrize("isa", ["scalar", "avx2", "avx512"])
def test_every_kernel_path_matches_model(isa):
    # a request above what the CPU runs falls back to its best path, which the
    # model must match all the same
    env = dict(os.environ, VERRAKIN_ISA=isa)
    code = WIDE_SCRIPT.format(path=[os.path.dirname(__file__)] + sys.path)
    run = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    assert run.stdout.strip() == "ok"


# Many resolutions near 65536 in the codebooks: more grid tables than their
# shared budget allows, so some grids compute each phasor when read.
def test_many_resolutions_beyond_the_table_budget_match_model():
    rng = random.Random(8)
    books = [[rand_vec(rng, 8192, 65536 - 2 * j - k) for j in range(3)] for k in range(2)]
    comp = rand_vec(rng, 8192, 65536)
    check(comp, books, 5)


PEAK_MEMORY = """
import resource
from verrakin import PhaseHVec, resonator_factorize
entries = [PhaseHVec.random(8192, 65536 - k, k) for k in range({entries})]
composite = PhaseHVec.random(8192, 65536, 7)
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
resonator_factorize(composite, [entries], 5)
print((resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) // 1024)
"""


def test_mixed_resolutions_keep_peak_memory_bounded():
    # 100 resolutions would take 100 MiB of tables; their budget here is 4 MiB
    run = subprocess.run([sys.executable, "-c", PEAK_MEMORY.format(entries=100)], capture_output=True, text=True,
                         check=True)
    assert int(run.stdout) < 24, "peak grew by %s MiB" % run.stdout.strip()
