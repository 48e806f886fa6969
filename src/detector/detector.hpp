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

// Length of a segment: hypot(x2 - x1, y2 - y1), the length the results are
// sorted by.
double segment_length(const Segment& s);

}  // namespace tessarin::detector
