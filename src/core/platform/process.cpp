#include "process.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#endif

namespace verrakin::platform {

#if defined(_WIN32)

std::uint64_t current_process_id() noexcept { return GetCurrentProcessId(); }

bool at_fork(void (*)(), void (*)(), void (*)()) noexcept { return true; }

// Thread descriptions exist only from Windows 10 1607, and reading one
// allocates: the diagnostic says "<unnamed>" instead.
bool current_thread_name(char* name, std::size_t size) noexcept {
    if (size > 0) name[0] = '\0';
    return false;
}

void* loaded_function(const char* windows_library, const char* name) noexcept {
    HMODULE library = GetModuleHandleA(windows_library);
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(library, name));
}

[[noreturn]] void park_forever() noexcept {
    for (;;) Sleep(INFINITE);
}

#else

std::uint64_t current_process_id() noexcept { return static_cast<std::uint64_t>(getpid()); }

void* loaded_function(const char*, const char* name) noexcept { return dlsym(RTLD_DEFAULT, name); }

bool at_fork(void (*prepare)(), void (*in_parent)(), void (*in_child)()) noexcept {
    return pthread_atfork(prepare, in_parent, in_child) == 0;
}

bool current_thread_name(char* name, std::size_t size) noexcept {
    if (size == 0) return false;
    name[0] = '\0';
#if defined(__linux__)
    // The calling thread's name through the kernel, with every C library
    // (glibc and musl alike); at most 16 bytes with the terminator.
    char comm[17] = {};
    if (size < sizeof comm || prctl(PR_GET_NAME, comm, 0, 0, 0) != 0) return false;
    for (std::size_t i = 0; i < sizeof comm; ++i) name[i] = comm[i];
#elif defined(__APPLE__)
    if (pthread_getname_np(pthread_self(), name, size) != 0) return false;
#endif
    return name[0] != '\0';
}

[[noreturn]] void park_forever() noexcept {
    for (;;) pause();
}

#endif

}  // namespace verrakin::platform
