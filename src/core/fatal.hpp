// Internal fatal errors: broken invariants and impossible states.
//
// A fatal error writes a diagnostic to standard error and unwinds as a C++
// exception to the nearest entry point, which raises it in Python. Everything
// held on the way is released by its destructor.
//
// Exhausted memory is not fatal: it unwinds as std::bad_alloc (OutOfMemory
// when the failed allocation is known) and is raised as MemoryError.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <source_location>
#include <string>

namespace verrakin {

class FatalError : public std::exception {
public:
    explicit FatalError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

/// Memory that could not be obtained, described for the MemoryError raised in
/// Python: "could not allocate <what>". Built without allocating.
class OutOfMemory : public std::bad_alloc {
public:
    /// "could not allocate <bytes> bytes for <count> <unit>".
    OutOfMemory(std::uint64_t bytes, std::uint64_t count, const char* unit) noexcept;
    /// "could not allocate <what>".
    explicit OutOfMemory(const char* what) noexcept;
    const char* what() const noexcept override { return message_; }

private:
    char message_[128];
};

/// The MemoryError text for an allocation failure that carries no description.
inline constexpr const char* kUnknownAllocation = "could not allocate working memory";

/// Runs `allocate()`; exhausted memory inside it unwinds as OutOfMemory naming
/// `bytes` for `count` `unit` (a description already given is kept).
template <class Allocate>
decltype(auto) naming_allocation(std::uint64_t bytes, std::uint64_t count, const char* unit, Allocate&& allocate) {
    try {
        return allocate();
    } catch (const OutOfMemory&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw OutOfMemory(bytes, count, unit);
    }
}

/// Reports and throws an internal fatal error.
[[noreturn]] void fatal_error(std::string message,
                              std::source_location where = std::source_location::current());

/// Throws without a diagnostic; used to resume a fatal error that already reported itself.
[[noreturn]] void resume_fatal_error(std::string message);

/// The equality-assertion failure: "assertion `left == right` failed: <what>\n  left: L\n right: R".
[[noreturn]] void assert_equal_failed(const char* what, std::uint64_t left, std::uint64_t right,
                                      std::source_location where = std::source_location::current());

/// The bounds-check failure: "index out of bounds: the len is L but the index is I".
[[noreturn]] void index_out_of_bounds(std::uint64_t len, std::uint64_t index,
                                      std::source_location where = std::source_location::current());

/// Writes a diagnostic for an error of no known kind that reached an entry
/// point (`what` may be null); never allocates and never throws.
void report_unexpected_error(const char* what) noexcept;

/// Inside a catch (...) block: true when what is being caught is the C
/// library's forced unwind that ends a thread (pthread_exit), which carries no
/// C++ exception object and must always be rethrown. (Catching it as
/// abi::__forced_unwind& would bind a reference to no object.)
inline bool catching_thread_exit() noexcept { return !std::current_exception(); }

/// Writes "uncaught panic at ffi boundary" and ends the process.
[[noreturn]] void abort_at_boundary() noexcept;

}  // namespace verrakin
