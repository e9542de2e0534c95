"""Exhausted memory at any allocation, in every operation and on every error
path, ends as MemoryError (or as the operation's own outcome when the failed
allocation was not needed): never an abort, never another error in its place.

The interpreter's test hooks make the k-th allocation fail (or a few from the
k-th on); the sweep runs in a child process so that an abort shows as such."""

import os
import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("_testcapi")

TESTS = os.path.dirname(os.path.abspath(__file__))

LOST_BY_INTERPRETER = ("error return without exception set", "returned NULL without setting an exception")

SWEEP = """
    import _testcapi
    from operations import catalogue
    LOST_BY_INTERPRETER = {lost!r}
    from verrakin import PhaseHVec

    def outcome(call):
        try:
            call()
        except BaseException as error:
            return type(error).__name__
        return "ok"

    def attempt(call, k):
        _testcapi.set_nomemory(k, {stop})
        try:
            call()
        finally:
            _testcapi.remove_mem_hooks()

    ops = catalogue()
    expected = {{name: outcome(call) for name, call in ops}}
    probe = PhaseHVec.random(8, 16, 1)
    probe_phases = probe.phases()
    wrong = []
    for name, call in ops:
        for k in range({first}, {last}):
            # A failure in this loop's own bookkeeping shows as MemoryError too.
            try:
                attempt(call, k)
                got, error = "ok", None
            except BaseException as e:
                got, error = type(e).__name__, e
            # The interpreter itself loses an exception when the frame or
            # traceback it records for it cannot be made; its own built-ins
            # (math.sqrt(-1), a Python __index__) then end in the same
            # SystemError, which names no error of this module.
            interpreter_lost_it = got == "SystemError" and str(error).endswith(LOST_BY_INTERPRETER)
            if got not in (expected[name], "MemoryError") and not interpreter_lost_it:
                wrong.append((name, k, got, str(error)))
            if type(error) is MemoryError and error.args:
                assert str(error).startswith("could not allocate "), str(error)
            del error
    assert probe.phases() == probe_phases
    assert {{name: outcome(call) for name, call in ops}} == expected
    print(wrong)
"""


@pytest.mark.parametrize("failing", [1, 4], ids=["kth-allocation", "four-from-kth"])
def test_allocation_failure_sweep(failing):
    # Allocations k to k + failing - 1 fail; those after succeed again, so that
    # the calling Python code can still report what happened.
    script = SWEEP.format(first=0, last=60, stop=f"k + {failing}", lost=LOST_BY_INTERPRETER)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([TESTS, os.environ.get("PYTHONPATH", "")]))
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True,
                          timeout=300, env=env)
    assert proc.returncode == 0, proc.stderr[-3000:]
    assert proc.stdout.strip() == "[]"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda P: P.random(2**61, 16, 0), f"could not allocate {2**62} bytes for {2**61} phase levels"),
        (lambda P: P.random(2**62 - 1, 16, 0), f"could not allocate {2**63 - 2} bytes for {2**62 - 1} phase levels"),
    ],
)
def test_memory_error_says_what_could_not_be_allocated(call, message):
    from verrakin import PhaseHVec

    if os.environ.get("VERRAKIN_SANITIZER") == "1" and "allocator_may_return_null=1" not in os.environ.get(
            "ASAN_OPTIONS", ""):
        pytest.skip("the sanitizer's allocator aborts on oversized requests")
    with pytest.raises(MemoryError) as info:
        call(PhaseHVec)
    assert info.value.args == (message,)
