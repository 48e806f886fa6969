// The segment detector's entry point: from a grayscale pixel buffer to the
// validated segments of the image, longest first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "detector/types.hpp"
#include "sample/size_mismatch.hpp"

namespace tessarin::detector {

// Working images with this many pixels or more cannot be indexed by the 32-bit
// seed and region lists; detect refuses them (std::length_error).
inline constexpr std::uint64_t max_working_pixels = std::uint64_t{1} << 32;

// One instance per sample type (uint8, uint16, float, double); they differ only
// in how the samples are widened to doubles. `pixels.size()` must be
// width × height, else the result is a SizeMismatch.
sample::Result<std::vector<Segment>> detect(std::span<const std::uint8_t> pixels, std::size_t width,
                                            std::size_t height, double scale);
sample::Result<std::vector<Segment>> detect(std::span<const std::uint16_t> pixels, std::size_t width,
                                            std::size_t height, double scale);
sample::Result<std::vector<Segment>> detect(std::span<const float> pixels, std::size_t width,
                                            std::size_t height, double scale);
sample::Result<std::vector<Segment>> detect(std::span<const double> pixels, std::size_t width,
                                            std::size_t height, double scale);

// log10 of the number of tests for a w × h working image.
double log_nt(std::size_t w, std::size_t h);

// ceil(log_nt / log10(8)), saturated to an unsigned word (NaN or negative: 0).
std::size_t min_region_size(double log_nt);

// Length of a segment: hypot(x2 - x1, y2 - y1).
double segment_length(const Segment& s);

// Stable sort by length, longest first, lengths ordered by IEEE totalOrder.
void sort_longest_first(std::vector<Segment>& segments);

}  // namespace tessarin::detector
