#include "pending_exception.hpp"

#include <cstdio>
#include <new>

#include "init_once.hpp"

namespace verrakin {
namespace {

constexpr const char* kPanicDoc =
    "\n"
    "The exception raised when verrakin's native code, called from Python, meets an internal fatal error.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// The inverse of utf8_text: lone surrogates come back as they went.
PyRef new_str(const std::string& text) {
    return expect_new(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
}

// The `__qualname__` of a type as text, or nothing.
std::optional<std::string> qualname_of(PyObject* type) {
    PyRef name = PyRef::steal(PyObject_GetAttrString(type, "__qualname__"));
    if (!name) {
        PyErr_Clear();
        return std::nullopt;
    }
    if (!type_has_flag(name.get(), Py_TPFLAGS_UNICODE_SUBCLASS)) return std::nullopt;
    return utf8_text(name.get());
}

std::string target_name(PyObject* target) {
    if (type_has_flag(target, Py_TPFLAGS_TYPE_SUBCLASS)) {
        if (target == reinterpret_cast<PyObject*>(Py_TYPE(Py_None))) return "None";
        return qualname_of(target).value_or("<failed to extract type name>");
    }
    if (type_has_flag(target, Py_TPFLAGS_TUPLE_SUBCLASS)) {
        std::string joined;
        const Py_ssize_t count = PyTuple_Size(target);
        for (Py_ssize_t i = 0; i < count; ++i) {
            if (i != 0) joined += " | ";
            joined += target_name(PyTuple_GetItem(target, i));
        }
        return joined;
    }
    PyRef text = PyRef::steal(PyObject_Str(target));
    if (!text) {
        PyErr_Clear();
        return "<unprintable object>";
    }
    return utf8_text(text.get()).value_or("<unprintable object>");
}

std::string mismatch_message(PyObject* object, const std::string& target) {
    if (object == Py_None) return "'None' is not an instance of '" + target + "'";
    const std::string source =
        qualname_of(reinterpret_cast<PyObject*>(Py_TYPE(object))).value_or("<failed to extract type name>");
    return "'" + source + "' object is not an instance of '" + target + "'";
}

// Writes the banner and the traceback of a PanicException fetched from Python,
// then resumes it as an internal fatal error.
[[noreturn]] void resume_panic(PyRef type, PyRef value, PyRef traceback) {
    std::string message = "Unwrapped panic from Python code";
    PyRef text = PyRef::steal(PyObject_Str(value.get()));
    if (text) {
        if (auto utf8 = utf8_text(text.get())) message = *utf8;
    } else {
        PyErr_Clear();
    }
    std::fputs("--- verrakin is resuming an internal fatal error after fetching a PanicException from Python ---\n",
               stderr);
    std::fputs("Python stack trace below:\n", stderr);
    std::fflush(stderr);
    PyErr_Restore(type.release(), value.release(), traceback.release());
    PyErr_PrintEx(0);
    resume_fatal_error(std::move(message));
}

}  // namespace

std::optional<std::string> utf8_text(PyObject* str) {
    // "surrogatepass" keeps every str, lone surrogates included, so names and
    // messages composed here show exactly what the interpreter holds.
    PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    if (!bytes) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
            PyErr_Clear();
            throw OutOfMemory("memory for the UTF-8 text of a str");
        }
        PyErr_Clear();
        return std::nullopt;
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) != 0) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

PyRef expect_new(PyObject* result) {
    if (result != nullptr) return PyRef::steal(result);
    if (PyErr_Occurred() != nullptr && PyErr_ExceptionMatches(PyExc_MemoryError)) {
        PyErr_Clear();
        throw OutOfMemory("memory for a Python object");
    }
    if (PyErr_Occurred() != nullptr) PyErr_WriteUnraisable(nullptr);
    fatal_error("PyObject pointer is null");
}

static constinit OnceCell<PyObject*> panic_type_cell;

PyObject* panic_exception_type() {
    return panic_type_cell.get_or_init([] {
        PyObject* type =
            PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
        if (type == nullptr) {
            if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
                PyErr_Clear();
                throw OutOfMemory("memory for the PanicException type");  // made on a later need
            }
            PyErr_Clear();
            fatal_error("Failed to initialize new exception type.");
        }
        return type;
    });
}

PendingException PendingException::lazy(PyObject* type, std::string message) {
    return PendingException(Lazy{type, std::move(message)});
}

PendingException PendingException::panic(std::string message) {
    return PendingException(Lazy{nullptr, std::move(message)});
}

PendingException PendingException::type_mismatch(PyObject* object, PyObject* target) {
    return PendingException(Mismatch{PyRef::borrow(object), PyRef::borrow(target), nullptr});
}

PendingException PendingException::type_mismatch(PyObject* object, const char* target_name) {
    return PendingException(Mismatch{PyRef::borrow(object), PyRef{}, target_name});
}

// Runs the lazy maker: the type and its argument, raised with PyErr_SetObject.
void PendingException::raise_lazy() {
    PyRef type;
    PyRef argument;
    if (auto* lazy = std::get_if<Lazy>(&state_)) {
        if (lazy->type == nullptr) {
            type = PyRef::borrow(panic_exception_type());
            PyRef text = new_str(lazy->message);
            argument = expect_new(PyTuple_New(1));
            PyTuple_SetItem(argument.get(), 0, text.release());
        } else {
            type = PyRef::borrow(lazy->type);
            argument = new_str(lazy->message);
        }
    } else {
        auto& mismatch = std::get<Mismatch>(state_);
        type = PyRef::borrow(PyExc_TypeError);
        const std::string target =
            mismatch.target ? target_name(mismatch.target.get()) : std::string(mismatch.target_name);
        argument = new_str(mismatch_message(mismatch.object.get(), target));
    }
    if (type_has_flag(type.get(), Py_TPFLAGS_TYPE_SUBCLASS) &&
        (PyType_GetFlags(reinterpret_cast<PyTypeObject*>(type.get())) & Py_TPFLAGS_BASE_EXC_SUBCLASS) != 0) {
        PyErr_SetObject(type.get(), argument.get());
    } else {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    }
    type.reset();
    argument.reset();
    PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
    PyErr_Fetch(&t, &v, &tb);
    PyErr_NormalizeException(&t, &v, &tb);
    PyErr_Restore(t, v, tb);
}

void PendingException::restore() && {
    if (auto* normalized = std::get_if<Normalized>(&state_)) {
        PyErr_Restore(normalized->type.release(), normalized->value.release(), normalized->traceback.release());
        return;
    }
    raise_lazy();
}

PyObject* PendingException::instance() {
    if (auto* normalized = std::get_if<Normalized>(&state_)) return normalized->value.get();
    if (normalizing_) fatal_error("Re-entrant normalization of PyErrState detected");
    normalizing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{normalizing_};
    raise_lazy();
    std::optional<PendingException> fetched = fetch_exception();
    if (!fetched) fatal_error("normalized exception value missing");
    state_ = std::move(fetched->state_);
    return std::get<Normalized>(state_).value.get();
}

std::optional<PendingException> fetch_exception() {
    PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
    PyErr_Fetch(&t, &v, &tb);
    PyRef type = PyRef::steal(t), value = PyRef::steal(v), traceback = PyRef::steal(tb);
    if (!type) return std::nullopt;
    t = type.release();
    v = value.release();
    tb = traceback.release();
    PyErr_NormalizeException(&t, &v, &tb);
    type = PyRef::steal(t);
    value = PyRef::steal(v);
    traceback = PyRef::steal(tb);
    if (!value) fatal_error("normalized exception value missing");
    // No PanicException can exist before its type is made.
    const PyObject* const* panic_type = panic_type_cell.if_made();
    if (panic_type != nullptr && reinterpret_cast<PyObject*>(Py_TYPE(value.get())) == *panic_type) {
        resume_panic(std::move(type), std::move(value), std::move(traceback));
    }
    return PendingException(PendingException::Normalized{std::move(type), std::move(value), std::move(traceback)});
}

PendingException take_exception() {
    if (std::optional<PendingException> fetched = fetch_exception()) return std::move(*fetched);
    return PendingException::lazy(PyExc_SystemError, "attempted to fetch exception but none was set");
}

namespace {

constexpr const char* kUnexpectedError = "verrakin's native code failed with an unexpected internal error";

void raise_memory_error(const char* message) {
    // Without memory even for the text this still leaves a MemoryError set.
    PyErr_SetString(PyExc_MemoryError, message);
}

// Raising the panic can itself run out of memory; a fatal error on the way
// (already reported) leaves the original message as a SystemError.
void raise_panic(const std::string& message) {
    try {
        PendingException::panic(message).restore();
    } catch (const OutOfMemory& error) {
        raise_memory_error(error.what());
    } catch (const std::bad_alloc&) {
        raise_memory_error(kUnknownAllocation);
    } catch (...) {
        if (catching_thread_exit()) throw;
        PyErr_SetString(PyExc_SystemError, message.c_str());
    }
}

}  // namespace

void raise_caught_error() {
    try {
        throw;
    } catch (const FatalError& error) {
        raise_panic(error.message());
    } catch (const OutOfMemory& error) {
        raise_memory_error(error.what());
    } catch (const std::bad_alloc&) {
        raise_memory_error(kUnknownAllocation);
    } catch (const std::exception& error) {
        report_unexpected_error(error.what());
        raise_panic(kUnexpectedError);
    } catch (...) {
        if (catching_thread_exit()) throw;
        report_unexpected_error(nullptr);
        raise_panic(kUnexpectedError);
    }
}

}  // namespace verrakin
