"""The reliable-factoring search in plain Python, step by step: the model that
verrakin_extras.factorize_reliably is checked against (the same answers and the
same number of resonator calls). It calls `resonator_factorize` through this
module's global, so a test can count the calls.

`results` has the form `resonator_factorize` returns: one `(index, similarity)`
per codebook, in codebook order, indices into the caller's codebooks. `calls`
counts the `resonator_factorize` calls made."""

from __future__ import annotations

import itertools
from typing import Callable, Iterator, List, Optional, Sequence, Tuple

from verrakin import PhaseHVec, resonator_factorize

Answer = List[Tuple[int, float]]
Factorize = Callable[[PhaseHVec, List[List[PhaseHVec]], int], Answer]

# A factor reported at or above this similarity is peeled off as probably found.
# Converged right factors report >= 0.98; wrong ones mostly stay below 0.6 but
# reach ~0.8 in small sub-problems, so a peel is only kept if the check below holds.
CONFIDENT = 0.8
# The chosen entries bound together must match the composite at least this well:
# exactly 1.0 for the true entries of a composite that is their bind; for wrong
# entries about 0 with a spread of 1/sqrt(dim) (n = 2) or 1/sqrt(2 dim) (n > 2),
# so 0.5 is 8 spreads away from dim 256 up.
VERIFIED = 0.5


# Sub-problems are first tried with at most this many sweeps each (a call that
# will help usually has confident factors by then, and a call that will not
# would mostly run to max_iter); only the one-bit halves again with max_iter.
QUICK_SWEEPS = 8


def factorize_reliably(
    composite: PhaseHVec,
    codebooks: Sequence[Sequence[PhaseHVec]],
    max_iter: int = 50,
) -> Tuple[Answer, int]:
    """Factor `composite` over `codebooks`; returns (results, calls).

    If no answer reproduces the composite, the first call's answer is returned:
    its low reported similarities show that it is doubtful.
    """
    calls = 1
    # The first call takes the arguments as given, so its own errors reach the caller.
    first = resonator_factorize(composite, codebooks, max_iter)
    books = [list(book) for book in codebooks]
    if not books or not all(books):
        return first, calls  # nothing to search: no factors, or an empty codebook

    def factorize(target: PhaseHVec, sub_books: List[List[PhaseHVec]], sweeps: int) -> Answer:
        nonlocal calls
        calls += 1
        return resonator_factorize(target, sub_books, sweeps)

    found = _resolve(composite, books, first, factorize, max_iter)
    if found is not None:
        return found, calls
    quick = min(QUICK_SWEEPS, max_iter)
    bits = max(len(book) for book in books).bit_length()
    single = [1 << b for b in range(bits)]
    pairs = [3 << b for b in range(bits - 1)]  # neighbouring bits
    tiers = [(single, quick), (pairs, quick)] + ([(single, max_iter)] if max_iter > QUICK_SWEEPS else [])
    for splits, sweeps in tiers:
        for parts in _halves(books, splits):
            reported = factorize(composite, [[book[j] for j in part] for book, part in zip(books, parts)], sweeps)
            answer = [(part[j], similarity) for part, (j, similarity) in zip(parts, reported)]
            found = _resolve(composite, books, answer, factorize, max_iter)
            if found is not None:
                return found, calls
    return first, calls


def _resolve(
    target: PhaseHVec, books: List[List[PhaseHVec]], answer: Answer, factorize: Factorize, max_iter: int
) -> Optional[Answer]:
    """`answer` if its entries bind to `target`; else, when some but not all of
    its factors are confident, theirs completed by solving the rest (one call on
    the whole remainder, peeling again from its answer); else None."""
    if _accepted(target, books, answer):
        return answer
    sure = [k for k, (_, similarity) in enumerate(answer) if similarity >= CONFIDENT]
    if not 0 < len(sure) < len(books):
        return None
    # Peel the confident factors off and solve the rest; a wrong peel simply
    # finds nothing that binds to the remainder.
    rest = [k for k in range(len(books)) if k not in sure]
    remainder = target
    for k in sure:
        remainder = remainder.unbind(books[k][answer[k][0]])
    rest_books = [books[k] for k in rest]
    found = _resolve(remainder, rest_books, factorize(remainder, rest_books, max_iter), factorize, max_iter)
    if found is None:
        return None
    completed = list(answer)
    for k, result in zip(rest, found):
        completed[k] = result
    return completed


def _halves(books: List[List[PhaseHVec]], splits: List[int]) -> Iterator[List[List[int]]]:
    """Entry positions per codebook: for each split (a mask of index bits),
    every choice of halves by the parity of those bits of the entry index;
    choices where a codebook would be empty, or where no codebook is cut, are
    left out."""
    for split in splits:
        halves = [
            [[j for j in range(len(book)) if bin(j & split).count("1") % 2 == side] for side in (0, 1)]
            for book in books
        ]
        for sides in itertools.product((0, 1), repeat=len(books)):
            parts = [halves[k][side] for k, side in enumerate(sides)]
            if all(parts) and any(len(part) < len(book) for part, book in zip(parts, books)):
                yield parts


def _accepted(target: PhaseHVec, books: List[List[PhaseHVec]], answer: Answer) -> bool:
    """Whether the chosen entries reproduce `target`; where their shapes differ
    from it and they cannot be bound to it, whether every factor is confident."""
    entries = [book[j] for book, (j, _) in zip(books, answer)]
    if any((entry.dim, entry.n) != (target.dim, target.n) for entry in entries):
        return all(similarity >= CONFIDENT for _, similarity in answer)
    product = entries[0]
    for entry in entries[1:]:
        product = product.bind(entry)
    return target.similarity(product) >= VERIFIED
