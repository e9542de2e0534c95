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


}  // namespace verrakin::extras
