"""A quick tour of verrakin: records of role-filler pairs, a clean-up memory,
factoring a composite back into its codebook entries, and reproducibility.

    python examples/demo.py [--plot FILE.png]

`--plot` (needs matplotlib) draws the queries against the clean-up memory and
the factorizer's similarities as heat maps.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence

from verrakin import PhaseHVec
from verrakin_extras import factorize_reliably

DIM, N = 2048, 16
ROLES = ("colour", "shape", "size")
BOOK_SIZE = 8
# One codebook per role, reproducible from its seeds: seed 100*(r+1)+j.
BOOK_SEEDS = [[100 * (r + 1) + j for j in range(BOOK_SIZE)] for r in range(len(ROLES))]
ROLE_SEEDS = [1, 2, 3]
RECORDS = [(3, 5, 1), (0, 2, 7), (6, 1, 4)]  # filler index per role
FACTORS = (6, 1, 4)  # the entries bound into the composite


def build() -> tuple[list[list[PhaseHVec]], list[PhaseHVec]]:
    books = [[PhaseHVec.random(DIM, N, s) for s in seeds] for seeds in BOOK_SEEDS]
    roles = [PhaseHVec.random(DIM, N, s) for s in ROLE_SEEDS]
    return books, roles


def make_record(roles: Sequence[PhaseHVec], books: Sequence[Sequence[PhaseHVec]], picks: Sequence[int]) -> PhaseHVec:
    """A record {role: filler} as one bundle of role-filler bindings."""
    return PhaseHVec.bundle([role.bind(book[p]) for role, book, p in zip(roles, books, picks)])


def composite_of(books: Sequence[Sequence[PhaseHVec]], picks: Sequence[int]) -> PhaseHVec:
    composite = books[0][picks[0]]
    for book, p in zip(books[1:], picks[1:]):
        composite = composite.bind(book[p])
    return composite


def query_scores(
    records: Sequence[PhaseHVec], roles: Sequence[PhaseHVec], memory: Sequence[PhaseHVec]
) -> list[list[float]]:
    """Similarity of every (record, role) query to every clean-up memory entry."""
    return [[record.unbind(role).similarity(m) for m in memory] for record in records for role in roles]


def factor_scores(
    composite: PhaseHVec, books: Sequence[Sequence[PhaseHVec]], found: Sequence[int]
) -> list[list[float]]:
    """Per factor: each entry's similarity to the composite with the other found factors taken out."""
    rows: list[list[float]] = []
    for k, book in enumerate(books):
        rest = composite
        for m, other in enumerate(books):
            if m != k:
                rest = rest.unbind(other[found[m]])
        rows.append([rest.similarity(entry) for entry in book])
    return rows


def plot(path: str, queries: list[list[float]], factors: list[list[float]], found: Sequence[int]) -> None:
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        sys.exit("--plot needs matplotlib: pip install matplotlib (or the '.[bench]' extra)")
    fig, (left, right) = plt.subplots(1, 2, figsize=(12, 4.8), width_ratios=[3, 1.25], layout="constrained")
    image = left.imshow(queries, vmin=-0.2, vmax=1.0, cmap="viridis", aspect="auto")
    left.set_title("record queries against the clean-up memory")
    left.set_yticks(range(len(queries)), [f"record {r}: {role}" for r in range(len(RECORDS)) for role in ROLES])
    left.set_xticks(range(len(ROLES) * BOOK_SIZE), [f"{role[:2]}{j}" for role in ROLES for j in range(BOOK_SIZE)])
    left.tick_params(axis="x", labelsize=7)
    right.imshow(factors, vmin=-0.2, vmax=1.0, cmap="viridis", aspect="auto")
    right.set_title("factorizer: entry similarities")
    right.set_yticks(range(len(ROLES)), list(ROLES))
    right.set_xticks(range(BOOK_SIZE), [str(j) for j in range(BOOK_SIZE)])
    right.set_xlabel("codebook entry")
    for k, j in enumerate(found):
        right.text(j, k, f"{factors[k][j]:.2f}", ha="center", va="center", color="black", fontsize=8)
    fig.colorbar(image, ax=right, label="similarity")
    fig.savefig(path, dpi=110)
    print(f"plot written to {path}")


def main() -> None:
    parser = argparse.ArgumentParser(description="A quick tour of verrakin.")
    parser.add_argument("--plot", metavar="FILE.png", help="write heat maps of the similarities (needs matplotlib)")
    args = parser.parse_args()

    books, roles = build()
    memory = [entry for book in books for entry in book]  # the clean-up memory

    # Records: unbinding a role leaves a noisy copy of its filler; the nearest
    # memory entry cleans it up.
    records = [make_record(roles, books, picks) for picks in RECORDS]
    queries = query_scores(records, roles, memory)
    for r, picks in enumerate(RECORDS):
        decoded: list[str] = []
        for k, role in enumerate(ROLES):
            scores = queries[r * len(ROLES) + k]
            best = max(range(len(memory)), key=scores.__getitem__)
            decoded.append(f"{role}={best - k * BOOK_SIZE} ({scores[best]:.3f})")
            assert best == k * BOOK_SIZE + picks[k]
        print(f"record {r}: " + ", ".join(decoded))

    # Factoring: which entry of each codebook was bound into the composite?
    composite = composite_of(books, FACTORS)
    results, calls = factorize_reliably(composite, books)
    found = [index for index, _ in results]
    print(f"factors of the composite (index, similarity): {results} after {calls} resonator call(s)")
    assert found == list(FACTORS)

    # Reproducibility: everything rebuilt from the seeds gives identical levels
    # and bit-identical floats.
    books2, roles2 = build()
    again, _ = factorize_reliably(composite_of(books2, FACTORS), books2)
    same_record = make_record(roles2, books2, RECORDS[0]).phases() == records[0].phases()
    assert again == results and same_record
    print(f"rebuilt from seeds: record identical {same_record}, factors identical {again == results}")

    if args.plot:
        plot(args.plot, queries, factor_scores(composite, books, found), found)


if __name__ == "__main__":
    main()
