#include "python/arrays.hpp"

#include <cstddef>

#include "layout/copy.hpp"
#include "python/common.hpp"
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

namespace {

// The layout of an array as the native copy reads it, with the shape and
// strides copied out of the array object, so that nothing of the object is
// read once the thread has detached.
class ArrayLayout {
public:
    explicit ArrayLayout(PyArrayObject* a) {
        const int nd = PyArray_NDIM(a);
        for (int i = 0; i < nd; ++i) {
            shape_[i] = PyArray_DIM(a, i);
            strides_[i] = PyArray_STRIDE(a, i);
        }
        strided_ = layout::Strided{static_cast<const char*>(PyArray_DATA(a)),
                                   static_cast<std::size_t>(PyArray_ITEMSIZE(a)), nd, shape_, strides_};
    }
    ArrayLayout(const ArrayLayout&) = delete;
    ArrayLayout& operator=(const ArrayLayout&) = delete;
    const layout::Strided& strided() const { return strided_; }

private:
    std::ptrdiff_t shape_[NPY_MAXDIMS];
    std::ptrdiff_t strides_[NPY_MAXDIMS];
    layout::Strided strided_;
};

}  // namespace

bool standard_layout(PyArrayObject* a) { return layout::in_place(ArrayLayout(a).strided()); }

void copy_logical_detached(PyArrayObject* a, void* dst) {
    if (PyArray_SIZE(a) == 0) return;
    // The copy touches only the array's memory, which stays valid because
    // the caller holds a reference to the array.
    const ArrayLayout l(a);
    detached([&] { layout::copy_logical(l.strided(), dst); });
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
