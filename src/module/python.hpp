// The one include of the interpreter's C API, restricted to the stable ABI.
#pragma once

#ifndef Py_LIMITED_API
#error "verrakin is built against the stable ABI: define Py_LIMITED_API"
#endif

#define PY_SSIZE_T_CLEAN
#include <Python.h>
