// CPython's Py_buffer and the request flags, declared here because the 3.9
// stable ABI this module builds against does not declare them. The layout has
// not changed since 3.3, and 3.11 froze it in the stable ABI as it was.
#pragma once

#include "../module/python.hpp"

namespace verrakin::extras {

struct BufferView {
    void* buf;
    PyObject* obj;
    Py_ssize_t len;
    Py_ssize_t itemsize;
    int readonly;
    int ndim;
    char* format;
    Py_ssize_t* shape;
    Py_ssize_t* strides;
    Py_ssize_t* suboffsets;
    void* internal;
};
static_assert(sizeof(BufferView) == 10 * sizeof(void*) || sizeof(void*) != 8, "Py_buffer is 80 bytes on 64-bit");

constexpr int kBufferWritable = 0x0001;             // PyBUF_WRITABLE
constexpr int kBufferFormat = 0x0004;               // PyBUF_FORMAT
constexpr int kBufferNd = 0x0008;                   // PyBUF_ND
constexpr int kBufferStrides = 0x0010 | kBufferNd;  // PyBUF_STRIDES

}  // namespace verrakin::extras
