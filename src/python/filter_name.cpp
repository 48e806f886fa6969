// parse_filter: the filter names the resampling functions accept.
#include "python/filter_name.hpp"

#include <cstdio>
#include <cstring>
#include <string>

#include "python/common.hpp"

namespace tessarin::python {
namespace {

// The name between double quotes. The quote, the backslash, tab, carriage
// return, line feed and NUL are escaped with a backslash; any other character
// that is not printable, or is a combining mark (category Mn or Me, which
// would merge with the quote before it), is written as \u{hex}.
PyObject* quoted(PyObject* name) {
    Ref unicodedata(PyImport_ImportModule("unicodedata"));
    if (!unicodedata) PyErr_Clear();  // then no character counts as combining
    const auto combining = [&](Py_UCS4 ch) {
        if (!unicodedata) return false;
        Ref category(PyObject_CallMethod(unicodedata.get(), "category", "C", static_cast<int>(ch)));
        const char* c = category ? PyUnicode_AsUTF8(category.get()) : nullptr;
        if (c == nullptr) PyErr_Clear();
        return c != nullptr && (std::strcmp(c, "Mn") == 0 || std::strcmp(c, "Me") == 0);
    };
    std::u32string out = U"\"";
    for (Py_ssize_t i = 0; i < PyUnicode_GET_LENGTH(name); ++i) {
        const Py_UCS4 ch = PyUnicode_READ_CHAR(name, i);
        const char* escape = ch == '\\' ? "\\\\" : ch == '"' ? "\\\"" : ch == '\t' ? "\\t"
                           : ch == '\r' ? "\\r" : ch == '\n' ? "\\n" : ch == 0 ? "\\0" : nullptr;
        char code[16];
        if (escape == nullptr && (!Py_UNICODE_ISPRINTABLE(ch) || combining(ch))) {
            std::snprintf(code, sizeof code, "\\u{%x}", static_cast<unsigned>(ch));
            escape = code;
        }
        if (escape == nullptr) out += static_cast<char32_t>(ch);
        for (; escape != nullptr && *escape != '\0'; ++escape) out += static_cast<char32_t>(*escape);
    }
    out += U'"';
    return PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, out.data(), static_cast<Py_ssize_t>(out.size()));
}

}  // namespace

bool filter_argument(PyObject* obj, PyObject** name) {
    *name = obj;
    if (obj == nullptr) return true;
    if (!PyUnicode_Check(obj)) return cannot_convert(obj, "str", "filter");
    return PyUnicode_AsUTF8AndSize(obj, nullptr) != nullptr || noted("filter");
}

bool parse_filter(PyObject* name, warp::Filter* filter) {
    Py_ssize_t len = 8;
    const char* utf8 = name == nullptr ? "bilinear" : PyUnicode_AsUTF8AndSize(name, &len);
    if (utf8 == nullptr) return false;
    const auto is = [&](const char* known) { return len == 8 && std::memcmp(utf8, known, 8) == 0; };
    if (is("bilinear")) {
        *filter = warp::Filter::Bilinear;
    } else if (is("lanczos3")) {
        *filter = warp::Filter::Lanczos3;
    } else {
        Ref shown(quoted(name));
        if (shown)
            PyErr_Format(PyExc_ValueError, "unknown filter %U, expected \"bilinear\" or \"lanczos3\"", shown.get());
        return false;
    }
    return true;
}

}  // namespace tessarin::python
