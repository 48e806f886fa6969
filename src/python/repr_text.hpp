// The text form of Segment, kept free of interpreter headers so the native
// tests can check its number formatting directly.
#pragma once

#include <string>

#include "detector/types.hpp"

namespace tessarin::python {

// Fixed-point with one decimal, correctly rounded with ties to even, never an
// exponent; NaN and the infinities by name. The same digits as printf's "%.1f"
// in the "C" locale, whatever locale the process has set.
void append_number(std::string& out, double v);

// "Segment((x1, y1)-(x2, y2), width=w)".
std::string segment_text(const detector::Segment& s);

}  // namespace tessarin::python
