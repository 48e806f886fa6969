// Pieces shared by the module's functions: argument binding with CPython's
// wording, notes on conversion errors, the boundary that turns C++ failures
// into Python exceptions, and detaching around native work.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <utility>

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

// Attaches `note` to the exception being raised (through its add_note), so
// that the caller sees which parameter a conversion failed on.
void add_note(const char* note);

// A float is read directly, anything else through PyFloat_AsDouble.
bool to_double(PyObject* obj, double* out);

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
