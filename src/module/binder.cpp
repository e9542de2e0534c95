#include "binder.hpp"

#include <cstring>
#include <string>
#include <vector>

namespace verrakin {
namespace {

std::string display_name(const CallSignature& signature) {
    std::string name;
    if (signature.owner != nullptr) name = std::string(signature.owner) + ".";
    return name + signature.function + "()";
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string name_list(const std::vector<const char*>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) {
            if (names.size() > 2) text += ",";
            text += i + 1 == names.size() ? " and " : " ";
        }
        text += std::string("'") + names[i] + "'";
    }
    return text;
}

PendingException binding_error(const CallSignature& signature, const std::string& rest) {
    return PendingException::lazy(PyExc_TypeError, display_name(signature) + rest);
}

PendingException surplus_positional(const CallSignature& signature, Py_ssize_t given) {
    const std::size_t positional = signature.parameters.size();
    std::string expected = signature.required == positional
                               ? std::to_string(positional)
                               : "from " + std::to_string(signature.required) + " to " + std::to_string(positional);
    return binding_error(signature, " takes " + expected + " positional arguments but " + std::to_string(given) +
                                        (given == 1 ? " was" : " were") + " given");
}

PendingException missing_arguments(const CallSignature& signature, const char* kind,
                                   const std::vector<const char*>& names) {
    return binding_error(signature, " missing " + std::to_string(names.size()) + " required " + kind +
                                        (names.size() == 1 ? " argument: " : " arguments: ") + name_list(names));
}

// str(key), or a placeholder for a key whose str() fails.
std::string key_text(PyObject* key) {
    PyRef text = PyRef::steal(PyObject_Str(key));
    if (text) {
        if (auto utf8 = utf8_text(text.get())) return *utf8;
    }
    PyErr_WriteUnraisable(key);
    PyRef type_name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(key)), "__name__"));
    if (type_name && type_has_flag(type_name.get(), Py_TPFLAGS_UNICODE_SUBCLASS)) {
        if (auto utf8 = utf8_text(type_name.get())) return "<unprintable " + *utf8 + " object>";
    }
    PyErr_Clear();
    return "<unprintable object>";
}

PendingException unexpected_keyword(const CallSignature& signature, PyObject* key) {
    return binding_error(signature, " got an unexpected keyword argument '" + key_text(key) + "'");
}

PendingException duplicate_argument(const CallSignature& signature, const char* name) {
    return binding_error(signature, std::string(" got multiple values for argument '") + name + "'");
}

bool same_name(const char* name, const std::string& key) {
    return std::strlen(name) == key.size() && std::memcmp(name, key.data(), key.size()) == 0;
}

}  // namespace

PyResult<Ok> extract_arguments(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                               std::span<PyRef> slots) {
    const std::size_t positional = signature.parameters.size();
    const Py_ssize_t given = PyTuple_Size(args);
    const std::size_t given_count = given < 0 ? 0 : static_cast<std::size_t>(given);
    for (std::size_t i = 0; i < given_count && i < positional; ++i) {
        slots[i] = PyRef::borrow(PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)));
    }
    if (given_count > positional) return unexpected(surplus_positional(signature, given));

    std::vector<const char*> positional_only_by_keyword;
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* borrowed_key = nullptr;
        PyObject* borrowed_value = nullptr;
        while (PyDict_Next(kwargs, &position, &borrowed_key, &borrowed_value)) {
            // str(key) of a failing key runs user code, which may empty the dictionary.
            PyRef key = PyRef::borrow(borrowed_key);
            PyRef value = PyRef::borrow(borrowed_value);
            std::optional<std::string> name;
            if (type_has_flag(key.get(), Py_TPFLAGS_UNICODE_SUBCLASS)) name = utf8_text(key.get());
            if (!name) return unexpected(unexpected_keyword(signature, key.get()));

            bool matched = false;
            for (std::size_t j = 0; j < signature.keyword_only.size() && !matched; ++j) {
                if (!same_name(signature.keyword_only[j].name, *name)) continue;
                PyRef& slot = slots[positional + j];
                if (slot) return unexpected(duplicate_argument(signature, signature.keyword_only[j].name));
                slot = std::move(value);
                matched = true;
            }
            for (std::size_t i = 0; i < positional && !matched; ++i) {
                if (!same_name(signature.parameters[i], *name)) continue;
                matched = true;
                if (i < signature.positional_only) {
                    positional_only_by_keyword.push_back(signature.parameters[i]);
                } else if (slots[i]) {
                    return unexpected(duplicate_argument(signature, signature.parameters[i]));
                } else {
                    slots[i] = std::move(value);
                }
            }
            if (!matched) return unexpected(unexpected_keyword(signature, key.get()));
        }
    }
    if (!positional_only_by_keyword.empty()) {
        return unexpected(binding_error(signature,
                                        " got some positional-only arguments passed as keyword arguments: " +
                                            name_list(positional_only_by_keyword)));
    }
    if (given_count < signature.required) {
        std::vector<const char*> missing;
        for (std::size_t i = 0; i < signature.required; ++i) {
            if (!slots[i]) missing.push_back(signature.parameters[i]);
        }
        if (!missing.empty()) return unexpected(missing_arguments(signature, "positional", missing));
    }
    std::vector<const char*> missing_keywords;
    for (std::size_t j = 0; j < signature.keyword_only.size(); ++j) {
        if (signature.keyword_only[j].required && !slots[positional + j]) {
            missing_keywords.push_back(signature.keyword_only[j].name);
        }
    }
    if (!missing_keywords.empty()) return unexpected(missing_arguments(signature, "keyword", missing_keywords));
    return Ok{};
}

}  // namespace verrakin
