#include "sample/size_mismatch.hpp"

namespace tessarin::sample {

std::string to_string(const SizeMismatch& e) {
    return "SizeMismatch { expected: " + std::to_string(e.expected) +
           ", got: " + std::to_string(e.got) + " }";
}

std::ostream& operator<<(std::ostream& os, const SizeMismatch& e) { return os << to_string(e); }

}  // namespace tessarin::sample
