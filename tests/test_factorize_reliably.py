"""Reliable factoring (verrakin_extras.factorize_reliably): right answers where
one call fails, the result form, its call count against the step-by-step model
in reliable_model.py, determinism and edge cases."""

import random

import pytest

import reliable_model as recipe
from helpers import expect_panic
from verrakin import PhaseHVec, resonator_factorize
from verrakin_extras import factorize_reliably


def problem(dim, sizes, n, seed):
    """Codebooks of seeded random entries, true indices, and their bind."""
    rng = random.Random(seed)
    books = [[PhaseHVec.random(dim, n, seed * 1000 + 100 * k + j) for j in range(m)] for k, m in enumerate(sizes)]
    truth = [rng.randrange(m) for m in sizes]
    composite = books[0][truth[0]]
    for book, j in zip(books[1:], truth[1:]):
        composite = composite.bind(book[j])
    return composite, books, truth


def plain_outcome(composite, books, truth):
    """How one call does: 'right', 'partial' (some factor confident) or 'wrong'."""
    answer = resonator_factorize(composite, books)
    if [j for j, _ in answer] == truth:
        return "right"
    return "partial" if any(s >= recipe.CONFIDENT for _, s in answer) else "wrong"


# Small problems beyond one call's reach, at both ends of the resolution range,
# with three and four factors; one call solves only some of them.
HARD = [(400, (24, 24, 24), 16), (300, (16, 16, 16, 16), 16), (400, (24, 24, 24), 2), (256, (20, 12, 16), 16)]


@pytest.mark.parametrize("dim, sizes, n", HARD)
def test_recovers_the_truth_where_one_call_fails(dim, sizes, n):
    outcomes = set()
    for seed in range(1, 13):
        composite, books, truth = problem(dim, sizes, n, seed)
        outcomes.add(plain_outcome(composite, books, truth))
        results, calls = factorize_reliably(composite, books)
        assert [j for j, _ in results] == truth, seed
        assert calls >= 1
    assert outcomes - {"right"}, "the set must include problems one call gets wrong"


def test_the_fixed_set_needs_peeling_and_halves():
    """Both ways out of a wrong call occur: peeling a confident factor, and halves."""
    outcomes = set()
    for dim, sizes, n in HARD:
        for seed in range(1, 13):
            outcomes.add(plain_outcome(*problem(dim, sizes, n, seed)))
    assert outcomes == {"right", "partial", "wrong"}


@pytest.mark.parametrize("max_iter", [5, 8, 9, 40])
@pytest.mark.parametrize("dim, sizes, n", HARD)
def test_calls_are_counted_and_results_have_the_factorizer_form(dim, sizes, n, max_iter, monkeypatch):
    """The native search makes the model's calls, each with the caller's max_iter,
    and gives the model's answer bit for bit."""
    made = []

    def counting(composite, codebooks, max_iter=50):
        made.append(max_iter)
        return resonator_factorize(composite, codebooks, max_iter)

    monkeypatch.setattr(recipe, "resonator_factorize", counting)
    for seed in range(1, 7):
        composite, books, _ = problem(dim, sizes, n, seed)
        made.clear()
        want, want_calls = recipe.factorize_reliably(composite, books, max_iter)
        results, calls = factorize_reliably(composite, books, max_iter)
        assert calls == want_calls == len(made) and made[0] == max_iter
        assert set(made) <= {min(recipe.QUICK_SWEEPS, max_iter), max_iter}
        assert results == want
        assert type(results) is list and len(results) == len(books)
        for (j, s), book in zip(results, books):
            assert type(j) is int and type(s) is float
            assert 0 <= j < len(book) and -1.0 <= s <= 1.0


@pytest.mark.parametrize("dim, sizes, n", HARD)
def test_deterministic_and_indifferent_to_tuples(dim, sizes, n):
    for seed in range(1, 7):
        composite, books, _ = problem(dim, sizes, n, seed)
        first = factorize_reliably(composite, books)
        assert factorize_reliably(composite, books) == first
        assert factorize_reliably(composite, tuple(tuple(b) for b in books)) == first


def test_an_answer_one_call_gets_right_costs_one_call():
    for seed in range(1, 13):
        composite, books, truth = problem(512, (8, 8, 8), 16, seed)
        assert factorize_reliably(composite, books) == (resonator_factorize(composite, books), 1)


def test_returns_the_first_answer_when_nothing_binds_to_the_composite():
    _, books, _ = problem(128, (6, 5), 16, 7)
    stranger = PhaseHVec.random(128, 16, 99)
    results, calls = factorize_reliably(stranger, books)
    assert results == resonator_factorize(stranger, books)
    # whole problem; halves by 3 single bits twice and by 2 pairs of bits once, a peel each
    assert 1 < calls <= 1 + (2 * 3 + 2) * 4 * 2


@pytest.mark.parametrize("max_iter", [6, 30])
@pytest.mark.parametrize("sizes", [(6, 5), (9, 4, 3)])
def test_a_search_that_finds_nothing_makes_every_call_of_the_model(sizes, max_iter, monkeypatch):
    """Every split family and tier runs, in the model's order and with its sweep caps."""
    made = []

    def counting(composite, codebooks, max_iter=50):
        made.append(max_iter)
        return resonator_factorize(composite, codebooks, max_iter)

    monkeypatch.setattr(recipe, "resonator_factorize", counting)
    _, books, _ = problem(128, sizes, 16, 7)
    stranger = PhaseHVec.random(128, 16, 99)
    want, want_calls = recipe.factorize_reliably(stranger, books, max_iter)
    assert factorize_reliably(stranger, books, max_iter) == (want, want_calls) == (want, len(made))
    assert set(made) == {min(recipe.QUICK_SWEEPS, max_iter), max_iter}


def test_codebooks_a_split_cannot_cut_cost_no_time():
    """Thirty one-entry codebooks beside one of four: only the choices that cut
    the last one are made (a search over every side of every codebook would take
    2^31 steps), and their count stays within the search's bound."""
    books = [[PhaseHVec.random(64, 16, 500 + k)] for k in range(30)]
    books.append([PhaseHVec.random(64, 16, j) for j in range(4)])
    stranger = PhaseHVec.random(64, 16, 99)
    results, calls = factorize_reliably(stranger, books)
    assert results == resonator_factorize(stranger, books)
    # whole problem; bits 0 and 1 (bit 2 cuts nothing) twice, bits 0+1 and 1+2 once; two sides each
    assert 1 < calls <= 1 + (2 * 2 + 2) * 2 * 2


def test_duplicate_entries_still_verify():
    composite, books, truth = problem(600, (10, 10, 10), 16, 3)
    books[1].append(books[1][truth[1]])  # the true entry twice; either index is right
    results, _ = factorize_reliably(composite, books)
    assert [j for j, _ in results][::2] == truth[::2]
    assert books[1][results[1][0]].phases() == books[1][truth[1]].phases()


@pytest.mark.parametrize(
    "books, want",
    [
        ([], ([], 1)),  # no factors
        ([[]], ([(0, 0.0)], 1)),  # an empty codebook: nothing to search
        ([[PhaseHVec.random(64, 16, 1)], [], [PhaseHVec.random(64, 16, 2)]], None),
    ],
    ids=["no-codebooks", "empty-codebook", "one-empty-of-three"],
)
def test_no_factors_or_an_empty_codebook_give_the_plain_answer(books, want):
    composite = PhaseHVec.random(64, 16, 3)
    got = factorize_reliably(composite, books)
    assert got == (want or (resonator_factorize(composite, books), 1))


@pytest.mark.parametrize("n", [2, 16, 65536])
def test_single_codebook_and_single_entries(n):
    entries = [PhaseHVec.random(256, n, s) for s in range(10)]
    results, calls = factorize_reliably(entries[6], [entries])
    assert results[0][0] == 6 and results[0][1] > 0.99 and calls == 1
    singles = [[entries[1]], [entries[2]], [entries[3]]]
    composite = entries[1].bind(entries[2]).bind(entries[3])
    assert factorize_reliably(composite, singles) == ([(0, 1.0)] * 3, 1)


def test_entries_at_another_resolution_do_not_break_the_check():
    composite = PhaseHVec.random(64, 16, 1)
    books = [[PhaseHVec.random(64, 4, s) for s in range(5)]]  # binds with the composite would fail
    results, calls = factorize_reliably(composite, books)
    assert results == resonator_factorize(composite, books) and calls >= 1


@pytest.mark.parametrize(
    "args",
    [
        ("not a vector", [[PhaseHVec.random(8, 16, 1)]]),
        (PhaseHVec.random(8, 16, 1), 5),
        (PhaseHVec.random(8, 16, 1), [[PhaseHVec.random(8, 16, 2)]], -1),
    ],
    ids=["composite", "codebooks", "max_iter"],
)
def test_argument_errors_are_the_factorizers_own(args):
    with pytest.raises(Exception) as want:
        resonator_factorize(*args)
    with pytest.raises(type(want.value)) as got:
        factorize_reliably(*args)
    assert str(got.value) == str(want.value)


@pytest.mark.parametrize("length", [7, 9])
def test_entry_of_the_wrong_length_panics_like_the_factorizer(length):
    composite = PhaseHVec.random(8, 16, 1)
    books = [[PhaseHVec.random(8, 16, 2)], [PhaseHVec.random(length, 16, 3)]]
    message = f"index out of bounds: the len is {min(length, 8)} but the index is {min(length, 8)}"
    expect_panic(factorize_reliably, composite, books, message=message)
