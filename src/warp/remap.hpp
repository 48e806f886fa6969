// Resampling of an image through a pair of per-pixel coordinate maps.
#pragma once

#include <cstddef>
#include <span>

#include "sample/buffer.hpp"
#include "sample/size_mismatch.hpp"
#include "warp/filter.hpp"
#include "warp/image_view.hpp"

namespace tessarin::warp {

// Output pixel (x, y) samples the source at (map_x[i], map_y[i]) with
// i = y * out_width + x; the output has the maps' size and Channels samples
// per pixel. Positions outside the source leave the pixel 0.
//
// Returns SizeMismatch, checked in this order, when src does not hold
// width * height * Channels samples, when map_x does not hold
// out_width * out_height values, or when map_y's length differs from map_x's.
// Throws std::overflow_error when the output's sample count, or its size in
// bytes, overflows a machine word, std::bad_alloc when it cannot be allocated.
template <class T, int Channels>
sample::Result<sample::Buffer<T>> remap(std::span<const T> src, std::size_t width, std::size_t height,
                                        std::span<const float> map_x, std::span<const float> map_y,
                                        std::size_t out_width, std::size_t out_height, Filter filter);

// A coordinate map read where it lies: the entry of output pixel (x, y) is
// base[y * row_step + x * column_step], the steps in elements, of either sign
// or zero, so flipped, transposed and broadcast maps need no copy. The
// caller vouches that every entry of the out_width x out_height grid can be
// read, and that nothing writes the maps during the call.
struct MapView {
    const float* base;
    std::ptrdiff_t row_step;
    std::ptrdiff_t column_step;
};

// The same over map views, with the same result bits as over their entries
// copied in row-major order. Returns SizeMismatch only for the source's
// length; throws as above.
template <class T, int Channels>
sample::Result<sample::Buffer<T>> remap(std::span<const T> src, std::size_t width, std::size_t height,
                                        MapView map_x, MapView map_y, std::size_t out_width, std::size_t out_height,
                                        Filter filter);

// The same over a source image read where it lies, with the same result bits
// as over its pixels copied row after row. Throws as above; returns no
// SizeMismatch.
template <class T, int Channels>
sample::Result<sample::Buffer<T>> remap(ImageView<T> src, std::size_t width, std::size_t height, MapView map_x,
                                        MapView map_y, std::size_t out_width, std::size_t out_height,
                                        Filter filter);

}  // namespace tessarin::warp
