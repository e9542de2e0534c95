// The functions of verrakin_extras, registered by module.cpp.
#pragma once

#include "../module/python.hpp"

namespace verrakin::extras {

PyObject* similarities(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* best_match(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* similarity_matrix(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* from_levels(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* levels(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* to_bytes(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* from_bytes(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* permute(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* factorize(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* factorize_reliably(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* enable_pickling(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* build_info(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace verrakin::extras
