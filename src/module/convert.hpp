// Conversions of bound arguments into the values the operations need.
#pragma once

#include <cstdint>
#include <vector>

#include "phase_hvec_object.hpp"

namespace verrakin {

/// A counted shared access to an instance's record, given up on destruction.
class SharedAccess {
public:
    SharedAccess() noexcept = default;
    SharedAccess(SharedAccess&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    SharedAccess& operator=(SharedAccess&& other) noexcept {
        if (this != &other) {
            give_up();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    SharedAccess(const SharedAccess&) = delete;
    SharedAccess& operator=(const SharedAccess&) = delete;
    ~SharedAccess() { give_up(); }

    /// Takes shared access to an instance known to be a PhaseHVec, or fails with
    /// RuntimeError "Already mutably borrowed".
    static PyResult<SharedAccess> take(PyObject* instance);

    const PhaseHVec& record() const noexcept { return object_->record; }
    const PhaseHVec* operator->() const noexcept { return &object_->record; }

private:
    void give_up() noexcept {
        if (object_ != nullptr) object_->access.fetch_sub(1, std::memory_order_release);
        object_ = nullptr;
    }
    PhaseHVecObject* object_ = nullptr;
};

/// Counts one call back into Python (an argument's `__index__`, a sequence's
/// `__len__` or iteration) against the interpreter's recursion limit, so that
/// code recursing through them back into this module ends in RecursionError
/// rather than overflowing the stack.
class RecursionCheck {
public:
    RecursionCheck() : entered_(Py_EnterRecursiveCall(" while calling a Python object") == 0) {}
    ~RecursionCheck() {
        if (entered_ && holds_interpreter_lock()) Py_LeaveRecursiveCall();
    }
    RecursionCheck(const RecursionCheck&) = delete;
    RecursionCheck& operator=(const RecursionCheck&) = delete;
    /// False when the limit is reached; RecursionError is then pending.
    bool entered() const noexcept { return entered_; }

private:
    bool entered_;
};

/// Obtains `collections.abc.Sequence`, named by the TypeError for a
/// non-sequence argument, once per process; called at module execution.
PyResult<Ok> obtain_sequence_type();

/// Unsigned 64-bit conversion: an int, or any object through its __index__.
PyResult<std::uint64_t> to_u64(PyObject* object);

/// Signed 64-bit conversion, narrowed to unsigned 32 bits.
PyResult<std::uint32_t> to_u32(PyObject* object);

/// A PhaseHVec argument under shared access.
PyResult<SharedAccess> to_phase_hvec(PyObject* object);

/// The elements behind records read in place: each is kept alive and under
/// shared access until the holds are dropped. Records never change, so reading
/// an element's levels in place gives what a private copy would, without the
/// copy (a bundle of 256 vectors of 10**5 levels would copy 51 MB per call).
class ElementHolds {
public:
    /// Holds `element` (a PhaseHVec), keeping the reference it is given, and
    /// returns its record, read in place.
    PyResult<PhaseHVec> hold(PyRef element);

private:
    struct Hold {
        PyRef owner;
        SharedAccess access;  // given up before the owner is released
    };
    std::vector<Hold> holds_;
};

/// A sequence (not a str) of PhaseHVec values; the records read the elements in
/// place, which `holds` keeps alive and readable: it must outlive the records.
PyResult<std::vector<PhaseHVec>> extract_vector_list(PyObject* object, ElementHolds& holds);

/// A sequence of such sequences.
PyResult<std::vector<std::vector<PhaseHVec>>> extract_vector_lists(PyObject* object, ElementHolds& holds);

/// Adds the note "while processing '<parameter>'" to an error.
void add_argument_note(PendingException& error, const char* parameter);

struct FactorResult;

/// [(index, similarity), ...]: one pair per factor, as resonator_factorize returns them.
PyRef factor_result_list(const std::vector<FactorResult>& results);

/// A conversion's result, its error (if any) noted with the parameter's name.
template <class T>
PyResult<T> for_argument(const char* parameter, PyResult<T> result) {
    if (!result) add_argument_note(result.error(), parameter);
    return result;
}

}  // namespace verrakin
