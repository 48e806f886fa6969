// The resampling functions are registered with their final signatures; their
// bodies arrive with the resampling drivers.
#include "python/functions.hpp"

namespace tessarin::python {
namespace {

PyObject* not_yet(const char* name) {
    PyErr_Format(PyExc_NotImplementedError, "%s is not built yet", name);
    return nullptr;
}

}  // namespace

PyObject* warp_rgb(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) { return not_yet("warp_rgb"); }
PyObject* remap_rgb(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) { return not_yet("remap_rgb"); }
PyObject* remap_gray(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) { return not_yet("remap_gray"); }

}  // namespace tessarin::python
