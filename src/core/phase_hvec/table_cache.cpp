#include "table_cache.hpp"

#include "../platform/process.hpp"

namespace verrakin {
namespace {

std::mutex cache_mutex;

void lock_before_fork() noexcept { cache_mutex.lock(); }
void unlock_after_fork() noexcept { cache_mutex.unlock(); }

// Registered when the library loads: fork() waits for a short critical section
// to end, and both processes leave fork() with the mutex free.
const bool fork_handlers_registered = platform::at_fork(lock_before_fork, unlock_after_fork, unlock_after_fork);

}  // namespace

std::mutex& table_cache_mutex() noexcept {
    (void)fork_handlers_registered;
    return cache_mutex;
}

}  // namespace verrakin
