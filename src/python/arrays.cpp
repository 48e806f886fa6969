#include "python/arrays.hpp"

#include "python/once.hpp"
#include "sample/pages.hpp"

namespace tessarin::python {

PyArrayObject* match_array(PyObject* obj, int ndim, int typenum) {
    if (!PyArray_Check(obj)) return nullptr;
    auto* a = reinterpret_cast<PyArrayObject*>(obj);
    if (PyArray_NDIM(a) != ndim) return nullptr;
    PyArray_Descr* native = PyArray_DescrFromType(typenum);
    if (native == nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    bool same = PyArray_EquivTypes(PyArray_DESCR(a), native);
    Py_DECREF(native);
    return same ? a : nullptr;
}

bool standard_layout(PyArrayObject* a) {
    const int nd = PyArray_NDIM(a);
    const npy_intp* dims = PyArray_DIMS(a);
    const npy_intp* strides = PyArray_STRIDES(a);
    const npy_intp item = PyArray_ITEMSIZE(a);
    for (int i = 0; i < nd; ++i)
        if (dims[i] == 0) return true;
    npy_intp expected = item;
    for (int i = nd - 1; i >= 0; --i) {
        if (dims[i] != 1 && strides[i] != expected) return false;
        expected *= dims[i];
    }
    // Reading a misaligned element in place is undefined behaviour; such
    // views (into packed bytes, say) are copied like any other layout.
    return reinterpret_cast<std::uintptr_t>(PyArray_DATA(a)) % static_cast<std::uintptr_t>(item) == 0;
}

void copy_logical(PyArrayObject* a, void* dst) {
    const int nd = PyArray_NDIM(a);
    const npy_intp* dims = PyArray_DIMS(a);
    const npy_intp* strides = PyArray_STRIDES(a);
    const std::size_t item = static_cast<std::size_t>(PyArray_ITEMSIZE(a));
    const char* base = static_cast<const char*>(PyArray_DATA(a));
    char* out = static_cast<char*>(dst);
    if (PyArray_SIZE(a) == 0) return;
    // Walks the index space odometer-style; the innermost axis is a tight loop.
    npy_intp index[NPY_MAXDIMS] = {};
    const npy_intp inner = nd > 0 ? dims[nd - 1] : 1;
    const npy_intp inner_stride = nd > 0 ? strides[nd - 1] : 0;
    for (;;) {
        const char* row = base;
        for (int i = 0; i + 1 < nd; ++i) row += index[i] * strides[i];
        for (npy_intp j = 0; j < inner; ++j) {
            std::memcpy(out, row + j * inner_stride, item);
            out += item;
        }
        int axis = nd - 2;
        while (axis >= 0) {
            if (++index[axis] < dims[axis]) break;
            index[axis] = 0;
            --axis;
        }
        if (axis < 0) return;
    }
}

namespace {

// Keeps an adopted buffer alive for as long as the array that views it.
struct BufferOwner {
    PyObject_HEAD
    void* data;
};

void owner_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    sample::free_pages(reinterpret_cast<BufferOwner*>(self)->data);
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyType_Slot owner_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(owner_dealloc)},
    {Py_tp_doc, const_cast<char*>("Owns the memory of an array made by tessarin.")},
    {0, nullptr},
};

PyType_Spec owner_spec = {
    "tessarin._BufferOwner",
    static_cast<int>(sizeof(BufferOwner)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    owner_slots,
};

ProcessType g_owner_type(owner_spec);

PyTypeObject* owner_type() { return g_owner_type.get(); }

}  // namespace

PyObject* adopt_buffer(void* data, int typenum, int ndim, const npy_intp* dims) {
    if (data == nullptr) {
        // An empty result: nothing to adopt, NumPy allocates its own (empty) block.
        return PyArray_SimpleNew(ndim, const_cast<npy_intp*>(dims), typenum);
    }
    PyTypeObject* tp = owner_type();
    if (tp == nullptr) {
        sample::free_pages(data);
        return nullptr;
    }
    auto* owner = reinterpret_cast<BufferOwner*>(tp->tp_alloc(tp, 0));
    if (owner == nullptr) {
        sample::free_pages(data);
        return nullptr;
    }
    owner->data = data;
    PyArray_Descr* descr = PyArray_DescrFromType(typenum);
    if (descr == nullptr) {
        Py_DECREF(owner);
        return nullptr;
    }
    PyObject* arr = PyArray_NewFromDescr(&PyArray_Type, descr, ndim, const_cast<npy_intp*>(dims), nullptr, data,
                                         NPY_ARRAY_CARRAY, nullptr);
    if (arr == nullptr) {
        Py_DECREF(owner);
        return nullptr;
    }
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(arr), reinterpret_cast<PyObject*>(owner)) < 0) {
        // NumPy released the owner (and so the buffer) already.
        Py_DECREF(arr);
        return nullptr;
    }
    return arr;
}

}  // namespace tessarin::python
