"""Levels in and out of verrakin_extras: from_levels from sequences and buffers,
the read-only levels() view, to_bytes/from_bytes, and permute; hostile inputs
for every conversion."""

import array
import gc
import random
import sys
import weakref

import pytest

from helpers import NS
from verrakin import PhaseHVec
from verrakin_extras import from_bytes, from_levels, levels, permute, to_bytes



def same(a, b):
    return (a.dim, a.n, a.phases()) == (b.dim, b.n, b.phases())


@pytest.mark.parametrize("n", NS)
@pytest.mark.parametrize("dim", [0, 1, 5, 1000])
def test_round_trips_are_exact(n, dim):
    v = PhaseHVec.random(dim, n, 7)
    assert type(from_levels(v.phases(), n)) is PhaseHVec
    assert same(from_levels(v.phases(), n), v)
    assert same(from_levels(tuple(v.phases()), n), v)
    assert same(from_levels(levels(v), n), v)
    assert same(from_bytes(to_bytes(v)), v)
    assert list(levels(v)) == v.phases()


def test_from_levels_result_works_with_verrakin():
    v = PhaseHVec.random(64, 16, 3)
    w = from_levels(v.phases(), 16)
    assert w.similarity(v) == 1.0 and w.bind(v).phases() == v.bind(v).phases()
    assert repr(w) == "PhaseHVec(dim=64, n=16)"


@pytest.mark.parametrize("typecode", list("bBhHiIlLqQ"))
def test_integer_arrays_of_every_width(typecode):
    values = [0, 1, 15, 7, 3]
    assert from_levels(array.array(typecode, values), 16).phases() == values


@pytest.mark.parametrize("data", [b"\x00\x01\x02", bytearray(b"\x02\x01"), memoryview(b"\x01\x00")])
def test_bytes_like_levels_are_bytes(data):
    assert from_levels(data, 3).phases() == list(bytes(data))


def test_numpy_arrays_and_index_objects():
    np = pytest.importorskip("numpy")
    for dtype in (np.int8, np.uint16, np.int32, np.uint64, np.int64):
        assert from_levels(np.array([3, 0, 2], dtype=dtype), 4).phases() == [3, 0, 2]
    assert from_levels([np.int64(1), True, np.uint8(2)], 4).phases() == [1, 1, 2]
    assert from_levels(np.arange(10)[::2], 16).phases() == [0, 2, 4, 6, 8]  # strided: read through a copy


@pytest.mark.parametrize(
    "values, n, position, shown",
    [([0, 16], 16, 1, "16"), ([-1, 0], 16, 0, "-1"), ([1, 2, 3, 2**70], 16, 3, str(2**70)),
     ([0, 1, 2], 2, 2, "2"), ([65536], 65536, 0, "65536"), ([5, -(2**64)], 16, 1, str(-(2**64)))],
)
def test_bad_levels_name_the_first_bad_position(values, n, position, shown):
    with pytest.raises(ValueError) as info:
        from_levels(values, n)
    assert str(info.value) == f"levels[{position}] = {shown} is not a level in 0..{n - 1} (n = {n})"


@pytest.mark.parametrize("typecode", list("bhiq"))
def test_bad_levels_in_buffers(typecode):
    with pytest.raises(ValueError, match=r"^levels\[2\] = -1 "):
        from_levels(array.array(typecode, [0, 1, -1, 99]), 16)
    with pytest.raises(ValueError, match=r"^levels\[3\] = 99 "):
        from_levels(array.array(typecode, [0, 1, 2, 99]), 16)


# Buffers are checked in blocks of 2048 items: the first bad item must be found
# at either side of a block's edge, and a negative 16-bit item is refused even
# at n = 65536, where every unsigned 16-bit value is a level.
@pytest.mark.parametrize("typecode", list("bBhHiIqQ"))
@pytest.mark.parametrize("position", [0, 2047, 2048, 4095, 5000])
def test_the_first_bad_item_of_a_long_buffer(typecode, position):
    n = {"b": 2, "B": 2, "h": 65536}.get(typecode, 60000)
    bad = -1 if typecode.islower() else 2 if typecode == "B" else 60000
    items = array.array(typecode, [1] * 5001)
    items[position] = bad
    items[5000] = bad  # a later bad item must not be reported
    with pytest.raises(ValueError, match=rf"^levels\[{position}\] = {bad} "):
        from_levels(items, n)


@pytest.mark.parametrize("convert", ["from_levels", "from_bytes"])
@pytest.mark.parametrize("valid", [True, False])
def test_a_buffer_is_released_after_the_call(convert, valid):
    data = bytearray(to_bytes(PhaseHVec.random(100, 256, 4)))
    if not valid:
        data[-1] ^= 0xFF  # a bad checksum; as levels, a byte above 3
    try:
        from_levels(data, 256 if valid else 4) if convert == "from_levels" else from_bytes(data)
    except ValueError:
        assert not valid
    data.extend(b"\x00")  # BufferError while any export is still held
    levels16 = array.array("H", [1, 2, 3] if valid else [1, 2, 99])
    try:
        from_levels(levels16, 16)
    except ValueError:
        assert not valid
    levels16.append(0)


@pytest.mark.skipif(sys.version_info < (3, 12), reason="__buffer__ in Python code needs 3.12")
def test_python_buffer_exporters(assert_note):
    class Lends:
        def __init__(self, lent):
            self.lent, self.asked = lent, 0

        def __buffer__(self, flags):
            self.asked += 1
            if isinstance(self.lent, BaseException):
                raise self.lent
            return memoryview(self.lent)

    assert from_levels(Lends(array.array("i", [3, 0, 2])), 4).phases() == [3, 0, 2]
    assert from_levels(Lends(memoryview(array.array("q", range(8)))[::3]), 8).phases() == [0, 3, 6]
    refusing = Lends(ValueError("no buffer today"))
    with pytest.raises(ValueError, match="^no buffer today") as info:
        from_levels(refusing, 4)
    assert_note(info.value, "levels")
    assert refusing.asked >= 1
    with pytest.raises(ValueError, match="^no buffer today"):
        from_bytes(refusing)
    for convert in (lambda x: from_levels(x, 4), from_bytes):  # an interrupt is never swallowed
        interrupted = Lends(KeyboardInterrupt())
        with pytest.raises(KeyboardInterrupt):
            convert(interrupted)
        assert interrupted.asked == 1


@pytest.mark.parametrize(
    "levels_argument, error",
    [([0, 1.0], TypeError), ([0, "1"], TypeError), ([None], TypeError), ("0123", TypeError), (5, TypeError),
     (None, TypeError), (array.array("d", [0.0]), TypeError), ({0: 1}, TypeError), (array.array("f", [1.0]), TypeError)],
)
def test_wrong_types(levels_argument, error, assert_note):
    with pytest.raises(error) as info:
        from_levels(levels_argument, 16)
    assert_note(info.value, "levels")
    if isinstance(levels_argument, list):
        position = next(i for i, x in enumerate(levels_argument) if type(x) is not int)
        name = type(levels_argument[position]).__name__
        assert str(info.value) == f"levels[{position}] must be an integer, not '{name}'"


@pytest.mark.parametrize("dtype, reason", [(">u2", "integers in native byte order"), (">i8", "integers in native byte order"),
                                           ("<f8", "integers")])
def test_unreadable_buffer_formats_say_why(dtype, reason):
    np = pytest.importorskip("numpy")
    data = np.array([1, 2, 3], dtype=dtype)
    with pytest.raises(TypeError, match=rf"^levels must hold {reason}, not buffer format '{data.data.format}'"):
        from_levels(data, 16)


def test_two_dimensional_buffers_are_refused():
    np = pytest.importorskip("numpy")
    with pytest.raises(ValueError, match="one-dimensional"):
        from_levels(np.zeros((2, 2), dtype=np.uint16), 16)


@pytest.mark.parametrize("n", [0, 1, 65537, True])
def test_resolution_is_checked_as_random_checks_it(n):
    with pytest.raises(ValueError) as info:
        from_levels([0], n)
    assert str(info.value) == "n (phase resolution) must be in 2..=65536"


@pytest.mark.parametrize("n, error", [(-1, OverflowError), (2**32, OverflowError), ("16", TypeError)])
def test_resolution_conversion_errors_name_n(n, error, assert_note):
    with pytest.raises(error) as info:
        from_levels([0], n)
    assert_note(info.value, "n")


def test_a_sequence_that_changes_under_index_is_safe():
    class Shrinking:
        def __init__(self, target):
            self.target = target

        def __index__(self):
            self.target.clear()
            return 1

    values = [0, 0, 0]
    values[0] = Shrinking(values)
    with pytest.raises(RuntimeError, match="changed size"):
        from_levels(values, 4)


def test_levels_view_is_read_only_and_keeps_the_vector_alive():
    v = PhaseHVec.random(100, 16, 3)
    want = v.phases()
    view = levels(v)
    assert (view.format, view.itemsize, view.shape, view.readonly, view.nbytes) == ("H", 2, (100,), True, 200)
    with pytest.raises(TypeError):
        view[0] = 1
    del v
    gc.collect()
    tail = view[50:]
    del view
    gc.collect()
    assert tail.tolist() == want[50:]


def test_levels_view_of_an_empty_vector():
    view = levels(PhaseHVec.random(0, 16, 1))
    assert view.shape == (0,) and view.tobytes() == b""


def test_numpy_reads_the_levels_in_place():
    np = pytest.importorskip("numpy")
    v = PhaseHVec.random(50, 65536, 3)
    first, second = np.asarray(levels(v)), np.asarray(levels(v))
    assert first.dtype == np.uint16 and not first.flags.writeable
    assert np.shares_memory(first, second) and first.tolist() == v.phases()
    ref = weakref.ref(type(levels(v).obj))
    assert ref() is not None
    with pytest.raises(TypeError, match="cannot create"):
        type(levels(v).obj)()


@pytest.mark.parametrize("argument", [5, None, "v", [1, 2]])
def test_levels_and_to_bytes_want_a_vector(argument, assert_note):
    for function in (levels, to_bytes):
        with pytest.raises(TypeError) as info:
            function(argument)
        assert_note(info.value, "v")


def test_byte_layout_header():
    data = to_bytes(PhaseHVec.random(3, 16, 42))
    assert data[:4] == b"VKPH" and len(data) == 32 + 6
    assert int.from_bytes(data[4:8], "little") == 1
    assert int.from_bytes(data[8:16], "little") == 3 and int.from_bytes(data[16:20], "little") == 16
    assert list(memoryview(data[32:]).cast("H")) == PhaseHVec.random(3, 16, 42).phases()


def test_every_truncation_is_refused():
    data = to_bytes(PhaseHVec.random(5, 16, 1))
    for length in range(len(data)):
        with pytest.raises(ValueError):
            from_bytes(data[:length])
    with pytest.raises(ValueError):
        from_bytes(data + b"\x00\x00")


@pytest.mark.parametrize("dim, n", [(5, 16), (7, 2), (3, 65536)])
def test_every_flipped_bit_is_refused(dim, n):
    data = bytearray(to_bytes(PhaseHVec.random(dim, n, 9)))
    for byte in range(len(data)):
        for bit in range(8):
            data[byte] ^= 1 << bit
            with pytest.raises(ValueError):
                from_bytes(bytes(data))
            data[byte] ^= 1 << bit
    assert from_bytes(data).phases() == PhaseHVec.random(dim, n, 9).phases()


def test_swapped_levels_are_refused():
    data = bytearray(to_bytes(PhaseHVec.random(64, 16, 2)))
    data[32:40], data[40:48] = data[40:48], data[32:40]
    with pytest.raises(ValueError, match="checksum"):
        from_bytes(bytes(data))


@pytest.mark.parametrize(
    "data", [b"", b"VKP", b"hello world", b"\x80\x04\x95" + b"\x00" * 40, bytes(range(64)), b"VKPH" + b"\xff" * 28]
)
def test_foreign_bytes_are_refused(data):
    with pytest.raises(ValueError):
        from_bytes(data)


def test_random_bytes_are_refused():
    rng = random.Random(5)
    for _ in range(200):
        with pytest.raises(ValueError):
            from_bytes(b"VKPH\x01\x00\x00\x00" + rng.randbytes(rng.randrange(0, 80)))


@pytest.mark.parametrize("argument", ["text", 5, None, [1, 2]])
def test_from_bytes_wants_bytes(argument, assert_note):
    with pytest.raises(TypeError) as info:
        from_bytes(argument)
    assert_note(info.value, "data")


def test_from_bytes_takes_any_bytes_like_object():
    v = PhaseHVec.random(9, 16, 4)
    data = to_bytes(v)
    for form in (bytearray(data), memoryview(data), array.array("B", data)):
        assert same(from_bytes(form), v)


def roll(values, shift):
    if not values:
        return []
    shift %= len(values)
    return values[-shift:] + values[:-shift] if shift else list(values)


@pytest.mark.parametrize("dim", [0, 1, 2, 7, 1000])
@pytest.mark.parametrize("shift", [0, 1, -1, 3, -3, 6, 7, 8, -15, 999, 2**70 + 1, -(2**70) - 1, True])
def test_permute_is_numpy_roll(dim, shift):
    v = PhaseHVec.random(dim, 16, 5)
    w = permute(v, shift)
    assert (w.dim, w.n) == (v.dim, v.n) and w.phases() == roll(v.phases(), shift)
    assert permute(w, -shift).phases() == v.phases()


def test_permute_agrees_with_numpy():
    np = pytest.importorskip("numpy")
    v = PhaseHVec.random(37, 65536, 1)
    for shift in (-40, -1, 5, 36, 37, 80, np.int64(9)):
        assert permute(v, shift).phases() == np.roll(v.phases(), int(shift)).tolist()


@pytest.mark.parametrize("shift, noted", [(1.5, "shift"), ("1", "shift"), (None, "shift")])
def test_permute_shift_must_be_an_integer(shift, noted, assert_note):
    with pytest.raises(TypeError) as info:
        permute(PhaseHVec.random(4, 16, 1), shift)
    assert_note(info.value, noted)


def test_permute_wants_a_vector(assert_note):
    with pytest.raises(TypeError) as info:
        permute([1, 2], 1)
    assert_note(info.value, "v")


def test_results_are_new_vectors():
    v = PhaseHVec.random(8, 16, 1)
    assert permute(v, 0) is not v and from_bytes(to_bytes(v)) is not v
