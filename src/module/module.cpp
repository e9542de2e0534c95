// The verrakin module: its definition, the execution slot and PyInit_verrakin.
#include "convert.hpp"
#include "init_once.hpp"
#include "phase_hvec_methods.hpp"
#include "phase_hvec_object.hpp"

namespace verrakin {
namespace {

constexpr const char* kModuleDoc =
    "Deterministic, verifiable vector-symbolic (VSA) memory on a quantized-phase substrate.";

PyMethodDef kResonatorDef = {
    "resonator_factorize",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(resonator_factorize)),
    // No METH_STATIC: the interpreter hides __self__ (and passes no self) for
    // static definitions, and the function's __self__ is the module.
    METH_VARARGS | METH_KEYWORDS,
    "resonator_factorize(composite, codebooks, max_iter=50)\n--\n\n"
    "Factor a composite `bind(f0, f1, ...)` into one codebook index per factor via the\n"
    "deterministic resonator. Returns `(index, similarity)` for each factor.",
};

PyRef new_str(const char* text) { return expect_new(PyUnicode_FromString(text)); }

// Adds one attribute and lists its name in the module's __all__ first.
PyResult<Ok> module_add(PyObject* module, PyObject* name, PyObject* value) {
    PyRef all = PyRef::steal(PyObject_GetAttr(module, interned_all()));
    if (!all) {
        PendingException error = take_exception();
        if (!PyErr_GivenExceptionMatches(error.instance(), PyExc_AttributeError)) return unexpected(std::move(error));
        all = expect_new(PyList_New(0));
        if (PyObject_SetAttr(module, interned_all(), all.get()) != 0) return unexpected(take_exception());
    } else if (!type_has_flag(all.get(), Py_TPFLAGS_LIST_SUBCLASS)) {
        return unexpected(PendingException::type_mismatch(all.get(), reinterpret_cast<PyObject*>(&PyList_Type)));
    }
    if (PyList_Append(all.get(), name) != 0) {
        PyErr_Clear();
        fatal_error("could not append __name__ to __all__");
    }
    all.reset();
    if (PyObject_SetAttr(module, name, value) != 0) return unexpected(take_exception());
    return Ok{};
}

int module_exec(PyObject* module) {
    return entry_point_status([&]() -> CallResult {
        if (module == nullptr) return unexpected(take_exception());
        if (Py_TYPE(module) != &PyModule_Type && !PyType_IsSubtype(Py_TYPE(module), &PyModule_Type)) {
            return unexpected(PendingException::type_mismatch(module, reinterpret_cast<PyObject*>(&PyModule_Type)));
        }
        // Before anything is added: no call can come before the type is there.
        VK_TRY(obtain_sequence_type());
        {
            PyRef name = new_str("__doc__");
            PyRef doc = new_str(kModuleDoc);
            VK_TRY(module_add(module, name.get(), doc.get()));
        }
        {
            PyObject* type = nullptr;
            VK_TRY_ASSIGN(type, phasehvec_type_or_error());
            PyRef name = new_str("PhaseHVec");
            VK_TRY(module_add(module, name.get(), type));
        }
        PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
        if (!module_name) return unexpected(take_exception());
        PyRef function = PyRef::steal(PyCMethod_New(&kResonatorDef, module, module_name.get(), nullptr));
        module_name.reset();
        if (!function) return unexpected(take_exception());
        PyRef function_name = PyRef::steal(PyObject_GetAttr(function.get(), interned_name()));
        if (!function_name) return unexpected(take_exception());
        if (!type_has_flag(function_name.get(), Py_TPFLAGS_UNICODE_SUBCLASS)) {
            return unexpected(
                PendingException::type_mismatch(function_name.get(), reinterpret_cast<PyObject*>(&PyUnicode_Type)));
        }
        VK_TRY(module_add(module, function_name.get(), function.get()));
        return PyRef::borrow(Py_None);
    });
}

PyModuleDef_Slot kModuleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "verrakin",    // m_name
    "",            // m_doc: the execution slot sets the real text
    0,             // m_size: no per-module state
    nullptr,       // m_methods: resonator_factorize is added by the execution slot
    kModuleSlots,  // m_slots
    nullptr,       // m_traverse
    nullptr,       // m_clear
    nullptr,       // m_free
};

}  // namespace
}  // namespace verrakin

PyMODINIT_FUNC PyInit_verrakin(void) { return PyModuleDef_Init(&verrakin::kModuleDef); }
