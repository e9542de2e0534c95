// One-time initialisation of process-wide values.
//
// A thread waiting for another thread's initialisation waits without the
// interpreter lock, so the once-guard and the lock can never deadlock. The
// value is made with the lock held, by exactly one thread.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "../core/fatal.hpp"
#include "lock_state.hpp"
#include "python.hpp"

namespace verrakin {

template <class T>
class OnceCell {
public:
    /// The cell's value, made by `make()` on first need; `make` returns the
    /// value or throws an internal fatal error (or std::bad_alloc).
    template <class Make>
    const T& get_or_init(Make&& make) {
        // Fast path: once made, the value is read without touching the lock.
        if (ready_.load(std::memory_order_acquire)) return value_;
        if (maker_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
            fatal_error("re-entrant one-time initialisation");
        }
        const std::int64_t saved_depth = lock_depth;
        lock_depth = 0;
        PyThreadState* saved_thread = PyEval_SaveThread();
        std::unique_lock<std::mutex> guard(mutex_);
        PyEval_RestoreThread(saved_thread);
        lock_depth = saved_depth;
        drain_deferred_releases();
        if (!ready_.load(std::memory_order_acquire)) {
            maker_.store(std::this_thread::get_id(), std::memory_order_relaxed);
            try {
                value_ = make();
            } catch (...) {
                // Fatal errors and exhausted memory unwind on to the entry point.
                maker_.store(std::thread::id(), std::memory_order_relaxed);
                throw;
            }
            maker_.store(std::thread::id(), std::memory_order_relaxed);
            ready_.store(true, std::memory_order_release);
        }
        return value_;
    }

private:
    std::atomic<bool> ready_{false};
    std::atomic<std::thread::id> maker_{};
    std::mutex mutex_;
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
