"""The README's code, the examples and the codebook screen, run as a user runs them."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"
README_BLOCKS = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(encoding="utf-8"), re.S)


def run_script(script, *args, env_extra=None, timeout=300):
    env = dict(os.environ, **(env_extra or {}))
    return subprocess.run(
        [sys.executable, str(script), *args], capture_output=True, text=True, timeout=timeout, env=env, cwd=ROOT
    )


@pytest.mark.parametrize("index", range(len(README_BLOCKS)))
def test_readme_python_blocks_run_as_written(index, monkeypatch):
    """Every ```python block runs on its own; its asserts state what the text claims.
    Blocks that use the recipe import it as a user who copied it would."""
    monkeypatch.syspath_prepend(str(EXAMPLES))
    exec(compile(README_BLOCKS[index], f"README block {index}", "exec"), {"__name__": "readme"})


def test_readme_links_resolve_and_blocks_exist():
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    assert len(README_BLOCKS) >= 10
    anchors = {
        re.sub(r"[^a-z0-9 -]", "", heading.lower()).replace(" ", "-")
        for heading in re.findall(r"^##+ (.+)$", text, re.M)
    }
    assert set(re.findall(r"\]\(#([^)]+)\)", text)) <= anchors
    for path in re.findall(r"\]\((?!#|https?:)([^)]+)\)", text):
        assert (ROOT / path).exists(), path


def test_demo_decodes_records_and_factors():
    done = run_script(EXAMPLES / "demo.py")
    assert done.returncode == 0, done.stderr
    assert "record 0: colour=3" in done.stdout and "shape=5" in done.stdout and "size=1" in done.stdout
    assert "[(6, 1.0), (1, 1.0), (4, 1.0)]" in done.stdout
    assert "record identical True, factors identical True" in done.stdout


def test_demo_plot_writes_png(tmp_path):
    pytest.importorskip("matplotlib")
    target = tmp_path / "demo.png"
    done = run_script(EXAMPLES / "demo.py", "--plot", str(target))
    assert done.returncode == 0, done.stderr
    assert target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_demo_plot_without_matplotlib_says_what_to_install(tmp_path):
    blocker = tmp_path / "matplotlib"
    blocker.mkdir()
    (blocker / "__init__.py").write_text("raise ImportError('matplotlib hidden for the test')\n")
    done = run_script(EXAMPLES / "demo.py", "--plot", str(tmp_path / "x.png"), env_extra={"PYTHONPATH": str(tmp_path)})
    assert done.returncode != 0
    assert "--plot needs matplotlib" in done.stderr and "Traceback" not in done.stderr
    assert not (tmp_path / "x.png").exists()


def test_scale_out_on_a_local_cluster_matches_single_process():
    pytest.importorskip("dask.distributed")
    done = run_script(EXAMPLES / "scale_out.py", "--composites", "12", "--dim", "256", "--book-size", "8", "--chunk", "4")
    assert done.returncode == 0, done.stdout + done.stderr
    lines = [line for line in done.stdout.splitlines() if "worker(s)" in line]
    assert [line.split()[0] for line in lines] == ["1", "2"]
    assert all(line.endswith("bit-identical to single process: True") for line in lines)


@pytest.fixture(scope="module")
def seed_screen():
    pytest.importorskip("numpy")
    sys.path.insert(0, str(ROOT / "bench"))
    try:
        import seed_screen
    finally:
        sys.path.remove(str(ROOT / "bench"))
    return seed_screen


@pytest.mark.parametrize(
    ("n", "seeds", "expected"),
    [
        (2, [39, 7, 158], [(0, 2)]),  # a known correlated pair at n = 2, with an unrelated seed between
        (2, [1, 2, 3, 4], []),
        (65536, [39, 158], []),
    ],
)
def test_seed_screen_finds_exactly_the_correlated_pairs(seed_screen, n, seeds, expected):
    from verrakin import PhaseHVec

    vectors = [PhaseHVec.random(20_000, n, s) for s in seeds]
    found = seed_screen.correlated_pairs(vectors, threshold=0.05)
    assert [(i, j) for i, j, _ in found] == expected
    for i, j, sim in found:
        assert sim == vectors[i].similarity(vectors[j])


def test_typed_usage_runs():
    """The code the type checkers check also runs and finds both factors."""
    done = run_script(ROOT / "tests" / "typed_usage.py")
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "[(3, 1.0), (6, 1.0)]"


def test_typed_extras_usage_runs():
    """The typed use of the companion module also runs."""
    done = run_script(ROOT / "tests" / "typed_extras_usage.py")
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() in ("scalar", "avx2", "avx512")


def test_reliable_factoring_example_solves_what_one_call_does_not():
    done = run_script(EXAMPLES / "factorize_reliably.py")
    assert done.returncode == 0, done.stderr
    found = re.match(r"truth (\[.*?\]); one call (\[.*?\]); reliably (\[.*?\])", done.stdout)
    truth, one_call, reliably = found.groups()
    assert truth == reliably != one_call


@pytest.mark.parametrize("missing", ["numpy", "threadpoolctl"])
def test_benchmark_without_its_peers_says_what_to_install(missing):
    if missing != "numpy":
        pytest.importorskip("numpy")  # otherwise the message names numpy, the first peer it looks for
    blocked = ("import runpy, sys; sys.modules[%r] = None; sys.argv = ['compare.py', '--quick']; "
               "runpy.run_path(%r, run_name='__main__')" % (missing, str(ROOT / "bench" / "compare.py")))
    done = subprocess.run([sys.executable, "-c", blocked], capture_output=True, text=True, timeout=60, cwd=ROOT)
    assert done.returncode == 1 and done.stdout == ""
    assert done.stderr == f"bench/compare.py needs {missing}, which is not installed: pip install '.[bench]'\n"
