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

/// Fills one strong reference per parameter (empty when not given), or fails
/// with a TypeError whose message begins with the callable's display name.
/// The slots own their arguments: converting one argument runs user code
/// (`__index__`, `__len__`, ...) that may drop the caller's own references to
/// the others, for instance by clearing the dictionary a call was made with.
PyResult<Ok> extract_arguments(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                               std::span<PyRef> slots);

}  // namespace verrakin
