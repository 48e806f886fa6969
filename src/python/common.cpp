#include "python/common.hpp"

#include <new>
#include <stdexcept>
#include <string>

namespace tessarin::python {
namespace {

bool same_name(PyObject* key, const char* name) {
    return PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, name) == 0;
}

void add_note(const char* note) {
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* exc = PyErr_GetRaisedException();
    if (exc == nullptr) return;
    PyObject* r = PyObject_CallMethod(exc, "add_note", "s", note);
    if (r == nullptr) PyErr_Clear();  // the original error matters more than its note
    Py_XDECREF(r);
    PyErr_SetRaisedException(exc);
#else
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb != nullptr && value != nullptr) PyException_SetTraceback(value, tb);
    if (value != nullptr) {
        PyObject* r = PyObject_CallMethod(value, "add_note", "s", note);
        if (r == nullptr) PyErr_Clear();  // the original error matters more than its note
        Py_XDECREF(r);
    }
    PyErr_Restore(type, value, tb);
#endif
}

}  // namespace

bool bind(const Params& p, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nargs + nkw > p.count) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zd %sargument%s (%zd given)", p.function, p.count,
                     nargs == 0 ? "keyword " : "", p.count == 1 ? "" : "s", nargs + nkw);
        return false;
    }
    for (Py_ssize_t i = 0; i < p.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    Py_ssize_t matched = 0;
    for (Py_ssize_t i = nargs; i < p.count; ++i) {
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            if (same_name(PyTuple_GET_ITEM(kwnames, k), p.names[i])) {
                out[i] = args[nargs + k];
                ++matched;
                break;
            }
        }
        if (out[i] == nullptr && i < p.required) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zd)", p.function,
                         p.names[i], i + 1);
            return false;
        }
    }
    if (matched == nkw) return true;
    // A keyword that names a parameter already given by position.
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            if (same_name(PyTuple_GET_ITEM(kwnames, k), p.names[i])) {
                PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%zd)",
                             p.function, p.names[i], i + 1);
                return false;
            }
        }
    }
    // A keyword that names no parameter.
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        bool known = false;
        for (Py_ssize_t i = 0; i < p.count && !known; ++i) known = same_name(key, p.names[i]);
        if (known) continue;
        if (!PyUnicode_Check(key)) {
            PyErr_SetString(PyExc_TypeError, "keywords must be strings");
        } else {
#if PY_VERSION_HEX >= 0x030D0000
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", p.function, key);
#else
            PyErr_Format(PyExc_TypeError, "'%S' is an invalid keyword argument for %s()", key, p.function);
#endif
        }
        return false;
    }
    PyErr_SetString(PyExc_SystemError, "argument binding lost a keyword");
    return false;
}

void raise_cannot_convert(PyObject* obj, const char* target) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to '%s'", Py_TYPE(obj)->tp_name, target);
}

bool noted(const char* param) {
    const std::string note = std::string("while processing '") + param + "'";
    add_note(note.c_str());
    return false;
}

bool cannot_convert(PyObject* obj, const char* target, const char* param) {
    raise_cannot_convert(obj, target);
    return noted(param);
}

bool to_double(PyObject* obj, double* out) {
    if (PyFloat_CheckExact(obj)) {
        *out = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return false;
    *out = v;
    return true;
}

bool number_argument(PyObject* obj, double* out, const char* param) { return to_double(obj, out) || noted(param); }

void raise_internal_mismatch(const char* why, const sample::SizeMismatch& e) {
    const std::string text = std::string(why) + ": " + sample::to_string(e);
    PyErr_SetString(PyExc_SystemError, text.c_str());
}

void raise_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::overflow_error& e) {
        PyErr_SetString(PyExc_OverflowError, e.what());
    } catch (const std::length_error& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::exception& e) {
        PyErr_Format(PyExc_SystemError, "tessarin internal error: %s", e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "tessarin internal error");
    }
}

}  // namespace tessarin::python
