// The exporter behind levels(): a small object that holds a PhaseHVec (a strong
// reference and a shared access) and lends its level array as a buffer.
//
// Buffer slots in a type spec reach the stable ABI only with 3.11's headers,
// yet CPython has honoured Py_bf_getbuffer in PyType_FromSpec since 3.9 and the
// Py_buffer structure it fills has kept one layout since 3.3 (3.11 froze it in
// the stable ABI unchanged). This file declares that layout itself, so one abi3
// build serves 3.9 and later; no function outside the 3.9 stable ABI is called.
#include "levels_buffer.hpp"

#include <atomic>
#include <cstddef>
#include <new>

#include "../module/init_once.hpp"

namespace verrakin::extras {
namespace {

/// CPython's Py_buffer, as laid out since 3.3.
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

constexpr int kBufferWritable = 0x0001;  // PyBUF_WRITABLE
constexpr int kBufferFormat = 0x0004;    // PyBUF_FORMAT
constexpr int kBufferNd = 0x0008;        // PyBUF_ND
constexpr int kBufferStrides = 0x0010 | kBufferNd;  // PyBUF_STRIDES

struct LevelsObject {
    PyObject ob_base;
    PyObject* vector;     // strong reference, or null for an instance made otherwise
    SharedAccess access;  // held for the object's life
    Py_ssize_t shape;     // dim, for the buffer's shape
    Py_ssize_t stride;    // 2, for the buffer's strides
};

char kFormat[] = "H";

int get_buffer(PyObject* exporter, BufferView* view, int flags) {
    view->obj = nullptr;
    return entry_point_status([&]() -> CallResult {
        auto* self = reinterpret_cast<LevelsObject*>(exporter);
        if (self->vector == nullptr) {
            return unexpected(PendingException::lazy(PyExc_BufferError, "this levels object holds no vector"));
        }
        if ((flags & kBufferWritable) != 0) {
            return unexpected(PendingException::lazy(PyExc_BufferError, "the levels of a PhaseHVec are read-only"));
        }
        const PhaseArray& levels = self->access->phases;
        view->buf = const_cast<std::uint16_t*>(levels.data());
        if (view->buf == nullptr) view->buf = &self->shape;  // dim 0: any valid pointer, 0 bytes
        Py_IncRef(exporter);
        view->obj = exporter;
        view->len = static_cast<Py_ssize_t>(levels.size() * 2);
        view->itemsize = 2;
        view->readonly = 1;
        view->ndim = 1;
        view->format = (flags & kBufferFormat) != 0 ? kFormat : nullptr;
        view->shape = (flags & kBufferNd) == kBufferNd ? &self->shape : nullptr;
        view->strides = (flags & kBufferStrides) == kBufferStrides ? &self->stride : nullptr;
        view->suboffsets = nullptr;
        view->internal = nullptr;
        return PyRef::borrow(Py_None);
    });
}

PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*) {
    return entry_point([&]() -> CallResult {
        return unexpected(PendingException::lazy(PyExc_TypeError, "levels buffers come from verrakin_extras.levels()"));
    });
}

void levels_dealloc(PyObject* instance) {
    entry_point_uncontained([&] {
        auto* self = reinterpret_cast<LevelsObject*>(instance);
        self->access.~SharedAccess();  // given up before the vector is released
        if (self->vector != nullptr) Py_DecRef(self->vector);
        PyTypeObject* type = Py_TYPE(instance);
        auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free_slot(instance);
        Py_DecRef(reinterpret_cast<PyObject*>(type));
    });
}

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("Read-only uint16 levels of a PhaseHVec; use memoryview() or numpy.asarray().")},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},              // made only by levels()
    {Py_tp_dealloc, reinterpret_cast<void*>(levels_dealloc)},      // releases the vector
    {Py_bf_getbuffer, reinterpret_cast<void*>(get_buffer)},        // lends the level array
    {0, nullptr},
};

PyType_Spec kSpec{
    .name = "verrakin_extras.Levels",
    .basicsize = static_cast<int>(sizeof(LevelsObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = kSlots,
};

std::atomic<PyObject*> stored_type{nullptr};

}  // namespace

PyResult<Ok> ready_levels_buffer_type() {
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
    auto* type = reinterpret_cast<PyTypeObject*>(stored_type.load(std::memory_order_acquire));
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* instance = alloc(type, 0);
    if (instance == nullptr) return unexpected(take_exception());
    auto* self = reinterpret_cast<LevelsObject*>(instance);
    self->shape = static_cast<Py_ssize_t>(access->phases.size());
    self->stride = 2;
    new (&self->access) SharedAccess(std::move(access));
    Py_IncRef(vector);
    self->vector = vector;
    PyRef exporter = PyRef::steal(instance);
    return expect_new(PyMemoryView_FromObject(exporter.get()));
}

}  // namespace verrakin::extras
