// Level-line field and seed ordering.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "detector/types.hpp"

namespace tessarin::detector {

// width × height records; the last row and the last column are all zero.
// Rows are computed on the worker pool.
std::vector<Px> level_line_field(const double* image, std::size_t width, std::size_t height);

// The same into caller storage of width × height records, every one of which
// is written (the storage need not be initialised).
void level_line_field_into(const double* image, std::size_t width, std::size_t height, Px* field);

// Indices of the pixels whose norm exceeds `threshold`, strongest bins first.
std::vector<std::uint32_t> seeds_by_norm(std::span<const Px> field, float threshold);

// The same, also writing marks[i] = 1 where the norm is at most `threshold`
// and 0 elsewhere (the initial used marks), in the same pass over the field.
// marks holds field.size() bytes; it may be null.
std::vector<std::uint32_t> seeds_by_norm(std::span<const Px> field, float threshold, std::uint8_t* marks);

}  // namespace tessarin::detector
