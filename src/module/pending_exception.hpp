// The module's error value and its passage into and out of the interpreter.
//
// Below the entry point a failure is a PendingException value; only the entry
// point makes it the interpreter's current exception.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "../core/expected.hpp"
#include "../core/fatal.hpp"
#include "../core/phase_hvec/record.hpp"
#include "py_ref.hpp"

namespace verrakin {

class PendingException {
public:
    /// An exception of a built-in type (e.g. PyExc_TypeError) raised with a str argument.
    static PendingException lazy(PyObject* type, std::string message);
    /// "'<type>' object is not an instance of '<target>'", composed when raised.
    static PendingException type_mismatch(PyObject* object, PyObject* target);
    /// The same for a target known only by its name (a static text).
    static PendingException type_mismatch(PyObject* object, const char* target_name);
    /// pyo3_runtime.PanicException raised with the tuple (message,).
    static PendingException panic(std::string message);
    /// A PhaseError, raised as ValueError with its text.
    static PendingException from(const PhaseError& error) { return lazy(PyExc_ValueError, error.message); }

    PendingException(PendingException&&) noexcept = default;
    PendingException& operator=(PendingException&&) noexcept = default;

    /// Makes this the interpreter's current exception.
    void restore() &&;

    /// The exception instance (borrowed), made on first need.
    PyObject* instance();

private:
    friend std::optional<PendingException> fetch_exception();

    struct Lazy {
        PyObject* type;  // a built-in exception type, or null for the panic type
        std::string message;
    };
    // No larger than Lazy: every PyResult holds one, and recursion through
    // callbacks stacks many of them.
    struct Mismatch {
        PyRef object;
        PyRef target;             // or null, and then
        const char* target_name;  // the target's name
    };
    struct Normalized {
        PyRef type;
        PyRef value;
        PyRef traceback;
    };
    explicit PendingException(Lazy state) : state_(std::move(state)) {}
    explicit PendingException(Mismatch state) : state_(std::move(state)) {}
    explicit PendingException(Normalized state) : state_(std::move(state)) {}

    void raise_lazy();
    std::variant<Lazy, Mismatch, Normalized> state_;
    bool normalizing_ = false;
};

template <class T>
using PyResult = Expected<T, PendingException>;

/// Takes the interpreter's current exception, if any. A PanicException that came
/// back through Python is reported on standard error and resumed as an internal
/// fatal error with the same message.
std::optional<PendingException> fetch_exception();

/// The current exception, which an interpreter call just reported by failing.
PendingException take_exception();

/// The process-wide pyo3_runtime.PanicException type (borrowed), made on first need.
PyObject* panic_exception_type();

/// Makes the error being handled in the enclosing catch block the interpreter's
/// current exception: an internal fatal error as PanicException, exhausted
/// memory as MemoryError saying what could not be allocated, anything else
/// (reported on standard error first) as PanicException with a generic text.
/// Only a forced unwind started by the interpreter passes through it.
void raise_caught_error();

/// The UTF-8 text of a str object (lone surrogates passed through), or nothing
/// (the error is cleared).
std::optional<std::string> utf8_text(PyObject* str);

}  // namespace verrakin
