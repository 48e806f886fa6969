// Region refinement and rectangle improvement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "detector/region.hpp"
#include "detector/types.hpp"

namespace tessarin::detector {

// True keeps the candidate; may rewrite `region`, `used`, `rect` and write the
// regrown region's angle into `angle_slot`. `points` is storage for the
// region's points, which a detection reuses from region to region.
bool refine(std::vector<std::uint32_t>& region, double& angle_slot, Rect& rect,
            std::span<std::uint8_t> used, std::span<const Px> field,
            std::size_t min_region_size, std::size_t width, std::size_t height, RegionPoints& points);

// Improves `rect` in place and returns the log NFA of the rectangle it leaves.
double improve_rect(Rect& rect, std::span<const Px> field, std::size_t width, std::size_t height,
                    float grad_threshold, double log_nt);

}  // namespace tessarin::detector
