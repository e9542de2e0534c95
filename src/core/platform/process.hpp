// The few services of the operating system the library uses, behind one
// interface with POSIX and Windows implementations (process.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace verrakin::platform {

/// The identifier of the calling process; it changes in a fork's child.
std::uint64_t current_process_id() noexcept;

/// Registers handlers run around fork() (POSIX pthread_atfork). Returns false
/// when they could not be registered. Windows has no fork: nothing to do.
bool at_fork(void (*prepare)(), void (*in_parent)(), void (*in_child)()) noexcept;

/// Writes the calling thread's name, NUL-terminated, into `name` (without
/// allocating); false when the thread has none or the system cannot say.
bool current_thread_name(char* name, std::size_t size) noexcept;

/// The address of a function the process has already loaded, or null. POSIX
/// looks in every library of the global scope; Windows looks in the loaded
/// library named `windows_library` only.
void* loaded_function(const char* windows_library, const char* name) noexcept;

/// Blocks the calling thread for the rest of the process's life.
[[noreturn]] void park_forever() noexcept;

}  // namespace verrakin::platform
