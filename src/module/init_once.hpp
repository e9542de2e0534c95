// One-time initialisation of process-wide values.
//
// A thread waiting for another thread's initialisation waits without the
// interpreter lock, so the two can never deadlock. The value is made with the
// lock held, by exactly one thread at a time.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "../core/fatal.hpp"
#include "lock_state.hpp"
#include "python.hpp"

namespace verrakin {

/// A process-wide value made once, on first need.
///
/// No native lock is involved: the interpreter lock guards who is making the
/// value, and a thread that finds another thread making it waits on an atomic
/// counter with the interpreter lock released. A fork can therefore never leave
/// a lock held in the child; a making that was under way in the parent is
/// abandoned there and started afresh. So is a making under way on another
/// thread once the interpreter finalizes: that thread can never take the lock
/// back to finish it.
template <class T>
class OnceCell {
public:
    constexpr OnceCell() = default;

    /// The cell's value, made by `make()` on first need; `make` returns the
    /// value or throws an internal fatal error (or std::bad_alloc, after which
    /// a later call tries again).
    template <class Make>
    const T& get_or_init(Make&& make) {
        // Fast path: once made, the value is read without touching the lock.
        if (ready_.load(std::memory_order_acquire)) return value_;
        for (;;) {
            if (ready_.load(std::memory_order_acquire)) return value_;
            const void* maker = maker_.load(std::memory_order_acquire);
            if (maker == nullptr || maker_process_ != getpid()) return make_value(make);
            if (maker == &lock_depth) fatal_error("re-entrant one-time initialisation");
            if (!Py_IsInitialized()) return make_value(make);
            wait_for_maker();
        }
    }

    /// The value if it has been made, else null.
    const T* if_made() const noexcept { return ready_.load(std::memory_order_acquire) ? &value_ : nullptr; }

    /// Stores `value` unless the cell already has one; true when stored.
    bool set(T value) {
        bool stored = false;
        get_or_init([&] {
            stored = true;
            return value;
        });
        return stored;
    }

private:
    template <class Make>
    const T& make_value(Make& make) {
        maker_.store(&lock_depth, std::memory_order_release);  // a per-thread address names the making thread
        maker_process_ = getpid();
        try {
            value_ = make();
        } catch (...) {
            // Fatal errors, exhausted memory and thread exits unwind on; the
            // waiting threads look again.
            finish();
            throw;
        }
        ready_.store(true, std::memory_order_release);
        finish();
        return value_;
    }

    // Only the making thread's own mark is cleared: a maker abandoned at
    // finalization that is ended later must not clear its successor's.
    void finish() noexcept {
        const void* mine = &lock_depth;
        maker_.compare_exchange_strong(mine, nullptr, std::memory_order_acq_rel);
        outcomes_.fetch_add(1, std::memory_order_release);
        outcomes_.notify_all();
    }

    // Waits, without the interpreter lock, until the making thread is done.
    // The maker can only finish while holding the lock, so an outcome that
    // follows the count read here cannot be missed.
    void wait_for_maker() {
        const std::uint32_t seen = outcomes_.load(std::memory_order_acquire);
        const std::int64_t saved_depth = lock_depth;
        lock_depth = 0;
        PyThreadState* saved_thread = PyEval_SaveThread();
        outcomes_.wait(seen, std::memory_order_acquire);
        PyEval_RestoreThread(saved_thread);
        lock_depth = saved_depth;
        drain_deferred_releases();
    }

    std::atomic<bool> ready_{false};
    std::atomic<std::uint32_t> outcomes_{0};
    std::atomic<const void*> maker_{nullptr};
    // Guarded by the interpreter lock.
    pid_t maker_process_ = 0;
    T value_{};
};

/// An interned str made once per process and never released (borrowed reference).
PyObject* interned_all();       // "__all__"
PyObject* interned_name();      // "__name__"
PyObject* interned_add_note();  // "add_note"

/// Interpreter version flags, read once from Py_GetVersion.
bool python_at_least_3_10();
bool python_at_least_3_11();

}  // namespace verrakin
