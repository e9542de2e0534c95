"""Error values, internal fatal errors raised as pyo3_runtime.PanicException,
exceptions coming back from Python code, exhaustion of memory, and reference
counts on every path."""

import os
import subprocess
import sys
import textwrap

import pytest

import verrakin
from verrakin import PhaseHVec, resonator_factorize

R = PhaseHVec.random
MISMATCH = "phase vectors differ in dimension or resolution"
RANGE_ERROR = "n (phase resolution) must be in 2..=65536"
EMPTY = "cannot bundle an empty list"

UNDER_SANITIZER = os.environ.get("VERRAKIN_SANITIZER") == "1"
# The sanitizer's allocator aborts on a huge request unless told to return null.
huge_malloc_fails_softly = pytest.mark.skipif(
    UNDER_SANITIZER and "allocator_may_return_null=1" not in os.environ.get("ASAN_OPTIONS", ""),
    reason="the sanitizer's allocator aborts on oversized requests",
)


def panic_of(call):
    with pytest.raises(BaseException) as ei:
        call()
    assert type(ei.value).__name__ == "PanicException", repr(ei.value)
    return ei.value


def run_python(script):
    proc = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True, timeout=300
    )
    assert proc.returncode == 0, proc.stderr
    return proc.stdout, proc.stderr


# --- error values ---------------------------------------------------------------


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: R(8, 16, 0).bind(R(7, 16, 0)), MISMATCH),
        (lambda: R(8, 16, 0).unbind(R(8, 17, 0)), MISMATCH),
        (lambda: R(0, 16, 0).similarity(R(1, 16, 0)), MISMATCH),
        (lambda: R(4, 1, 0), RANGE_ERROR),
        (lambda: R(0, 65537, 2**64 - 1), RANGE_ERROR),
        (lambda: R(2**62, 1, 0), RANGE_ERROR),  # the range check comes before the allocation
        (lambda: R(2**64 - 1, 0, 0), RANGE_ERROR),
        (lambda: PhaseHVec.bundle([]), EMPTY),
        (lambda: PhaseHVec.bundle(()), EMPTY),
    ],
)
def test_phase_error_is_a_plain_value_error(call, message, assert_note):
    with pytest.raises(ValueError) as ei:
        call()
    assert type(ei.value) is ValueError
    assert ei.value.args == (message,) and str(ei.value) == message
    assert ei.value.__cause__ is None
    assert_note(ei.value, None)


# --- internal fatal errors ------------------------------------------------------


def test_panic_exception_type():
    e = panic_of(lambda: R(2**62, 16, 0))
    t = type(e)
    assert e.args == ("capacity overflow",) and str(e) == "capacity overflow"
    assert not isinstance(e, Exception)
    assert t.__bases__ == (BaseException,)
    assert t.__module__ == "pyo3_runtime" and t.__name__ == t.__qualname__ == "PanicException"
    assert t.__doc__.startswith("\n") and t.__doc__.endswith("\n")
    assert "pyo3_runtime" not in sys.modules and not hasattr(verrakin, "PanicException")


def test_panic_is_not_caught_by_except_exception():
    with pytest.raises(BaseException) as ei:
        try:
            R(2**64 - 1, 16, 1)
        except Exception:  # noqa: BLE001 - it must not catch the panic
            pytest.fail("PanicException caught as Exception")
    assert ei.value.args == ("capacity overflow",)


def test_panics_share_one_type_and_leave_everything_usable():
    a, b = R(4, 16, 3), R(3, 16, 3)
    before = (a.phases(), b.phases())
    panics = [
        panic_of(lambda: R(2**62, 16, 0)),
        panic_of(lambda: R(2**64 - 1, 65536, 2**64 - 1)),
        panic_of(lambda: PhaseHVec.bundle([a, b])),
        panic_of(lambda: resonator_factorize(a, [[b]])),
    ]
    assert len({type(p) for p in panics}) == 1
    assert len({p.args for p in panics}) == 3
    assert (a.phases(), b.phases()) == before
    assert R(8, 16, 42).phases() == [7, 13, 9, 14, 12, 10, 0, 12]


def test_panic_writes_a_diagnostic(capfd):
    panic_of(lambda: R(2**62, 16, 0))
    assert "capacity overflow" in capfd.readouterr().err


def test_panic_raised_from_python_code_is_resumed():
    out, err = run_python(
        """
        import sys
        from verrakin import PhaseHVec as P
        try:
            P.random(2**62, 16, 0)
        except BaseException as e:
            first = e

        class Bad:
            def __index__(self):
                raise first

        sys.stderr.write("=== resume ===\\n")
        sys.stderr.flush()
        try:
            P.random(Bad(), 16, 0)
        except BaseException as e:
            second = e
        print(type(second) is type(first), second is not first, second.args, hasattr(second, "__notes__"))
        print(P.random(8, 16, 42).phases())
        """
    )
    assert out.splitlines() == ["True True ('capacity overflow',) False", "[7, 13, 9, 14, 12, 10, 0, 12]"]
    lines = err.split("=== resume ===\n", 1)[1].splitlines()
    starts = [i for i, line in enumerate(lines) if line.startswith("--- ") and line.endswith(" ---")]
    assert starts, err
    i = starts[0]
    assert lines[i + 1 : i + 3] == ["Python stack trace below:", "Traceback (most recent call last):"], err
    rest = lines[i + 3 :]
    assert any("in __index__" in line for line in rest), err
    assert "pyo3_runtime.PanicException: capacity overflow" in rest, err


def test_panic_subclass_is_an_ordinary_exception(capfd, assert_note):
    class Sub(type(panic_of(lambda: R(2**62, 16, 0)))):
        pass

    err = Sub("own")
    capfd.readouterr()
    with pytest.raises(Sub) as ei:
        R(4, 16, Raiser(err))
    assert ei.value is err and err.args == ("own",)
    assert_note(err, "seed")
    assert "Python stack trace below:" not in capfd.readouterr().err


# --- exceptions from Python code --------------------------------------------------


class Raiser:
    """Its __index__ raises the given exception, or a fresh one of a given class."""

    def __init__(self, err):
        self.err = err

    def __index__(self):
        raise self.err("fresh") if isinstance(self.err, type) else self.err


def test_exception_from_index_reaches_caller_unchanged(assert_note):
    err = KeyError("k")
    with pytest.raises(KeyError) as ei:
        R(4, 16, Raiser(err))
    assert ei.value is err and err.args == ("k",)
    assert_note(err, "seed")


@pytest.mark.skipif(sys.version_info < (3, 11), reason="notes exist from 3.11 on")
def test_note_is_appended_to_existing_notes():
    err = KeyError("k")
    err.add_note("mine")
    with pytest.raises(KeyError):
        R(Raiser(err), 16, 0)
    assert err.__notes__ == ["mine", "while processing 'dim'"]


class Nested:
    """An __index__ that calls back into the module `depth` times before failing."""

    def __init__(self, depth, parameter):
        self.depth, self.parameter = depth, parameter

    def __index__(self):
        if self.depth == 0:
            raise KeyError("deep")
        inner = Nested(self.depth - 1, self.parameter)
        args = [4, 16, 0]
        args[["dim", "n", "seed"].index(self.parameter)] = inner
        R(*args)


@pytest.mark.parametrize("parameter", ["dim", "seed"])
@pytest.mark.parametrize("depth", [1, 40])
def test_nested_conversions_note_an_exception_once(parameter, depth, assert_note):
    with pytest.raises(KeyError) as info:
        R(*[Nested(depth, parameter) if name == parameter else value
            for name, value in zip(["dim", "n", "seed"], [4, 16, 0])])
    assert_note(info.value, parameter)


class NoteRecorder(Exception):
    def add_note(self, note):
        self.recorded = note


class NoteRefuser(Exception):
    def add_note(self, note):
        raise RuntimeError("no notes here")


def test_note_goes_through_the_exceptions_own_add_note():
    err = NoteRecorder()
    with pytest.raises(NoteRecorder) as ei:
        R(4, Raiser(err), 0)
    assert ei.value is err and err.recorded == "while processing 'n'"


@pytest.mark.parametrize("make", [NoteRefuser, lambda: _with_attr(ValueError("v"), "__notes__", "not a list")])
def test_failing_add_note_is_discarded(make):
    err = make()
    with pytest.raises(type(err)) as ei:
        R(4, 16, Raiser(err))
    assert ei.value is err and ei.value.__context__ is None


def _with_attr(obj, name, value):
    setattr(obj, name, value)
    return obj


# --- exhaustion of memory -----------------------------------------------------------


@huge_malloc_fails_softly
@pytest.mark.parametrize("dim", [2**61, 2**62 - 1])
def test_impossible_allocation_raises_memory_error(dim):
    with pytest.raises(MemoryError):
        R(dim, 16, 0)
    assert R(3, 16, 0).phases() == R(3, 16, 0).phases()


def _kernel_refuses_huge_allocations():
    try:
        with open("/proc/sys/vm/overcommit_memory") as f:
            return f.read().strip() != "1"  # mode 1 would hand out 2 TiB and let the writes fail
    except OSError:
        return False


@huge_malloc_fails_softly
@pytest.mark.skipif(not _kernel_refuses_huge_allocations(), reason="needs a kernel that refuses a 2 TiB allocation")
def test_two_tebibyte_allocation_raises_memory_error():
    with pytest.raises(MemoryError):
        R(2**40, 16, 0)
    assert R(8, 16, 42).phases() == [7, 13, 9, 14, 12, 10, 0, 12]


@pytest.mark.skipif(UNDER_SANITIZER, reason="the sanitizer reserves far more address space than the limit")
@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="RLIMIT_AS is enforced on Linux")
def test_memory_error_under_address_space_limit():
    out, _ = run_python(
        """
        import resource
        from verrakin import PhaseHVec as P

        def outcome(call):
            try:
                call()
            except MemoryError:
                return "MemoryError"
            except BaseException as e:
                return repr(e)
            return "no error"

        small = P.random(5, 16, 7).phases()
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, resource.getrlimit(resource.RLIMIT_AS)[1]))
        print(outcome(lambda: P.random(2**31, 16, 7)))
        v = P.random(2**27, 16, 7)           # 256 MiB: fits
        print(outcome(v.phases))              # a 1 GiB list: does not
        print(repr(v), outcome(lambda: v.bind(P.random(2**27, 16, 1))))
        del v
        print(P.random(2**25, 16, 7).phases()[:5] == small, P.random(5, 16, 7).phases() == small)
        """
    )
    assert out.splitlines() == [
        "MemoryError",
        "MemoryError",
        f"PhaseHVec(dim={2**27}, n=16) no error",
        "True True",
    ]


@pytest.mark.skipif(UNDER_SANITIZER, reason="the sanitizer reserves far more address space than the limit")
@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="RLIMIT_AS is enforced on Linux")
def test_memory_error_names_the_table_or_array():
    # The address-space limit is raised step by step above what the process
    # uses, so that each allocation of the calls is the first to fail once.
    out, _ = run_python(
        """
        import resource
        from verrakin import PhaseHVec as P, resonator_factorize

        def address_space():
            with open("/proc/self/status") as f:
                return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize:"))

        books = [[P.random(8192, 65536 - k, k) for k in range(4)]]
        composite = P.random(8192, 65536, 9)
        items = [P.random(100000, 65535, k) for k in range(3)]
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        messages = set()
        for margin in range(0, 8 << 20, 64 << 10):
            for call in (lambda: resonator_factorize(composite, books, 5), lambda: P.bundle(items)):
                resource.setrlimit(resource.RLIMIT_AS, (address_space() + margin, hard))
                try:
                    call()
                except MemoryError as error:
                    messages.add(str(error))
                finally:
                    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        print("\\n".join(sorted(messages)))
        """
    )
    messages = out.splitlines()
    assert "could not allocate 1048576 bytes for 65536 resonator grid table levels" in messages
    assert "could not allocate working memory" not in messages, messages
    assert all(m.startswith("could not allocate ") and " bytes for " in m for m in messages), messages


# --- reference counts ---------------------------------------------------------------


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def _calls():
    a, b, short = R(8, 16, 1), R(8, 16, 2), R(3, 16, 0)
    x, big, idx = object(), int("1" * 30), Index(5)
    items = [a, b]
    bad_items = [a, x]
    key_error = Raiser(KeyError)
    probes = [a, b, short, x, big, idx, items, bad_items, key_error, PhaseHVec]
    calls = {
        "bind": lambda: a.bind(b),
        "unbind-kw": lambda: a.unbind(other=b),
        "similarity-self": lambda: a.similarity(a),
        "bind-wrong-type": lambda: a.bind(x),
        "bind-kw-wrong-type": lambda: a.bind(other=big),
        "bind-mismatch": lambda: a.bind(short),
        "bind-surplus": lambda: a.bind(b, x),
        "bind-duplicate": lambda: a.bind(b, other=x),
        "random": lambda: R(idx, 16, big % 7),
        "random-bad-seed": lambda: R(4, 16, x),
        "random-big-dim": lambda: R(big, 16, 0),
        "random-big-n": lambda: R(4, big, idx),
        "random-unexpected": lambda: R(4, 16, seed=x, extra=x),
        "random-index-raises": lambda: R(4, 16, key_error),
        "random-panic": lambda: R(2**62, 16, idx),
        "phases-repr-attrs": lambda: (a.phases(), repr(a), a.dim, a.n),
        "bundle": lambda: PhaseHVec.bundle(items),
        "bundle-tuple": lambda: PhaseHVec.bundle((a, b, a)),
        "bundle-bad-element": lambda: PhaseHVec.bundle(bad_items),
        "bundle-not-sequence": lambda: PhaseHVec.bundle(x),
        "bundle-panic": lambda: PhaseHVec.bundle([a, short]),
        "resonator": lambda: resonator_factorize(a, [items, (b, a)], idx),
        "resonator-bad-entry": lambda: resonator_factorize(a, [items, bad_items]),
        "resonator-bad-max-iter": lambda: resonator_factorize(a, [items], x),
        "resonator-bad-composite": lambda: resonator_factorize(x, [items]),
        "resonator-panic": lambda: resonator_factorize(a, [items, [short]]),
    }
    return probes, calls


@pytest.mark.parametrize("name", list(_calls()[1]))
def test_reference_counts_unchanged(name):
    probes, calls = _calls()
    call = calls[name]

    def run(times):
        for _ in range(times):
            try:
                call()
            except BaseException:  # noqa: BLE001 - failing paths are measured too
                pass

    run(1)  # process-wide values are made on first need
    before = [sys.getrefcount(p) for p in probes]
    run(100)
    assert [sys.getrefcount(p) for p in probes] == before
