#include "lock_state.hpp"

#include <atomic>
#include <mutex>
#include <vector>

#include "../core/fatal.hpp"

namespace verrakin {

thread_local std::int64_t lock_depth = 0;

namespace {

struct DeferredReleases {
    std::mutex mutex;
    std::vector<PyObject*> objects;
};

// Set once the queue exists, so that entries skip the mutex until then.
std::atomic<bool> deferred_queue_created{false};

DeferredReleases& deferred_releases() {
    static DeferredReleases* queue = new DeferredReleases();  // lives for the process
    deferred_queue_created.store(true, std::memory_order_release);
    return *queue;
}

}  // namespace

void release_reference(PyObject* object) noexcept {
    if (object == nullptr) return;
    if (lock_depth > 0) {
        Py_DecRef(object);
        return;
    }
    try {
        DeferredReleases& queue = deferred_releases();
        std::lock_guard<std::mutex> hold(queue.mutex);
        queue.objects.push_back(object);
    } catch (...) {
        abort_at_boundary();
    }
}

void drain_deferred_releases() noexcept {
    if (!deferred_queue_created.load(std::memory_order_acquire)) return;
    std::vector<PyObject*> taken;
    {
        DeferredReleases& queue = deferred_releases();
        std::lock_guard<std::mutex> hold(queue.mutex);
        taken.swap(queue.objects);
    }
    for (PyObject* object : taken) Py_DecRef(object);
}

EntryScope::EntryScope() {
    if (lock_depth < 0) {
        fatal_error(lock_depth == -1
                        ? "Attaching a thread to the interpreter is prohibited while a __traverse__ "
                          "implementation is running."
                        : "Attaching a thread to the interpreter is currently prohibited.");
    }
    ++lock_depth;
    drain_deferred_releases();
}

}  // namespace verrakin
