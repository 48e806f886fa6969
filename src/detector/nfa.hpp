// Validation of rectangles by their number of false alarms.
#pragma once

#include <cstddef>
#include <span>

#include "detector/types.hpp"

namespace tessarin::detector {

// The rectangle's log10 NFA score; above 0 means meaningful.
double rect_log_nfa(const Rect& rect, std::span<const Px> field, std::size_t width,
                    std::size_t height, float grad_threshold, double log_nt);

// ln(Gamma(x)) for x > 0.
double log_gamma(double x);

}  // namespace tessarin::detector
