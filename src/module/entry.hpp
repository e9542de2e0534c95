// The entry point wrapper: every call from the interpreter passes through it.
//
// It counts the entry, drains deferred releases, runs the body, and turns the
// body's outcome into the interpreter's convention: a new reference, or null
// with an exception set. Error values and internal fatal errors become Python
// exceptions here and nowhere else. A fatal error escaping the wrapper itself
// ends the process with "uncaught panic at ffi boundary".
#pragma once

#include <new>

#include "../core/fatal.hpp"
#include "pending_exception.hpp"

namespace verrakin {

using CallResult = PyResult<PyRef>;

namespace detail {

template <class Body>
PyObject* run_contained(Body& body) {
    try {
        CallResult outcome = body();
        if (outcome) return std::move(outcome).value().release();
        std::move(outcome).error().restore();
    } catch (const FatalError& error) {
        raise_panic(error.message());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        raise_panic("verrakin's native code failed with an unexpected internal error");
    }
    return nullptr;
}

}  // namespace detail

/// Runs `body` (returning CallResult) as one call from the interpreter.
template <class Body>
PyObject* entry_point(Body&& body) noexcept {
    try {
        EntryScope scope;
        return detail::run_contained(body);
    } catch (...) {
        abort_at_boundary();
    }
}

/// The same for the module execution slot: 0 on success, -1 with an exception set.
template <class Body>
int entry_point_status(Body&& body) noexcept {
    PyObject* result = entry_point(std::forward<Body>(body));
    if (result == nullptr) return -1;
    Py_DecRef(result);
    return 0;
}

/// Entry bookkeeping without containment, for the dealloc slot: any fatal error
/// there ends the process.
template <class Body>
void entry_point_uncontained(Body&& body) noexcept {
    try {
        EntryScope scope;
        body();
    } catch (...) {
        abort_at_boundary();
    }
}

}  // namespace verrakin
