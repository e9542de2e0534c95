// Per-thread entry bookkeeping and the queue of deferred reference releases.
#pragma once

#include <cstdint>

#include "python.hpp"

namespace verrakin {

/// Module entries active on this thread that hold the interpreter lock.
/// Zero while a one-time initialisation has released the lock; never negative
/// through this module's own doing.
extern thread_local std::int64_t lock_depth;

/// True when this thread may call the interpreter: it is inside an entry, and
/// the interpreter is not finalizing (while it finalizes, it ends any other
/// thread that tries to take the lock back with a forced unwind, which runs
/// this module's destructors without the lock).
bool holds_interpreter_lock() noexcept;

/// Releases one reference: at once when this thread holds the interpreter lock,
/// otherwise queued until the next entry into the module on any thread.
void release_reference(PyObject* object) noexcept;

/// Releases every queued reference (lock held).
void drain_deferred_releases() noexcept;

/// Entry bookkeeping of one call: refuses entry on a negative depth, counts the
/// entry and drains the deferred releases; the destructor uncounts it.
class EntryScope {
public:
    EntryScope();
    ~EntryScope() { --lock_depth; }
    EntryScope(const EntryScope&) = delete;
    EntryScope& operator=(const EntryScope&) = delete;
};

}  // namespace verrakin
