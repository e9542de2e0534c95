"""verrakin_extras.similarities, best_match and similarity_matrix: every float
bit for bit what query.similarity(v) gives, the tie rule, the errors similarity
raises, the matrix's buffer, and interruption of a long batch."""

import signal
import sys
import time

import pytest

from helpers import NS, bits, vec
from verrakin import PhaseHVec
from verrakin_extras import best_match, from_levels, similarities, similarity_matrix

# Entry counts around the kernels' groups (32, 16, 8, 4, 2, 1) and blocks (64).
COUNTS = [0, 1, 2, 3, 7, 8, 9, 17, 32, 33, 41, 64, 65, 131]


def loop(query, vectors):
    return [bits(query.similarity(v)) for v in vectors]


@pytest.mark.parametrize("n", NS)
@pytest.mark.parametrize("dim", [0, 1, 3, 4, 5, 257])
def test_similarities_are_the_loop_bit_for_bit(n, dim):
    query = PhaseHVec.random(dim, n, 11)
    vectors = [PhaseHVec.random(dim, n, 100 + s) for s in range(19)] + [query]
    assert [bits(x) for x in similarities(query, vectors)] == loop(query, vectors)


@pytest.mark.parametrize("count", COUNTS)
def test_every_group_and_block_size(count):
    query = PhaseHVec.random(300, 16, 1)
    vectors = [PhaseHVec.random(300, 16, 1000 + s) for s in range(count)]
    got = similarities(query, vectors)
    assert type(got) is list and all(type(x) is float for x in got)
    assert [bits(x) for x in got] == loop(query, vectors)


# Each way of looking terms up: in registers (n <= 16), through pairs, by index
# in and beyond the first-level cache, by gathers; lengths leave partial groups
# of positions or fill the gathers' blocks of 16 and 32 exactly.
@pytest.mark.parametrize("n", [2, 7, 16, 17, 256, 4096, 4097, 65536])
@pytest.mark.parametrize("dim", [6, 32, 47, 259])
def test_every_lookup_with_full_groups_of_entries(n, dim):
    query = PhaseHVec.random(dim, n, 5)
    vectors = [PhaseHVec.random(dim, n, 500 + s) for s in range(41)]
    assert [bits(x) for x in similarities(query, vectors)] == loop(query, vectors)


def test_the_undreduced_difference_and_exact_values():
    """Terms depend on the signed difference, not the difference mod n."""
    a, b, c = vec([0], 4), vec([3], 4), vec([1], 4)
    assert similarities(a, [b, c, a]) == [-1.8369701987210297e-16, 6.123233995736766e-17, 1.0]
    worked_a, worked_b = PhaseHVec.random(8, 16, 42), PhaseHVec.random(8, 16, 0)
    assert similarities(worked_a, [worked_b]) == [-0.06764951251827453]


def test_tuples_and_repeated_vectors():
    query = PhaseHVec.random(64, 16, 1)
    other = PhaseHVec.random(64, 16, 2)
    assert similarities(query, (other, other, query)) == [query.similarity(other)] * 2 + [1.0]


def test_best_match_takes_the_lowest_index_among_equals():
    query = PhaseHVec.random(128, 16, 1)
    near = from_levels(query.phases()[:-1] + [(query.phases()[-1] + 1) % 16], 16)
    others = [PhaseHVec.random(128, 16, s) for s in range(2, 6)]
    assert best_match(query, others + [near, near]) == (4, query.similarity(near))
    assert best_match(query, [near, query, query]) == (1, 1.0)
    values = [query.similarity(v) for v in others]
    assert best_match(query, others) == (values.index(max(values)), max(values))


def test_best_match_of_nothing_is_an_error():
    with pytest.raises(ValueError, match="best_match\\(\\) arg 'vectors' is an empty sequence"):
        best_match(PhaseHVec.random(8, 16, 1), [])


def error_of(call):
    with pytest.raises(Exception) as info:
        call()
    return type(info.value), str(info.value)


@pytest.mark.parametrize("other", [PhaseHVec.random(9, 16, 1), PhaseHVec.random(8, 17, 1)], ids=["dim", "n"])
@pytest.mark.parametrize("function", [similarities, best_match])
def test_shape_mismatch_is_the_similarity_error(function, other):
    query = PhaseHVec.random(8, 16, 2)
    good = PhaseHVec.random(8, 16, 3)
    assert error_of(lambda: function(query, [good, other])) == error_of(lambda: query.similarity(other))
    assert error_of(lambda: similarity_matrix([query], [good, other])) == error_of(lambda: query.similarity(other))


@pytest.mark.parametrize("function", [similarities, best_match])
@pytest.mark.parametrize(
    "query, vectors, noted",
    [(5, [], "query"), (None, [], "query"), ("v", [1], "vectors"), ("v", [5], "vectors"), ("v", "ab", "vectors"),
     ("v", 7, "vectors")],
)
def test_type_errors_name_the_argument(function, query, vectors, noted, assert_note):
    v = PhaseHVec.random(8, 16, 1)
    query = v if query == "v" else query
    vectors = [v, vectors[0]] if isinstance(vectors, list) and vectors else vectors
    with pytest.raises(TypeError) as info:
        function(query, vectors)
    assert_note(info.value, noted)


def test_element_type_error_reads_like_similarity():
    v = PhaseHVec.random(8, 16, 1)
    assert error_of(lambda: similarities(v, [v, 3]))[1] == error_of(lambda: v.similarity(3))[1]


@pytest.mark.parametrize(
    "args, kwargs, message",
    [((), {}, "similarities() missing 2 required positional arguments: 'query' and 'vectors'"),
     ((1, 2, 3), {}, "similarities() takes 2 positional arguments but 3 were given"),
     ((), {"query": 1, "vector": 2}, "similarities() got an unexpected keyword argument 'vector'")],
)
def test_binding_messages(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        similarities(*args, **kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize("rows, columns", [(0, 0), (0, 3), (2, 0), (3, 9), (1, 70)])
def test_matrix_rows_are_similarities(rows, columns):
    queries = [PhaseHVec.random(200, 16, s) for s in range(rows)]
    vectors = [PhaseHVec.random(200, 16, 100 + s) for s in range(columns)]
    matrix = similarity_matrix(queries, vectors)
    assert isinstance(matrix, memoryview)
    assert (matrix.format, matrix.shape, matrix.itemsize, matrix.readonly) == ("d", (rows, columns), 8, False)
    assert [[bits(x) for x in row] for row in matrix.tolist()] == [loop(q, vectors) for q in queries]


# The matrix reads the entries a block at a time (about 256 KB of levels in
# whole groups of 32 entries: 32 at dim 8200, 128 at dim 1024) for every query
# in turn; each block's values land in every row at the block's own columns.
@pytest.mark.parametrize("dim, n, rows, columns", [(8200, 65536, 3, 37), (1024, 256, 2, 131), (0, 16, 2, 3)])
def test_matrix_blocks_of_entries_fill_every_row(dim, n, rows, columns):
    queries = [PhaseHVec.random(dim, n, s) for s in range(rows)]
    vectors = [PhaseHVec.random(dim, n, 100 + s) for s in range(columns)]
    matrix = similarity_matrix(queries, vectors)
    assert [[bits(x) for x in row] for row in matrix.tolist()] == [loop(q, vectors) for q in queries]


def test_numpy_takes_the_matrix_without_a_copy():
    np = pytest.importorskip("numpy")
    queries = [PhaseHVec.random(64, 16, s) for s in range(3)]
    vectors = [PhaseHVec.random(64, 16, 10 + s) for s in range(5)]
    matrix = similarity_matrix(queries, vectors)
    array = np.asarray(matrix)
    assert array.dtype == np.float64 and array.shape == (3, 5)
    assert np.shares_memory(array, np.asarray(matrix))
    array[0, 0] = 7.0
    assert matrix[0, 0] == 7.0
    assert array[2].tolist() == similarities(queries[2], vectors)


@pytest.mark.skipif(sys.platform == "win32", reason="setitimer is POSIX")
@pytest.mark.parametrize("call", ["similarities", "matrix"])
def test_a_signal_interrupts_a_long_batch(call):
    """The handler's exception ends the call itself, well before its work is
    done (a handler run only after the call returned would come seconds later)."""

    class Stop(Exception):
        pass

    def handler(signum, frame):
        raise Stop

    # Long vectors and few entries: reading the entries (which does not run the
    # handlers) stays short beside the 20 ms the alarm waits, even under the
    # sanitizers.
    query = PhaseHVec.random(100000, 16, 1)
    vectors = [PhaseHVec.random(100000, 16, s) for s in range(2, 402)] * 10  # 4,000 entries
    previous = signal.signal(signal.SIGALRM, handler)
    try:
        start = time.perf_counter()
        signal.setitimer(signal.ITIMER_REAL, 0.02)
        with pytest.raises(Stop):
            if call == "matrix":
                similarity_matrix([query] * 40, vectors)  # 1.6e10 terms: seconds at the least
            else:
                similarities(query, vectors * 10)  # 4e9 terms, 40,000 entries
        assert time.perf_counter() - start < 0.5
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def _held_calls():
    q = PhaseHVec.random(3, 16, 1)
    good = [PhaseHVec.random(3, 16, 2 + j % 50) for j in range(5000)]  # past the reserved room
    tail_bad = good[:700] + [object()]
    tail_short = good[:700] + [PhaseHVec.random(2, 16, 1)]
    return good, {
        "similarities": lambda: similarities(q, good),
        "best_match": lambda: best_match(q, good),
        "matrix": lambda: similarity_matrix(good[:3], good),
        "type-error-late": lambda: similarities(q, tail_bad),
        "shape-error-late": lambda: best_match(q, tail_short),
        "matrix-error-in-vectors": lambda: similarity_matrix([q], tail_bad),
    }


@pytest.mark.parametrize("name", list(_held_calls()[1]))
def test_held_elements_are_released_on_every_path(name):
    elements, calls = _held_calls()
    probes = elements[:3] + elements[699:701] + elements[-2:]

    def run(times):
        for _ in range(times):
            try:
                calls[name]()
            except (TypeError, ValueError):
                pass

    run(1)
    before = [sys.getrefcount(p) for p in probes]
    run(20)
    assert [sys.getrefcount(p) for p in probes] == before
