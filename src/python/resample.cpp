// warp_rgb, remap_rgb and remap_gray: the Python face of the resampling
// drivers. Arguments are converted in a fixed order, each failure noted with
// its parameter; the driver runs detached; the result array adopts the
// driver's buffer without copying it.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "python/arrays.hpp"
#include "python/common.hpp"
#include "python/dispatch.hpp"
#include "python/filter_name.hpp"
#include "python/functions.hpp"
#include "warp/remap.hpp"
#include "warp/warp.hpp"

namespace tessarin::python {
namespace {

constexpr const char* warp_names[] = {"src", "inverse", "scale", "off_x", "off_y", "filter", "out_size"};
constexpr Params warp_params{"warp_rgb", warp_names, 7, 5};
constexpr const char* remap_names[] = {"src", "map_x", "map_y", "filter"};
constexpr Params remap_rgb_params{"remap_rgb", remap_names, 4, 3};
constexpr Params remap_gray_params{"remap_gray", remap_names, 4, 3};

bool inverse_argument(PyObject* obj, std::array<double, 9>& h) {
    const char* param = "inverse";
    if (!PySequence_Check(obj)) return cannot_convert(obj, "Sequence", param);
    Py_ssize_t n = PyObject_Size(obj);
    if (n < 0) return noted(param);
    if (n != 9) {
        PyErr_Format(PyExc_ValueError, "expected a sequence of length 9 (got %zd)", n);
        return noted(param);
    }
    for (Py_ssize_t i = 0; i < 9; ++i) {
        Ref index(PyLong_FromSsize_t(i));
        if (!index) return noted(param);
        Ref item(PyObject_GetItem(obj, index.get()));
        if (!item || !to_double(item.get(), &h[static_cast<std::size_t>(i)])) return noted(param);
    }
    return true;
}

bool size_item(PyObject* item, unsigned long long* out) {
    Ref index;
    if (!PyLong_Check(item)) {
        index.reset(PyNumber_Index(item));
        if (!index) return false;
        item = index.get();
    }
    *out = PyLong_AsUnsignedLongLong(item);
    return !(*out == static_cast<unsigned long long>(-1) && PyErr_Occurred());
}

// None or absent: no size. Otherwise a tuple (width, height).
bool out_size_argument(PyObject* obj, bool* given, unsigned long long* width, unsigned long long* height) {
    const char* param = "out_size";
    *given = obj != nullptr && obj != Py_None;
    if (!*given) return true;
    if (!PyTuple_Check(obj)) return cannot_convert(obj, "tuple", param);
    Py_ssize_t n = PyTuple_GET_SIZE(obj);
    if (n != 2) {
        PyErr_Format(PyExc_ValueError, "expected tuple of length 2, but got tuple of length %zd", n);
        return noted(param);
    }
    if (!size_item(PyTuple_GET_ITEM(obj, 0), width) || !size_item(PyTuple_GET_ITEM(obj, 1), height))
        return noted(param);
    return true;
}

// A two-dimensional native float32 array, or TypeError with the note.
PyArrayObject* map_argument(PyObject* obj, const char* param) {
    if (PyArrayObject* a = match_array(obj, 2, NPY_FLOAT32)) return a;
    if (!PyArray_Check(obj)) {
        cannot_convert(obj, "ndarray", param);
        return nullptr;
    }
    auto* a = reinterpret_cast<PyArrayObject*>(obj);
    Ref dtype(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(a))));
    PyErr_Format(PyExc_TypeError,
                 "array of dtype %s with %d dimension%s cannot be converted to a two-dimensional float32 array",
                 dtype ? PyUnicode_AsUTF8(dtype.get()) : "?", PyArray_NDIM(a), PyArray_NDIM(a) == 1 ? "" : "s");
    noted(param);
    return nullptr;
}

// The shape NumPy will describe: every dimension, and the byte count of the
// dimensions other than 0, must fit its index type (NumPy refuses an empty
// shape whose other dimensions overflow as well). Checked before any work so a
// hopeless size costs nothing.
bool output_fits(std::size_t width, std::size_t height, std::size_t channels, std::size_t item) {
    // The partial products only grow, so bounding the whole bounds each.
    const auto nonzero = [](std::size_t dim) { return dim == 0 ? std::size_t{1} : dim; };
    const auto bytes = sample::checked_product({item, nonzero(height), nonzero(width), nonzero(channels)});
    if (!bytes || *bytes > static_cast<std::size_t>(NPY_MAX_INTP)) {
        PyErr_SetString(PyExc_OverflowError, "the output size does not fit an array");
        return false;
    }
    return true;
}

template <class T>
PyObject* into_array(sample::Result<sample::Buffer<T>>& result, int ndim, const npy_intp* dims, const char* mismatch) {
    sample::Buffer<T>* buffer = produced(result, mismatch);
    if (buffer == nullptr) return nullptr;
    T* data = buffer->release();
    return adopt_buffer(data, NpyType<T>::value, ndim, dims);
}

template <class T>
PyObject* warp_typed(PyArrayObject* src, const std::array<double, 9>& inverse, double scale, double off_x,
                     double off_y, warp::Filter filter, bool sized, unsigned long long out_w,
                     unsigned long long out_h) {
    const auto height = static_cast<std::size_t>(PyArray_DIM(src, 0));
    const auto width = static_cast<std::size_t>(PyArray_DIM(src, 1));
    const std::size_t ow = sized ? static_cast<std::size_t>(out_w) : width;
    const std::size_t oh = sized ? static_cast<std::size_t>(out_h) : height;
    if (!output_fits(ow, oh, 3, sizeof(T))) return nullptr;
    // Rows that lie in order (contiguous, cropped or flipped images) are read
    // where they lie; other layouts are copied first.
    const Rows<T> pixels(src);
    sample::Result<sample::Buffer<T>> result;
    detached([&] {
        result = warp::warp_rgb<T>(warp::ImageView<T>{pixels.data(), pixels.row_step()}, width, height, ow, oh,
                                   inverse, scale, off_x, off_y, filter);
    });
    const npy_intp dims[3] = {static_cast<npy_intp>(oh), static_cast<npy_intp>(ow), 3};
    return into_array(result, 3, dims, "the buffer length comes from the array's own shape");
}

PyObject* warp_impl(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[7];
    if (!bind(warp_params, args, nargs, kwnames, argv)) return nullptr;
    std::array<double, 9> inverse{};
    double scale = 0, off_x = 0, off_y = 0;
    PyObject* filter_name = nullptr;
    bool sized = false;
    unsigned long long out_w = 0, out_h = 0;
    if (!inverse_argument(argv[1], inverse) || !number_argument(argv[2], &scale, "scale") ||
        !number_argument(argv[3], &off_x, "off_x") || !number_argument(argv[4], &off_y, "off_y") ||
        !filter_argument(argv[5], &filter_name) ||
        !out_size_argument(argv[6], &sized, &out_w, &out_h))
        return nullptr;
    warp::Filter filter;
    if (!parse_filter(filter_name, &filter)) return nullptr;
    if (!ensure_numpy()) return nullptr;
    Ref held = Ref::borrow(argv[0]);
    return by_element_type<std::uint8_t, std::uint16_t>(
        argv[0], 3, "warp_rgb expects a (height, width, 3) array of uint8 or uint16", three_channels,
        [&]<class T>(PyArrayObject* src) {
            return warp_typed<T>(src, inverse, scale, off_x, off_y, filter, sized, out_w, out_h);
        });
}

template <class T, int Channels>
PyObject* remap_typed(PyArrayObject* src, PyArrayObject* map_x, PyArrayObject* map_y, warp::Filter filter) {
    const auto height = static_cast<std::size_t>(PyArray_DIM(src, 0));
    const auto width = static_cast<std::size_t>(PyArray_DIM(src, 1));
    const auto oh = static_cast<std::size_t>(PyArray_DIM(map_x, 0));
    const auto ow = static_cast<std::size_t>(PyArray_DIM(map_x, 1));
    if (!output_fits(ow, oh, Channels, sizeof(T))) return nullptr;
    const Rows<T> pixels(src);
    // The maps are read where they lie in any layout of whole, aligned
    // elements: the row loop widens every entry into its run's positions
    // anyway, so a copy would only add a pass over memory (flipped maps cost
    // nothing extra; Fortran-order ones are gathered a block at a time).
    Grid<float> xs(map_x);
    Grid<float> ys(map_y);
    sample::Result<sample::Buffer<T>> result;
    detached([&] {
        result = warp::remap<T, Channels>(warp::ImageView<T>{pixels.data(), pixels.row_step()}, width, height,
                                          warp::MapView{xs.base(), xs.row_step(), xs.column_step()},
                                          warp::MapView{ys.base(), ys.row_step(), ys.column_step()}, ow, oh,
                                          filter);
    });
    const npy_intp dims[3] = {static_cast<npy_intp>(oh), static_cast<npy_intp>(ow), Channels};
    return into_array(result, Channels == 3 ? 3 : 2, dims, "the buffer lengths come from the arrays' own shapes");
}

template <int Channels>
PyObject* remap_impl(const Params& params, const char* refusal, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) {
    PyObject* argv[4];
    if (!bind(params, args, nargs, kwnames, argv)) return nullptr;
    if (!ensure_numpy()) return nullptr;
    PyArrayObject* map_x = map_argument(argv[1], "map_x");
    if (map_x == nullptr) return nullptr;
    PyArrayObject* map_y = map_argument(argv[2], "map_y");
    if (map_y == nullptr) return nullptr;
    PyObject* filter_name = nullptr;
    if (!filter_argument(argv[3], &filter_name)) return nullptr;
    warp::Filter filter;
    if (!parse_filter(filter_name, &filter)) return nullptr;
    Ref held[3] = {Ref::borrow(argv[0]), Ref::borrow(argv[1]), Ref::borrow(argv[2])};
    constexpr int ndim = Channels == 3 ? 3 : 2;
    return by_element_type<std::uint8_t, std::uint16_t>(
        argv[0], ndim, refusal, Channels == 3 ? three_channels : any_shape, [&]<class T>(PyArrayObject* src) {
            if (PyArray_DIM(map_x, 0) != PyArray_DIM(map_y, 0) || PyArray_DIM(map_x, 1) != PyArray_DIM(map_y, 1)) {
                PyErr_SetString(PyExc_ValueError, "map_x and map_y must have the same shape");
                return static_cast<PyObject*>(nullptr);
            }
            return remap_typed<T, Channels>(src, map_x, map_y, filter);
        });
}

}  // namespace

PyObject* warp_rgb(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return warp_impl(args, nargs, kwnames); });
}

PyObject* remap_rgb(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        return remap_impl<3>(remap_rgb_params,
                             "remap_rgb expects a (height, width, 3) array of uint8 or uint16 and float32 maps", args,
                             nargs, kwnames);
    });
}

PyObject* remap_gray(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        return remap_impl<1>(remap_gray_params,
                             "remap_gray expects a (height, width) array of uint8 or uint16 and float32 maps", args,
                             nargs, kwnames);
    });
}

}  // namespace tessarin::python
