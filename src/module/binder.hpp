// The one argument binder: positional tuple and keyword dictionary to slots.
#pragma once

#include <cstddef>
#include <span>

#include "pending_exception.hpp"

namespace verrakin {

struct KeywordOnlyParameter {
    const char* name;
    bool required;
};

/// A static description of one callable's parameters.
struct CallSignature {
    const char* owner;  // the class name for methods, null for the module function
    const char* function;
    std::span<const char* const> parameters;  // positional-or-keyword, in order
    std::size_t required;
    std::size_t positional_only;
    std::span<const KeywordOnlyParameter> keyword_only;

    std::size_t slot_count() const noexcept { return parameters.size() + keyword_only.size(); }
};

/// Fills one borrowed reference per parameter (null when not given), or fails
/// with a TypeError whose message begins with the callable's display name.
PyResult<Ok> extract_arguments(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                               std::span<PyObject*> slots);

}  // namespace verrakin
