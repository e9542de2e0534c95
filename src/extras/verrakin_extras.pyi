"""Companions of verrakin for work done in loops: batch similarity, levels in and out,
rotation, factoring with diagnostics. Results are verrakin's own vectors and floats."""

from typing import Dict, List, Sequence, SupportsIndex, Tuple, Union

from typing_extensions import Buffer

from verrakin import PhaseHVec

__all__ = [
    "similarities",
    "best_match",
    "similarity_matrix",
    "from_levels",
    "levels",
    "to_bytes",
    "from_bytes",
    "permute",
    "factorize",
    "factorize_reliably",
    "enable_pickling",
    "build_info",
]

def similarities(query: PhaseHVec, vectors: Sequence[PhaseHVec]) -> List[float]: ...
def best_match(query: PhaseHVec, vectors: Sequence[PhaseHVec]) -> Tuple[int, float]: ...
def similarity_matrix(queries: Sequence[PhaseHVec], vectors: Sequence[PhaseHVec]) -> memoryview: ...
def from_levels(levels: Union[Sequence[SupportsIndex], Buffer], n: SupportsIndex) -> PhaseHVec: ...
def levels(v: PhaseHVec) -> memoryview: ...
def to_bytes(v: PhaseHVec) -> bytes: ...
def from_bytes(data: Buffer) -> PhaseHVec: ...
def permute(v: PhaseHVec, shift: SupportsIndex) -> PhaseHVec: ...
def factorize(
    composite: PhaseHVec, codebooks: Sequence[Sequence[PhaseHVec]], max_iter: SupportsIndex = 50
) -> Tuple[List[Tuple[int, float]], int, bool]: ...
def factorize_reliably(
    composite: PhaseHVec, codebooks: Sequence[Sequence[PhaseHVec]], max_iter: SupportsIndex = 50
) -> Tuple[List[Tuple[int, float]], int]: ...
def enable_pickling() -> None: ...
def build_info() -> Dict[str, str]: ...
