// Reading another object's buffer in place. PyObject_GetBuffer joined the
// stable ABI only in 3.11, and this abi3 build also serves 3.9 and 3.10, so it
// is looked up by name when first needed; where it is not found, callers keep
// their copy through memoryview.tobytes().
#pragma once

#include <cstddef>
#include <optional>

#include "buffer_layout.hpp"

namespace verrakin::extras {

/// A one-dimensional, contiguous buffer held for the object's life and
/// released when it ends (the interpreter lock is held throughout).
class BorrowedBuffer {
public:
    /// The buffer of `object` in place, or nothing when the running interpreter
    /// has no direct access or the buffer is not one contiguous dimension; any
    /// error of the exporter is cleared then, for the caller's own path (which
    /// asks again) to report it.
    static std::optional<BorrowedBuffer> of(PyObject* object);

    BorrowedBuffer(BorrowedBuffer&& other) noexcept;
    BorrowedBuffer& operator=(BorrowedBuffer&&) = delete;
    BorrowedBuffer(const BorrowedBuffer&) = delete;
    BorrowedBuffer& operator=(const BorrowedBuffer&) = delete;
    ~BorrowedBuffer();

    const char* data() const noexcept { return static_cast<const char*>(view_.buf); }
    Py_ssize_t bytes() const noexcept { return view_.len; }
    Py_ssize_t itemsize() const noexcept { return view_.itemsize; }
    /// The struct format of the items ("B" when the exporter gives none).
    const char* format() const noexcept { return view_.format != nullptr ? view_.format : "B"; }

private:
    BorrowedBuffer() = default;
    BufferView view_{};
    bool held_ = false;
};

}  // namespace verrakin::extras
