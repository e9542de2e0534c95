"""verrakin_extras.factorize against resonator_factorize bit for bit, with the
sweeps and convergence it reports; build_info; pickling by opt-in, across
processes."""

import os
import signal
import subprocess
import sys
import time

import pytest

from helpers import expect_panic
from test_factorize_reliably import HARD, problem
from verrakin import PhaseHVec, resonator_factorize
import verrakin_extras
from verrakin_extras import build_info, factorize

HERE = os.path.dirname(os.path.abspath(__file__))


@pytest.mark.parametrize("dim, sizes, n", HARD + [(512, (8, 8, 8), 16), (64, (3,), 2), (128, (5, 4), 65536)])
@pytest.mark.parametrize("max_iter", [0, 1, 3, 50])
def test_results_are_resonator_factorize_bit_for_bit(dim, sizes, n, max_iter):
    for seed in range(1, 4):
        composite, books, _ = problem(dim, sizes, n, seed)
        results, sweeps, converged = factorize(composite, books, max_iter)
        assert results == resonator_factorize(composite, books, max_iter)
        assert type(sweeps) is int and type(converged) is bool
        assert sweeps <= max_iter and (converged or sweeps == max_iter)


def test_sweeps_and_convergence_mean_what_they_say():
    composite, books, _ = problem(512, (8, 8, 8), 16, 1)
    results, sweeps, converged = factorize(composite, books)
    assert converged and 4 <= sweeps < 50
    # Convergence needs four agreeing sweeps: with fewer allowed it is not reached.
    assert factorize(composite, books, 3)[1:] == (3, False)
    assert factorize(composite, books, sweeps)[1:] == (sweeps, True)
    assert factorize(composite, books, max_iter=0) == (resonator_factorize(composite, books, 0), 0, False)


@pytest.mark.parametrize("books", [[], [[]], [[PhaseHVec.random(64, 16, 1)], []]], ids=["none", "empty", "one-empty"])
def test_no_factors_or_an_empty_codebook(books):
    composite = PhaseHVec.random(64, 16, 3)
    assert factorize(composite, books)[0] == resonator_factorize(composite, books)


@pytest.mark.parametrize(
    "args, kwargs",
    [(("x", [[PhaseHVec.random(8, 16, 1)]]), {}), ((PhaseHVec.random(8, 16, 1), 5), {}),
     ((PhaseHVec.random(8, 16, 1), [[PhaseHVec.random(8, 16, 2)]], -1), {}),
     ((PhaseHVec.random(8, 16, 1), [[3]]), {}), ((), {}), ((1, 2, 3, 4), {}),
     ((PhaseHVec.random(8, 16, 1), []), {"maxiter": 2})],
)
def test_errors_are_the_resonators_own(args, kwargs):
    with pytest.raises(Exception) as want:
        resonator_factorize(*args, **kwargs)
    with pytest.raises(type(want.value)) as got:
        factorize(*args, **kwargs)
    assert str(got.value) == str(want.value).replace("resonator_factorize()", "factorize()")
    assert getattr(got.value, "__notes__", None) == getattr(want.value, "__notes__", None)


def test_an_entry_of_the_wrong_length_panics_like_the_resonator():
    composite = PhaseHVec.random(8, 16, 1)
    books = [[PhaseHVec.random(8, 16, 2)], [PhaseHVec.random(7, 16, 3)]]
    expect_panic(factorize, composite, books, message="index out of bounds: the len is 7 but the index is 7")


def test_build_info():
    info = build_info()
    assert set(info) == {"kernels", "cpu_supports", "maths", "version"}
    assert info["kernels"] in ("scalar", "avx2", "avx512") and info["cpu_supports"] in ("scalar", "avx2", "avx512")
    assert info["maths"] in ("correctly rounded", "platform")
    assert info["version"] == "0.1.0" or info["version"] == "unknown"


@pytest.mark.parametrize("isa", ["scalar", "avx2"])
def test_build_info_reports_the_forced_kernel_level(isa):
    env = dict(os.environ, VERRAKIN_ISA=isa)
    done = subprocess.run([sys.executable, "-c", "import verrakin_extras as x; print(x.build_info()['kernels'])"],
                          capture_output=True, text=True, env=env, check=True)
    supported = build_info()["cpu_supports"]
    order = ["scalar", "avx2", "avx512"]
    assert done.stdout.strip() == order[min(order.index(isa), order.index(supported))]


PICKLING = r"""
import copy, multiprocessing, pickle, sys
sys.path.insert(0, HERE)
import extras_workers
import verrakin_extras
from verrakin import PhaseHVec

v = PhaseHVec.random(300, 65536, 5)
try:
    pickle.dumps(v)
except TypeError as e:
    assert str(e) == "cannot pickle 'PhaseHVec' object", e
else:
    raise AssertionError("pickling works before it is enabled")
verrakin_extras.enable_pickling()
for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
    w = pickle.loads(pickle.dumps(v, protocol))
    assert type(w) is PhaseHVec and w.phases() == v.phases() and w.n == v.n and w is not v
assert copy.deepcopy([v, v])[0].phases() == v.phases()
assert b"verrakin_extras" in pickle.dumps(v) and b"from_bytes" in pickle.dumps(v)
for method in ("fork", "spawn"):
    context = multiprocessing.get_context(method)
    with context.Pool(2, initializer=verrakin_extras.enable_pickling) as pool:
        made = pool.map(extras_workers.make_vector, range(6))
        bound = pool.map(extras_workers.bind_pair, [(made[0], made[1]), (v, v)])
    assert [m.phases() for m in made] == [PhaseHVec.random(256, 16, s).phases() for s in range(6)]
    assert bound[0].phases() == made[0].bind(made[1]).phases() and bound[1].phases() == v.bind(v).phases()
print("pickling ok")
"""


def test_pickling_by_opt_in_across_processes():
    code = PICKLING.replace("HERE", repr(HERE))
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300, cwd=HERE)
    assert done.returncode == 0, done.stderr
    assert "pickling ok" in done.stdout


@pytest.mark.skipif(sys.platform == "win32", reason="setitimer is POSIX")
@pytest.mark.parametrize("function", ["factorize", "factorize_reliably"])
def test_a_signal_interrupts_factoring(function):
    class Stop(Exception):
        pass

    def handler(signum, frame):
        raise Stop

    books = [[PhaseHVec.random(100_000, 16, 1000 * f + j) for j in range(64)] for f in range(3)]
    composite = PhaseHVec.random(100_000, 16, 7)  # binds to no entries: every call runs all its sweeps
    previous = signal.signal(signal.SIGALRM, handler)
    try:
        start = time.perf_counter()
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(Stop):
            getattr(verrakin_extras, function)(composite, books, 1000)  # minutes if never interrupted
        assert time.perf_counter() - start < 1.0  # ended by the handler, not after the work
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
