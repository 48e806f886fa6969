// Pieces shared by the module's functions: argument binding with CPython's
// wording, the conversion errors and their notes, the internal error for a
// size mismatch the arrays' shapes rule out, the boundary that turns C++
// failures into Python exceptions, and detaching around native work.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <utility>
#include <variant>

#include "sample/size_mismatch.hpp"

namespace tessarin::python {

// The parameters of a function: names in order, the first `required` of them
// required; all may be given by position or by keyword.
struct Params {
    const char* function;       // "detect"
    const char* const* names;   // parameter names
    Py_ssize_t count;           // number of parameters
    Py_ssize_t required;        // how many leading ones are required
};

// Binds fast-call arguments to `out` (count slots, borrowed references, NULL
// for absent optional ones). Returns false with CPython's usual TypeError.
bool bind(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out);

// Raises CPython's TypeError for a failed conversion:
// "'<type of obj>' object cannot be converted to '<target>'".
void raise_cannot_convert(PyObject* obj, const char* target);

// Attaches the note "while processing '<param>'" to the exception being
// raised (through its add_note), so that the caller sees which parameter a
// conversion failed on. Answers false: a converter ends with
// `return noted("scale");`.
bool noted(const char* param);

// raise_cannot_convert, then noted.
bool cannot_convert(PyObject* obj, const char* target, const char* param);

// A float is read directly, anything else through PyFloat_AsDouble.
bool to_double(PyObject* obj, double* out);

// to_double, the failure noted with the parameter.
bool number_argument(PyObject* obj, double* out, const char* param);

// Raises the internal error for a SizeMismatch that cannot occur because the
// buffers were made from the arrays' own shapes: SystemError
// "<why>: <the mismatch's text>".
void raise_internal_mismatch(const char* why, const sample::SizeMismatch& e);

// The value a native entry point produced, or NULL with the internal error
// when it answered SizeMismatch.
template <class T>
T* produced(sample::Result<T>& result, const char* why) {
    if (const auto* e = std::get_if<sample::SizeMismatch>(&result)) {
        raise_internal_mismatch(why, *e);
        return nullptr;
    }
    return &std::get<T>(result);
}

// Raises the Python exception for the C++ exception being handled.
void raise_current_exception() noexcept;

// Runs f() (returning a new reference or NULL with an exception set) and turns
// any C++ exception into a Python one, so that none reaches the interpreter.
template <class F>
PyObject* guarded(F&& f) noexcept {
    try {
        return std::forward<F>(f)();
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

// Runs work() detached from the interpreter. An exception it throws is carried
// across and rethrown after the thread has re-attached.
template <class F>
void detached(F&& work) {
    std::exception_ptr failure;
    PyThreadState* ts = PyEval_SaveThread();
    try {
        std::forward<F>(work)();
    } catch (...) {
        failure = std::current_exception();
    }
    PyEval_RestoreThread(ts);
    if (failure) std::rethrow_exception(failure);
}

// An owned reference, released on every path.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* o) : o_(o) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : o_(other.release()) {}
    Ref& operator=(Ref&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~Ref() { Py_XDECREF(o_); }
    PyObject* get() const { return o_; }
    explicit operator bool() const { return o_ != nullptr; }
    PyObject* release() {
        PyObject* o = o_;
        o_ = nullptr;
        return o;
    }
    void reset(PyObject* o = nullptr) {
        PyObject* old = o_;
        o_ = o;
        Py_XDECREF(old);
    }
    static Ref borrow(PyObject* o) {
        Py_XINCREF(o);
        return Ref(o);
    }

private:
    PyObject* o_ = nullptr;
};

}  // namespace tessarin::python
