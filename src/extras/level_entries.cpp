// Levels in and out: from_levels(levels, n), levels(v), to_bytes(v),
// from_bytes(data), and the rotation permute(v, shift).
#include <array>
#include <cstring>
#include <limits>
#include <string>

#include "../core/batch/level_codec.hpp"
#include "call_helpers.hpp"
#include "entries.hpp"
#include "buffer_export.hpp"
#include "buffer_import.hpp"

namespace verrakin::extras {
namespace {

constexpr std::array<const char*, 2> kFromLevelsParameters{"levels", "n"};
constexpr std::array<const char*, 1> kVectorParameter{"v"};
constexpr std::array<const char*, 1> kDataParameter{"data"};
constexpr std::array<const char*, 2> kPermuteParameters{"v", "shift"};
constexpr CallSignature kFromLevelsSignature{nullptr, "from_levels", kFromLevelsParameters, 2, 0, {}};
constexpr CallSignature kLevelsSignature{nullptr, "levels", kVectorParameter, 1, 0, {}};
constexpr CallSignature kToBytesSignature{nullptr, "to_bytes", kVectorParameter, 1, 0, {}};
constexpr CallSignature kFromBytesSignature{nullptr, "from_bytes", kDataParameter, 1, 0, {}};
constexpr CallSignature kPermuteSignature{nullptr, "permute", kPermuteParameters, 2, 0, {}};

PendingException bad_level(std::uint64_t position, const std::string& value, std::uint32_t n) {
    return PendingException::lazy(PyExc_ValueError, "levels[" + std::to_string(position) + "] = " + value +
                                                        " is not a level in 0.." + std::to_string(n - 1) +
                                                        " (n = " + std::to_string(n) + ")");
}

std::string text_of(PyObject* object) {
    PyRef text = PyRef::steal(PyObject_Str(object));
    if (!text) {
        PyErr_Clear();
        return "<unprintable>";
    }
    return utf8_text(text.get()).value_or("<unprintable>");
}

std::string type_name(PyObject* object) {
    PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
    if (!name) {
        PyErr_Clear();
        return "<unknown>";
    }
    return text_of(name.get());
}

// One element of a sequence of levels: an int, or anything with __index__.
PyResult<std::uint16_t> level_item(PyObject* item, std::uint64_t position, std::uint32_t n) {
    PyRef index;
    if (!type_has_flag(item, Py_TPFLAGS_LONG_SUBCLASS)) {
        {
            RecursionCheck recursion;  // __index__ is user code
            if (!recursion.entered()) return unexpected(take_exception());
            index = PyRef::steal(PyNumber_Index(item));
        }
        if (!index) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) return unexpected(take_exception());
            PyErr_Clear();
            return unexpected(PendingException::lazy(PyExc_TypeError, "levels[" + std::to_string(position) +
                                                                          "] must be an integer, not '" +
                                                                          type_name(item) + "'"));
        }
        item = index.get();
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(item, &overflow);
    if (overflow == 0 && value == -1 && PyErr_Occurred() != nullptr) return unexpected(take_exception());
    if (overflow != 0 || value < 0 || value >= static_cast<long long>(n)) {
        return unexpected(bad_level(position, text_of(item), n));
    }
    return static_cast<std::uint16_t>(value);
}

PyResult<PhaseHVec> levels_from_list(PyObject* list, std::uint32_t n) {
    const Py_ssize_t count = PyList_Size(list);
    PhaseHVec record{static_cast<std::uint64_t>(count), n, PhaseArray::allocate(static_cast<std::uint64_t>(count))};
    for (Py_ssize_t i = 0; i < count && i < PyList_Size(list); ++i) {
        PyRef item = PyRef::borrow(PyList_GetItem(list, i));  // held: __index__ may change the list
        std::uint16_t level = 0;
        VK_TRY_ASSIGN(level, level_item(item.get(), static_cast<std::uint64_t>(i), n));
        record.phases.data()[i] = level;
    }
    if (PyList_Size(list) != count) {
        return unexpected(PendingException::lazy(PyExc_RuntimeError, "levels changed size during from_levels()"));
    }
    return record;
}

// Buffer formats of integers, with their item size and signedness.
struct IntegerFormat {
    char code;
    bool is_signed;
};

constexpr IntegerFormat kIntegerFormats[] = {{'b', true}, {'B', false}, {'h', true}, {'H', false},
                                             {'i', true}, {'I', false}, {'l', true}, {'L', false},
                                             {'q', true}, {'Q', false}, {'n', true}, {'N', false}};

LevelItem level_item_kind(Py_ssize_t itemsize, bool is_signed) noexcept {
    switch (itemsize) {
        case 1: return is_signed ? LevelItem::i8 : LevelItem::u8;
        case 2: return is_signed ? LevelItem::i16 : LevelItem::u16;
        case 4: return is_signed ? LevelItem::i32 : LevelItem::u32;
        default: return is_signed ? LevelItem::i64 : LevelItem::u64;
    }
}

// The integer at `position` as text, for the message about it.
std::string item_text(const char* data, Py_ssize_t itemsize, bool is_signed, std::uint64_t position) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, data + position * static_cast<std::uint64_t>(itemsize), static_cast<std::size_t>(itemsize));
    const unsigned width = 8 * static_cast<unsigned>(itemsize);
    if (!is_signed || (bits >> (width - 1)) == 0) return std::to_string(bits);
    if (width < 64) bits |= ~std::uint64_t{0} << width;  // sign-extended
    return std::to_string(static_cast<std::int64_t>(bits));
}

PyResult<Ok> convert_buffer(const char* data, std::uint64_t count, Py_ssize_t itemsize, bool is_signed,
                            std::uint32_t n, std::uint16_t* out) {
    const auto bad = narrow_levels(reinterpret_cast<const std::byte*>(data), level_item_kind(itemsize, is_signed),
                                   count, n, out);
    if (!bad) return Ok{};
    return unexpected(bad_level(*bad, item_text(data, itemsize, is_signed, *bad), n));
}

PyResult<std::string> string_attribute(PyObject* object, const char* name) {
    PyRef value = PyRef::steal(PyObject_GetAttrString(object, name));
    if (!value) return unexpected(take_exception());
    auto text = utf8_text(value.get());
    if (!text) {
        return unexpected(PendingException::type_mismatch(value.get(), reinterpret_cast<PyObject*>(&PyUnicode_Type)));
    }
    return *text;
}

PyResult<Py_ssize_t> size_attribute(PyObject* object, const char* name) {
    PyRef value = PyRef::steal(PyObject_GetAttrString(object, name));
    if (!value) return unexpected(take_exception());
    const Py_ssize_t size = PyLong_AsSsize_t(value.get());
    if (size == -1 && PyErr_Occurred() != nullptr) return unexpected(take_exception());
    return size;
}

// The item type of a one-dimensional buffer, from its struct format.
PyResult<const IntegerFormat*> integer_format(const std::string& format, Py_ssize_t itemsize) {
    std::string code = format;
    if (!code.empty() && (code[0] == '@' || code[0] == '=' || code[0] == '<')) code.erase(0, 1);
    const IntegerFormat* kind = nullptr;
    for (const IntegerFormat& f : kIntegerFormats) {
        if (code.size() == 1 && code[0] == f.code) kind = &f;
    }
    if (kind == nullptr || itemsize < 1 || itemsize > 8 || (itemsize & (itemsize - 1)) != 0) {
        // Big-endian or network order: integers, but not readable in place here.
        const bool swapped = !format.empty() && (format[0] == '>' || format[0] == '!');
        return unexpected(PendingException::lazy(
            PyExc_TypeError, std::string(swapped ? "levels must hold integers in native byte order"
                                                 : "levels must hold integers") +
                                 ", not buffer format '" + format + "'"));
    }
    return kind;
}

PyResult<PhaseHVec> levels_from_items(const char* data, Py_ssize_t bytes, Py_ssize_t itemsize,
                                      const IntegerFormat& kind, std::uint32_t n) {
    const auto count = static_cast<std::uint64_t>(bytes / itemsize);
    PhaseHVec record{count, n, PhaseArray::allocate(count)};
    VK_TRY(convert_buffer(data, count, itemsize, kind.is_signed, n, record.phases.data()));
    return record;
}

// A contiguous buffer read in place (3.11 and later).
PyResult<PhaseHVec> levels_in_place(const BorrowedBuffer& buffer, std::uint32_t n) {
    const IntegerFormat* kind = nullptr;
    VK_TRY_ASSIGN(kind, integer_format(buffer.format(), buffer.itemsize()));
    return levels_from_items(buffer.data(), buffer.bytes(), buffer.itemsize(), *kind, n);
}

// Any one-dimensional buffer of integers, through a memoryview of it (the
// stable ABI of 3.9 offers no direct buffer access: its bytes are one copy).
PyResult<PhaseHVec> levels_from_buffer(PyObject* view, std::uint32_t n) {
    Py_ssize_t ndim = 0, itemsize = 0;
    VK_TRY_ASSIGN(ndim, size_attribute(view, "ndim"));
    VK_TRY_ASSIGN(itemsize, size_attribute(view, "itemsize"));
    std::string format;
    VK_TRY_ASSIGN(format, string_attribute(view, "format"));
    if (ndim != 1) {
        return unexpected(PendingException::lazy(PyExc_ValueError, "levels must be one-dimensional, got a buffer of " +
                                                                       std::to_string(ndim) + " dimensions"));
    }
    const IntegerFormat* kind = nullptr;
    VK_TRY_ASSIGN(kind, integer_format(format, itemsize));
    PyRef bytes = PyRef::steal(PyObject_CallMethod(view, "tobytes", nullptr));
    if (!bytes) return unexpected(take_exception());
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) != 0) return unexpected(take_exception());
    return levels_from_items(data, size, itemsize, *kind, n);
}

PyResult<std::uint32_t> resolution(PyObject* object) {
    std::uint32_t n = 0;
    VK_TRY_ASSIGN(n, for_argument("n", to_u32(object)));
    if (n < kMinResolution || n > kMaxResolution) {
        return unexpected(PendingException::from(PhaseError{"n (phase resolution) must be in 2..=65536"}));
    }
    return n;
}

PyResult<PhaseHVec> levels_record(PyObject* levels, std::uint32_t n) {
    if (type_has_flag(levels, Py_TPFLAGS_UNICODE_SUBCLASS)) {
        return unexpected(PendingException::lazy(
            PyExc_TypeError, "levels must be a sequence of ints or a buffer of integers, not 'str'"));
    }
    if (type_has_flag(levels, Py_TPFLAGS_LIST_SUBCLASS)) return levels_from_list(levels, n);
    if (!type_has_flag(levels, Py_TPFLAGS_TUPLE_SUBCLASS)) {
        auto borrowed = BorrowedBuffer::of(levels);
        if (!borrowed) return unexpected(std::move(borrowed).error());
        if (borrowed.value()) return levels_in_place(*borrowed.value(), n);
        PyRef view = PyRef::steal(PyMemoryView_FromObject(levels));
        if (view) return levels_from_buffer(view.get(), n);
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return unexpected(take_exception());
        PyErr_Clear();  // not a buffer: a sequence, then
    }
    if (PySequence_Check(levels) == 0) {
        return unexpected(PendingException::lazy(
            PyExc_TypeError,
            "levels must be a sequence of ints or a buffer of integers, not '" + type_name(levels) + "'"));
    }
    PyRef list = PyRef::steal(PySequence_List(levels));
    if (!list) return unexpected(take_exception());
    return levels_from_list(list.get(), n);
}

// A vector from its encoding, or the ValueError that says why it is not one.
CallResult decoded_vector(const char* bytes, Py_ssize_t size) {
    auto record = decode({reinterpret_cast<const std::byte*>(bytes), static_cast<std::size_t>(size)});
    if (!record) return unexpected(PendingException::lazy(PyExc_ValueError, std::move(record).error()));
    return wrap(std::move(record).value());
}

// The encoding in any buffer other than bytes: read in place where the
// interpreter allows, else through a copy. An object that is no buffer is
// named as the argument "data".
CallResult vector_from_buffer(PyObject* data) {
    const auto noted = [](PendingException error) {
        add_argument_note(error, "data");
        return unexpected(std::move(error));
    };
    auto borrowed = BorrowedBuffer::of(data);
    if (!borrowed) return noted(std::move(borrowed).error());
    if (const std::optional<BorrowedBuffer>& buffer = borrowed.value()) {
        return decoded_vector(buffer->data(), buffer->bytes());
    }
    PyRef view = PyRef::steal(PyMemoryView_FromObject(data));
    if (!view) return noted(take_exception());
    PyRef copy = PyRef::steal(PyObject_CallMethod(view.get(), "tobytes", nullptr));
    if (!copy) return unexpected(take_exception());
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(copy.get(), &bytes, &size) != 0) return unexpected(take_exception());
    return decoded_vector(bytes, size);
}

CallResult new_bytes_from(const PhaseHVec& record) {
    const std::uint64_t size = encoded_size(record);
    if (size > static_cast<std::uint64_t>(PY_SSIZE_T_MAX)) throw OutOfMemory("an encoded PhaseHVec");
    PyRef bytes = expect_new(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
    encode(record, reinterpret_cast<std::byte*>(PyBytes_AsString(bytes.get())));
    return bytes;
}

}  // namespace

PyObject* from_levels(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        std::array<PyRef, 2> slots;
        VK_TRY(extract_arguments(kFromLevelsSignature, args, kwargs, slots));
        std::uint32_t n = 0;
        VK_TRY_ASSIGN(n, resolution(slots[1].get()));
        PhaseHVec record;
        VK_TRY_ASSIGN(record, for_argument("levels", levels_record(slots[0].get(), n)));
        return wrap(std::move(record));
    });
}

PyObject* levels(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        std::array<PyRef, 1> slots;
        VK_TRY(extract_arguments(kLevelsSignature, args, kwargs, slots));
        return levels_view(slots[0].get());
    });
}

PyObject* to_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        std::array<PyRef, 1> slots;
        VK_TRY(extract_arguments(kToBytesSignature, args, kwargs, slots));
        SharedAccess v;
        VK_TRY_ASSIGN(v, for_argument("v", to_phase_hvec(slots[0].get())));
        return new_bytes_from(v.record());
    });
}

PyObject* from_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        std::array<PyRef, 1> slots;
        VK_TRY(extract_arguments(kFromBytesSignature, args, kwargs, slots));
        PyObject* data = slots[0].get();
        if (!type_has_flag(data, Py_TPFLAGS_BYTES_SUBCLASS)) return vector_from_buffer(data);
        char* bytes = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(data, &bytes, &size) != 0) return unexpected(take_exception());
        return decoded_vector(bytes, size);
    });
}

PyObject* permute(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        std::array<PyRef, 2> slots;
        VK_TRY(extract_arguments(kPermuteSignature, args, kwargs, slots));
        SharedAccess v;
        VK_TRY_ASSIGN(v, for_argument("v", to_phase_hvec(slots[0].get())));
        PyRef shift = PyRef::steal(PyNumber_Index(slots[1].get()));
        if (!shift) {
            PendingException error = take_exception();
            add_argument_note(error, "shift");
            return unexpected(std::move(error));
        }
        const std::uint64_t dim = v->phases.size();
        if (dim == 0) return wrap(v->copy());
        // Python's remainder of any int by a positive dim lies in 0..dim-1.
        PyRef modulus = expect_new(PyLong_FromUnsignedLongLong(dim));
        PyRef reduced = expect_new(PyNumber_Remainder(shift.get(), modulus.get()));
        const unsigned long long steps = PyLong_AsUnsignedLongLong(reduced.get());
        return wrap(rotate(v.record(), steps));
    });
}

}  // namespace verrakin::extras
