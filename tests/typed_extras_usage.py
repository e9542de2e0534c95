"""Typed code using every function of verrakin_extras: CI type-checks it (mypy
--strict, basedpyright strict) against the installed stubs, and a test runs it."""

from __future__ import annotations

import array

from verrakin import PhaseHVec
from verrakin_extras import (
    best_match,
    build_info,
    enable_pickling,
    factorize,
    factorize_reliably,
    from_bytes,
    from_levels,
    levels,
    permute,
    similarities,
    similarity_matrix,
    to_bytes,
)


def main() -> str:
    memory: list[PhaseHVec] = [PhaseHVec.random(512, 16, seed) for seed in range(20)]
    query = memory[7]
    scores: list[float] = similarities(query, memory)
    index, score = best_match(query, memory)
    matrix: memoryview = similarity_matrix(memory[:3], memory)
    assert index == 7 and score == 1.0 == scores[7] and matrix.shape == (3, 20)
    view: memoryview = levels(query)
    again: PhaseHVec = from_levels(view, query.n)
    packed = from_levels(array.array("H", query.phases()), 16)
    assert from_levels(query.phases(), 16).phases() == again.phases() == packed.phases()
    data: bytes = to_bytes(query)
    assert from_bytes(data).phases() == permute(permute(query, 5), -5).phases()
    books = [memory[:10], memory[10:]]
    composite = books[0][3].bind(books[1][4])
    answer, sweeps, converged = factorize(composite, books, max_iter=20)
    reliable, calls = factorize_reliably(composite, books)
    assert answer == reliable and calls >= 1 and sweeps >= 1 and isinstance(converged, bool)
    enable_pickling()
    info: dict[str, str] = build_info()
    return info["kernels"]


if __name__ == "__main__":
    print(main())
