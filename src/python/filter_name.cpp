// parse_filter: the filter names the resampling functions accept.
#include "python/filter_name.hpp"

#include <cstring>
#include <string>

#include "python/common.hpp"

namespace tessarin::python {
namespace {

// True for combining marks (categories Mn and Me), which are written escaped so
// that they cannot merge with the quote before them.
bool combining(Py_UCS4 ch) {
    Ref unicodedata(PyImport_ImportModule("unicodedata"));
    if (!unicodedata) {
        PyErr_Clear();
        return false;
    }
    Ref text(PyUnicode_FromOrdinal(static_cast<int>(ch)));
    if (!text) {
        PyErr_Clear();
        return false;
    }
    Ref category(PyObject_CallMethod(unicodedata.get(), "category", "O", text.get()));
    if (!category || !PyUnicode_Check(category.get())) {
        PyErr_Clear();
        return false;
    }
    const char* c = PyUnicode_AsUTF8(category.get());
    if (c == nullptr) {
        PyErr_Clear();
        return false;
    }
    return std::strcmp(c, "Mn") == 0 || std::strcmp(c, "Me") == 0;
}

// The name between double quotes, with escapes for what would be unreadable.
std::string quoted(PyObject* name) {
    std::string out = "\"";
    const Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    const int kind = PyUnicode_KIND(name);
    const void* data = PyUnicode_DATA(name);
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 ch = PyUnicode_READ(kind, data, i);
        switch (ch) {
            case '\\': out += "\\\\"; continue;
            case '"': out += "\\\""; continue;
            case '\t': out += "\\t"; continue;
            case '\r': out += "\\r"; continue;
            case '\n': out += "\\n"; continue;
            case 0: out += "\\0"; continue;
            default: break;
        }
        if ((ch != ' ' && !Py_UNICODE_ISPRINTABLE(ch)) || combining(ch)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(ch));
            out += buf;
            continue;
        }
        // Printable: the character itself, in UTF-8.
        Ref one(PyUnicode_FromOrdinal(static_cast<int>(ch)));
        Py_ssize_t len = 0;
        const char* utf8 = one ? PyUnicode_AsUTF8AndSize(one.get(), &len) : nullptr;
        if (utf8 == nullptr) {
            PyErr_Clear();
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(ch));
            out += buf;
        } else {
            out.append(utf8, static_cast<std::size_t>(len));
        }
    }
    out += "\"";
    return out;
}

}  // namespace

bool filter_argument(PyObject* obj, PyObject** name) {
    if (obj == nullptr) {
        *name = nullptr;
        return true;
    }
    if (!PyUnicode_Check(obj)) return cannot_convert(obj, "str", "filter");
    if (PyUnicode_AsUTF8AndSize(obj, nullptr) == nullptr) return noted("filter");
    *name = obj;
    return true;
}

bool parse_filter(PyObject* name, warp::Filter* filter) {
    if (name == nullptr) {
        *filter = warp::Filter::Bilinear;
        return true;
    }
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &len);
    if (utf8 == nullptr) return false;
    if (len == 8 && std::memcmp(utf8, "bilinear", 8) == 0) {
        *filter = warp::Filter::Bilinear;
        return true;
    }
    if (len == 8 && std::memcmp(utf8, "lanczos3", 8) == 0) {
        *filter = warp::Filter::Lanczos3;
        return true;
    }
    std::string message = "unknown filter " + quoted(name) + ", expected \"bilinear\" or \"lanczos3\"";
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return false;
}

}  // namespace tessarin::python
