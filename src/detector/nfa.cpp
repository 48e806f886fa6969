// Placeholder until validation lands; unreachable while there are no seeds.
#include <stdexcept>

#include "detector/nfa.hpp"

namespace tessarin::detector {

double rect_log_nfa(const Rect&, std::span<const Px>, std::size_t, std::size_t, float, double) {
    throw std::logic_error("rect_log_nfa is not yet built");
}

double log_gamma(double) { throw std::logic_error("log_gamma is not yet built"); }

}  // namespace tessarin::detector
