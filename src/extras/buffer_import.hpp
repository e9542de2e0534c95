// Reading another object's buffer in place. PyObject_GetBuffer joined the
// stable ABI only in 3.11, and this abi3 build also serves 3.9 and 3.10, so it
// is looked up by name when first needed; where it is not found, callers keep
// their copy through memoryview.tobytes().
#pragma once

#include <cstddef>
#include <optional>

#include "../module/pending_exception.hpp"
#include "buffer_layout.hpp"

namespace verrakin::extras {

/// A one-dimensional, contiguous buffer held for the object's life and
/// released when it ends (the interpreter lock is held throughout).
class BorrowedBuffer {
public:
    /// The buffer of `object` in place, or nothing when the running interpreter
    /// has no direct access, the object lends no buffer of this kind
    /// (TypeError, BufferError: cleared, for the caller's own path to report)
    /// or the buffer is not one contiguous dimension. Any other error of the
    /// exporter (its own code may run: __buffer__) is the result.
    static PyResult<std::optional<BorrowedBuffer>> of(PyObject* object);

    BorrowedBuffer(BorrowedBuffer&& other) noexcept;
    BorrowedBuffer& operator=(BorrowedBuffer&& other) noexcept;
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
    void release() noexcept;
    BufferView view_{};
    bool held_ = false;
};

}  // namespace verrakin::extras
