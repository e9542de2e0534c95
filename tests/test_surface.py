"""The module as Python sees it: attributes, class registration, docstrings,
signatures and the object behaviour of PhaseHVec instances."""

import gc
import importlib
import importlib.util
import inspect
import shutil
import subprocess
import sys
import weakref

import pytest

import verrakin
from verrakin import PhaseHVec, resonator_factorize

MODULE_DOC = "Deterministic, verifiable vector-symbolic (VSA) memory on a quantized-phase substrate."
CLASS_DOC = (
    "A quantized-phase hypervector: `dim` phases in `Z_N`. Binding is phase-add mod N\n"
    "(not self-inverse), bundling is a deterministic integer fold, similarity is the\n"
    "mean cosine of phase differences."
)
REFUSAL = "cannot create 'builtins.PhaseHVec' instances"

# name -> (text signature, documentation, inspect.signature of the bound/static form)
MEMBERS = {
    "random": (
        "(dim, n, seed)",
        "A random phase vector of `dim` dimensions at resolution `n` (phase levels,\n"
        "2..=65536), deterministic in `seed`.",
        "(dim, n, seed)",
    ),
    "bind": (
        "($self, other)",
        "Bind two vectors (phase-add mod N). Non-self-inverse; inverse is `unbind`.",
        "(other)",
    ),
    "unbind": ("($self, other)", "Unbind (phase-sub mod N). `a.bind(b).unbind(b) == a`.", "(other)"),
    "similarity": (
        "($self, other)",
        "Similarity: mean cosine of phase differences, in [-1, 1].",
        "(other)",
    ),
    "bundle": ("(items)", "Deterministic superposition (bundle) of a list of phase vectors.", "(items)"),
    "phases": ("($self)", "The raw phase indices as a list of ints in [0, n).", "()"),
}
RESONATOR_DOC = (
    "Factor a composite `bind(f0, f1, ...)` into one codebook index per factor via the\n"
    "deterministic resonator. Returns `(index, similarity)` for each factor."
)

Py_TPFLAGS_IMMUTABLETYPE = 1 << 8
Py_TPFLAGS_HEAPTYPE = 1 << 9
Py_TPFLAGS_BASETYPE = 1 << 10
Py_TPFLAGS_HAVE_GC = 1 << 14


@pytest.fixture
def v():
    return PhaseHVec.random(8, 16, 42)


# --- module -----------------------------------------------------------------


def test_module_attributes():
    assert verrakin.__all__ == ["__doc__", "PhaseHVec", "resonator_factorize"]
    assert type(verrakin.__all__) is list
    assert verrakin.__doc__ == MODULE_DOC
    assert verrakin.__name__ == "verrakin"
    assert [a for a in dir(verrakin) if not a.startswith("_")] == ["PhaseHVec", "resonator_factorize"]


def test_star_import_binds_doc_too():
    ns = {}
    exec("from verrakin import *", ns)
    assert ns["__doc__"] == MODULE_DOC
    assert ns["PhaseHVec"] is PhaseHVec
    assert ns["resonator_factorize"] is resonator_factorize


def test_reimport_makes_new_module_sharing_the_type():
    old = sys.modules.pop("verrakin")
    try:
        new = importlib.import_module("verrakin")
        assert new is not old
        assert new.PhaseHVec is old.PhaseHVec
        assert new.resonator_factorize is not old.resonator_factorize
        assert new.resonator_factorize.__self__ is new
        assert new.__all__ == old.__all__ and new.__all__ is not old.__all__
        # Instances made through either module are of the one type.
        assert type(new.PhaseHVec.random(2, 4, 1)) is type(old.PhaseHVec.random(2, 4, 1))
    finally:
        sys.modules["verrakin"] = old


class ListSub(list):
    pass


def _unexecuted_module():
    spec = importlib.util.find_spec("verrakin")
    return spec.loader, importlib.util.module_from_spec(spec)


@pytest.mark.parametrize("existing", [None, ["x"], ListSub(["x"])])
def test_execution_fills_a_fresh_module(existing):
    loader, mod = _unexecuted_module()
    assert mod is not verrakin and mod.__doc__ == "" and not hasattr(mod, "__all__")
    if existing is not None:
        mod.__all__ = existing
    loader.exec_module(mod)
    names = ["__doc__", "PhaseHVec", "resonator_factorize"]
    assert mod.__all__ == ([] if existing is None else ["x"]) + names
    if existing is not None:
        assert mod.__all__ is existing  # appended to, not replaced
    assert mod.__doc__ == MODULE_DOC and mod.PhaseHVec is PhaseHVec
    assert mod.resonator_factorize.__self__ is mod


@pytest.mark.parametrize("existing, type_name", [(("x",), "tuple"), ("x", "str"), (None, "None")])
def test_execution_refuses_a_non_list_all(existing, type_name):
    loader, mod = _unexecuted_module()
    mod.__all__ = existing
    with pytest.raises(TypeError) as ei:
        loader.exec_module(mod)
    source = "'None'" if existing is None else f"'{type_name}' object"
    assert str(ei.value) == f"{source} is not an instance of 'list'"
    assert mod.__all__ is existing and mod.__doc__ == "" and not hasattr(mod, "PhaseHVec")


def test_resonator_function_object():
    f = resonator_factorize
    assert type(f).__name__ == "builtin_function_or_method"
    assert f.__name__ == f.__qualname__ == "resonator_factorize"
    assert f.__module__ == "verrakin"
    assert f.__self__ is verrakin
    assert f.__text_signature__ == "(composite, codebooks, max_iter=50)"
    assert f.__doc__ == RESONATOR_DOC
    sig = inspect.signature(f)
    assert str(sig) == "(composite, codebooks, max_iter=50)"
    assert sig.parameters["max_iter"].default == 50
    assert {p.kind for p in sig.parameters.values()} == {inspect.Parameter.POSITIONAL_OR_KEYWORD}


# --- class registration -----------------------------------------------------


def test_class_registration():
    assert PhaseHVec.__module__ == "builtins"
    assert PhaseHVec.__name__ == PhaseHVec.__qualname__ == "PhaseHVec"
    assert repr(PhaseHVec) == "<class 'PhaseHVec'>"
    assert PhaseHVec.__doc__ == CLASS_DOC
    assert PhaseHVec.__text_signature__ is None
    assert type(PhaseHVec) is type
    assert PhaseHVec.__mro__ == (PhaseHVec, object)
    flags = PhaseHVec.__flags__
    assert flags & Py_TPFLAGS_HEAPTYPE
    assert not flags & (Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE)
    public = {k for k in PhaseHVec.__dict__ if not k.startswith("_")}
    assert public == set(MEMBERS) | {"dim", "n"}


@pytest.mark.parametrize("name", sorted(MEMBERS))
def test_member_docs_and_signatures(name, v):
    text_sig, doc, sig = MEMBERS[name]
    member = getattr(PhaseHVec, name)
    assert member.__text_signature__ == text_sig
    assert member.__doc__ == doc
    assert str(inspect.signature(getattr(v, name))) == sig
    if not text_sig.startswith("($self"):  # static: the same through class and instance
        assert str(inspect.signature(member)) == sig


@pytest.mark.parametrize("attr", ["dim", "n"])
def test_attributes_are_undocumented_getset_descriptors(attr):
    descr = PhaseHVec.__dict__[attr]
    assert type(descr).__name__ == "getset_descriptor"
    assert descr.__doc__ is None


@pytest.mark.parametrize("args, kwargs", [((), {}), ((1, 2, 3), {}), ((), {"dim": 1}), ((object(),), {"x": None})])
def test_calling_the_class_is_refused(args, kwargs):
    with pytest.raises(TypeError) as ei:
        PhaseHVec(*args, **kwargs)
    assert ei.value.args == (REFUSAL,)


def test_new_slot_is_refused_directly():
    with pytest.raises(TypeError) as ei:
        PhaseHVec.__new__(PhaseHVec)
    assert str(ei.value) == REFUSAL


@pytest.mark.parametrize(
    "attr, value, message",
    [
        ("__module__", "m", "cannot create 'm.PhaseHVec' instances"),
        ("__module__", 5, "cannot create '<unknown>.PhaseHVec' instances"),
        ("__qualname__", "Q.R", "cannot create 'builtins.Q.R' instances"),
    ],
)
def test_refusal_reads_the_current_names(attr, value, message):
    saved = PhaseHVec.__dict__[attr] if attr == "__module__" else PhaseHVec.__qualname__
    setattr(PhaseHVec, attr, value)
    try:
        with pytest.raises(TypeError) as ei:
            PhaseHVec()
        assert str(ei.value) == message
    finally:
        setattr(PhaseHVec, attr, saved)
    assert PhaseHVec.__module__ == "builtins" and PhaseHVec.__qualname__ == "PhaseHVec"
    with pytest.raises(TypeError) as ei:
        PhaseHVec()
    assert str(ei.value) == REFUSAL


def test_class_attributes_can_be_set_and_deleted():
    PhaseHVec.extra = 1
    try:
        assert PhaseHVec.random(1, 2, 0).extra == 1
    finally:
        del PhaseHVec.extra
    assert not hasattr(PhaseHVec, "extra")


def test_subclassing_refused():
    with pytest.raises(TypeError):

        class Sub(PhaseHVec):
            pass


# --- instances --------------------------------------------------------------


@pytest.mark.parametrize("attr", ["dim", "n"])
def test_read_only_attributes(attr, v):
    before = (v.dim, v.n, v.phases())
    with pytest.raises(AttributeError):
        setattr(v, attr, 3)
    with pytest.raises(AttributeError):
        delattr(v, attr)
    assert (v.dim, v.n, v.phases()) == before
    assert type(getattr(v, attr)) is int


def test_no_instance_dict_weakref_or_gc(v):
    assert not hasattr(v, "__dict__")
    with pytest.raises(AttributeError):
        v.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(v)
    assert PhaseHVec.__dictoffset__ == 0 and PhaseHVec.__weakrefoffset__ == 0
    assert not gc.is_tracked(v)


def test_equality_and_hash_by_identity(v):
    twin = PhaseHVec.random(8, 16, 42)
    assert twin.phases() == v.phases()
    assert v == v and not (v != v)
    assert v != twin and not (v == twin)
    assert v.__eq__(twin) is NotImplemented
    assert hash(v) == object.__hash__(v) and hash(v) == hash(v)
    assert len({v, twin, v}) == 2
    with pytest.raises(TypeError):
        v < twin  # noqa: B015


def test_no_container_protocol(v):
    for op in (len, iter, lambda x: x[0], lambda x: 0 in x):
        with pytest.raises(TypeError):
            op(v)


@pytest.mark.parametrize("dim, n", [(8, 16), (0, 16), (3, 65536), (1000, 2)])
def test_repr_and_str(dim, n):
    x = PhaseHVec.random(dim, n, 5)
    assert repr(x) == str(x) == f"{x}" == f"PhaseHVec(dim={dim}, n={n})"
    assert (x.dim, x.n) == (dim, n)


def test_phases_returns_a_new_list_each_call(v):
    first = v.phases()
    second = v.phases()
    assert type(first) is list and first is not second and first == second
    assert all(type(p) is int for p in first)
    first.append(99)
    first[0] = 99
    assert v.phases() == second and len(v.phases()) == v.dim


@pytest.mark.parametrize("args, kwargs", [((1,), {}), ((), {"x": 1}), ((None, None), {})])
def test_phases_takes_no_arguments(v, args, kwargs):
    with pytest.raises(TypeError):
        v.phases(*args, **kwargs)


@pytest.mark.parametrize(
    "call",
    [
        lambda v: PhaseHVec.phases(5),
        lambda v: PhaseHVec.bind(5, v),
        lambda v: PhaseHVec.similarity([v], v),
        lambda v: PhaseHVec.__dict__["dim"].__get__(5),
        lambda v: PhaseHVec.__repr__(5),
    ],
)
def test_instance_members_refuse_foreign_self(call, v):
    with pytest.raises(TypeError):
        call(v)


def test_static_methods_work_through_an_instance(v):
    assert v.random(8, 16, 42).phases() == v.phases()
    assert v.bundle([v]).phases() == v.phases()


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm")
@pytest.mark.skipif(sys.platform == "win32", reason="a DLL exports only what is marked for export")
def test_exports_only_the_init_symbol():
    if sys.platform == "darwin":  # Mach-O: external defined symbols, C names with a leading underscore
        command, expected = ["nm", "-gU"], ["_PyInit_verrakin"]
    else:  # ELF: the dynamic symbol table
        command, expected = ["nm", "-D", "--defined-only"], ["PyInit_verrakin"]
    listing = subprocess.run([*command, verrakin.__file__], capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == expected


def test_new_instances_come_from_the_base_object_constructor():
    # object's constructor refuses abstract classes; instances must pass through it.
    PhaseHVec.__abstractmethods__ = frozenset({"x"})
    try:
        with pytest.raises(TypeError, match="abstract"):
            PhaseHVec.random(2, 16, 1)
    finally:
        del PhaseHVec.__abstractmethods__
    assert PhaseHVec.random(2, 16, 1).phases() == PhaseHVec.random(3, 16, 1).phases()[:2]


def test_names_without_a_utf8_form_are_shown_as_they_are(v):
    class Odd:
        pass

    Odd.__qualname__ = "caf\udce9"
    with pytest.raises(TypeError) as ei:
        v.bind(Odd())
    assert ei.value.args == ("'caf\udce9' object is not an instance of 'PhaseHVec'",)
    PhaseHVec.__module__ = "m\udc80"
    try:
        with pytest.raises(TypeError) as ei:
            PhaseHVec()
    finally:
        PhaseHVec.__module__ = "builtins"
    assert ei.value.args == ("cannot create 'm\udc80.PhaseHVec' instances",)
