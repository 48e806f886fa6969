// NumPy's array API for the module's translation units. The table is
// imported once per process, on the first call that inspects an array.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define NPY_NO_DEPRECATED_API NPY_1_23_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL tessarin_ARRAY_API
#ifndef TESSARIN_NUMPY_IMPORT_UNIT
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

namespace tessarin::python {

// Imports NumPy's array API on first need. Returns false with the import's
// exception set when NumPy cannot be imported; a later call tries again.
bool ensure_numpy();

}  // namespace tessarin::python
