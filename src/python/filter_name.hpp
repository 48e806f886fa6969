#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "warp/filter.hpp"

namespace tessarin::python {

// Checks the `filter` argument's type (a str that encodes as UTF-8); NULL (the
// argument was not given) stays NULL. Raises with the parameter's note.
bool filter_argument(PyObject* obj, PyObject** name);

// "bilinear" or "lanczos3", compared on the exact UTF-8 bytes; NULL means
// the default, bilinear. Anything else raises ValueError.
bool parse_filter(PyObject* name, warp::Filter* filter);

}  // namespace tessarin::python
