#include "warp/remap.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "pool/pool.hpp"
#include "layout/transpose.hpp"
#include "simd/fetch.hpp"
#include "warp/driver.hpp"
#include "warp/map_widen.hpp"

namespace tessarin::warp {
namespace {

inline const float* entry(const MapView& m, std::size_t y, std::size_t x) {
    return m.base + static_cast<std::ptrdiff_t>(y) * m.row_step + static_cast<std::ptrdiff_t>(x) * m.column_step;
}

// Map entries per cache line.
constexpr std::size_t per_line = 64 / sizeof(float);

// Requests the cache lines of a run of n entries that lie side by side from
// `m` on, ahead of their widening: the maps stream from memory and are read
// once, so without the request the widening waits on them while the
// sampler's arithmetic sits idle.
void fetch_entries(const float* m, std::size_t n) {
    for (std::size_t i = 0; i < n; i += per_line) simd::fetch(m + i);
}

// Output rows taken together when a map's entries do not lie side by side
// along a row (Fortran order, transposes, reversed columns): the entries of
// a block of rows are gathered run by run, down the columns where those are
// closer in memory, so that every cache line and page of the map is visited
// once per block rather than once per row. Tall, narrow blocks read each
// column of a Fortran-order map as one long run: 256 rows by 64 columns
// (with every line of the columns ahead requested) measured 12% faster on
// 1920 x 1080 Fortran-order maps than 64 rows by 256 columns, on a
// fourth-generation Zen; 128 by 128 and 512 by 32 were between the two.
constexpr std::size_t block_rows = 256;
constexpr std::size_t block_columns = 64;
// A block's entries, row r at to[r]: up to block_rows rows.
using BlockRow = float[block_columns];

// Entries (y + r, x0 + i) of `m` for r < rows and i < n, into to[r][i]; the
// row holds `columns` entries in all. `transpose` is the call's transposing
// kernel for 4-byte elements.
void gather_block(const MapView& m, std::size_t y, std::size_t rows, std::size_t x0, std::size_t n,
                  std::size_t columns, layout::TransposeKernels::Columns transpose, BlockRow* to) {
    const float* first = entry(m, y, x0);
    const std::ptrdiff_t down = m.row_step, across = m.column_step;
    const auto at = [&](std::size_t r, std::size_t i) {
        return first + static_cast<std::ptrdiff_t>(r) * down + static_cast<std::ptrdiff_t>(i) * across;
    };
    if ((down < 0 ? -down : down) > (across < 0 ? -across : across)) {
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t i = 0; i < n; ++i) to[r][i] = *at(r, i);
        return;
    }
    // Columns far apart defeat the processor's own prefetching (each is on
    // another page), so the columns a few steps ahead are requested by hand:
    // every cache line of a column whose entries follow one another (16
    // columns ahead; 8 and 32 were no better), both ends of the entries of
    // others.
    constexpr std::size_t ahead = 16;
    const auto fetch_ahead = [&](std::size_t i) {
        if (x0 + i + ahead >= columns) return;
        if (down == 1) {
            for (std::size_t r = 0; r < rows; r += per_line) simd::fetch(at(r, i + ahead));
        } else {
            simd::fetch(at(0, i + ahead));
        }
        simd::fetch(at(rows - 1, i + ahead));
    };
    std::size_t i = 0;
    if (down == 1) {
        // Entries that lie one after another down each column (Fortran
        // order) go to the variant's transposing kernel, a tile's width of
        // columns at a time, each after its columns ahead are requested.
        constexpr std::size_t t = layout::tile_lanes<sizeof(float)>;
        const auto* base = reinterpret_cast<const char*>(first);
        for (; i + t <= n; i += t) {
            std::ptrdiff_t offsets[t];
            for (std::size_t q = 0; q < t; ++q) {
                fetch_ahead(i + q);
                offsets[q] = reinterpret_cast<const char*>(at(0, i + q)) - base;
            }
            transpose(base, offsets, t, rows, reinterpret_cast<char*>(&to[0][i]), sizeof to[0]);
        }
    }
    for (; i < n; ++i) {
        fetch_ahead(i);
        for (std::size_t r = 0; r < rows; ++r) to[r][i] = *at(r, i);
    }
}

struct Maps {
    MapView x, y;
    std::size_t width;
    // Widens a run of entries for the Lanczos-3 sampler (map_widen.hpp), in
    // the call's variant.
    decltype(detail::WidenKernels::widen) widen;
    // Gathers the entries of Fortran-order maps (transpose.hpp), likewise.
    layout::TransposeKernels::Columns transpose;
    // Both maps' runs lie side by side in memory: the common layouts
    // (row-major, flipped rows) are widened from where they lie.
    bool side_by_side() const { return x.column_step == 1 && y.column_step == 1; }
};

// Samples a run of n pixels at the map entries mx[i], my[i]. The bilinear
// sampler takes the entries as they are; Lanczos-3 takes them widened into
// sx, sy.
template <class T, int N, Filter F>
inline void sample_entries(const detail::Source<T>& src, const Maps& maps, const float* mx, const float* my,
                           std::size_t n, double* sx, double* sy, T* out) {
    if constexpr (F == Filter::Bilinear) {
        src.samplers->template runs<T, N>().bilinear_floats(src.data, src.width, src.height, src.row_step, mx, my, n,
                                                            out);
    } else {
        maps.widen(mx, my, n, sx, sy);
        detail::sample_run<T, N, F>(src, sx, sy, n, out);
    }
}

// Rows whose maps' runs lie side by side, one row after another.
template <class T, int N, Filter F>
void remap_rows(const detail::Source<T>& src, const Maps& maps, T* out, std::size_t begin, std::size_t end) {
    constexpr std::size_t run_length = detail::run_length;
    double sx[run_length];
    double sy[run_length];
    const std::size_t out_width = maps.width;
    for (std::size_t y = begin; y < end; ++y) {
        std::fill_n(out + y * out_width * N, out_width * N, T{0});
        for (std::size_t x0 = 0; x0 < out_width; x0 += run_length) {
            const std::size_t n = std::min(run_length, out_width - x0);
            const float* mx = entry(maps.x, y, x0);
            const float* my = entry(maps.y, y, x0);
            // The next run's entries (in this row or the next of this
            // portion) arrive while this run is sampled.
            if (x0 + n < out_width) {
                const std::size_t next = std::min(run_length, out_width - x0 - n);
                fetch_entries(mx + n, next);
                fetch_entries(my + n, next);
            } else if (y + 1 < end) {
                const std::size_t next = std::min(run_length, out_width);
                fetch_entries(entry(maps.x, y + 1, 0), next);
                fetch_entries(entry(maps.y, y + 1, 0), next);
            }
            sample_entries<T, N, F>(src, maps, mx, my, n, sx, sy, out + (y * out_width + x0) * N);
        }
    }
}

// Rows of maps in any other layout, a block of rows at a time. Every pixel
// is sampled from the same entries as above; only the order in which the
// pixels of a portion are visited differs, and no pixel depends on another.
template <class T, int N, Filter F>
void remap_blocks(const detail::Source<T>& src, const Maps& maps, T* out, std::size_t begin, std::size_t end) {
    double sx[block_columns];
    double sy[block_columns];
    const std::size_t out_width = maps.width;
    // The portion's rows in blocks of equal height: a short last block
    // (64 + 3 rows of a 67-row portion) would read a cache line of every
    // column for a few entries.
    const std::size_t blocks_down = (end - begin + block_rows - 1) / block_rows;
    const std::size_t height = (end - begin + blocks_down - 1) / blocks_down;
    // At most 128 KiB for the two blocks, as many rows as a block has: from
    // the heap rather than the stack of whichever thread runs the portion (a
    // failure reaches the caller as std::bad_alloc).
    const std::unique_ptr<BlockRow[]> blocks(new BlockRow[2 * height]);
    BlockRow* bx = blocks.get();
    BlockRow* by = blocks.get() + height;
    for (std::size_t y = begin; y < end; y += height) {
        const std::size_t rows = std::min(height, end - y);
        std::fill_n(out + y * out_width * N, rows * out_width * N, T{0});
        for (std::size_t x0 = 0; x0 < out_width; x0 += block_columns) {
            const std::size_t n = std::min(block_columns, out_width - x0);
            gather_block(maps.x, y, rows, x0, n, out_width, maps.transpose, bx);
            gather_block(maps.y, y, rows, x0, n, out_width, maps.transpose, by);
            for (std::size_t r = 0; r < rows; ++r) {
                sample_entries<T, N, F>(src, maps, bx[r], by[r], n, sx, sy, out + ((y + r) * out_width + x0) * N);
            }
        }
    }
}

template <class T, int N, Filter F>
void remap_portion(const detail::Source<T>& src, const Maps& maps, T* out, std::size_t begin, std::size_t end) {
    if (maps.side_by_side())
        remap_rows<T, N, F>(src, maps, out, begin, end);
    else
        remap_blocks<T, N, F>(src, maps, out, begin, end);
}

}  // namespace

template <class T, int Channels>
sample::Result<sample::Buffer<T>> remap(ImageView<T> src, std::size_t width, std::size_t height, MapView map_x,
                                        MapView map_y, std::size_t out_width, std::size_t out_height,
                                        Filter filter) {
    const std::size_t count = detail::output_count<T>(out_width, out_height, Channels);
    const auto table = detail::table_for(filter);
    // Rows are cleared by the row loop just before they are sampled, as in
    // the warp (warp.cpp).
    auto out = sample::Buffer<T>::unfilled(count);
    if (count == 0) return out;  // no rows, or rows of no pixels

    const detail::Source<T> source{src.data, width, height, src.row_step, table ? &*table : nullptr};
    const Maps maps{map_x, map_y, out_width, simd::pick<detail::WidenKernels>(source.variant).widen,
                    simd::pick<layout::TransposeKernels>(source.variant).template columns_of<sizeof(float)>()};
    T* data = out.data();
    const std::size_t row_cost = detail::row_cost(out_width, Channels, filter);
    pool::parallel_for(out_height, row_cost, [&](std::size_t begin, std::size_t end) {
        if (filter == Filter::Lanczos3)
            remap_portion<T, Channels, Filter::Lanczos3>(source, maps, data, begin, end);
        else
            remap_portion<T, Channels, Filter::Bilinear>(source, maps, data, begin, end);
    });
    return out;
}

template <class T, int Channels>
sample::Result<sample::Buffer<T>> remap(std::span<const T> src, std::size_t width, std::size_t height,
                                        MapView map_x, MapView map_y, std::size_t out_width, std::size_t out_height,
                                        Filter filter) {
    const std::size_t expected = detail::saturating_count(width, height, Channels);
    if (src.size() != expected) return sample::SizeMismatch{expected, src.size()};
    // The length check bounds the row step: width * Channels < 2^63.
    const ImageView<T> view{src.data(), static_cast<std::ptrdiff_t>(width * Channels)};
    return remap<T, Channels>(view, width, height, map_x, map_y, out_width, out_height, filter);
}

template <class T, int Channels>
sample::Result<sample::Buffer<T>> remap(std::span<const T> src, std::size_t width, std::size_t height,
                                        std::span<const float> map_x, std::span<const float> map_y,
                                        std::size_t out_width, std::size_t out_height, Filter filter) {
    const std::size_t expected = detail::saturating_count(width, height, Channels);
    if (src.size() != expected) return sample::SizeMismatch{expected, src.size()};
    const std::size_t pixels = detail::saturating_count(out_width, out_height, 1);
    if (map_x.size() != pixels) return sample::SizeMismatch{pixels, map_x.size()};
    if (map_y.size() != map_x.size()) return sample::SizeMismatch{pixels, map_y.size()};
    // Row steps are below 2^63: the lengths are those of real buffers.
    const auto row = static_cast<std::ptrdiff_t>(out_width);
    const ImageView<T> view{src.data(), static_cast<std::ptrdiff_t>(width * Channels)};
    return remap<T, Channels>(view, width, height, MapView{map_x.data(), row, 1}, MapView{map_y.data(), row, 1},
                              out_width, out_height, filter);
}

#define TESSARIN_REMAP_INSTANCE(T, N)                                                                     \
    template sample::Result<sample::Buffer<T>> remap<T, N>(std::span<const T>, std::size_t, std::size_t, \
                                                           std::span<const float>, std::span<const float>, \
                                                           std::size_t, std::size_t, Filter);            \
    template sample::Result<sample::Buffer<T>> remap<T, N>(std::span<const T>, std::size_t, std::size_t, \
                                                           MapView, MapView, std::size_t, std::size_t, Filter); \
    template sample::Result<sample::Buffer<T>> remap<T, N>(ImageView<T>, std::size_t, std::size_t, MapView,    \
                                                           MapView, std::size_t, std::size_t, Filter);
TESSARIN_REMAP_INSTANCE(std::uint8_t, 1)
TESSARIN_REMAP_INSTANCE(std::uint8_t, 3)
TESSARIN_REMAP_INSTANCE(std::uint16_t, 1)
TESSARIN_REMAP_INSTANCE(std::uint16_t, 3)
#undef TESSARIN_REMAP_INSTANCE

}  // namespace tessarin::warp
