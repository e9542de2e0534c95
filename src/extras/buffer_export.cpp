// The exporter behind levels() and similarity_matrix(): a small object that
// holds the owner of some memory (a PhaseHVec under shared access, or a
// bytearray no one else sees) and lends that memory as a buffer. memoryview
// cannot cast to a shape with a zero in it, and NumPy wants (rows, 0) as it is,
// so the matrix is exported with its shape rather than cast.
//
// Buffer slots in a type spec reach the stable ABI only with 3.11's headers,
// yet CPython has honoured Py_bf_getbuffer in PyType_FromSpec since 3.9 and the
// Py_buffer structure it fills has kept one layout since 3.3 (3.11 froze it in
// the stable ABI unchanged). buffer_layout.hpp declares that layout, so one abi3
// build serves 3.9 and later; no function outside the 3.9 stable ABI is called.
#include "buffer_export.hpp"

#include <atomic>
#include <cstddef>
#include <new>

#include "../module/init_once.hpp"
#include "buffer_layout.hpp"

namespace verrakin::extras {
namespace {

struct ExportObject {
    PyObject ob_base;
    PyObject* owner;      // strong reference, or null for an instance made otherwise
    SharedAccess access;  // held for the object's life when the owner is a vector
    void* data;
    Py_ssize_t bytes;
    Py_ssize_t itemsize;
    int readonly;
    int ndim;
    char* format;
    Py_ssize_t shape[2];
    Py_ssize_t strides[2];
};

char kLevelFormat[] = "H";
char kMatrixFormat[] = "d";

int get_buffer(PyObject* exporter, BufferView* view, int flags) {
    view->obj = nullptr;
    return entry_point_status([&]() -> CallResult {
        auto* self = reinterpret_cast<ExportObject*>(exporter);
        if (self->owner == nullptr) {
            return unexpected(PendingException::lazy(PyExc_BufferError, "this object lends no memory"));
        }
        if ((flags & kBufferWritable) != 0 && self->readonly != 0) {
            return unexpected(PendingException::lazy(PyExc_BufferError, "the levels of a PhaseHVec are read-only"));
        }
        if ((flags & kBufferNd) != kBufferNd && self->ndim != 1) {
            return unexpected(PendingException::lazy(PyExc_BufferError, "a similarity matrix has two dimensions"));
        }
        view->buf = self->data;
        Py_IncRef(exporter);
        view->obj = exporter;
        view->len = self->bytes;
        view->itemsize = self->itemsize;
        view->readonly = self->readonly;
        view->ndim = self->ndim;
        view->format = (flags & kBufferFormat) != 0 ? self->format : nullptr;
        view->shape = (flags & kBufferNd) == kBufferNd ? self->shape : nullptr;
        view->strides = (flags & kBufferStrides) == kBufferStrides ? self->strides : nullptr;
        view->suboffsets = nullptr;
        view->internal = nullptr;
        return PyRef::borrow(Py_None);
    });
}

PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*) {
    return entry_point([&]() -> CallResult {
        return unexpected(PendingException::lazy(PyExc_TypeError, "cannot create 'verrakin_extras.Buffer' instances"));
    });
}

void export_dealloc(PyObject* instance) {
    entry_point_uncontained([&] {
        auto* self = reinterpret_cast<ExportObject*>(instance);
        self->access.~SharedAccess();  // given up before the owner is released
        if (self->owner != nullptr) Py_DecRef(self->owner);
        PyTypeObject* type = Py_TYPE(instance);
        auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free_slot(instance);
        Py_DecRef(reinterpret_cast<PyObject*>(type));
    });
}

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("Memory lent by verrakin_extras; read it through memoryview() or numpy.asarray().")},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},          // made only by levels() and similarity_matrix()
    {Py_tp_dealloc, reinterpret_cast<void*>(export_dealloc)},  // releases the owner
    {Py_bf_getbuffer, reinterpret_cast<void*>(get_buffer)},    // lends the memory
    {0, nullptr},
};

PyType_Spec kSpec{
    .name = "verrakin_extras.Buffer",
    .basicsize = static_cast<int>(sizeof(ExportObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = kSlots,
};

std::atomic<PyObject*> stored_type{nullptr};

// A new exporter of the stored type, its fields zero (tp_alloc clears them).
PyResult<PyRef> new_exporter() {
    auto* type = reinterpret_cast<PyTypeObject*>(stored_type.load(std::memory_order_acquire));
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* instance = alloc(type, 0);
    if (instance == nullptr) return unexpected(take_exception());
    new (&reinterpret_cast<ExportObject*>(instance)->access) SharedAccess();
    return PyRef::steal(instance);
}

}  // namespace

PyResult<Ok> ready_buffer_export_type() {
    if (stored_type.load(std::memory_order_acquire) != nullptr) return Ok{};
    PyObject* type = PyType_FromSpec(&kSpec);
    if (type == nullptr) return unexpected(take_exception());
    PyObject* expected = nullptr;
    if (!stored_type.compare_exchange_strong(expected, type)) Py_DecRef(type);
    return Ok{};
}

CallResult levels_view(PyObject* vector) {
    SharedAccess access;
    VK_TRY_ASSIGN(access, for_argument("v", to_phase_hvec(vector)));
    PyRef exporter;
    VK_TRY_ASSIGN(exporter, new_exporter());
    auto* self = reinterpret_cast<ExportObject*>(exporter.get());
    const PhaseArray& levels = access->phases;
    // dim 0 lends no bytes; any valid pointer will do.
    self->data = levels.size() != 0 ? const_cast<std::uint16_t*>(levels.data()) : static_cast<void*>(self->shape);
    self->bytes = static_cast<Py_ssize_t>(levels.size() * 2);
    self->itemsize = 2;
    self->readonly = 1;
    self->ndim = 1;
    self->format = kLevelFormat;
    self->shape[0] = static_cast<Py_ssize_t>(levels.size());
    self->strides[0] = 2;
    self->access = std::move(access);
    Py_IncRef(vector);
    self->owner = vector;
    return expect_new(PyMemoryView_FromObject(exporter.get()));
}

CallResult matrix_view(PyRef storage, Py_ssize_t rows, Py_ssize_t columns) {
    PyRef exporter;
    VK_TRY_ASSIGN(exporter, new_exporter());
    auto* self = reinterpret_cast<ExportObject*>(exporter.get());
    self->data = PyByteArray_AsString(storage.get());
    self->bytes = rows * columns * 8;
    self->itemsize = 8;
    self->readonly = 0;
    self->ndim = 2;
    self->format = kMatrixFormat;
    self->shape[0] = rows;
    self->shape[1] = columns;
    self->strides[0] = columns * 8;
    self->strides[1] = 8;
    self->owner = storage.release();
    return expect_new(PyMemoryView_FromObject(exporter.get()));
}

}  // namespace verrakin::extras
