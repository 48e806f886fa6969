// The transposing copy: a copy of an array whose first axis has the shortest
// stride (Fortran order, transposed views) reads each output position's
// elements down a column. Where a column's elements are adjacent, square
// tiles of vector transposes (transpose_tile.hpp) turn element-sized loads
// and stores into whole-vector ones. Elements are only moved, never
// combined: the copy is the same bytes on every path.
#pragma once

#include <cstddef>

#include "simd/dispatch.hpp"

namespace tessarin::layout {

// Elements of `bytes` bytes per side of a 16-byte tile: 16, 8, 4 or 2.
template <std::size_t bytes>
inline constexpr std::size_t tile_lanes = 16 / bytes;

// The transposing copy's kernel, one table per variant (simd::pick), one
// entry per element size (columns_of): for y < rows and q < count, the S
// bytes at first + y * S + offsets[q] (column q's element y) go to
// out + y * row_bytes + q * S. Columns and output need no alignment; the
// columns' bytes must not overlap the output's. Every variant gives the
// bytes of the element loop, which is the scalar table (transpose.cpp); the
// vector ones run transpose_tile.hpp over their lane type
// (transpose_sse2.cpp, transpose_neon.cpp; AVX2 has the SSE2 one).
struct TransposeKernels {
    using Columns = void (*)(const char* first, const std::ptrdiff_t* offsets, std::size_t count, std::size_t rows,
                             char* out, std::size_t row_bytes);
    Columns columns[4];  // elements of 1, 2, 4 and 8 bytes
    // The count of columns the vector kernels are unrolled for: the width of
    // the transposing copy's blocks (copy.cpp).
    static constexpr std::size_t block_columns = 16;

    template <std::size_t S>
    Columns columns_of() const {
        static_assert(S == 1 || S == 2 || S == 4 || S == 8);
        return columns[S == 1 ? 0 : S == 2 ? 1 : S == 4 ? 2 : 3];
    }
};

}  // namespace tessarin::layout

TESSARIN_DECLARE_KERNELS(tessarin::layout::TransposeKernels)
