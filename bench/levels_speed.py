"""Rotation and the level conversions of verrakin_extras against a memcpy of the
same levels (memoryview.tobytes() of levels(v): one copy into a new bytes
object), interleaved, best of several repeats, at dim 10**4, 10**6 and 10**7.

    python bench/levels_speed.py
"""

import array
import time

from verrakin import PhaseHVec
from verrakin_extras import from_bytes, from_levels, levels, permute, to_bytes


def best(run, repeat=15):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    print(f"{'dim':>9} {'memcpy us':>10}  ratios to the memcpy (1.0 = memory speed)")
    for dim in (10**4, 10**6, 10**7):
        v = PhaseHVec.random(dim, 65536, 1)
        view = levels(v)
        data = to_bytes(v)
        packed = array.array("H", view)
        runs = {
            "memcpy": lambda: view.tobytes(),
            "permute": lambda: permute(v, dim // 3),
            "to_bytes": lambda: to_bytes(v),
            "from_bytes": lambda: from_bytes(data),
            "from_levels(array H)": lambda: from_levels(packed, 65536),
        }
        times = {name: float("inf") for name in runs}
        for _ in range(3):  # interleaved rounds
            for name, run in runs.items():
                times[name] = min(times[name], best(run, 5))
        base = times.pop("memcpy")
        print(f"{dim:>9} {base * 1e6:10.1f}  " + ", ".join(f"{k} {t / base:.2f}" for k, t in times.items()))


if __name__ == "__main__":
    main()
