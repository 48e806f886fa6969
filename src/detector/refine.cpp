// Placeholder until refinement lands; unreachable while there are no seeds.
#include <stdexcept>

#include "detector/refine.hpp"

namespace tessarin::detector {

bool refine(std::vector<std::uint32_t>&, double&, Rect&, std::span<std::uint8_t>, std::span<const Px>,
            std::size_t, std::size_t, std::size_t) {
    throw std::logic_error("refine is not yet built");
}

double improve_rect(Rect&, std::span<const Px>, std::size_t, std::size_t, float, double) {
    throw std::logic_error("improve_rect is not yet built");
}

}  // namespace tessarin::detector
