#include "layout/copy.hpp"

#include <cstdint>
#include <cstring>
#include <vector>

#include "layout/interleave.hpp"
#include "layout/row_shuffle.hpp"
#include "layout/transpose.hpp"
#include "simd/dispatch.hpp"

namespace tessarin::layout {
namespace {

// Every element is moved as a whole, with a fixed-size memcpy, so misaligned
// sources are fine; the output is written in logical row-major order.
template <std::size_t S>
inline void move_one(char* out, const char* in) {
    std::memcpy(out, in, S);
}

std::ptrdiff_t magnitude(std::ptrdiff_t v) { return v < 0 ? -v : v; }

// Bytes of one logical row: the element size times axes 1 .. rank-1.
std::size_t row_bytes_of(const Strided& a) {
    std::size_t bytes = a.item;
    for (int i = 1; i < a.rank; ++i) bytes *= static_cast<std::size_t>(a.shape[i]);
    return bytes;
}

// The shuffle that copies one row of a rank 2 or 3 layout in variant v, when
// its rows are one run of bytes (usable() says whether they are).
RowShuffle row_shuffle(const Strided& a, simd::Variant v) {
    return RowShuffle(a.strides[1], a.rank == 3 ? a.strides[2] : 0,
                      a.rank == 3 ? static_cast<std::size_t>(a.shape[2]) : 1, a.item, v);
}

// One logical row of a layout whose rows are not in order already, element
// by element: axes 1 .. rank-1 of the element at `row`.
template <std::size_t S>
void copy_row(const Strided& a, const char* row, char* out) {
    if (a.rank == 2) {
        const std::ptrdiff_t n = a.shape[1], st = a.strides[1];
        for (std::ptrdiff_t x = 0; x < n; ++x) move_one<S>(out + static_cast<std::size_t>(x) * S, row + x * st);
        return;
    }
    // rank 3: pixels of a few channels each.
    const std::ptrdiff_t n = a.shape[1], c = a.shape[2], sx = a.strides[1], sc = a.strides[2];
    if (c == 3) {
        for (std::ptrdiff_t x = 0; x < n; ++x, out += 3 * S) {
            const char* px = row + x * sx;
            move_one<S>(out, px);
            move_one<S>(out + S, px + sc);
            move_one<S>(out + 2 * S, px + 2 * sc);
        }
    } else {
        for (std::ptrdiff_t x = 0; x < n; ++x) {
            const char* px = row + x * sx;
            for (std::ptrdiff_t k = 0; k < c; ++k, out += S) move_one<S>(out, px + k * sc);
        }
    }
}

// Rows of a transposed layout (axis 0 the shortest stride, as in Fortran
// order) are gathered in tiles of block_rows rows by block_cols output
// positions: each position's elements down the tile lie on few cache lines
// (each line serves many rows), and few such streams are read at once. Where
// axis 0 is exactly one element apart, those elements are adjacent and go to
// the variant's transposing kernel (transpose.hpp); the rest goes element by
// element.
// Tall, narrow tiles measured fastest on Fortran-order images: each
// position's column is read as one long run, which the processor's own
// prefetching follows. 768 rows beat 256 at every size tried (4000 x 3000
// RGB bytes 17 ms against 23 ms, 16-bit RGB 30 against 41 ms; 1920 x 1080
// RGB 16-bit 3.8 against 4.7 ms); 1024 rows and more were up to twice as
// slow, once the output rows one tile writes (each a page or more apart)
// outgrow what the caches and the address translation hold at once.
constexpr std::ptrdiff_t block_rows = 768;
constexpr auto block_cols = static_cast<std::ptrdiff_t>(TransposeKernels::block_columns);

template <std::size_t S>
void copy_row_block(const Strided& a, std::ptrdiff_t y0, std::ptrdiff_t rows, char* out, std::size_t row_bytes,
                    TransposeKernels::Columns columns) {
    // Whole 16-byte tiles fit a block, leaving the kernel no partial tiles
    // but in the last block and the last positions.
    static_assert(block_rows % tile_lanes<S> == 0 && block_cols % tile_lanes<S> == 0);
    const std::ptrdiff_t s0 = a.strides[0];
    const char* first = a.base + y0 * s0;
    const std::ptrdiff_t n = a.shape[1], sx = a.strides[1];
    const std::ptrdiff_t c = a.rank == 3 ? a.shape[2] : 1, sc = a.rank == 3 ? a.strides[2] : 0;
    std::ptrdiff_t offset[block_cols];  // source byte offset of each position of the tile
    std::ptrdiff_t x = 0, k = 0;        // the pixel and channel of the next position
    const std::ptrdiff_t positions = n * c;
    for (std::ptrdiff_t p0 = 0; p0 < positions; p0 += block_cols) {
        const std::ptrdiff_t count = positions - p0 < block_cols ? positions - p0 : block_cols;
        for (std::ptrdiff_t q = 0; q < count; ++q) {
            offset[q] = x * sx + k * sc;
            if (++k == c) k = 0, ++x;
        }
        if (s0 == static_cast<std::ptrdiff_t>(S)) {
            columns(first, offset, static_cast<std::size_t>(count), static_cast<std::size_t>(rows),
                    out + static_cast<std::size_t>(p0) * S, row_bytes);
            continue;
        }
        for (std::ptrdiff_t y = 0; y < rows; ++y) {
            const char* in = first + y * s0;
            char* o = out + static_cast<std::size_t>(y) * row_bytes + static_cast<std::size_t>(p0) * S;
            for (std::ptrdiff_t q = 0; q < count; ++q) move_one<S>(o + static_cast<std::size_t>(q) * S, in + offset[q]);
        }
    }
}

// Rank 2 or 3, elements of S bytes, along the route chosen for the layout,
// with variant v's kernels.
template <std::size_t S>
void copy_sized(const Strided& a, Route r, char* out, simd::Variant v) {
    const std::ptrdiff_t h = a.shape[0], s0 = a.strides[0];
    const std::size_t row_bytes = row_bytes_of(a);
    auto out_row = [&](std::ptrdiff_t y) { return out + static_cast<std::size_t>(y) * row_bytes; };
    switch (r) {
        case Route::rows:
            for (std::ptrdiff_t y = 0; y < h; ++y) std::memcpy(out_row(y), a.base + y * s0, row_bytes);
            return;
        case Route::planes: {
            for (std::ptrdiff_t y = 0; y < h; ++y) {
                const char* row = a.base + y * s0;
                const char* runs[3] = {row, row + a.strides[2], row + 2 * a.strides[2]};
                interleave3(runs, static_cast<std::size_t>(a.shape[1]), S, out_row(y), v);
            }
            return;
        }
        case Route::shuffled: {
            const RowShuffle shuffle = row_shuffle(a, v);
            for (std::ptrdiff_t y = 0; y < h; ++y)
                shuffle.copy(a.base + y * s0, static_cast<std::size_t>(a.shape[1]), out_row(y));
            return;
        }
        case Route::elements:
            for (std::ptrdiff_t y = 0; y < h; ++y) copy_row<S>(a, a.base + y * s0, out_row(y));
            return;
        case Route::blocks: {
            const TransposeKernels::Columns columns = simd::pick<TransposeKernels>(v).columns_of<S>();
            for (std::ptrdiff_t y0 = 0; y0 < h; y0 += block_rows)
                copy_row_block<S>(a, y0, h - y0 < block_rows ? h - y0 : block_rows, out_row(y0), row_bytes, columns);
            return;
        }
        default:
            return;
    }
}

// Any other rank or element size: an odometer over the index space, the
// innermost axis a tight loop.
void copy_general(const Strided& a, char* out) {
    const int nd = a.rank;
    const std::size_t item = a.item;
    std::vector<std::ptrdiff_t> index(static_cast<std::size_t>(nd > 0 ? nd : 1), 0);
    const std::ptrdiff_t inner = nd > 0 ? a.shape[nd - 1] : 1;
    const std::ptrdiff_t inner_stride = nd > 0 ? a.strides[nd - 1] : 0;
    for (;;) {
        const char* row = a.base;
        for (int i = 0; i + 1 < nd; ++i) row += index[i] * a.strides[i];
        for (std::ptrdiff_t j = 0; j < inner; ++j) {
            std::memcpy(out, row + j * inner_stride, item);
            out += item;
        }
        int axis = nd - 2;
        while (axis >= 0) {
            if (++index[axis] < a.shape[axis]) break;
            index[axis] = 0;
            --axis;
        }
        if (axis < 0) return;
    }
}

}  // namespace

bool in_place(const Strided& a) {
    for (int i = 0; i < a.rank; ++i)
        if (a.shape[i] == 0) return true;
    auto expected = static_cast<std::ptrdiff_t>(a.item);
    for (int i = a.rank - 1; i >= 0; --i) {
        if (a.shape[i] != 1 && a.strides[i] != expected) return false;
        expected *= a.shape[i];
    }
    // Reading a misaligned element in place is undefined behaviour; such
    // views (into packed bytes, say) are copied like any other layout.
    return reinterpret_cast<std::uintptr_t>(a.base) % a.item == 0;
}

Route route(const Strided& a) { return route(a, simd::chosen()); }

Route route(const Strided& a, simd::Variant v) {
    for (int i = 0; i < a.rank; ++i)
        if (a.shape[i] == 0) return Route::none;
    const std::size_t s = a.item;
    if ((a.rank != 2 && a.rank != 3) || (s != 1 && s != 2 && s != 4 && s != 8)) return Route::general;
    // Transposed: every axis after the first that has more than one element
    // steps further than axis 0. Rows of one element gain nothing from blocks.
    bool transposed = row_bytes_of(a) > s;
    for (int i = 1; i < a.rank; ++i)
        if (a.shape[i] > 1 && magnitude(a.strides[i]) <= magnitude(a.strides[0])) transposed = false;
    if (transposed) return Route::blocks;
    const auto item = static_cast<std::ptrdiff_t>(s);
    const bool in_order = a.rank == 2 ? a.strides[1] == item
                                      : a.strides[2] == item && a.strides[1] == a.shape[2] * a.strides[2];
    if (in_order) return Route::rows;
    // Channels in planes of their own (a channel-first image with its
    // channels moved last): each row holds one run per channel.
    if (a.rank == 3 && a.shape[2] == 3 && a.strides[1] == item && interleaves_in_vectors(s, v))
        return Route::planes;
    return row_shuffle(a, v).usable() ? Route::shuffled : Route::elements;
}

void copy_logical(const Strided& a, void* out) {
    // One variant for the whole call: the route depends on it.
    const simd::Variant v = simd::chosen();
    const Route r = route(a, v);
    char* o = static_cast<char*>(out);
    switch (r) {
        case Route::none:
            return;
        case Route::general:
            copy_general(a, o);
            return;
        default:
            break;
    }
    switch (a.item) {
        case 1: copy_sized<1>(a, r, o, v); return;
        case 2: copy_sized<2>(a, r, o, v); return;
        case 4: copy_sized<4>(a, r, o, v); return;
        default: copy_sized<8>(a, r, o, v); return;
    }
}

}  // namespace tessarin::layout
