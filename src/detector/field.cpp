// Placeholder until the level-line field lands: no pixel has a direction, so
// the pipeline finds no seeds and returns no segments.
#include "detector/field.hpp"

namespace tessarin::detector {

std::vector<Px> level_line_field(const double*, std::size_t width, std::size_t height) {
    return std::vector<Px>(width * height);  // not yet built
}

std::vector<std::uint32_t> seeds_by_norm(std::span<const Px>, float) { return {}; }

}  // namespace tessarin::detector
