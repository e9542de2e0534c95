#include "buffer_import.hpp"

#include "../core/platform/process.hpp"

namespace verrakin::extras {
namespace {

using GetBuffer = int (*)(PyObject*, BufferView*, int);
using ReleaseBuffer = void (*)(BufferView*);

struct BufferFunctions {
    GetBuffer get = nullptr;
    ReleaseBuffer release = nullptr;
};

// Found once, by name, so that loading the module never depends on them.
// CPython 3.9 and 3.10 have them with the signatures and the Py_buffer layout
// that 3.11 froze (their libraries export them; Windows' python3.dll of those
// versions does not, and there the copy stays).
const BufferFunctions& buffer_functions() {
    static const BufferFunctions functions = [] {
        BufferFunctions found;
        auto* get = platform::loaded_function("python3", "PyObject_GetBuffer");
        auto* release = platform::loaded_function("python3", "PyBuffer_Release");
        if (get == nullptr || release == nullptr) return found;
        found.get = reinterpret_cast<GetBuffer>(get);
        found.release = reinterpret_cast<ReleaseBuffer>(release);
        return found;
    }();
    return functions;
}

}  // namespace

PyResult<std::optional<BorrowedBuffer>> BorrowedBuffer::of(PyObject* object) {
    const BufferFunctions& functions = buffer_functions();
    if (functions.get == nullptr) return std::optional<BorrowedBuffer>{};
    BorrowedBuffer buffer;
    if (functions.get(object, &buffer.view_, kBufferStrides | kBufferFormat) != 0) {
        // An interrupt raised in the exporter's code must reach the caller.
        if (!PyErr_ExceptionMatches(PyExc_TypeError) && !PyErr_ExceptionMatches(PyExc_BufferError)) {
            return unexpected(take_exception());
        }
        PyErr_Clear();
        return std::optional<BorrowedBuffer>{};
    }
    buffer.held_ = true;
    const BufferView& view = buffer.view_;
    const bool contiguous = view.ndim == 1 && view.suboffsets == nullptr &&
                            (view.strides == nullptr || view.strides[0] == view.itemsize) && view.itemsize > 0;
    if (!contiguous) return std::optional<BorrowedBuffer>{};  // released on the way out
    return std::optional<BorrowedBuffer>{std::move(buffer)};
}

BorrowedBuffer::BorrowedBuffer(BorrowedBuffer&& other) noexcept : view_(other.view_), held_(other.held_) {
    other.held_ = false;
}

BorrowedBuffer& BorrowedBuffer::operator=(BorrowedBuffer&& other) noexcept {
    if (this != &other) {
        release();
        view_ = other.view_;
        held_ = other.held_;
        other.held_ = false;
    }
    return *this;
}

BorrowedBuffer::~BorrowedBuffer() { release(); }

void BorrowedBuffer::release() noexcept {
    if (held_) buffer_functions().release(&view_);
    held_ = false;
}

}  // namespace verrakin::extras
