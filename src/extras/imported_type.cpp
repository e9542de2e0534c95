// The PhaseHVec type of verrakin_extras: the very type object of the imported
// verrakin module, so that both modules read and make the same instances.
#include <atomic>

#include "../module/phase_hvec_object.hpp"

namespace verrakin {
namespace {

std::atomic<PyObject*> stored_type{nullptr};

PendingException layout_error(const char* what) {
    return PendingException::lazy(PyExc_ImportError,
                                  std::string("verrakin_extras needs the verrakin module built with it: ") + what);
}

}  // namespace

// Made once per process, on the first import, and never released.
PyResult<PyObject*> phasehvec_type_or_error() {
    if (PyObject* type = stored_type.load(std::memory_order_acquire)) return type;
    PyRef name = expect_new(PyUnicode_FromString("verrakin"));
    PyRef module = PyRef::steal(PyImport_Import(name.get()));
    if (!module) return unexpected(take_exception());
    PyRef type = PyRef::steal(PyObject_GetAttrString(module.get(), "PhaseHVec"));
    if (!type) return unexpected(take_exception());
    if (!type_has_flag(type.get(), Py_TPFLAGS_TYPE_SUBCLASS)) {
        return unexpected(layout_error("PhaseHVec is not a type"));
    }
    // The instance layout must be this build's: the same header, record and counter.
    PyRef basicsize = PyRef::steal(PyObject_GetAttrString(type.get(), "__basicsize__"));
    if (!basicsize) return unexpected(take_exception());
    if (PyLong_AsSsize_t(basicsize.get()) != static_cast<Py_ssize_t>(sizeof(PhaseHVecObject))) {
        PyErr_Clear();
        return unexpected(layout_error("the PhaseHVec instance layout differs"));
    }
    PyObject* expected = nullptr;
    PyObject* mine = type.release();
    if (!stored_type.compare_exchange_strong(expected, mine)) {
        Py_DecRef(mine);
        return expected;
    }
    return mine;
}

PyObject* phasehvec_type() {
    if (PyObject* type = stored_type.load(std::memory_order_acquire)) return type;
    fatal_error("verrakin_extras used before its module was executed");
}

}  // namespace verrakin
