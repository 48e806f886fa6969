// Module definition and registration: the class Segment and the four
// functions, each also listed in __all__, in a fixed order.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "python/common.hpp"
#include "python/functions.hpp"
#include "python/segment.hpp"

namespace tessarin::python {
namespace {

PyMethodDef function_defs[] = {
    {"detect", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(detect)), METH_FASTCALL | METH_KEYWORDS,
     "detect(gray, scale=...)\n--\n\nFind the validated line segments of a grayscale image."},
    {"warp_rgb", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(warp_rgb)),
     METH_FASTCALL | METH_KEYWORDS,
     "warp_rgb(src, inverse, scale, off_x, off_y, filter=\"bilinear\", out_size=None)\n--\n\n"
     "Perspective-warp an RGB image through an inverse homography."},
    {"remap_rgb", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(remap_rgb)),
     METH_FASTCALL | METH_KEYWORDS,
     "remap_rgb(src, map_x, map_y, filter=\"bilinear\")\n--\n\n"
     "Resample an RGB image through a coordinate map: output pixel (x, y)\n"
     "takes its value from source position (map_x[y, x], map_y[y, x])."},
    {"remap_gray", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(remap_gray)),
     METH_FASTCALL | METH_KEYWORDS,
     "remap_gray(src, map_x, map_y, filter=\"bilinear\")\n--\n\n"
     "Resample a single-channel image (a mask) through a coordinate map."},
};

// Appends `name` to the module's __all__ (made on first use) and sets the
// attribute. Steals `value`.
int add_public(PyObject* module, PyObject* name, PyObject* value) {
    Ref owned(value);
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all.reset(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    if (!PyList_Check(all.get()) || PyList_Append(all.get(), name) < 0) {
        PyErr_Clear();
        PyErr_SetString(PyExc_SystemError, "tessarin internal error: cannot append to __all__");
        return -1;
    }
    return PyObject_SetAttr(module, name, owned.get());
}

// Registers the class and the functions in order, stopping at the first failure.
int tessarin(PyObject* module) {
    PyTypeObject* type = segment_type();
    if (type == nullptr) return -1;
    Ref name(PyUnicode_FromString("Segment"));
    if (!name) return -1;
    Py_INCREF(type);
    if (add_public(module, name.get(), reinterpret_cast<PyObject*>(type)) < 0) return -1;

    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (PyMethodDef& def : function_defs) {
        Ref fn(PyCFunction_NewEx(&def, module, module_name.get()));
        if (!fn) return -1;
        Ref fn_name(PyObject_GetAttrString(fn.get(), "__name__"));
        if (!fn_name) return -1;
        if (!PyUnicode_Check(fn_name.get())) {
            raise_cannot_convert(fn_name.get(), "str");
            return -1;
        }
        if (add_public(module, fn_name.get(), fn.release()) < 0) return -1;
    }
    return 0;
}

int module_exec(PyObject* module) {
    if (!PyModule_Check(module)) {
        raise_cannot_convert(module, "module");
        return -1;
    }
    PyObject* ok = guarded([&]() -> PyObject* { return tessarin(module) < 0 ? nullptr : Py_None; });
    return ok == nullptr ? -1 : 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "tessarin",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tessarin::python

// The interpreter's own macro declares the init function with C linkage and
// exports it on every platform.
PyMODINIT_FUNC PyInit_tessarin(void) {
    return PyModuleDef_Init(&tessarin::python::module_def);
}
