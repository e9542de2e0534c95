// enable_pickling(): registers with copyreg a reducer that pickles a PhaseHVec
// as verrakin_extras.from_bytes(to_bytes(v)). The class itself is registered as
// "builtins.PhaseHVec", where pickle cannot find it by name, so the reducer
// names the companion module's function instead; verrakin is left as it is.
#include <array>

#include "call_helpers.hpp"
#include "entries.hpp"

namespace verrakin::extras {
namespace {

constexpr CallSignature kEnableSignature{nullptr, "enable_pickling", {}, 0, 0, {}};

// reduce(v) -> (verrakin_extras.from_bytes, (to_bytes(v),)); `module` is the
// companion module, bound as the function's self.
PyObject* reduce_vector(PyObject* module, PyObject* vector) {
    return entry_point([&]() -> CallResult {
        PyRef from_bytes_function = PyRef::steal(PyObject_GetAttrString(module, "from_bytes"));
        if (!from_bytes_function) return unexpected(take_exception());
        PyRef to_bytes_function = PyRef::steal(PyObject_GetAttrString(module, "to_bytes"));
        if (!to_bytes_function) return unexpected(take_exception());
        PyRef data = PyRef::steal(PyObject_CallFunctionObjArgs(to_bytes_function.get(), vector, nullptr));
        if (!data) return unexpected(take_exception());
        PyRef arguments = expect_new(PyTuple_New(1));
        PyTuple_SetItem(arguments.get(), 0, data.release());
        PyRef reduced = expect_new(PyTuple_New(2));
        PyTuple_SetItem(reduced.get(), 0, from_bytes_function.release());
        PyTuple_SetItem(reduced.get(), 1, arguments.release());
        return reduced;
    });
}

PyMethodDef kReduceDef = {"reduce_phase_hvec", reduce_vector, METH_O,
                          "Pickles a PhaseHVec through verrakin_extras.to_bytes and from_bytes."};

}  // namespace

PyObject* enable_pickling(PyObject* module, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        VK_TRY(extract_arguments(kEnableSignature, args, kwargs, {}));
        PyRef copyreg_name = expect_new(PyUnicode_FromString("copyreg"));
        PyRef copyreg = PyRef::steal(PyImport_Import(copyreg_name.get()));
        if (!copyreg) return unexpected(take_exception());
        PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
        if (!module_name) return unexpected(take_exception());
        PyRef reducer = PyRef::steal(PyCMethod_New(&kReduceDef, module, module_name.get(), nullptr));
        if (!reducer) return unexpected(take_exception());
        PyRef registered = PyRef::steal(
            PyObject_CallMethod(copyreg.get(), "pickle", "OO", phasehvec_type(), reducer.get()));
        if (!registered) return unexpected(take_exception());
        return PyRef::borrow(Py_None);
    });
}

}  // namespace verrakin::extras
