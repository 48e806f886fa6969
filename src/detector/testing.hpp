// Entry points of the detector for tests and benchmarks only: references that
// the fast paths must match, and pieces of the pipeline checked on their own.
// Each is defined beside the stage it belongs to.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "detector/nfa.hpp"
#include "detector/types.hpp"

namespace tessarin::detector {

// The counts of count_aligned from the inside test applied to every pixel of
// the clamped bounding box; the reference that count_aligned must match bit
// for bit.
AlignedCount count_aligned_in_box(const Rect& rect, std::span<const Px> field, std::size_t width,
                                  std::size_t height, float grad_threshold);

// log10 of the number of tests for a w × h working image.
double log_nt(std::size_t w, std::size_t h);

// ceil(log_nt / log10(8)), saturated to an unsigned word (NaN or negative: 0).
std::size_t min_region_size(double log_nt);

// Stable sort by length, longest first, lengths ordered by IEEE totalOrder.
void sort_longest_first(std::vector<Segment>& segments);

}  // namespace tessarin::detector
