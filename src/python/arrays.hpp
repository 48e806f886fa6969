// Access to NumPy arrays: element-type matching, the logical row-major view of
// an array's elements (in place when the layout allows, else one copy), and
// result arrays that adopt a native buffer without copying it.
#pragma once

#include "python/numpy_api.hpp"

#include <cstddef>
#include <cstdint>
#include <new>

#include "sample/pages.hpp"

namespace tessarin::python {

template <class T>
struct NpyType;
template <>
struct NpyType<std::uint8_t> {
    static constexpr int value = NPY_UINT8;
};
template <>
struct NpyType<std::uint16_t> {
    static constexpr int value = NPY_UINT16;
};
template <>
struct NpyType<float> {
    static constexpr int value = NPY_FLOAT32;
};
template <>
struct NpyType<double> {
    static constexpr int value = NPY_FLOAT64;
};

// `obj` as an array of `ndim` dimensions whose data type is equivalent to the
// native type `typenum`, or NULL (no exception) when it is not one. Borrowed.
PyArrayObject* match_array(PyObject* obj, int ndim, int typenum);

// True when the elements lie in row-major order without gaps at an address
// suitably aligned for the element type, so they can be read in place.
bool standard_layout(PyArrayObject* a);

// Copies the elements of `a` in logical row-major order into `dst`, following
// the byte strides (negative, zero or not a multiple of the element size),
// with the calling thread detached from the interpreter for the copy itself
// (layout::copy_logical, which runs at about memory speed for any layout).
// The caller holds a reference to `a`.
void copy_logical_detached(PyArrayObject* a, void* dst);

// The elements of an array in logical row-major order: its own memory when the
// layout is standard, otherwise a copy owned by this object.
template <class T>
class Elements {
public:
    // No elements: what Grid and Rows hold when they read in place.
    Elements() = default;
    explicit Elements(PyArrayObject* a) {
        std::size_t n = static_cast<std::size_t>(PyArray_SIZE(a));
        size_ = n;
        if (n == 0) {
            data_ = nullptr;
        } else if (standard_layout(a)) {
            data_ = static_cast<const T*>(PyArray_DATA(a));
        } else {
            // A size that cannot be had is refused as bad_alloc (MemoryError),
            // with the interpreter attached, before anything is copied. The
            // storage is not zero-filled: the copy writes all of it at once.
            if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
            copy_ = sample::Pages(n * sizeof(T), sample::Fill::any);
            copy_logical_detached(a, copy_.data());
            data_ = static_cast<const T*>(copy_.data());
        }
    }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool copied() const { return copy_.data() != nullptr; }

private:
    sample::Pages copy_;
    const T* data_ = nullptr;
    std::size_t size_ = 0;
};

// The elements of a two-dimensional array where they lie, when every element
// is aligned and both byte strides are whole elements (of either sign, or
// zero): element (y, x) is base()[y * row_step() + x * column_step()].
// Other arrays are copied, as Elements does, and read with row-major steps.
template <class T>
class Grid {
public:
    explicit Grid(PyArrayObject* a) {
        const npy_intp* strides = PyArray_STRIDES(a);
        constexpr npy_intp item = sizeof(T);
        const bool whole = strides[0] % item == 0 && strides[1] % item == 0 &&
                           reinterpret_cast<std::uintptr_t>(PyArray_DATA(a)) % item == 0;
        if (PyArray_SIZE(a) != 0 && whole) {
            base_ = static_cast<const T*>(PyArray_DATA(a));
            row_ = strides[0] / item;
            column_ = strides[1] / item;
        } else {
            copy_ = Elements<T>(a);
            base_ = copy_.data();
            row_ = PyArray_DIM(a, 1);
            column_ = 1;
        }
    }
    const T* base() const { return base_; }
    std::ptrdiff_t row_step() const { return row_; }
    std::ptrdiff_t column_step() const { return column_; }

private:
    Elements<T> copy_;
    const T* base_ = nullptr;
    std::ptrdiff_t row_ = 0;
    std::ptrdiff_t column_ = 0;
};

// The rows of a two- or three-dimensional array where they lie, when each
// row's elements do (one after another, aligned) and rows lie a whole number
// of elements apart without overlapping, in either order: crops of wider
// images and flipped rows need no copy. Row y starts at data() +
// y * row_step(). Other arrays are copied, as Elements does, and read with
// the row-major step.
template <class T>
class Rows {
public:
    explicit Rows(PyArrayObject* a) {
        const int nd = PyArray_NDIM(a);
        const npy_intp* dims = PyArray_DIMS(a);
        const npy_intp* strides = PyArray_STRIDES(a);
        constexpr npy_intp item = sizeof(T);
        // Elements along axes 1 .. nd-1 in order; a step along an axis of
        // one element is never taken.
        npy_intp row = 1;
        bool in_order = true;
        for (int i = nd - 1; i >= 1; --i) {
            if (dims[i] != 1 && strides[i] != row * item) in_order = false;
            row *= dims[i];
        }
        const npy_intp step = dims[0] == 1 ? row * item : strides[0];
        const bool apart = step % item == 0 && (step < 0 ? -step : step) >= row * item;
        if (PyArray_SIZE(a) != 0 && in_order && apart &&
            reinterpret_cast<std::uintptr_t>(PyArray_DATA(a)) % item == 0) {
            data_ = static_cast<const T*>(PyArray_DATA(a));
            row_step_ = step / item;
        } else {
            copy_ = Elements<T>(a);
            data_ = copy_.data();
            row_step_ = row;
        }
    }
    const T* data() const { return data_; }
    std::ptrdiff_t row_step() const { return row_step_; }

private:
    Elements<T> copy_;
    const T* data_ = nullptr;
    std::ptrdiff_t row_step_ = 0;
};

// A new writeable C-contiguous array of `typenum` and shape `dims` that takes
// ownership of `data` (storage from sample::allocate_pages, as sample::Buffer
// holds it, freed with sample::free_pages through an owner object set as the
// array's base). On failure returns NULL
// with an exception set, and `data` has been freed.
PyObject* adopt_buffer(void* data, int typenum, int ndim, const npy_intp* dims);

}  // namespace tessarin::python
