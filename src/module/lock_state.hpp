// Per-thread entry bookkeeping and the queue of deferred reference releases.
#pragma once

#include <cstdint>

#include "python.hpp"

namespace verrakin {

/// Module entries active on this thread that hold the interpreter lock.
/// Zero while a one-time initialisation has released the lock; never negative
/// through this module's own doing.
extern thread_local std::int64_t lock_depth;

/// True when this thread holds the interpreter lock: it is inside an entry and
/// has not lost the lock to the interpreter's finalization. While the
/// interpreter finalizes, the thread that finalizes holds the lock and may call
/// into this module (from finalizers); any other thread inside an entry is
/// ended with a forced unwind when it tries to take the lock back, which runs
/// this module's destructors without the lock. The two are told apart by
/// whether the thread's entry began before finalization did.
bool holds_interpreter_lock() noexcept;

/// Releases one reference: at once when this thread holds the interpreter lock,
/// otherwise queued until the next entry into the module on any thread. A
/// reference dropped without the lock while the interpreter finalizes is never
/// released: its interpreter is going away, and an embedder that starts a new
/// one would otherwise have the new one release objects of the old.
void release_reference(PyObject* object) noexcept;

/// Releases every queued reference (lock held).
void drain_deferred_releases() noexcept;

/// Entry bookkeeping of one call: refuses entry on a negative depth, counts the
/// entry and drains the deferred releases; the destructor uncounts it.
class EntryScope {
public:
    EntryScope();
    ~EntryScope();
    EntryScope(const EntryScope&) = delete;
    EntryScope& operator=(const EntryScope&) = delete;

private:
    bool outer_began_at_finalization_;
};

}  // namespace verrakin
