// Small pieces the entries of verrakin_extras share.
#pragma once

#include <vector>

#include "../core/phase_hvec/algebra.hpp"
#include "../module/binder.hpp"
#include "../module/convert.hpp"

namespace verrakin::extras {

/// A core PhaseError as the ValueError the module raises for it.
template <class T>
PyResult<T> from_core(Expected<T, PhaseError> result) {
    if (!result) return unexpected(PendingException::from(result.error()));
    return std::move(result).value();
}

/// Every vector must have the query's dim and n, as similarity() demands.
inline PyResult<Ok> check_shapes(const PhaseHVec& query, const std::vector<PhaseHVec>& vectors) {
    for (const PhaseHVec& v : vectors) {
        if (v.dim != query.dim || v.n != query.n) return unexpected(PendingException::from(kMismatchError));
    }
    return Ok{};
}

/// A new float (a failed making is the interpreter's fatal error, as in verrakin).
inline PyRef new_float(double value) { return expect_new(PyFloat_FromDouble(value)); }

/// Runs the signal handlers between blocks of a long call; one that raises
/// (Ctrl-C's KeyboardInterrupt) unwinds as Interrupted.
void poll_interrupt();

/// The exception a signal handler raised, on its way up to the entry.
struct Interrupted {
    PendingException error;
};

/// `body()` (a PyResult), with an interruption turned back into its error.
template <class Body>
auto interruptible(Body body) -> decltype(body()) {
    try {
        return body();
    } catch (Interrupted& interrupted) {
        return unexpected(std::move(interrupted.error));
    }
}

}  // namespace verrakin::extras
