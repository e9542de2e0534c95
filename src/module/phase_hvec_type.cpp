// The PhaseHVec type: its PyType_Spec, slots, refused constructor and dealloc.
#include <atomic>
#include <cstring>
#include <new>
#include <string>

#include "init_once.hpp"
#include "phase_hvec_methods.hpp"
#include "phase_hvec_object.hpp"

namespace verrakin {
namespace {

constexpr const char* kTypeDoc =
    "A quantized-phase hypervector: `dim` phases in `Z_N`. Binding is phase-add mod N\n"
    "(not self-inverse), bundling is a deterministic integer fold, similarity is the\n"
    "mean cosine of phase differences.";

PyObject* refuse_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
void phasehvec_dealloc(PyObject* instance);

// Interpreter entries take PyCFunction; the keyword form is cast as usual.
template <class F>
PyCFunction as_cfunction(F function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef kMethods[] = {
    {"random", as_cfunction(phasehvec_random), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "random(dim, n, seed)\n--\n\nA random phase vector of `dim` dimensions at resolution `n` (phase levels,\n"
     "2..=65536), deterministic in `seed`."},
    {"bind", as_cfunction(phasehvec_bind), METH_VARARGS | METH_KEYWORDS,
     "bind($self, other)\n--\n\nBind two vectors (phase-add mod N). Non-self-inverse; inverse is `unbind`."},
    {"unbind", as_cfunction(phasehvec_unbind), METH_VARARGS | METH_KEYWORDS,
     "unbind($self, other)\n--\n\nUnbind (phase-sub mod N). `a.bind(b).unbind(b) == a`."},
    {"similarity", as_cfunction(phasehvec_similarity), METH_VARARGS | METH_KEYWORDS,
     "similarity($self, other)\n--\n\nSimilarity: mean cosine of phase differences, in [-1, 1]."},
    {"bundle", as_cfunction(phasehvec_bundle), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "bundle(items)\n--\n\nDeterministic superposition (bundle) of a list of phase vectors."},
    {"phases", as_cfunction(phasehvec_phases), METH_NOARGS,
     "phases($self)\n--\n\nThe raw phase indices as a list of ints in [0, n)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kGetSet[] = {
    {"dim", phasehvec_get_dim, nullptr, nullptr, nullptr},
    {"n", phasehvec_get_n, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(kTypeDoc)},        // class documentation, no text signature
    {Py_tp_repr, reinterpret_cast<void*>(phasehvec_repr)},  // PhaseHVec(dim=.., n=..)
    {Py_tp_methods, kMethods},                      // random, bind, unbind, similarity, bundle, phases
    {Py_tp_getset, kGetSet},                        // read-only dim and n
    {Py_tp_base, &PyBaseObject_Type},               // plain object base
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},      // instances come only from operations
    {Py_tp_dealloc, reinterpret_cast<void*>(phasehvec_dealloc)},  // frees the record
    {0, nullptr},
};

std::atomic<PyObject*> stored_type{nullptr};

// Wraps the interpreter's failure as RuntimeError with the failure as __cause__.
PendingException type_creation_error() {
    PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
    PyErr_Fetch(&t, &v, &tb);
    PyErr_NormalizeException(&t, &v, &tb);
    PyRef cause_type = PyRef::steal(t), cause = PyRef::steal(v), cause_tb = PyRef::steal(tb);
    if (cause && cause_tb) PyException_SetTraceback(cause.get(), cause_tb.get());
    PendingException error =
        PendingException::lazy(PyExc_RuntimeError, "An error occurred while initializing class PhaseHVec");
    PyObject* instance = error.instance();
    if (cause) PyException_SetCause(instance, cause.release());
    return error;
}

PyResult<PyObject*> create_type() {
    // Interpreters before 3.11 keep pointing at the PyType_Spec's name.
    const std::string formatted = std::string("builtins") + "." + "PhaseHVec";
    char* name = new char[formatted.size() + 1];
    std::memcpy(name, formatted.c_str(), formatted.size() + 1);
    PyType_Spec spec{
        .name = name,
        .basicsize = static_cast<int>(sizeof(PhaseHVecObject)),
        .itemsize = 0,
        .flags = Py_TPFLAGS_DEFAULT,
        .slots = kSlots,
    };
    PyObject* type = PyType_FromSpec(&spec);
    if (python_at_least_3_11()) delete[] name;
    if (type == nullptr) return unexpected(type_creation_error());
    // For a type whose __module__ is "builtins" the class repr prints the full
    // internal name; renaming the type to its bare name (which leaves __module__
    // and __qualname__ as they are) makes it <class 'PhaseHVec'>.
    PyRef bare_name = expect_new(PyUnicode_FromString("PhaseHVec"));
    if (PyObject_SetAttrString(type, "__name__", bare_name.get()) != 0) {
        Py_DecRef(type);
        return unexpected(type_creation_error());
    }
    PyObject* expected = nullptr;
    if (!stored_type.compare_exchange_strong(expected, type)) {
        Py_DecRef(type);  // another thread stored one first
        return expected;
    }
    return type;
}

// "<module>.<qualname>" parts of a type, "<unknown>" where an attribute is unusable.
std::string type_part(PyTypeObject* type, const char* attribute) {
    PyRef value = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), attribute));
    if (!value) {
        PyErr_Clear();
        return "<unknown>";
    }
    if (!type_has_flag(value.get(), Py_TPFLAGS_UNICODE_SUBCLASS)) return "<unknown>";
    PyRef text = PyRef::steal(PyObject_Str(value.get()));
    if (!text) {
        PyErr_Clear();
        return "<unknown>";
    }
    return utf8_text(text.get()).value_or("<unknown>");
}

PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) {
    return entry_point([&]() -> CallResult {
        return unexpected(PendingException::lazy(
            PyExc_TypeError, "cannot create '" + type_part(type, "__module__") + "." +
                                 type_part(type, "__qualname__") + "' instances"));
    });
}

void phasehvec_dealloc(PyObject* instance) {
    entry_point_uncontained([&] {
        auto* object = reinterpret_cast<PhaseHVecObject*>(instance);
        object->record.~PhaseHVec();
        object->access.~atomic();
        PyTypeObject* type = Py_TYPE(instance);
        auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        if (free_slot == nullptr) fatal_error("PyBaseObject_Type should have tp_free");
        free_slot(instance);
        Py_DecRef(reinterpret_cast<PyObject*>(type));
    });
}

}  // namespace

PyResult<PyObject*> phasehvec_type_or_error() {
    if (PyObject* type = stored_type.load(std::memory_order_acquire)) return type;
    return create_type();
}

PyObject* phasehvec_type() {
    if (PyObject* type = stored_type.load(std::memory_order_acquire)) return type;
    PyResult<PyObject*> created = create_type();
    if (!created) {
        std::move(created).error().restore();
        PyErr_WriteUnraisable(nullptr);
        fatal_error("failed to create type object for `PhaseHVec`");
    }
    return created.value();
}

}  // namespace verrakin
