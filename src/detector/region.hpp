// Region growing and rectangle fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "detector/types.hpp"

namespace tessarin::detector {

// The sum S of a region's unit vectors; the region angle is atan2(Sy, Sx).
struct RegionSum {
    double sx, sy;
    double angle() const;
};

// grow_region without the final atan2, for a caller that needs the angle of
// only some regions: grow_region(...) == grow_region_sum(...).angle().
RegionSum grow_region_sum(std::uint32_t seed, std::span<const Px> field, std::span<std::uint8_t> used,
                          std::vector<std::uint32_t>& region, double tolerance, std::size_t width,
                          std::size_t height);

// Empties `region`, grows it from `seed` (first entry), marks its pixels used
// and returns the region angle in radians.
double grow_region(std::uint32_t seed, std::span<const Px> field, std::span<std::uint8_t> used,
                   std::vector<std::uint32_t>& region, double tolerance, std::size_t width,
                   std::size_t height);

// The rectangle of a non-empty region.
Rect region_to_rect(std::span<const std::uint32_t> region, std::span<const Px> field,
                    std::size_t width, double angle, double p);

}  // namespace tessarin::detector
