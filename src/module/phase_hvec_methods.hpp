// The Python members of PhaseHVec, registered by the type in phase_hvec_type.cpp.
#pragma once

#include "python.hpp"

namespace verrakin {

PyObject* phasehvec_random(PyObject* unused, PyObject* args, PyObject* kwargs);
PyObject* phasehvec_bind(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* phasehvec_unbind(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* phasehvec_similarity(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* phasehvec_bundle(PyObject* unused, PyObject* args, PyObject* kwargs);
PyObject* phasehvec_phases(PyObject* self, PyObject* unused);
PyObject* phasehvec_repr(PyObject* self);
PyObject* phasehvec_get_dim(PyObject* self, void* closure);
PyObject* phasehvec_get_n(PyObject* self, void* closure);

/// resonator_factorize(composite, codebooks, max_iter=50)
PyObject* resonator_factorize(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace verrakin
