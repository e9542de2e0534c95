"""The CPU class a bench run measured: model name, AVX2 / AVX-512 support and
the verrakin kernel level in use (the best this CPU runs, lowered by
VERRAKIN_ISA the way the library lowers it). Timings from one class never
stand for another: every table and JSON file carries this.

On a CPU with AVX-512, VERRAKIN_ISA=avx2 makes a run stand for an AVX2-only
machine. Then the peers must not keep their AVX-512 code either: importing this
module first lowers NumPy, OpenBLAS, MKL, oneDNN and torch to AVX2 as well
(their own switches, read when they load), unless VERRAKIN_BENCH_PEERS=native.
The same core is still no AVX2-only CPU (its caches, ports and clock stay):
the run is labelled as an emulation."""

import os
import platform

LEVELS = ("scalar", "avx2", "avx512")

# The switches that keep each peer library's code at AVX2.
PEER_AVX2_SWITCHES = {
    "NPY_DISABLE_CPU_FEATURES": "X86_V4 AVX512_SKX AVX512_ICL AVX512_SPR",
    "OPENBLAS_CORETYPE": "Haswell",
    "MKL_ENABLE_INSTRUCTIONS": "AVX2",
    "ONEDNN_MAX_CPU_ISA": "AVX2",
    "ATEN_CPU_CAPABILITY": "avx2",
}


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
    peers = "AVX2" if peers_lowered() else "native"
    return {"cpu": model, "avx2": avx2, "avx512": avx512, "VERRAKIN_ISA": forced or None, "kernel_level": level,
            "peers": peers}


def peers_lowered():
    return all(os.environ.get(key) == value for key, value in PEER_AVX2_SWITCHES.items())


def lower_peers_with_verrakin():
    """Keep the peers at verrakin's forced AVX2 level. Must run before NumPy
    or torch is imported (the bench scripts import this module first)."""
    if os.environ.get("VERRAKIN_ISA") != "avx2" or os.environ.get("VERRAKIN_BENCH_PEERS") == "native":
        return
    for key, value in PEER_AVX2_SWITCHES.items():
        os.environ.setdefault(key, value)


lower_peers_with_verrakin()


def describe(info=None):
    info = info or machine_info()
    features = "AVX2 + AVX-512" if info["avx512"] else "AVX2, no AVX-512" if info["avx2"] else "no AVX2"
    forced = f", VERRAKIN_ISA={info['VERRAKIN_ISA']}" if info["VERRAKIN_ISA"] else ""
    peers = ""
    if info["avx512"] and info["kernel_level"] == "avx2":
        peers = ("; peers (NumPy, OpenBLAS, MKL, torch) lowered to AVX2 too: an emulated AVX2-class run on this core"
                 if info["peers"] == "AVX2" else "; peers keep their AVX-512 code")
    return f"{info['cpu']} ({features}); verrakin kernels: {info['kernel_level']}{forced}{peers}"
