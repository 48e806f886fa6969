// Placeholder until region growing lands; unreachable while there are no seeds.
#include <stdexcept>

#include "detector/region.hpp"

namespace tessarin::detector {

double grow_region(std::uint32_t, std::span<const Px>, std::span<std::uint8_t>, std::vector<std::uint32_t>&,
                   double, std::size_t, std::size_t) {
    throw std::logic_error("grow_region is not yet built");
}

Rect region_to_rect(std::span<const std::uint32_t>, std::span<const Px>, std::size_t, double, double) {
    throw std::logic_error("region_to_rect is not yet built");
}

}  // namespace tessarin::detector
