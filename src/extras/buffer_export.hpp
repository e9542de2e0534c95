// Buffers lent without a copy: a vector's levels, a similarity matrix.
#pragma once

#include "../module/convert.hpp"

namespace verrakin::extras {

/// Makes the exporter type once (module execution).
PyResult<Ok> ready_buffer_export_type();

/// A read-only memoryview (format "H", shape (dim,)) over `vector`'s levels,
/// keeping the vector alive and under shared access while any view exists.
CallResult levels_view(PyObject* vector);

/// A writable memoryview of doubles, shape (rows, columns), over the bytes of
/// `storage` (a bytearray of rows * columns * 8 bytes nobody else holds).
CallResult matrix_view(PyRef storage, Py_ssize_t rows, Py_ssize_t columns);

}  // namespace verrakin::extras
