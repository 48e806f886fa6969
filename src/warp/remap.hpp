// Resampling of an image through a pair of per-pixel coordinate maps.
#pragma once

#include <cstddef>
#include <span>

#include "sample/buffer.hpp"
#include "sample/size_mismatch.hpp"
#include "warp/filter.hpp"

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

}  // namespace tessarin::warp
