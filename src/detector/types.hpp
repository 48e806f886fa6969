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

// Column and row of a pixel index in an image `width` pixels wide. Indices
// are 32-bit; for a width that fits 32 bits too, the division is a multiply
// by M = floor((2^64 - 1) / width) + 1 and a shift by 64, which gives
// floor(i / width) exactly for every 32-bit i and width >= 2 (M is 2^64 /
// width rounded up, and its error times i stays below 2^64 / width). Width 1
// and wider images divide plainly.
struct PixelXY {
    std::size_t x, y;
};

// The upper 64 bits of the 128-bit product a * b, from 32-bit halves (for
// compilers without a 128-bit integer); no partial sum overflows 64 bits.
constexpr std::uint64_t high_product_halves(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t a_lo = a & 0xffffffffu, a_hi = a >> 32, b_lo = b & 0xffffffffu, b_hi = b >> 32;
    const std::uint64_t lo_lo = a_lo * b_lo, hi_lo = a_hi * b_lo, lo_hi = a_lo * b_hi, hi_hi = a_hi * b_hi;
    const std::uint64_t mid = (lo_lo >> 32) + (hi_lo & 0xffffffffu) + lo_hi;
    return hi_hi + (hi_lo >> 32) + (mid >> 32);
}

// The upper 64 bits of the 128-bit product a * b.
constexpr std::uint64_t high_product(std::uint64_t a, std::uint64_t b) {
#if defined(__SIZEOF_INT128__)
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
#else
    return high_product_halves(a, b);
#endif
}

class PixelGrid {
public:
    explicit PixelGrid(std::size_t width)
        : width_(width), magic_(width >= 2 && width <= UINT32_MAX ? UINT64_MAX / width + 1 : 0) {}

    PixelXY xy(std::uint32_t i) const {
        if (magic_ != 0) {
            const auto y = static_cast<std::size_t>(high_product(magic_, i));
            return {i - y * width_, y};
        }
        return {i % width_, i / width_};
    }

private:
    std::size_t width_;
    std::uint64_t magic_;
};

// 5.226252 as a 32-bit float, compared in 32-bit float arithmetic.
inline constexpr float grad_threshold = 5.226252f;

}  // namespace tessarin::detector
