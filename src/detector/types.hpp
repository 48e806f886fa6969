// Records shared by the stages of the segment detector.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessarin::detector {

// One pixel of the level-line field: gradient norm and the unit direction of
// the level line, in 32-bit floats so the seed loop touches little memory.
struct Px {
    float norm;
    float ux;
    float uy;
};
static_assert(sizeof(Px) == 12);

// The candidate rectangle of a region.
struct Rect {
    double x1, y1, x2, y2;  // end points of the centre line
    double width;
    double dx, dy;          // unit direction of the centre line
    double prec;            // angle tolerance, radians
    double p;               // probability that a pixel is aligned
};

// One validated segment in input-image coordinates.
struct Segment {
    double x1, y1, x2, y2;
    double width;
    double precision;
    double log_nfa;
};

// Column and row of pixel index i in an image `width` pixels wide. Indices are
// 32-bit, so the division is done in 32 bits whenever the width fits, which is
// much cheaper than a 64-bit one.
struct PixelXY {
    std::size_t x, y;
};
inline PixelXY pixel_xy(std::uint32_t i, std::size_t width) {
    if (width <= UINT32_MAX) {
        const auto w = static_cast<std::uint32_t>(width);
        return {i % w, i / w};
    }
    return {i % width, i / width};
}

// 5.226252 as a 32-bit float, compared in 32-bit float arithmetic.
inline constexpr float grad_threshold = 5.226252f;

}  // namespace tessarin::detector
