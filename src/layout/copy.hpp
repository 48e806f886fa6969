// The logical row-major copy of an array in any layout: what an input that
// cannot be read in place (Fortran order, transposed, reversed or BGR views,
// channel-first images with their channels moved last, crops of packed bytes)
// is turned into before the detector or a resampler reads it. The copy works
// on the layout alone, element size, shape and byte strides, and only moves
// bytes: every route gives the bytes of the plain element-by-element copy.
#pragma once

#include <cstddef>

#include "simd/dispatch.hpp"

namespace tessarin::layout {

// Where an array's elements lie: element (i_0, ..., i_{rank-1}) is the `item`
// bytes at base + i_0 * strides[0] + ... + i_{rank-1} * strides[rank-1]. The
// byte strides may be negative, zero or not a multiple of `item`, and base
// need not be aligned. shape and strides hold `rank` entries each.
struct Strided {
    const char* base;
    std::size_t item;
    int rank;
    const std::ptrdiff_t* shape;
    const std::ptrdiff_t* strides;
};

// Whether the elements lie in row-major order without gaps (a stride along
// an axis of one element is never taken) at an address aligned for `item`,
// so that they can be read in place. True for an array without elements.
bool in_place(const Strided& a);

// The way copy_logical moves a layout's elements, from its shape, strides
// and element size and the vector variant in use (simd::chosen()).
enum class Route {
    none,      // no elements
    rows,      // each row's bytes already in order: one memcpy per row
    planes,    // three channels, each a run of its own per row: interleaved in vectors
    shuffled,  // each row one run of bytes in another order (reversed, BGR): byte shuffles
    elements,  // rows gathered element by element
    blocks,    // axis 0 the shortest stride (Fortran order, transposes): tiles of rows
    general,   // another rank (not 2 or 3) or element size (not 1, 2, 4 or 8): element by element
};
Route route(const Strided& a);
// The route in variant v.
Route route(const Strided& a, simd::Variant v);

// Copies the elements of `a` in logical row-major order to `out`, which
// holds (product of the shape) * item bytes and does not overlap the array.
void copy_logical(const Strided& a, void* out);

}  // namespace tessarin::layout
