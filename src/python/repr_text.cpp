#include "python/repr_text.hpp"

#include <cmath>
#include <cstddef>
#include <cstdio>

namespace tessarin::python {

void append_number(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
    } else if (std::isinf(v)) {
        out += v < 0 ? "-inf" : "inf";
    } else {
        char buf[400];  // the largest double has 309 integer digits
        int n = std::snprintf(buf, sizeof buf, "%.1f", v);
        out.append(buf, static_cast<std::size_t>(n));
    }
}

std::string segment_text(const detector::Segment& s) {
    std::string text = "Segment((";
    append_number(text, s.x1);
    text += ", ";
    append_number(text, s.y1);
    text += ")-(";
    append_number(text, s.x2);
    text += ", ";
    append_number(text, s.y2);
    text += "), width=";
    append_number(text, s.width);
    text += ")";
    return text;
}

}  // namespace tessarin::python
