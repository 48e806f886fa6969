// The Python class Segment: an immutable view of one detected segment.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "detector/types.hpp"

namespace tessarin::python {

// The process-wide Segment type (a borrowed reference, made on first need),
// or NULL with an exception set.
PyTypeObject* segment_type();

// A new Segment holding a copy of `record`, or NULL with MemoryError.
PyObject* new_segment(PyTypeObject* type, const detector::Segment& record);

}  // namespace tessarin::python
