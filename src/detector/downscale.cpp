// Placeholder until the Gaussian downscaling lands: the right size, no content.
#include <cmath>
#include <limits>

#include "detector/downscale.hpp"

namespace tessarin::detector {

std::size_t downscaled_size(std::size_t size, double scale) {
    double v = std::floor(static_cast<double>(size) * scale);
    std::size_t n;
    if (!(v > 0.0)) n = 0;
    else if (v >= 18446744073709551616.0) n = std::numeric_limits<std::size_t>::max();
    else n = static_cast<std::size_t>(v);
    return n < 3 ? (n < 2 ? 2 : n) : n;
}

Image downscale(const double*, std::size_t width, std::size_t height, double scale) {
    Image out;  // not yet built
    out.width = downscaled_size(width, scale);
    out.height = downscaled_size(height, scale);
    out.pixels.assign(out.width * out.height, 0.0);
    return out;
}

}  // namespace tessarin::detector
