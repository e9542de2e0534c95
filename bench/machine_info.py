"""The CPU class a bench run measured: model name, AVX2 / AVX-512 support and
the verrakin kernel level in use (the best this CPU runs, lowered by
VERRAKIN_ISA the way the library lowers it). Timings from one class never
stand for another: every table and JSON file carries this."""

import os
import platform

LEVELS = ("scalar", "avx2", "avx512")


def cpu_flags_and_model():
    model, flags = platform.processor() or platform.machine(), set()
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                key, _, value = line.partition(":")
                key = key.strip()
                if key == "model name" and model in ("", platform.machine(), platform.processor()):
                    model = value.strip()
                elif key == "flags" and not flags:
                    flags = set(value.split())
    except OSError:
        pass
    return model, flags


def machine_info():
    model, flags = cpu_flags_and_model()
    avx2 = {"avx2", "bmi2"} <= flags
    avx512 = {"avx512f", "avx512bw", "avx512dq", "avx512vl"} <= flags
    best = "avx512" if avx2 and avx512 else "avx2" if avx2 else "scalar"
    forced = os.environ.get("VERRAKIN_ISA", "")
    level = best
    if forced in LEVELS and LEVELS.index(forced) < LEVELS.index(best):
        level = forced
    return {"cpu": model, "avx2": avx2, "avx512": avx512, "VERRAKIN_ISA": forced or None, "kernel_level": level}


def describe(info=None):
    info = info or machine_info()
    features = "AVX2 + AVX-512" if info["avx512"] else "AVX2, no AVX-512" if info["avx2"] else "no AVX2"
    forced = f", VERRAKIN_ISA={info['VERRAKIN_ISA']}" if info["VERRAKIN_ISA"] else ""
    return f"{info['cpu']} ({features}); verrakin kernels: {info['kernel_level']}{forced}"
