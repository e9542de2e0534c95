// Wrapping new records into PhaseHVec instances, for every module built on the
// binding layer: the type comes from phasehvec_type(), which each module defines.
#include <cstring>
#include <new>

#include "init_once.hpp"
#include "phase_hvec_object.hpp"

namespace verrakin {
namespace {

// The base object type's tp_new. PyType_GetSlot accepts static types only from
// 3.10; before that the slot is read from the type structure itself, whose
// layout the stable ABI hides but which is fixed for CPython 3.9 on 64-bit
// platforms: tp_new sits 312 bytes into PyTypeObject.
constexpr std::size_t kTpNewOffset39 = 312;
static_assert(sizeof(void*) == 8, "the 3.9 type layout offset assumes 64-bit pointers");

newfunc base_new() {
    if (python_at_least_3_10()) {
        return reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
    }
    newfunc slot = nullptr;
    std::memcpy(&slot, reinterpret_cast<const char*>(&PyBaseObject_Type) + kTpNewOffset39, sizeof slot);
    return slot;
}

}  // namespace

CallResult wrap(PhaseHVec record) {
    PyObject* type = phasehvec_type();
    PyRef no_args = expect_new(PyTuple_New(0));
    PyObject* instance = base_new()(reinterpret_cast<PyTypeObject*>(type), no_args.get(), nullptr);
    if (instance == nullptr) return unexpected(take_exception());  // the record is released by the caller's scope
    auto* object = reinterpret_cast<PhaseHVecObject*>(instance);
    new (&object->record) PhaseHVec(std::move(record));
    new (&object->access) std::atomic<std::int64_t>(0);
    return PyRef::steal(instance);
}

}  // namespace verrakin
