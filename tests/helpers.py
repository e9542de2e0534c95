"""Helpers shared by the algebra, bundle and resonator tests."""

import os
import struct
import subprocess
import sys
import textwrap

import pytest

import model
import verrakin
from verrakin import PhaseHVec

NS = [2, 3, 4, 16, 255, 65535, 65536]
MIX_INV = pow(model.MIX_MUL, -1, 1 << 64)
SEED_INV = pow(model.SEED_MUL, -1, 1 << 64)


def bits(x):
    """The eight bytes of a double, so that comparisons are bit for bit."""
    return struct.pack("<d", x)


def expect_panic(fn, *args, message):
    """Call fn, which must raise pyo3_runtime.PanicException with message."""
    with pytest.raises(BaseException) as info:
        fn(*args)
    exc = info.value
    assert type(exc).__name__ == "PanicException"
    assert type(exc).__module__ == "pyo3_runtime"
    assert not isinstance(exc, Exception)
    assert exc.args == (message,)


def seed_for(t):
    """A seed whose first mixed 64-bit value is t, so phase 0 is t mod n."""
    # invert t ^= t >> 32, then the multiplication, then t ^= t >> 29
    t ^= t >> 32
    t = (t * MIX_INV) & model.MASK64
    x = t
    for _ in range(3):
        x = t ^ (x >> 29)
    return (x * SEED_INV) & model.MASK64


def vec(phases, n):
    """A PhaseHVec holding exactly the given phases (dim 0, 1, or small n)."""
    if len(phases) == 1:
        seed = seed_for(phases[0])
    else:
        seed = next(s for s in range(1 << 20)
                    if model.random_phases(len(phases), n, s) == list(phases))
    v = PhaseHVec.random(len(phases), n, seed)
    assert v.phases() == list(phases)
    return v


def rand_vec(rng, dim, n):
    """A PhaseHVec from a seed drawn by rng, with the model's phases."""
    seed = rng.getrandbits(64)
    return PhaseHVec.random(dim, n, seed), model.random_phases(dim, n, seed)


def small_thread_stack(wanted=32 * 1024):
    """A thread stack of `wanted` bytes, or the smallest the C library accepts
    if that is larger (glibc on aarch64, with its 64 KiB pages: 128 KiB)."""
    try:
        minimum = os.sysconf("SC_THREAD_STACK_MIN")
    except (AttributeError, ValueError, OSError):
        minimum = 0
    return max(wanted, minimum)


TESTS = os.path.dirname(os.path.abspath(__file__))
MODULE_DIR = os.path.dirname(os.path.abspath(verrakin.__file__))


def run_child(script, timeout=60):
    """Runs `script` in a fresh interpreter; returns (returncode, stdout, stderr)."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([MODULE_DIR, TESTS, os.environ.get("PYTHONPATH", "")]))
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True,
                          timeout=timeout, env=env)
    return proc.returncode, proc.stdout, proc.stderr
