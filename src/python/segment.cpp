#include "python/segment.hpp"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

#include "detector/detector.hpp"
#include "python/once.hpp"
#include "python/repr_text.hpp"

namespace tessarin::python {
namespace {

struct SegmentObject {
    PyObject_HEAD
    detector::Segment s;
};

detector::Segment& fields(PyObject* self) { return reinterpret_cast<SegmentObject*>(self)->s; }

template <double detector::Segment::*Field>
PyObject* get_field(PyObject* self, void*) {
    return PyFloat_FromDouble(fields(self).*Field);
}

PyObject* get_angle(PyObject* self, void*) {
    const detector::Segment& s = fields(self);
    double a = std::atan2(s.y2 - s.y1, s.x2 - s.x1) * 57.29577951308232;
    if (a > 90.0) a = a + -180.0;
    if (a <= -90.0) a = a + 180.0;
    return PyFloat_FromDouble(a);
}

// The length the detector sorts its results by.
PyObject* get_length(PyObject* self, void*) { return PyFloat_FromDouble(detector::segment_length(fields(self))); }

PyObject* segment_repr(PyObject* self) {
    std::string text = segment_text(fields(self));
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

void segment_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyGetSetDef segment_getset[] = {
    {"x1", get_field<&detector::Segment::x1>, nullptr, nullptr, nullptr},
    {"y1", get_field<&detector::Segment::y1>, nullptr, nullptr, nullptr},
    {"x2", get_field<&detector::Segment::x2>, nullptr, nullptr, nullptr},
    {"y2", get_field<&detector::Segment::y2>, nullptr, nullptr, nullptr},
    {"width", get_field<&detector::Segment::width>, nullptr, nullptr, nullptr},
    {"precision", get_field<&detector::Segment::precision>, nullptr, nullptr, nullptr},
    {"log_nfa", get_field<&detector::Segment::log_nfa>, nullptr, nullptr, nullptr},
    {"angle", get_angle, nullptr, "Direction in degrees, -90 to 90, 0 = horizontal.", nullptr},
    {"length", get_length, nullptr, "Length in pixels.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot segment_slots[] = {
    {Py_tp_doc, const_cast<char*>("One detected line segment, in input-image coordinates.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(segment_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(segment_repr)},
    {Py_tp_getset, segment_getset},
    {0, nullptr},
};

PyType_Spec segment_spec = {
    "tessarin.Segment",
    static_cast<int>(sizeof(SegmentObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    segment_slots,
};

ProcessType g_segment_type(segment_spec);

}  // namespace

PyTypeObject* segment_type() { return g_segment_type.get(); }

PyObject* new_segment(PyTypeObject* type, const detector::Segment& record) {
    PyObject* obj = type->tp_alloc(type, 0);
    if (obj == nullptr) return nullptr;
    fields(obj) = record;
    return obj;
}

}  // namespace tessarin::python
