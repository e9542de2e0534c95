#include "convert.hpp"

#include <algorithm>
#include <limits>
#include <string_view>
#include <type_traits>

#include "../core/phase_resonator/factorize.hpp"
#include "../core/platform/compiler.hpp"
#include "init_once.hpp"

namespace verrakin {
namespace {

constexpr std::size_t kMaxReservedItems = 4096;

bool is_int(PyObject* object) noexcept { return type_has_flag(object, Py_TPFLAGS_LONG_SUBCLASS); }

// The failure paths of read_integer, out of line: its frame is on the stack
// while `__index__` runs, and recursion through it must stay cheap.
VK_NOINLINE VK_COLD PendingException index_failure() { return take_exception(); }

VK_NOINLINE VK_COLD PendingException not_an_int(PyObject* result) {
    return PendingException::type_mismatch(result, reinterpret_cast<PyObject*>(&PyLong_Type));
}

// Calls `__index__` of a non-int, counted against the recursion limit; a new
// reference or null with an exception pending.
VK_NOINLINE PyObject* call_index(PyObject* object) {
    RecursionCheck recursion;
    if (!recursion.entered()) return nullptr;
    return PyNumber_Index(object);
}

// Reads an int with `read`, going through __index__ for other objects. `failed`
// is the value that signals an error only when an exception is pending.
template <class T, class Read>
PyResult<T> read_integer(PyObject* object, Read read, T failed) {
    PyRef index;
    if (!is_int(object)) {
        index = PyRef::steal(call_index(object));
        if (!index) return unexpected(index_failure());
        if (!is_int(index.get())) return unexpected(not_an_int(index.get()));
        object = index.get();
    }
    const T value = read(object);
    if (value == failed && PyErr_Occurred() != nullptr) return unexpected(index_failure());
    return value;
}

// The signed 64-bit conversion reads a C long where that has 64 bits (Linux,
// macOS), whose OverflowError text users see there, and a long long where a
// long has 32 (Windows).
using SignedWide = std::conditional_t<sizeof(long) == 8, long, long long>;
static_assert(sizeof(SignedWide) == 8);

SignedWide as_signed_wide(PyObject* object) {
    if constexpr (sizeof(long) == 8) {
        return PyLong_AsLong(object);
    } else {
        return PyLong_AsLongLong(object);
    }
}

constinit OnceCell<PyObject*> sequence_type;

// The type named by a non-sequence's TypeError. It is obtained at module
// execution, where importing is safe; a call never imports (an import in the
// middle of a call can fail at interpreter shutdown, run import hooks, or wait
// forever in a forked child on an import lock that a vanished thread held).
PendingException not_a_sequence(PyObject* object) {
    if (PyObject* const* type = sequence_type.if_made()) return PendingException::type_mismatch(object, *type);
    return PendingException::type_mismatch(object, "Sequence");
}

// A failed length is only a missing hint, unless it is an interrupt or an exit
// request, which a call must not swallow. Out of line, like the failures of
// read_integer: extract_sequence's frame is on the stack during iteration.
VK_NOINLINE VK_COLD PyResult<Ok> length_failure() {
    std::optional<PendingException> error = fetch_exception();
    if (error) {
        PyObject* instance = error->instance();
        if (PyErr_GivenExceptionMatches(instance, PyExc_KeyboardInterrupt) ||
            PyErr_GivenExceptionMatches(instance, PyExc_SystemExit)) {
            return unexpected(std::move(*error));
        }
    }
    return Ok{};
}

bool is_phase_hvec(PyObject* object) {
    PyObject* type = phasehvec_type();
    PyTypeObject* actual = Py_TYPE(object);
    return reinterpret_cast<PyObject*>(actual) == type ||
           PyType_IsSubtype(actual, reinterpret_cast<PyTypeObject*>(type));
}

// Walks a sequence (never a str) and converts each element with `convert`.
template <class T, class Convert>
PyResult<std::vector<T>> extract_sequence(PyObject* object, Convert convert) {
    if (type_has_flag(object, Py_TPFLAGS_UNICODE_SUBCLASS)) {
        return unexpected(PendingException::lazy(PyExc_TypeError, "Can't extract `str` to `Vec`"));
    }
    if (!PySequence_Check(object)) return unexpected(not_a_sequence(object));
    RecursionCheck recursion;
    if (!recursion.entered()) return unexpected(take_exception());
    std::vector<T> items;
    // The length is only a hint for reserving room, and may lie; iteration
    // decides, so a hint is never trusted beyond a modest reservation.
    const Py_ssize_t size = PyObject_Size(object);
    if (size < 0) {
        VK_TRY(length_failure());
    } else {
        items.reserve(std::min(static_cast<std::size_t>(size), kMaxReservedItems));
    }
    PyRef iterator = PyRef::steal(PyObject_GetIter(object));
    if (!iterator) return unexpected(take_exception());
    for (;;) {
        PyRef element = PyRef::steal(PyIter_Next(iterator.get()));
        if (!element) {
            if (PyErr_Occurred() != nullptr) return unexpected(take_exception());
            return items;
        }
        PyResult<T> converted = convert(std::move(element));
        if (!converted) return unexpected(std::move(converted).error());
        naming_allocation(sizeof(T) * (items.size() + 1), items.size() + 1, "sequence argument elements",
                          [&] { items.push_back(std::move(converted).value()); });
    }
}

}  // namespace

PyResult<Ok> obtain_sequence_type() {
    if (sequence_type.if_made() != nullptr) return Ok{};
    PyRef name = expect_new(PyUnicode_FromStringAndSize("collections.abc", 15));
    PyRef module = PyRef::steal(PyImport_Import(name.get()));
    if (!module) return unexpected(take_exception());
    PyRef sequence = PyRef::steal(PyObject_GetAttrString(module.get(), "Sequence"));
    if (!sequence) return unexpected(take_exception());
    if (!type_has_flag(sequence.get(), Py_TPFLAGS_TYPE_SUBCLASS)) {
        return unexpected(
            PendingException::type_mismatch(sequence.get(), reinterpret_cast<PyObject*>(&PyType_Type)));
    }
    // Another thread may have stored one meanwhile (the import can release the lock).
    if (sequence_type.set(sequence.get())) static_cast<void>(sequence.release());
    return Ok{};
}

PyResult<SharedAccess> SharedAccess::take(PyObject* instance) {
    auto* object = reinterpret_cast<PhaseHVecObject*>(instance);
    std::int64_t count = object->access.load(std::memory_order_relaxed);
    while (count != -1) {
        if (object->access.compare_exchange_weak(count, count + 1, std::memory_order_acquire,
                                                 std::memory_order_relaxed)) {
            SharedAccess access;
            access.object_ = object;
            return access;
        }
    }
    return unexpected(PendingException::lazy(PyExc_RuntimeError, "Already mutably borrowed"));
}

PyResult<std::uint64_t> to_u64(PyObject* object) {
    return read_integer<std::uint64_t>(object, PyLong_AsUnsignedLongLong,
                                       std::numeric_limits<std::uint64_t>::max());
}

PyResult<std::uint32_t> to_u32(PyObject* object) {
    PyResult<SignedWide> wide = read_integer<SignedWide>(object, as_signed_wide, -1);
    if (!wide) return unexpected(std::move(wide).error());
    const SignedWide value = wide.value();
    if (value < 0) return unexpected(PendingException::lazy(PyExc_OverflowError, "number too small to fit in target type"));
    if (value > 0xFFFFFFFF) {
        return unexpected(PendingException::lazy(PyExc_OverflowError, "number too large to fit in target type"));
    }
    return static_cast<std::uint32_t>(value);
}

PyResult<SharedAccess> to_phase_hvec(PyObject* object) {
    if (!is_phase_hvec(object)) return unexpected(PendingException::type_mismatch(object, phasehvec_type()));
    return SharedAccess::take(object);
}

PyResult<PhaseHVec> ElementHolds::hold(PyRef element) {
    if (!is_phase_hvec(element.get())) {
        return unexpected(PendingException::type_mismatch(element.get(), phasehvec_type()));
    }
    Hold hold{std::move(element), {}};
    VK_TRY_ASSIGN(hold.access, SharedAccess::take(hold.owner.get()));
    PhaseHVec record = hold.access.record().view();
    naming_allocation(sizeof(Hold) * (holds_.size() + 1), holds_.size() + 1, "held sequence elements",
                      [&] { holds_.push_back(std::move(hold)); });
    return record;
}

PyResult<std::vector<PhaseHVec>> extract_vector_list(PyObject* object, ElementHolds& holds) {
    return extract_sequence<PhaseHVec>(object, [&holds](PyRef element) { return holds.hold(std::move(element)); });
}

PyResult<std::vector<std::vector<PhaseHVec>>> extract_vector_lists(PyObject* object, ElementHolds& holds) {
    return extract_sequence<std::vector<PhaseHVec>>(
        object, [&holds](PyRef element) { return extract_vector_list(element.get(), holds); });
}

namespace {

constexpr std::string_view kNotePrefix = "while processing '";

// Whether the exception already names an argument: one that comes back through
// calls nested inside a conversion (a callback calling into the module, down to
// the recursion limit) keeps the note of the conversion where it arose.
bool has_argument_note(PyObject* instance) {
    PyRef notes = PyRef::steal(PyObject_GetAttrString(instance, "__notes__"));
    if (!notes) {
        PyErr_Clear();
        return false;
    }
    if (!type_has_flag(notes.get(), Py_TPFLAGS_LIST_SUBCLASS)) return false;
    for (Py_ssize_t i = 0; i < PyList_Size(notes.get()); ++i) {
        PyObject* note = PyList_GetItem(notes.get(), i);
        if (note == nullptr || !type_has_flag(note, Py_TPFLAGS_UNICODE_SUBCLASS)) continue;
        if (std::optional<std::string> text = utf8_text(note); text && text->starts_with(kNotePrefix)) return true;
    }
    PyErr_Clear();
    return false;
}

}  // namespace

void add_argument_note(PendingException& error, const char* parameter) {
    PyObject* instance = error.instance();
    if (has_argument_note(instance)) return;
    PyRef note = expect_new(PyUnicode_FromString((std::string("while processing '") + parameter + "'").c_str()));
    PyRef add_note = PyRef::steal(PyObject_GetAttr(instance, interned_add_note()));
    if (!add_note) {
        PyErr_Clear();  // interpreters before 3.11 have no notes
        return;
    }
    PyRef call_args = expect_new(PyTuple_New(1));
    PyTuple_SetItem(call_args.get(), 0, note.release());
    PyRef result = PyRef::steal(PyObject_Call(add_note.get(), call_args.get(), nullptr));
    if (!result) PyErr_Clear();
}

PyRef factor_result_list(const std::vector<FactorResult>& results) {
    PyRef list = expect_new(PyList_New(static_cast<Py_ssize_t>(results.size())));
    for (std::size_t k = 0; k < results.size(); ++k) {
        PyRef index = expect_new(PyLong_FromUnsignedLongLong(results[k].index));
        PyRef similarity = expect_new(PyFloat_FromDouble(results[k].similarity));
        PyRef pair = expect_new(PyTuple_New(2));
        PyTuple_SetItem(pair.get(), 0, index.release());
        PyTuple_SetItem(pair.get(), 1, similarity.release());
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), pair.release());
    }
    return list;
}

}  // namespace verrakin
