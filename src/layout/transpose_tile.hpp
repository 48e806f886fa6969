// The transposing copy's tiles, written once over a byte lane type
// (simd/bytes.hpp), and the element-by-element definition they agree with.
//
// A square tile of n = 16 / S elements a side is transposed in log2(n)
// rounds of interleaving (x86 unpack, aarch64 zip), each round pairing vector
// i with vector i + n/2: a round rotates the bits of (row, column) by one, so
// after log2(n) rounds rows and columns have traded places. Elements are only
// moved, never combined.
//
// Each variant file (transpose_sse2.cpp, transpose_neon.cpp) includes this
// header and gets its own copy of the kernels (internal linkage), compiled
// for its instruction set; keep it free of library templates (see
// simd/dispatch.hpp).
#pragma once

#include <cstddef>
#include <cstring>

#include "layout/transpose.hpp"
#include "simd/bytes.hpp"
#include "simd/dispatch.hpp"

namespace tessarin::layout::transpose_detail {
namespace {

// For y in [y0, y1) and q in [q0, q1), row by row: the S bytes at
// first + y * S + offsets[q] to out + y * row_bytes + q * S.
template <std::size_t S>
TESSARIN_ALWAYS_INLINE void elements(const char* first, const std::ptrdiff_t* offsets, std::size_t q0, std::size_t q1,
                                     std::size_t y0, std::size_t y1, char* out, std::size_t row_bytes) {
    for (std::size_t y = y0; y < y1; ++y)
        for (std::size_t q = q0; q < q1; ++q) std::memcpy(out + y * row_bytes + q * S, first + y * S + offsets[q], S);
}

// For j, q < n: element j of column q, the S bytes at cols[q] + j * S, to
// out + j * row_bytes + q * S.
template <simd::ByteLanes L, std::size_t S>
TESSARIN_ALWAYS_INLINE void tile(const char* const* cols, char* out, std::size_t row_bytes) {
    using V = typename L::V;
    constexpr std::size_t n = L::bytes / S;
    V r[n];
    TESSARIN_UNROLL(16)
    for (std::size_t q = 0; q < n; ++q) r[q] = L::load(cols[q]);
    TESSARIN_UNROLL(4)
    for (std::size_t round = 1; round < n; round *= 2) {
        V t[n];
        TESSARIN_UNROLL(8)
        for (std::size_t i = 0; i < n / 2; ++i) {
            t[2 * i] = L::template zip_low<S>(r[i], r[i + n / 2]);
            t[2 * i + 1] = L::template zip_high<S>(r[i], r[i + n / 2]);
        }
        TESSARIN_UNROLL(16)
        for (std::size_t i = 0; i < n; ++i) r[i] = t[i];
    }
    TESSARIN_UNROLL(16)
    for (std::size_t j = 0; j < n; ++j) L::store(out + j * row_bytes, r[j]);
}

// The columns kernel of TransposeKernels: whole tiles where both the rows
// and the columns left fill one, elements one at a time for the rest, in the
// order the tiles go (a tile's rows, then the columns beside it). Fixed is a
// count of columns known at compile time (0: count's own), for which the
// loop over a row's tiles unrolls.
template <simd::ByteLanes L, std::size_t S, std::size_t Fixed>
TESSARIN_ALWAYS_INLINE void columns_of_count(const char* first, const std::ptrdiff_t* offsets, std::size_t count,
                                             std::size_t rows, char* out, std::size_t row_bytes) {
    constexpr std::size_t n = L::bytes / S;
    if constexpr (Fixed != 0) count = Fixed;
    const std::size_t tiled = count / n * n, tiled_rows = rows / n * n;
    for (std::size_t y = 0; y < tiled_rows; y += n) {
        const char* in = first + y * S;
        char* o = out + y * row_bytes;
        for (std::size_t q0 = 0; q0 < tiled; q0 += n) {
            const char* cols[n];
            for (std::size_t q = 0; q < n; ++q) cols[q] = in + offsets[q0 + q];
            tile<L, S>(cols, o + q0 * S, row_bytes);
        }
        elements<S>(first, offsets, tiled, count, y, y + n, out, row_bytes);
    }
    elements<S>(first, offsets, 0, count, tiled_rows, rows, out, row_bytes);
}

// Blocks of TransposeKernels::block_columns columns, all but the last of a
// copy's, take the unrolled loop: with the tile loop's count unknown, 2-byte
// RGB in Fortran order (1920 x 1080) copied 13% slower than with it known.
template <simd::ByteLanes L, std::size_t S>
void columns(const char* first, const std::ptrdiff_t* offsets, std::size_t count, std::size_t rows, char* out,
             std::size_t row_bytes) {
    constexpr std::size_t block = TransposeKernels::block_columns;
    if (count == block)
        columns_of_count<L, S, block>(first, offsets, count, rows, out, row_bytes);
    else
        columns_of_count<L, S, 0>(first, offsets, count, rows, out, row_bytes);
}

// The table of a variant whose vectors are L: the columns kernel for each
// element size.
template <simd::ByteLanes L>
constexpr TransposeKernels lane_kernels() {
    return {{columns<L, 1>, columns<L, 2>, columns<L, 4>, columns<L, 8>}};
}

}  // namespace
}  // namespace tessarin::layout::transpose_detail
