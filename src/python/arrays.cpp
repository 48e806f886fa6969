#include "python/arrays.hpp"

#include <cstring>

#include "python/common.hpp"
#include "python/once.hpp"
#include "sample/interleave.hpp"
#include "sample/pages.hpp"
#include "sample/row_shuffle.hpp"
#include "sample/transpose.hpp"

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

namespace {

// The copy works on the layout alone: element size, shape and byte strides.
// Every element is moved as a whole (a fixed-size memcpy, so misaligned
// sources are fine), and the output is written in logical row-major order.
struct Layout {
    int nd;
    const npy_intp* dims;
    const npy_intp* strides;
    const char* base;
};

template <std::size_t S>
inline void move_one(char* out, const char* in) {
    std::memcpy(out, in, S);
}

// Whether a row of the layout is one memcpy: its elements already lie in
// logical order without gaps.
template <std::size_t S>
bool rows_in_order(const Layout& l) {
    if (l.nd == 2) return l.strides[1] == static_cast<npy_intp>(S);
    return l.strides[2] == static_cast<npy_intp>(S) && l.strides[1] == l.dims[2] * l.strides[2];
}

// One logical row of a layout whose rows are not in order already: axes
// 1 .. nd-1 of the element at `row`. Rows that are one run of bytes in
// another order (reversed, BGR) go through the byte shuffle when the
// processor has one.
template <std::size_t S>
void copy_row(const Layout& l, const sample::RowShuffle* shuffle, const char* row, char* out) {
    if (shuffle != nullptr) {
        shuffle->copy(row, static_cast<std::size_t>(l.dims[1]), out);
        return;
    }
    if (l.nd == 2) {
        const npy_intp n = l.dims[1], st = l.strides[1];
        for (npy_intp x = 0; x < n; ++x) move_one<S>(out + static_cast<std::size_t>(x) * S, row + x * st);
        return;
    }
    // nd == 3: pixels of a few channels each.
    const npy_intp n = l.dims[1], c = l.dims[2], sx = l.strides[1], sc = l.strides[2];
    if (c == 3) {
        for (npy_intp x = 0; x < n; ++x, out += 3 * S) {
            const char* px = row + x * sx;
            move_one<S>(out, px);
            move_one<S>(out + S, px + sc);
            move_one<S>(out + 2 * S, px + 2 * sc);
        }
    } else {
        for (npy_intp x = 0; x < n; ++x) {
            const char* px = row + x * sx;
            for (npy_intp k = 0; k < c; ++k, out += S) move_one<S>(out, px + k * sc);
        }
    }
}

// Rows of a transposed layout (axis 0 the shortest stride, as in Fortran
// order) are gathered in tiles of block_rows rows by block_cols output
// positions: each position's elements down the tile lie on few cache lines
// (each line serves many rows), and few such streams are read at once. Where
// axis 0 is exactly one element apart, those elements are adjacent and move
// in square vector tiles (sample/transpose.hpp); the rest goes element by
// element. Tall, narrow tiles measured fastest on Fortran-order images: each
// position's column is read as one long run, which the processor's own
// prefetching follows. 768 rows beat 256 at every size tried (4000 x 3000
// RGB bytes 17 ms against 23 ms, 16-bit RGB 30 against 41 ms; 1920 x 1080
// RGB 16-bit 3.8 against 4.7 ms); 1024 rows and more were up to twice as
// slow, once the output rows one tile writes (each a page or more apart)
// outgrow what the caches and the address translation hold at once.
constexpr npy_intp block_rows = 768;
constexpr npy_intp block_cols = 16;

template <std::size_t S>
void copy_row_block(const Layout& l, npy_intp y0, npy_intp rows, char* out, std::size_t row_bytes) {
    constexpr auto lanes = static_cast<npy_intp>(sample::tile_lanes<S>);
    static_assert(block_rows % lanes == 0 && block_cols % lanes == 0);
    const npy_intp s0 = l.strides[0];
    const char* first = l.base + y0 * s0;
    const npy_intp n = l.dims[1], sx = l.strides[1];
    const npy_intp c = l.nd == 3 ? l.dims[2] : 1, sc = l.nd == 3 ? l.strides[2] : 0;
    npy_intp offset[block_cols];  // source byte offset of each position of the tile
    npy_intp x = 0, k = 0;        // the pixel and channel of the next position
    const npy_intp positions = n * c;
    const npy_intp tiled_rows = s0 == static_cast<npy_intp>(S) ? rows / lanes * lanes : 0;
    for (npy_intp p0 = 0; p0 < positions; p0 += block_cols) {
        const npy_intp count = positions - p0 < block_cols ? positions - p0 : block_cols;
        for (npy_intp q = 0; q < count; ++q) {
            offset[q] = x * sx + k * sc;
            if (++k == c) k = 0, ++x;
        }
        const npy_intp tiled = count / lanes * lanes;
        for (npy_intp y = 0; y < tiled_rows; y += lanes) {
            const char* in = first + y * s0;
            char* o = out + static_cast<std::size_t>(y) * row_bytes + static_cast<std::size_t>(p0) * S;
            for (npy_intp q0 = 0; q0 < tiled; q0 += lanes) {
                const char* cols[lanes];
                for (npy_intp q = 0; q < lanes; ++q) cols[q] = in + offset[q0 + q];
                sample::transpose_tile<S>(cols, o + static_cast<std::size_t>(q0) * S, row_bytes);
            }
            for (npy_intp j = 0; j < lanes; ++j)
                for (npy_intp q = tiled; q < count; ++q)
                    move_one<S>(o + static_cast<std::size_t>(j) * row_bytes + static_cast<std::size_t>(q) * S,
                                in + j * s0 + offset[q]);
        }
        for (npy_intp y = tiled_rows; y < rows; ++y) {
            const char* in = first + y * s0;
            char* o = out + static_cast<std::size_t>(y) * row_bytes + static_cast<std::size_t>(p0) * S;
            for (npy_intp q = 0; q < count; ++q) move_one<S>(o + static_cast<std::size_t>(q) * S, in + offset[q]);
        }
    }
}

npy_intp magnitude(npy_intp v) { return v < 0 ? -v : v; }

template <std::size_t S>
void copy_2d_3d(const Layout& l, char* out) {
    const npy_intp h = l.dims[0];
    std::size_t row_bytes = S;
    for (int i = 1; i < l.nd; ++i) row_bytes *= static_cast<std::size_t>(l.dims[i]);
    bool transposed = row_bytes > S;  // rows of one element gain nothing from blocks
    for (int i = 1; i < l.nd; ++i)
        if (l.dims[i] > 1 && magnitude(l.strides[i]) <= magnitude(l.strides[0])) transposed = false;
    if (!transposed) {
        if (rows_in_order<S>(l)) {
            for (npy_intp y = 0; y < h; ++y)
                std::memcpy(out + static_cast<std::size_t>(y) * row_bytes, l.base + y * l.strides[0], row_bytes);
            return;
        }
        // Channels in planes of their own (a channel-first image with its
        // channels moved last): each row holds one run per channel.
        const simd::Variant variant = simd::chosen();
        if (l.nd == 3 && l.dims[2] == 3 && l.strides[1] == static_cast<npy_intp>(S) &&
            sample::interleaves_in_vectors(S, variant)) {
            for (npy_intp y = 0; y < h; ++y) {
                const char* row = l.base + y * l.strides[0];
                const char* runs[3] = {row, row + l.strides[2], row + 2 * l.strides[2]};
                sample::interleave3(runs, static_cast<std::size_t>(l.dims[1]), S,
                                    out + static_cast<std::size_t>(y) * row_bytes, variant);
            }
            return;
        }
        const sample::RowShuffle shuffle(l.strides[1], l.nd == 3 ? l.strides[2] : 0,
                                         l.nd == 3 ? static_cast<std::size_t>(l.dims[2]) : 1, S);
        const sample::RowShuffle* use = shuffle.usable() ? &shuffle : nullptr;
        for (npy_intp y = 0; y < h; ++y)
            copy_row<S>(l, use, l.base + y * l.strides[0], out + static_cast<std::size_t>(y) * row_bytes);
        return;
    }
    for (npy_intp y0 = 0; y0 < h; y0 += block_rows) {
        const npy_intp rows = h - y0 < block_rows ? h - y0 : block_rows;
        copy_row_block<S>(l, y0, rows, out + static_cast<std::size_t>(y0) * row_bytes, row_bytes);
    }
}

// Any other rank or element size: an odometer over the index space, the
// innermost axis a tight loop.
void copy_any(const Layout& l, std::size_t item, char* out) {
    const int nd = l.nd;
    npy_intp index[NPY_MAXDIMS] = {};
    const npy_intp inner = nd > 0 ? l.dims[nd - 1] : 1;
    const npy_intp inner_stride = nd > 0 ? l.strides[nd - 1] : 0;
    for (;;) {
        const char* row = l.base;
        for (int i = 0; i + 1 < nd; ++i) row += index[i] * l.strides[i];
        for (npy_intp j = 0; j < inner; ++j) {
            std::memcpy(out, row + j * inner_stride, item);
            out += item;
        }
        int axis = nd - 2;
        while (axis >= 0) {
            if (++index[axis] < l.dims[axis]) break;
            index[axis] = 0;
            --axis;
        }
        if (axis < 0) return;
    }
}

template <std::size_t S>
bool copy_sized(const Layout& l, std::size_t item, char* out) {
    if (item != S) return false;
    copy_2d_3d<S>(l, out);
    return true;
}

void copy_layout(const Layout& l, std::size_t item, char* out) {
    if ((l.nd == 2 || l.nd == 3) &&
        (copy_sized<1>(l, item, out) || copy_sized<2>(l, item, out) || copy_sized<4>(l, item, out) ||
         copy_sized<8>(l, item, out)))
        return;
    copy_any(l, item, out);
}

Layout layout_of(PyArrayObject* a) {
    return Layout{PyArray_NDIM(a), PyArray_DIMS(a), PyArray_STRIDES(a), static_cast<const char*>(PyArray_DATA(a))};
}

}  // namespace

void copy_logical(PyArrayObject* a, void* dst) {
    if (PyArray_SIZE(a) == 0) return;
    copy_layout(layout_of(a), static_cast<std::size_t>(PyArray_ITEMSIZE(a)), static_cast<char*>(dst));
}

void copy_logical_detached(PyArrayObject* a, void* dst) {
    if (PyArray_SIZE(a) == 0) return;
    // The layout is read from the array object before detaching; the copy
    // then touches only the array's memory, which stays valid because the
    // caller holds a reference to the array.
    const Layout l = layout_of(a);
    const auto item = static_cast<std::size_t>(PyArray_ITEMSIZE(a));
    detached([&] { copy_layout(l, item, static_cast<char*>(dst)); });
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
