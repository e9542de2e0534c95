// Internal fatal errors: broken invariants and impossible states.
//
// A fatal error writes a diagnostic to standard error and unwinds as a C++
// exception to the nearest entry point, which raises it in Python. Everything
// held on the way is released by its destructor.
#pragma once

#include <cstdint>
#include <exception>
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

/// Writes "uncaught panic at ffi boundary" and ends the process.
[[noreturn]] void abort_at_boundary() noexcept;

}  // namespace verrakin
