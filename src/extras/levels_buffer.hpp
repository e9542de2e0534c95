// A read-only uint16 buffer over a vector's levels, keeping the vector alive.
#pragma once

#include "../module/convert.hpp"

namespace verrakin::extras {

/// Makes the exporter type once (module execution).
PyResult<Ok> ready_levels_buffer_type();

/// A memoryview (format "H", shape (dim,), read-only) over `vector`'s levels.
CallResult levels_view(PyObject* vector);

}  // namespace verrakin::extras
