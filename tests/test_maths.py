"""The correctly rounded maths, seen through the extension: single-dimension
similarities are exactly cosines of level angles, and one digest over a
battery of results must be the same on every kernel path and emulated CPU."""

import os
import platform
import shutil
import subprocess
import sys

import pytest

import maths_model
from helpers import bits, vec

DIGEST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "digest.py")

needs_correct_rounding = pytest.mark.skipif(
    maths_model.uses_platform(), reason="this build uses the C library's maths (VERRAKIN_MATH=platform)")


@needs_correct_rounding
@pytest.mark.parametrize("n", [52, 60, 61, 137, 8, 1000])
def test_every_level_difference_is_a_correctly_rounded_cosine(n):
    # these resolutions hold grid cosines that C libraries round the other way
    zero = vec([0], n)
    for k in range(n):
        angle = (float(k) * maths_model.TWO_PI) / float(n)
        want = bits(maths_model.correctly_rounded_cos(angle))
        assert bits(vec([k], n).similarity(zero)) == want, (k, n)
        assert bits(zero.similarity(vec([k], n))) == bits(maths_model.correctly_rounded_cos(-angle)), (k, n)


def run_digest(prefix=(), **env):
    done = subprocess.run([*prefix, sys.executable, DIGEST], env=dict(os.environ, **env),
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stdout + done.stderr


@needs_correct_rounding
@pytest.mark.parametrize("isa", ["scalar", "avx2", "avx512", "native"])
def test_digest_on_every_kernel_path(isa):
    run_digest(**({} if isa == "native" else {"VERRAKIN_ISA": isa}))


@needs_correct_rounding
@pytest.mark.skipif(shutil.which("qemu-x86_64") is None or platform.machine() != "x86_64",
                    reason="qemu-user is not installed, or this is no x86-64 machine")
@pytest.mark.skipif(os.environ.get("VERRAKIN_SANITIZER") == "1",
                    reason="the sanitizer runtime does not run under qemu-user")
@pytest.mark.parametrize("cpu", ["Haswell", "Nehalem"])
def test_digest_on_emulated_cpus(cpu):
    # Nehalem has no FMA, so glibc takes other code paths there
    run_digest(prefix=("qemu-x86_64", "-cpu", cpu))


def test_model_follows_the_build():
    # the model detects the build from the extension's own results
    import verrakin

    assert maths_model.follow(verrakin) == ("platform" if maths_model.uses_platform() else "correctly rounded")
