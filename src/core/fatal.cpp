#include "fatal.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "platform/process.hpp"

namespace verrakin {
namespace {

// The calling thread's name into `name` (no allocation: diagnostics are also
// written when memory has run out).
void current_thread_name(char (&name)[64]) noexcept {
    if (!platform::current_thread_name(name, sizeof name)) {
        std::snprintf(name, sizeof name, "<unnamed>");
    }
}

void write_diagnostic(const char* message, const SourceLocation& where) noexcept {
    char name[64] = {};
    current_thread_name(name);
    std::fprintf(stderr,
                 "thread '%s' hit an internal fatal error at %s:%u:%u:\n%s\n"
                 "note: run under gdb with `catch throw` to get a backtrace\n",
                 name, where.file_name(), static_cast<unsigned>(where.line()),
                 static_cast<unsigned>(where.column()), message);
    std::fflush(stderr);
}

}  // namespace

OutOfMemory::OutOfMemory(std::uint64_t bytes, std::uint64_t count, const char* unit) noexcept {
    std::snprintf(message_, sizeof message_, "could not allocate %" PRIu64 " bytes for %" PRIu64 " %s", bytes,
                  count, unit);
}

OutOfMemory::OutOfMemory(const char* what) noexcept {
    std::snprintf(message_, sizeof message_, "could not allocate %s", what);
}

void fatal_error(std::string message, SourceLocation where) {
    write_diagnostic(message.c_str(), where);
    throw FatalError(std::move(message));
}

void resume_fatal_error(std::string message) { throw FatalError(std::move(message)); }

void assert_equal_failed(const char* what, std::uint64_t left, std::uint64_t right,
                         SourceLocation where) {
    fatal_error(std::string("assertion `left == right` failed: ") + what +
                    "\n  left: " + std::to_string(left) + "\n right: " + std::to_string(right),
                where);
}

void index_out_of_bounds(std::uint64_t len, std::uint64_t index, SourceLocation where) {
    fatal_error("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
                    std::to_string(index),
                where);
}

void report_unexpected_error(const char* what) noexcept {
    char name[64] = {};
    current_thread_name(name);
    std::fprintf(stderr, "thread '%s' hit an unexpected internal error: %s\n", name,
                 what != nullptr ? what : "an exception of unknown type");
    std::fflush(stderr);
}

void abort_at_boundary() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

}  // namespace verrakin
