"""Every kernel path against the model: the suite's comparisons once per forced
instruction-set level (VERRAKIN_ISA, read once per process, so each level gets
its own interpreter), and a focused subset on emulated CPUs without AVX-512
(Haswell: AVX2) and without AVX (Nehalem: scalar), where the C library's
maths takes its non-FMA code. Each run compares with the model in its own
process, never with stored floats."""

import os
import shutil
import subprocess
import sys

import pytest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "kernel_paths.py")


def run(command, env_isa=None, timeout=600):
    env = dict(os.environ)
    env.pop("VERRAKIN_ISA", None)
    if env_isa is not None:
        env["VERRAKIN_ISA"] = env_isa
    done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=timeout)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "agree with the model" in done.stdout


@pytest.mark.parametrize("isa", ["scalar", "avx2", "avx512", "unknown-level"])
def test_forced_paths_match_model(isa):
    run([sys.executable, SCRIPT], env_isa=isa)


@pytest.mark.skipif(shutil.which("qemu-x86_64") is None, reason="qemu-user is not installed")
@pytest.mark.skipif(sys.platform != "linux", reason="qemu-user emulates Linux processes")
@pytest.mark.skipif(bool(os.environ.get("VERRAKIN_SANITIZER")),
                    reason="the sanitizer runtime does not run under qemu-user")
@pytest.mark.parametrize("cpu", ["Haswell", "Nehalem"])
def test_emulated_cpus_match_model(cpu):
    run(["qemu-x86_64", "-cpu", cpu, sys.executable, SCRIPT, "--small"])


UNKNOWN_LEVEL_SCRIPT = """
from verrakin import PhaseHVec
items = [PhaseHVec.random(64, 16, seed) for seed in range(3)]
PhaseHVec.bundle(items)
PhaseHVec.bundle(items)
"""


@pytest.mark.parametrize("value, reported", [
    ("SCALAR", True), (" scalar", True), ("garbage", True), ("scalar", False), ("avx512", False), ("", False)])
def test_unknown_level_is_reported_once(value, reported):
    env = dict(os.environ, VERRAKIN_ISA=value)
    done = subprocess.run([sys.executable, "-c", UNKNOWN_LEVEL_SCRIPT], env=env, capture_output=True, text=True,
                          timeout=60)
    assert done.returncode == 0, done.stderr
    lines = [line for line in done.stderr.splitlines() if "VERRAKIN_ISA" in line]
    if reported:
        assert len(lines) == 1 and lines[0].startswith('verrakin: ignoring VERRAKIN_ISA="%s"' % value), done.stderr
    else:
        assert lines == []
