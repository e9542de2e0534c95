#include "fatal.hpp"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>

namespace verrakin {
namespace {

std::string current_thread_name() {
    char name[64] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') {
        return "<unnamed>";
    }
    return name;
}

void write_diagnostic(const std::string& message, const std::source_location& where) {
    std::fprintf(stderr,
                 "thread '%s' hit an internal fatal error at %s:%u:%u:\n%s\n"
                 "note: run under gdb with `catch throw` to get a backtrace\n",
                 current_thread_name().c_str(), where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()),
                 message.c_str());
    std::fflush(stderr);
}

}  // namespace

void fatal_error(std::string message, std::source_location where) {
    write_diagnostic(message, where);
    throw FatalError(std::move(message));
}

void resume_fatal_error(std::string message) { throw FatalError(std::move(message)); }

void assert_equal_failed(const char* what, std::uint64_t left, std::uint64_t right,
                         std::source_location where) {
    fatal_error(std::string("assertion `left == right` failed: ") + what +
                    "\n  left: " + std::to_string(left) + "\n right: " + std::to_string(right),
                where);
}

void index_out_of_bounds(std::uint64_t len, std::uint64_t index, std::source_location where) {
    fatal_error("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
                    std::to_string(index),
                where);
}

void abort_at_boundary() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

}  // namespace verrakin
