// The module's four functions (fast-call-with-keywords entry points).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tessarin::python {

PyObject* detect(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* warp_rgb(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* remap_rgb(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* remap_gray(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace tessarin::python
