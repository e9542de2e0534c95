#include "lock_state.hpp"

#include <atomic>
#include <new>

#include "../core/fatal.hpp"
#include "../core/platform/process.hpp"

namespace verrakin {

thread_local std::int64_t lock_depth = 0;

namespace {

// The deferred releases form a lock-free stack: pushing and taking the whole
// stack are single atomic operations, so no native lock exists that a fork
// could leave held in the child, and no thread ever waits on another here.
struct DeferredRelease {
    PyObject* object;
    DeferredRelease* next;
};

constinit std::atomic<DeferredRelease*> deferred_releases{nullptr};

// Whether this thread's entries include one that began while the interpreter
// was finalizing: then this is the finalizing thread, which keeps the lock.
thread_local bool entered_at_finalization = false;

// Py_DecRef may run any finalizer, and a finalizer that waits for the lock
// while the interpreter finalizes has its thread ended by a forced unwind.
// Releases happen in destructors, which such an unwind cannot cross without
// ending the process; the thread is parked instead until the process exits,
// holding nothing of the interpreter (as newer interpreters do with such
// threads themselves).
void release_now(PyObject* object) noexcept {
    try {
        Py_DecRef(object);
    } catch (...) {  // only a thread exit can come out of the interpreter
        platform::park_forever();
    }
}

}  // namespace

// Entries hold the lock. The exception is a thread inside an entry that began
// before the interpreter started finalizing: finalization ends it with a forced
// unwind when it tries to take the lock back, and it is unwound without it.
// Only the finalizing thread runs with the lock once finalization has begun,
// and every entry it makes from then on begins at finalization.
bool holds_interpreter_lock() noexcept {
    // Py_IsInitialized first: it is a plain read, and every release asks this,
    // while a thread-local variable of a loaded module costs a lookup call.
    return lock_depth > 0 && (Py_IsInitialized() || entered_at_finalization);
}

void release_reference(PyObject* object) noexcept {
    if (object == nullptr) return;
    if (holds_interpreter_lock()) {
        release_now(object);
        return;
    }
    // A thread being ended at finalization: the object's interpreter is going
    // away, and the next entry may be into a new interpreter of an embedder
    // that finalized and initialized again. The reference is left unreleased.
    if (!Py_IsInitialized()) return;
    auto* node = new (std::nothrow) DeferredRelease{object, nullptr};
    if (node == nullptr) return;  // out of memory without the lock: the reference is leaked, never misused
    node->next = deferred_releases.load(std::memory_order_relaxed);
    while (!deferred_releases.compare_exchange_weak(node->next, node, std::memory_order_release,
                                                    std::memory_order_relaxed)) {
    }
}

void drain_deferred_releases() noexcept {
    if (deferred_releases.load(std::memory_order_relaxed) == nullptr) return;
    DeferredRelease* taken = deferred_releases.exchange(nullptr, std::memory_order_acquire);
    // Oldest first, as queued.
    DeferredRelease* oldest_first = nullptr;
    while (taken != nullptr) {
        DeferredRelease* next = taken->next;
        taken->next = oldest_first;
        oldest_first = taken;
        taken = next;
    }
    while (oldest_first != nullptr) {
        DeferredRelease* next = oldest_first->next;
        release_now(oldest_first->object);
        delete oldest_first;
        oldest_first = next;
    }
}

EntryScope::EntryScope() {
    if (lock_depth < 0) {
        fatal_error(lock_depth == -1
                        ? "Attaching a thread to the interpreter is prohibited while a __traverse__ "
                          "implementation is running."
                        : "Attaching a thread to the interpreter is currently prohibited.");
    }
    outer_began_at_finalization_ = entered_at_finalization;
    if (!Py_IsInitialized()) entered_at_finalization = true;
    ++lock_depth;
    drain_deferred_releases();
}

EntryScope::~EntryScope() {
    --lock_depth;
    entered_at_finalization = outer_began_at_finalization_;
}

}  // namespace verrakin
