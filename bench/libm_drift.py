"""How far results move between CPU classes with one C maths library.

glibc picks different code for cos, sin and atan2 on CPUs with and without
FMA. This script runs itself twice, natively and under an emulated pre-FMA
CPU (`qemu-x86_64 -cpu Nehalem`, Debian's qemu-user), and counts the values
that differ: the libm results a VERRAKIN_MATH=platform build uses (grid-angle
cos/sin, atan2 of bundle-sized sums) and end-to-end results of the installed
module (none differ with the default, correctly rounded build).

    python bench/libm_drift.py [--cpu Nehalem] [--qemu qemu-x86_64]
"""

import argparse
import json
import math
import random
import subprocess
import sys

TWO_PI = 6.283185307179586
# Resolutions whose every grid angle (k * 2pi) / n is checked.
GRID_NS = list(range(2, 257)) + [1024, 4096, 16384, 65536]
ATAN2_PAIRS = 200_000
ATAN2_SEED = 2024


def grid_values():
    """cos and sin of every grid angle, in the order the library computes them."""
    out = []
    for n in GRID_NS:
        for k in range(n):
            angle = (k * TWO_PI) / n
            out.append(math.cos(angle))
            out.append(math.sin(angle))
    return out


def atan2_values():
    """atan2 of integer sums like those of a bundle of up to 8 vectors."""
    rng = random.Random(ATAN2_SEED)
    span = 8 * 16384
    return [float(math.atan2(rng.randint(-span, span), rng.randint(-span, span))) for _ in range(ATAN2_PAIRS)]


def module_values():
    """Levels and floats the module itself produces on a few typical calls."""
    from verrakin import PhaseHVec, resonator_factorize

    out = {}
    for n in (16, 256, 65536):
        items = [PhaseHVec.random(100_000, n, seed) for seed in range(5)]
        out[f"bundle levels, 5 items, dim 100000, n={n}"] = PhaseHVec.bundle(items).phases()
        out[f"similarity, 100 pairs, dim 4096, n={n}"] = [
            PhaseHVec.random(4096, n, s).similarity(PhaseHVec.random(4096, n, s + 1000)) for s in range(100)
        ]
        books = [[PhaseHVec.random(1024, n, 100 * f + e) for e in range(16)] for f in range(3)]
        results = []
        for trial in range(20):
            picks = [(trial * 7 + f * 3) % 16 for f in range(3)]
            composite = books[0][picks[0]].bind(books[1][picks[1]]).bind(books[2][picks[2]])
            results.extend(resonator_factorize(composite, books))
        out[f"resonator (index, similarity), 20 composites, dim 1024, n={n}"] = results
    return out


def dump():
    values = {
        "grid-angle cos/sin": grid_values(),
        "atan2 of bundle-sized sums": atan2_values(),
    }
    values.update(module_values())
    # JSON floats round-trip exactly; hex keeps the comparison free of doubt.
    encoded = {k: [_encode(v) for v in vs] for k, vs in values.items()}
    json.dump(encoded, sys.stdout)


def _encode(v):
    if isinstance(v, float):
        return v.hex()
    if isinstance(v, tuple):
        return [_encode(x) for x in v]
    return v


def run(cmd):
    return json.loads(subprocess.run(cmd, check=True, capture_output=True, text=True).stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cpu", default="Nehalem", help="qemu CPU model without FMA (default Nehalem)")
    parser.add_argument("--qemu", default="qemu-x86_64")
    parser.add_argument("--dump", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.dump:
        dump()
        return
    me = [sys.executable, __file__, "--dump"]
    native = run(me)
    emulated = run([args.qemu, "-cpu", args.cpu] + me)
    print(f"{'values':<62} {'differ':>8} {'of':>9}")
    for key, values in native.items():
        differ = sum(a != b for a, b in zip(values, emulated[key]))
        print(f"{key:<62} {differ:>8} {len(values):>9}")


if __name__ == "__main__":
    main()
