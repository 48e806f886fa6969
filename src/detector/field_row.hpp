// The row loop of the level-line field, written once over a lane type.
//
// hypot costs far more than the rest of a pixel, so a row is computed several
// pixels at a time with sqrt(gx² + gy²) and one reciprocal, which give the
// norm and the directions to about 2^-50. That estimate is kept only where it
// cannot change the record: the three 32-bit values must stay the same for
// every value within a relative 2^-44 of it. The estimate and a hypot accurate
// to a few units in the last place are well inside that band, so every kept
// record is bit for bit the one the hypot path gives. Every other pixel (a
// value near a 32-bit rounding boundary, a tiny or huge gradient, NaN,
// infinity) takes the hypot path itself; flat blocks get the zero record.
//
// Each variant file (field_sse2.cpp, field_avx2.cpp, field_neon.cpp) includes
// this header and gets its own copy of the loop (internal linkage),
// compiled for that unit's instruction set, and makes it the rows of its
// FieldKernels table. Keep it free of library
// templates, whose out-of-line copies the linker could share between units
// compiled for different instruction sets.
#pragma once

#include <cstddef>

#include "detector/field.hpp"
#include "simd/lanes.hpp"

namespace tessarin::detector::field_detail {

// Relative half-width of the band in which the estimate must be stable.
inline constexpr double band = 0x1p-44;
// Squared norms outside (2^-200, 2^200) take the hypot path, so the estimate
// never overflows or underflows and the norm never rounds to a 32-bit
// infinity.
inline constexpr double min_square = 0x1p-200;
inline constexpr double max_square = 0x1p+200;

namespace {

template <simd::DoubleLanes V>
inline void field_row(const double* top, const double* bottom, Px* out, std::size_t cols) {
    using D = typename V::D;
    constexpr std::size_t lanes = V::lanes;
    const D half = V::set1(0.5), one = V::set1(1.0), zero = V::set1(0.0);
    const D below = V::set1(1.0 - band), above = V::set1(1.0 + band);
    const D lo_square = V::set1(min_square), hi_square = V::set1(max_square);

    // 1 in each lane where v * (1 - band) and v * (1 + band) round to the same
    // 32-bit float: every value in between, v included, rounds to it too.
    auto stable = [&](D v) { return V::same_floats(V::mul(v, below), V::mul(v, above)); };

    // A chunk is computed into small arrays first and written out after, so
    // that the vector loop has no branches and its iterations overlap.
    constexpr std::size_t chunk = 64;
    static_assert(chunk % lanes == 0);
    float fn[chunk], fux[chunk], fuy[chunk];
    unsigned char sure[chunk / lanes], flat[chunk / lanes];

    std::size_t x = 0;
    while (cols - x >= lanes) {
        const std::size_t len = cols - x >= chunk ? chunk : (cols - x) / lanes * lanes;
        for (std::size_t j = 0; j < len; j += lanes) {
            const double* t0 = top + x + j;
            const double* b0 = bottom + x + j;
            const D i00 = V::load(t0), i10 = V::load(t0 + 1), i01 = V::load(b0), i11 = V::load(b0 + 1);
            const D gx = V::mul(V::sub(V::sub(V::add(i10, i11), i00), i01), half);
            const D gy = V::mul(V::sub(V::sub(V::add(i01, i11), i00), i10), half);
            const D s = V::add(V::mul(gx, gx), V::mul(gy, gy));
            const D in_range = V::both(V::greater(s, lo_square), V::less(s, hi_square));
            // Lanes out of range work on 1 instead, harmlessly; they are redone.
            const D t = V::select(in_range, s, one);
            // One division: the norm and the directions need only land in
            // the band, and products with the reciprocal are within 2^-51 of
            // the quotients.
            const D n = V::sqrt(t);
            const D inv = V::div(one, n);
            const D ux = V::mul(V::negate(gy), inv);
            const D uy = V::mul(gx, inv);
            sure[j / lanes] = static_cast<unsigned char>(V::bits(in_range) & stable(n) & stable(ux) & stable(uy));
            flat[j / lanes] = static_cast<unsigned char>(V::bits(V::both(V::equal(gx, zero), V::equal(gy, zero))));
            V::store_floats(fn + j, n);
            V::store_floats(fux + j, ux);
            V::store_floats(fuy + j, uy);
        }
        for (std::size_t j = 0; j < len; ++j) {
            const unsigned bit = 1u << (j % lanes);
            if (sure[j / lanes] & bit)
                out[x + j] = Px{fn[j], fux[j], fuy[j]};
            else if (!(flat[j / lanes] & bit))
                out[x + j] = block_record(top, bottom, x + j);
            else
                out[x + j] = Px{};  // a flat block has no direction
        }
        x += len;
    }
    for (; x < cols; ++x) out[x] = block_record(top, bottom, x);
}

// Rows [begin, end) of the field of a width-wide image.
template <simd::DoubleLanes V>
inline void field_rows(const double* image, Px* field, std::size_t width, std::size_t begin, std::size_t end) {
    for (std::size_t y = begin; y < end; ++y) {
        const double* top = image + y * width;
        field_row<V>(top, top + width, field + y * width, width - 1);
    }
}

}  // namespace

}  // namespace tessarin::detector::field_detail
