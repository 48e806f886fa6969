// The one conversion from doubles to unsigned words the detector uses.
#pragma once

#include <cstddef>
#include <limits>

namespace tessarin::detector {

// Truncates toward zero into an unsigned word; NaN and negatives give 0,
// values at or above 2^64 the largest word.
inline std::size_t saturating_word(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 18446744073709551616.0) return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(v);
}

}  // namespace tessarin::detector
