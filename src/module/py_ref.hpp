// An owning reference to an interpreter object.
//
// Ownership is explicit at every call site: PyRef::steal takes over a new
// reference, PyRef::borrow adds one to a borrowed object.
#pragma once

#include <utility>

#include "lock_state.hpp"
#include "python.hpp"

namespace verrakin {

class PyRef {
public:
    PyRef() noexcept = default;
    static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
    static PyRef borrow(PyObject* object) noexcept {
        if (object != nullptr) Py_IncRef(object);
        return PyRef(object);
    }

    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() { reset(); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    /// Hands the reference to the caller.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    void reset() noexcept { release_reference(std::exchange(object_, nullptr)); }

private:
    explicit PyRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

/// Takes a new object that the interpreter must have made. A null result is an
/// internal fatal error ("PyObject pointer is null"), except for exhausted
/// memory, which unwinds as OutOfMemory and is raised as MemoryError.
PyRef expect_new(PyObject* result);

/// True when `object`'s type carries all bits of `flag`.
inline bool type_has_flag(PyObject* object, unsigned long flag) noexcept {
    return (PyType_GetFlags(Py_TYPE(object)) & flag) != 0;
}

}  // namespace verrakin
