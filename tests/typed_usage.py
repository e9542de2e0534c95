"""Typed code using every member of the API: CI type-checks it (mypy --strict,
basedpyright strict) against the installed stubs, and a test runs it."""

from __future__ import annotations

from collections.abc import Sequence

from verrakin import PhaseHVec, resonator_factorize


def codebook(dim: int, n: int, seeds: Sequence[int]) -> list[PhaseHVec]:
    return [PhaseHVec.random(dim, n, seed) for seed in seeds]


def nearest(query: PhaseHVec, memory: Sequence[PhaseHVec]) -> tuple[int, float]:
    scores: list[float] = [query.similarity(m) for m in memory]
    best = max(range(len(scores)), key=scores.__getitem__)
    return best, scores[best]


def main() -> list[tuple[int, float]]:
    colours, shapes = codebook(1024, 16, range(10, 18)), codebook(1024, 16, range(20, 28))
    role: PhaseHVec = PhaseHVec.random(dim=1024, n=16, seed=1)
    record = PhaseHVec.bundle((role.bind(colours[2]), PhaseHVec.random(1024, 16, 2).bind(shapes[5])))
    index, _ = nearest(record.unbind(role), colours)
    levels: list[int] = record.phases()
    shape: tuple[int, int] = (record.dim, record.n)
    assert index == 2 and len(levels) == shape[0] and repr(record) == "PhaseHVec(dim=1024, n=16)"
    found: list[tuple[int, float]] = resonator_factorize(colours[3].bind(shapes[6]), [colours, shapes], max_iter=20)
    return found


if __name__ == "__main__":
    print(main())
