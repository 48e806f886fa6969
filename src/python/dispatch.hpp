// Element-type dispatch: an array argument is tried against a fixed list of
// native element types in a fixed order, and the first that matches selects
// the typed body. No conversion between NumPy types is ever made.
#pragma once

#include "python/arrays.hpp"

namespace tessarin::python {

// Accepts any array of the right rank and element type.
inline bool any_shape(PyArrayObject*) { return true; }

// Accepts arrays whose third dimension holds three interleaved channels.
inline bool three_channels(PyArrayObject* a) { return PyArray_DIM(a, 2) == 3; }

// For each T of Ts in order: when `obj` is an array of `ndim` dimensions whose
// data type is equivalent to the native T and `fits` accepts it, returns
// body.template operator()<T>(array). When none matches, raises TypeError with
// the function's own message `refusal` and returns NULL.
template <class... Ts, class Fits, class Body>
PyObject* by_element_type(PyObject* obj, int ndim, const char* refusal, Fits&& fits, Body&& body) {
    PyObject* result = nullptr;
    const bool matched = ([&] {
        PyArrayObject* a = match_array(obj, ndim, NpyType<Ts>::value);
        if (a == nullptr || !fits(a)) return false;
        result = body.template operator()<Ts>(a);
        return true;
    }() || ...);
    if (!matched) PyErr_SetString(PyExc_TypeError, refusal);
    return result;
}

}  // namespace tessarin::python
