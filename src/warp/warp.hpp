// Perspective warp of an RGB image through an inverse homography.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "sample/buffer.hpp"
#include "sample/size_mismatch.hpp"
#include "warp/filter.hpp"
#include "warp/image_view.hpp"

namespace tessarin::warp {

// Renders out_width x out_height RGB pixels. Output pixel (x, y) shows the
// plane point (x / scale + off_x, y / scale + off_y), which `inverse` (a 3x3
// matrix, row-major) maps to the source position that is sampled. Pixels whose
// homogeneous w is zero or whose position falls outside the source stay 0.
//
// Returns SizeMismatch when src does not hold width * height * 3 samples.
// Throws std::overflow_error when out_width * out_height * 3 samples, or their
// size in bytes, overflow a machine word, std::bad_alloc when they cannot be
// allocated.
template <class T>
sample::Result<sample::Buffer<T>> warp_rgb(std::span<const T> src, std::size_t width, std::size_t height,
                                           std::size_t out_width, std::size_t out_height,
                                           const std::array<double, 9>& inverse, double scale, double off_x,
                                           double off_y, Filter filter);

// The same over a source image read where it lies, with the same result bits
// as over its pixels copied row after row. Throws as above; returns no
// SizeMismatch.
template <class T>
sample::Result<sample::Buffer<T>> warp_rgb(ImageView<T> src, std::size_t width, std::size_t height,
                                           std::size_t out_width, std::size_t out_height,
                                           const std::array<double, 9>& inverse, double scale, double off_x,
                                           double off_y, Filter filter);

}  // namespace tessarin::warp
