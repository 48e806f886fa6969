// Entry points of the detector for tests and benchmarks only: references that
// the fast paths must match, and pieces of the pipeline checked on their own.
// Each is defined beside the stage it belongs to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "detector/downscale.hpp"
#include "detector/field.hpp"
#include "detector/nfa.hpp"
#include "detector/types.hpp"

namespace tessarin::detector {

// The counts of count_aligned from the inside test applied to every pixel of
// the clamped bounding box; the reference that count_aligned must match bit
// for bit.
AlignedCount count_aligned_in_box(const Rect& rect, std::span<const Px> field, std::size_t width,
                                  std::size_t height, float grad_threshold);

// seeds_by_norm with the norm range taken from the field, and with marks
// (which may be null) or without.
std::vector<std::uint32_t> seeds_by_norm(std::span<const Px> field, float threshold, std::uint8_t* marks);
std::vector<std::uint32_t> seeds_by_norm(std::span<const Px> field, float threshold);

// grow_region_sum(...).angle(): the region angle in radians.
double grow_region(std::uint32_t seed, std::span<const Px> field, std::span<std::uint8_t> used,
                   std::vector<std::uint32_t>& region, double tolerance, std::size_t width,
                   std::size_t height);

// refine with storage for the region's points of its own.
bool refine(std::vector<std::uint32_t>& region, double& angle_slot, Rect& rect,
            std::span<std::uint8_t> used, std::span<const Px> field,
            std::size_t min_region_size, std::size_t width, std::size_t height);

// log10 of the number of tests for a w × h working image.
double log_nt(std::size_t w, std::size_t h);

// ceil(log_nt / log10(8)), saturated to an unsigned word (NaN or negative: 0).
std::size_t min_region_size(double log_nt);

// Stable sort by length, longest first, lengths ordered by IEEE totalOrder.
void sort_longest_first(std::vector<Segment>& segments);

// A working image made by downscale below.
struct Image {
    std::vector<double> pixels;  // row-major, width × height
    std::size_t width = 0;
    std::size_t height = 0;
};

// Blurs with a Gaussian of sigma 0.6 / scale and picks every output pixel at
// trunc(position / scale). Requires width, height >= 3 and an output of at
// least 3 × 3. The three passes run on the worker pool.
Image downscale(const double* image, std::size_t width, std::size_t height, double scale);

// The same straight from input samples: each input row is widened to its
// working values (working_value) just before it is blurred, so no widened
// copy of the whole image is made. The result is that of downscale on the
// widened image, bit for bit.
Image downscale(const std::uint8_t* image, std::size_t width, std::size_t height, double scale);
Image downscale(const std::uint16_t* image, std::size_t width, std::size_t height, double scale);
Image downscale(const float* image, std::size_t width, std::size_t height, double scale);

// level_line_field_into into a new vector.
std::vector<Px> level_line_field(const double* image, std::size_t width, std::size_t height);

}  // namespace tessarin::detector
