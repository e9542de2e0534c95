"""Factor a composite reliably with `verrakin_extras.factorize_reliably`: a short,
deterministic search around the resonator that recovers the true entries almost
always, where one `resonator_factorize` call often settles on a wrong answer.

    results, calls = factorize_reliably(composite, codebooks)

`results` has the form `resonator_factorize` returns: one `(index, similarity)`
per codebook, in codebook order. `calls` counts the resonator runs made. Same
inputs, same answer, same calls. (This file used to hold the recipe itself; it
now lives in the companion module and is imported from there.)

Run it to see one problem that a single call gets wrong solved by the search.
"""

from __future__ import annotations

import random

from verrakin import PhaseHVec, resonator_factorize
from verrakin_extras import factorize_reliably

__all__ = ["factorize_reliably"]


def main() -> None:
    dim, sizes, n = 400, (24, 24, 24), 16
    for seed in range(1, 50):
        rng = random.Random(seed)
        books = [[PhaseHVec.random(dim, n, seed * 1000 + 100 * k + j) for j in range(m)] for k, m in enumerate(sizes)]
        truth = [rng.randrange(m) for m in sizes]
        composite = books[0][truth[0]].bind(books[1][truth[1]]).bind(books[2][truth[2]])
        one_call = [j for j, _ in resonator_factorize(composite, books)]
        if one_call != truth:
            results, calls = factorize_reliably(composite, books)
            print(f"truth {truth}; one call {one_call}; reliably {[j for j, _ in results]} in {calls} calls")
            return


if __name__ == "__main__":
    main()
