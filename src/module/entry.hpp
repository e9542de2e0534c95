// The entry point wrapper: every call from the interpreter passes through it.
//
// It counts the entry, drains deferred releases, runs the body, and turns the
// body's outcome into the interpreter's convention: a new reference, or null
// with an exception set. Error values, exhausted memory and internal fatal
// errors become Python exceptions here and nowhere else. A fatal error
// escaping the wrapper itself ends the process with "uncaught panic at ffi
// boundary".
//
// One unwind passes through untouched: the interpreter ends a thread that
// wakes up while it finalizes (a daemon thread inside a call back into Python)
// with a forced unwind. That thread no longer holds the interpreter lock, so
// nothing on its way out may call the interpreter (see release_reference), and
// the unwind must reach the thread's start, or the C library aborts.
#pragma once

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
    } catch (...) {
        if (catching_thread_exit()) throw;
        raise_caught_error();
    }
    return nullptr;
}

}  // namespace detail

/// Runs `body` (returning CallResult) as one call from the interpreter.
template <class Body>
PyObject* entry_point(Body&& body) {
    try {
        EntryScope scope;
        return detail::run_contained(body);
    } catch (...) {
        if (catching_thread_exit()) throw;
        abort_at_boundary();
    }
}

/// The same for the module execution slot: 0 on success, -1 with an exception set.
template <class Body>
int entry_point_status(Body&& body) {
    PyObject* result = entry_point(std::forward<Body>(body));
    if (result == nullptr) return -1;
    Py_DecRef(result);
    return 0;
}

/// Entry bookkeeping without containment, for the dealloc slot: any fatal error
/// there ends the process.
template <class Body>
void entry_point_uncontained(Body&& body) {
    try {
        EntryScope scope;
        body();
    } catch (...) {
        if (catching_thread_exit()) throw;
        abort_at_boundary();
    }
}

}  // namespace verrakin
