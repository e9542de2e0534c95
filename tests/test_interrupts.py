"""Signals reach Python during long calls: the module polls for them between
resonator sweeps and factor updates, between blocks of a bundle and between
chunks of a generated vector. A handler that raises stops the call, which
returns nothing and raises the handler's exception. Each case runs in a child
process with a timeout, since a call that cannot be interrupted never ends."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

TESTS = os.path.dirname(os.path.abspath(__file__))

# A problem that never settles (found by search at dim 48, n = 3): with the
# largest sweep limit the resonator runs until it is stopped.
NON_SETTLING = """
    from verrakin import PhaseHVec, resonator_factorize
    books = [[PhaseHVec.random(48, 3, 46000 + f * 100 + m) for m in range(8)] for f in range(3)]
    composite = books[0][1].bind(books[1][2]).bind(books[2][2])
    def call():
        return resonator_factorize(composite, books, 2**64 - 1)
"""

# Long calls of the other kinds, with their uninterrupted length measured first.
LONG_CALLS = {
    "resonator": NON_SETTLING,
    "random": """
        from verrakin import PhaseHVec
        def call():
            return PhaseHVec.random(2**27, 7, 1)
    """,
    "bundle": """
        from verrakin import PhaseHVec
        item = PhaseHVec.random(2**16, 7, 1)
        def call():
            return PhaseHVec.bundle([item] * 60000)
    """,
    "phases": """
        from verrakin import PhaseHVec
        vector = PhaseHVec.random(2**25, 16, 1)
        def call():
            return vector.phases()
    """,
    "pair bundle": """
        from verrakin import PhaseHVec
        pair = [PhaseHVec.random(2**27, 7, 1), PhaseHVec.random(2**27, 7, 2)]
        def call():
            return PhaseHVec.bundle(pair)
    """,
}

TIMED_STOP = """
    import signal, time
    class Stop(Exception):
        pass
    handled = []
    def handler(signum, frame):
        handled.append(time.perf_counter())
        raise Stop
    full = None
    if {measure}:
        start = time.perf_counter()
        call()
        full = time.perf_counter() - start
    signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.01)
    start = time.perf_counter()
    try:
        result = call()
        print("returned")
    except Stop:
        # Polled within the call, the handler runs long before it would end.
        stopped = handled[0] - start
        print("stopped", full is None or stopped < full / 3, stopped, full)
"""


def run_child(script, timeout=60, **kwargs):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([TESTS, os.environ.get("PYTHONPATH", "")]))
    return subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=timeout,
                          env=env, **kwargs)


@pytest.mark.parametrize("kind", sorted(LONG_CALLS))
def test_a_raising_handler_stops_a_long_call(kind):
    script = textwrap.dedent(LONG_CALLS[kind]) + textwrap.dedent(TIMED_STOP.format(measure=kind != "resonator"))
    proc = run_child(script)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.startswith("stopped True"), proc.stdout


CTRL_C = textwrap.dedent(NON_SETTLING) + textwrap.dedent("""
    import signal
    # A child of a background job starts with SIGINT ignored, and Python then
    # installs no handler of its own: put back the one an interactive run has.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    first = resonator_factorize(composite, books, 1000)
    try:
        print("ready", flush=True)
        call()
    except KeyboardInterrupt:
        # The interpreter is usable afterwards and gives the same answers.
        print("interrupted", resonator_factorize(composite, books, 1000) == first, flush=True)
""")


@pytest.mark.skipif(sys.platform == "win32", reason="SIGINT to a child process")
def test_ctrl_c_interrupts_a_resonator_that_never_settles():
    proc = subprocess.Popen([sys.executable, "-c", CTRL_C], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True)
    try:
        assert proc.stdout.readline() == "ready\n"
        time.sleep(0.3)  # well inside the call, which never ends by itself
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=30)
    finally:
        proc.kill()
        proc.wait()
    assert (proc.returncode, out) == (0, "interrupted True\n"), err


HANDLER_RETURNS = textwrap.dedent("""
    import signal
    from verrakin import PhaseHVec, resonator_factorize
    books = [[PhaseHVec.random(256, 16, 100 * f + m) for m in range(16)] for f in range(3)]
    composite = books[0][3].bind(books[1][5]).bind(books[2][7])
    quiet = resonator_factorize(composite, books, 200)
    calls = []
    signal.signal(signal.SIGALRM, lambda signum, frame: calls.append(signum))
    signal.setitimer(signal.ITIMER_REAL, 0.0005, 0.0005)
    answers = [resonator_factorize(composite, books, 200) for _ in range(200)]
    signal.setitimer(signal.ITIMER_REAL, 0)
    print(len(calls) > 0, all(answer == quiet for answer in answers))
""")


def test_a_handler_that_returns_leaves_every_bit():
    proc = run_child(HANDLER_RETURNS)
    assert (proc.returncode, proc.stdout) == (0, "True True\n"), proc.stderr
