"""Calls made while the interpreter shuts down, from finalizers: they hold the
interpreter lock and behave as at any other time (recursion depth given back,
argument errors as TypeError, no hang), and nothing they leave behind reaches
a later interpreter of an embedder that finalizes and initializes again. Also
a first call in a child forked while another thread imports, and interrupts
raised by a sequence's __len__. Each case runs in a child process."""

import os
import shutil
import subprocess
import sys
import sysconfig

import pytest

import verrakin
from helpers import MODULE_DIR, run_child


# --- calls from finalizers at shutdown ----------------------------------------------

# Module globals are finalized after the interpreter stops counting as
# initialized; os.write still works then.
FINALIZER_RECURSION = """
    import os
    from verrakin import PhaseHVec

    class Index:
        def __index__(self):
            return 8

    class Bundler:
        def __init__(self, repeats):
            self.repeats = repeats
        def __del__(self):
            a, b = PhaseHVec.random(8, 16, 1), PhaseHVec.random(8, 16, 2)
            failures = 0
            for _ in range(self.repeats):
                try:
                    PhaseHVec.bundle([a, b])
                    PhaseHVec.random(Index(), 16, 3)
                except RecursionError:
                    failures += 1
            os.write(1, b"%d " % failures)

    many = [Bundler(2) for _ in range(1200)]
    one = Bundler(20000)
"""


def test_finalizers_give_back_recursion_depth():
    code, out, err = run_child(FINALIZER_RECURSION)
    assert code == 0, err
    counts = out.split()
    assert len(counts) == 1201 and set(counts) == {"0"}, out[:200]


FINALIZER_TYPE_ERRORS = """
    import os
    from verrakin import PhaseHVec, resonator_factorize

    class Late:
        def __del__(self):
            v = PhaseHVec.random(8, 16, 1)
            for call in (lambda: PhaseHVec.bundle(5), lambda: resonator_factorize(v, 5),
                         lambda: resonator_factorize(v, [5])):
                try:
                    call()
                except BaseException as error:
                    os.write(1, ("%s: %s\\n" % (type(error).__name__, error)).encode())

    late = Late()
"""


def test_finalizer_argument_errors_are_type_errors():
    code, out, err = run_child(FINALIZER_TYPE_ERRORS)
    assert code == 0, err
    assert out == "TypeError: 'int' object is not an instance of 'Sequence'\n" * 3, err
    assert "PanicException" not in err


IMPORT_REFUSED = """
    import builtins
    from verrakin import PhaseHVec

    def refuse(name, *args, **kwargs):
        if name == "verrakin_probe":  # an import hook that itself calls in
            PhaseHVec.bundle(5)
        raise ImportError("no imports now: " + name)
    builtins.__import__ = refuse
    for _ in range(2):
        try:
            PhaseHVec.bundle(5)
        except TypeError as error:
            print(error)
    try:
        refuse("verrakin_probe")
    except TypeError as error:
        print(error)
"""


def test_argument_errors_need_no_import():
    code, out, err = run_child(IMPORT_REFUSED)
    assert code == 0, err
    assert out == "'int' object is not an instance of 'Sequence'\n" * 3, err


# A daemon thread parked forever in an import hook during its first
# non-sequence call must not leave the main thread's finalizer waiting on it:
# nothing a call needs may be made (and imported) inside the call.
MAKER_PARKED = """
    import builtins, os, threading
    from verrakin import PhaseHVec

    entered = threading.Event()
    real_import = builtins.__import__
    def stuck_import(name, *args, **kwargs):
        if threading.current_thread().daemon:
            entered.set()
            threading.Event().wait()
        return real_import(name, *args, **kwargs)

    def first_error():
        try:
            PhaseHVec.bundle(5)
        except TypeError:
            pass

    class Late:
        def __del__(self):
            try:
                PhaseHVec.bundle(5)
            except TypeError as error:
                os.write(1, str(error).encode())

    late = Late()
    builtins.__import__ = stuck_import
    threading.Thread(target=first_error, daemon=True).start()
    entered.wait(1.0)
    builtins.__import__ = real_import
"""


def test_finalizer_never_waits_on_a_parked_thread():
    code, out, err = run_child(MAKER_PARKED, timeout=30)
    assert (code, out) == (0, "'int' object is not an instance of 'Sequence'"), err


# --- an embedder that finalizes and initializes again ----------------------------

EMBEDDER = r"""
#include <Python.h>

/* Each interpreter: a finalizer calls into verrakin while the interpreter
   finalizes, passing an argument whose __del__ reports its release. Every
   object must be released by the interpreter that made it. */
static const char* script =
    "import os, verrakin\n"
    "P = verrakin.PhaseHVec\n"
    "print('start', flush=True)\n"
    "class Marker:\n"
    "    def __index__(self):\n"
    "        return 10\n"
    "    def __del__(self, write=os.write):\n"
    "        write(1, b'released\\n')\n"
    "class Late:\n"
    "    def __del__(self):\n"
    "        books = [[P.random(64, 16, 10 * f + m) for m in range(4)] for f in range(2)]\n"
    "        composite = books[0][1].bind(books[1][2])\n"
    "        P.bundle(list(books[0]))\n"
    "        P.random(Marker(), 16, 1)\n"
    "        verrakin.resonator_factorize(composite, [list(b) for b in books], Marker())\n"
    "late = Late()\n"
    "books = [[P.random(64, 16, 10 * f + m) for m in range(4)] for f in range(2)]\n"
    "composite = books[0][1].bind(books[1][2])\n"
    "assert [i for i, _ in verrakin.resonator_factorize(composite, books)] == [1, 2]\n"
    "try:\n"
    "    P.bundle(5)\n"
    "except TypeError:\n"
    "    pass\n";

int main(void) {
    for (int cycle = 0; cycle < 3; ++cycle) {
        Py_Initialize();
        if (PyRun_SimpleString(script) != 0) return 1;
        if (Py_FinalizeEx() != 0) return 2;
    }
    return 0;
}
"""


def python_config():
    bindir = sysconfig.get_config_var("BINDIR") or ""
    config = os.path.join(bindir, "python%s-config" % sysconfig.get_config_var("VERSION"))
    return config if os.path.exists(config) else shutil.which("python%s-config" % sysconfig.get_config_var("VERSION"))


def build_embedder(tmp_path):
    config = python_config()
    if config is None:
        pytest.skip("python-config of this interpreter is not installed")
    compiler = shutil.which(os.environ.get("CC", "cc")) or shutil.which("gcc")
    if compiler is None:
        pytest.skip("no C compiler")
    flags = subprocess.run([config, "--cflags", "--ldflags", "--embed"], capture_output=True, text=True)
    if flags.returncode != 0:
        pytest.skip("python-config cannot give embedding flags")
    source = tmp_path / "embedder.c"
    source.write_text(EMBEDDER)
    program = tmp_path / "embedder"
    libdir = sysconfig.get_config_var("LIBDIR")
    command = [compiler, str(source), "-o", str(program), *flags.stdout.split(), "-Wl,-rpath," + libdir]
    built = subprocess.run(command, capture_output=True, text=True)
    if built.returncode != 0 and "Python.h" in built.stderr:
        pytest.skip("the interpreter's headers are not installed")
    assert built.returncode == 0, built.stderr
    return program


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX embedding build")
def test_embedder_restarts_after_finalizer_calls(tmp_path):
    program = build_embedder(tmp_path)
    env = dict(os.environ, PYTHONHOME=sys.base_prefix,
               PYTHONPATH=os.pathsep.join([MODULE_DIR, os.environ.get("PYTHONPATH", "")]))
    for _ in range(3):
        proc = subprocess.run([str(program)], capture_output=True, text=True, timeout=60, env=env)
        assert (proc.returncode, proc.stdout) == (0, "start\nreleased\nreleased\n" * 3), proc.stderr


# --- a forked child's first call while another thread imports ---------------------

FORK_DURING_IMPORT = """
    import importlib.abc, os, signal, sys, threading, time
    from verrakin import PhaseHVec

    # A finder that is slow for collections.abc keeps that module's import lock
    # held by one thread while the main thread forks.
    importing = threading.Event()
    class SlowFinder(importlib.abc.MetaPathFinder):
        def find_spec(self, name, path=None, target=None):
            if name == "collections.abc":
                importing.set()
                time.sleep(1.0)
            return None
    sys.modules.pop("collections.abc", None)
    sys.meta_path.insert(0, SlowFinder())
    thread = threading.Thread(target=lambda: __import__("collections.abc"))
    thread.start()
    importing.wait()
    children = []
    for _ in range(5):
        pid = os.fork()
        if pid == 0:
            signal.alarm(10)  # a hung child dies of SIGALRM
            try:
                PhaseHVec.bundle(5)
            except TypeError:
                os._exit(0)
            os._exit(1)
        children.append(pid)
    statuses = [os.waitpid(pid, 0)[1] for pid in children]
    thread.join()
    print(statuses)
"""


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_child_forked_during_an_import_is_not_stuck():
    code, out, err = run_child(FORK_DURING_IMPORT)
    assert code == 0, err
    assert out.strip() == str([0] * 5)


# --- interrupts raised by a sequence's __len__ -------------------------------------

class LengthRaises:
    def __init__(self, items, error):
        self.items, self.error = items, error

    def __len__(self):
        raise self.error

    def __getitem__(self, index):
        return self.items[index]


def vectors():
    return [verrakin.PhaseHVec.random(16, 8, seed) for seed in range(3)]


@pytest.mark.parametrize("kind", [KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("call", ["bundle", "codebooks", "codebook"])
def test_interrupt_from_len_reaches_the_caller(kind, call, assert_note):
    items = vectors()
    error = kind(3)
    raising = LengthRaises(items, error)
    with pytest.raises(type(error)) as info:
        if call == "bundle":
            verrakin.PhaseHVec.bundle(raising)
        elif call == "codebooks":
            verrakin.resonator_factorize(items[0], raising)
        else:
            verrakin.resonator_factorize(items[0], [items, raising])
    assert info.value is error
    assert_note(info.value, "items" if call == "bundle" else "codebooks")


@pytest.mark.parametrize("error", [ValueError("no length"), MemoryError(), ArithmeticError()])
def test_other_errors_from_len_are_only_a_missing_hint(error):
    items = vectors()
    assert verrakin.PhaseHVec.bundle(LengthRaises(items, error)).phases() == verrakin.PhaseHVec.bundle(items).phases()
