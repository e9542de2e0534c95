// The PhaseHVec instance: the object header, one record, the access counter.
#pragma once

#include <atomic>
#include <cstdint>

#include "../core/phase_hvec/record.hpp"
#include "entry.hpp"

namespace verrakin {

struct PhaseHVecObject {
    PyObject ob_base;
    PhaseHVec record;
    /// k >= 0: k shared accesses held; -1: an exclusive access (never taken here).
    std::atomic<std::int64_t> access;
};

/// The process-wide PhaseHVec type (borrowed), made on first use. Outside module
/// execution a creation failure is an internal fatal error.
PyObject* phasehvec_type();

/// The same, returning a creation failure as an error value (module execution).
PyResult<PyObject*> phasehvec_type_or_error();

/// Moves a new record into a new PhaseHVec instance.
CallResult wrap(PhaseHVec record);

}  // namespace verrakin
