// detect(gray, scale=...): the Python face of the segment detector.
#include <cstdint>
#include <span>
#include <vector>

#include "detector/detector.hpp"
#include "python/arrays.hpp"
#include "python/common.hpp"
#include "python/dispatch.hpp"
#include "python/functions.hpp"
#include "python/segment.hpp"
#include "sample/size_mismatch.hpp"

namespace tessarin::python {
namespace {

constexpr const char* detect_names[] = {"gray", "scale"};
constexpr Params detect_params{"detect", detect_names, 2, 1};

template <class T>
PyObject* detect_typed(PyArrayObject* array, double scale) {
    const std::size_t height = static_cast<std::size_t>(PyArray_DIM(array, 0));
    const std::size_t width = static_cast<std::size_t>(PyArray_DIM(array, 1));
    // Pixel indices are 32 bits wide; refuse before anything large is copied.
    if (sample::saturating_product({width, height}) >= detector::max_working_pixels) {
        PyErr_SetString(PyExc_ValueError, "detect expects an image of fewer than 2**32 pixels");
        return nullptr;
    }
    PyTypeObject* type = segment_type();
    if (type == nullptr) return nullptr;

    Elements<T> pixels(array);
    sample::Result<std::vector<detector::Segment>> result;
    detached([&] { result = detector::detect(std::span<const T>(pixels.data(), pixels.size()), width, height, scale); });
    const auto* found = produced(result, "the buffer length comes from the array's own shape");
    if (found == nullptr) return nullptr;
    const std::vector<detector::Segment>& segments = *found;
    Ref list(PyList_New(static_cast<Py_ssize_t>(segments.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        PyObject* item = new_segment(type, segments[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* detect_impl(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[2];
    if (!bind(detect_params, args, nargs, kwnames, argv)) return nullptr;
    double scale = 0.8;
    if (argv[1] != nullptr && !number_argument(argv[1], &scale, "scale")) return nullptr;
    if (!ensure_numpy()) return nullptr;
    // Held for the whole call, whatever the caller does meanwhile.
    Ref held = Ref::borrow(argv[0]);
    return by_element_type<double, float, std::uint8_t, std::uint16_t>(
        argv[0], 2, "detect expects a (height, width) array of uint8, uint16, float32 or float64", any_shape,
        [&]<class T>(PyArrayObject* a) { return detect_typed<T>(a, scale); });
}

}  // namespace

PyObject* detect(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return detect_impl(args, nargs, kwnames); });
}

}  // namespace tessarin::python
