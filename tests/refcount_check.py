"""Reference-count leak check for a debug interpreter (one with
sys.gettotalrefcount): after a warm-up, every operation of the catalogue, on
its success and error paths, leaves the interpreter's total reference count and
its count of allocated blocks where they were.

Run as a script: python3.11-dbg tests/refcount_check.py (verrakin and verrakin_extras importable)."""

import gc
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from operations import catalogue, extras_catalogue  # noqa: E402

ROUNDS = 200


def run(call, times):
    for _ in range(times):
        try:
            call()
        except BaseException:  # noqa: BLE001 - error paths are measured too
            pass


def drift(call):
    """Growth of (total references, allocated blocks) over ROUNDS calls."""
    run(call, 5)  # process-wide values are made on first need
    gc.collect()
    refs, blocks = sys.gettotalrefcount(), sys.getallocatedblocks()
    run(call, ROUNDS)
    gc.collect()
    return sys.gettotalrefcount() - refs, sys.getallocatedblocks() - blocks


def main():
    if not hasattr(sys, "gettotalrefcount"):
        sys.exit("needs a debug interpreter (sys.gettotalrefcount)")
    operations = catalogue() + extras_catalogue()
    # The panicking paths write diagnostics on every call: keep them out of the log.
    saved_stderr = os.dup(2)
    with open(os.devnull, "w") as devnull:
        os.dup2(devnull.fileno(), 2)
    try:
        leaks = find_leaks(operations)
    finally:
        os.dup2(saved_stderr, 2)
        os.close(saved_stderr)
    print(f"{len(operations)} operations x {ROUNDS} calls, reference and block counts flat: {not leaks}")
    if leaks:
        sys.exit(f"leaks (total references, allocated blocks): {leaks}")


def find_leaks(operations):
    leaks = []
    for name, call in operations:
        # A leak grows with the number of calls; a few counts of noise do not.
        growth = min((drift(call) for _ in range(3)), key=lambda pair: max(pair))
        if max(growth) >= ROUNDS // 2:
            leaks.append((name, growth))
    return leaks


if __name__ == "__main__":
    main()
