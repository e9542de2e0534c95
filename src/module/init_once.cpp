#include "init_once.hpp"

#include <charconv>
#include <string_view>

#include "py_ref.hpp"

namespace verrakin {
namespace {

PyObject* make_interned(std::string_view text) {
    PyObject* str = expect_new(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())))
                        .release();
    PyUnicode_InternInPlace(&str);
    return str;
}

struct VersionFlags {
    bool at_least_3_10 = false;
    bool at_least_3_11 = false;
};

bool parse_int(std::string_view text, long& out) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2
                                : (lead >> 3) == 0x1E ? 3 : 4;
        if (extra == 4 || extra >= text.size() - i) return false;
        for (std::size_t j = 1; j <= extra; ++j) {
            if ((static_cast<unsigned char>(text[i + j]) >> 6) != 0x2) return false;
        }
        i += extra + 1;
    }
    return true;
}

// "3.11.7 (main, ...)": the text up to the first space, split at ".".
VersionFlags read_version_flags() {
    std::string_view version = Py_GetVersion();
    version = version.substr(0, version.find(' '));
    if (!valid_utf8(version)) fatal_error("Python version string not UTF-8");
    const std::size_t first_dot = version.find('.');
    long major = 0;
    if (!parse_int(version.substr(0, first_dot), major)) fatal_error("Python major version not an integer");
    if (first_dot == std::string_view::npos) fatal_error("Python minor version missing");
    std::string_view rest = version.substr(first_dot + 1);
    long minor = 0;
    if (!parse_int(rest.substr(0, rest.find('.')), minor)) fatal_error("Python minor version not an integer");
    return {(major == 3 && minor > 9) || major > 3, (major == 3 && minor > 10) || major > 3};
}

const VersionFlags& version_flags() {
    constinit static OnceCell<VersionFlags> cell;
    return cell.get_or_init(read_version_flags);
}

}  // namespace

PyObject* interned_all() {
    constinit static OnceCell<PyObject*> cell;
    return cell.get_or_init([] { return make_interned("__all__"); });
}

PyObject* interned_name() {
    constinit static OnceCell<PyObject*> cell;
    return cell.get_or_init([] { return make_interned("__name__"); });
}

PyObject* interned_add_note() {
    constinit static OnceCell<PyObject*> cell;
    return cell.get_or_init([] { return make_interned("add_note"); });
}

bool python_at_least_3_10() { return version_flags().at_least_3_10; }
bool python_at_least_3_11() { return version_flags().at_least_3_11; }

}  // namespace verrakin
