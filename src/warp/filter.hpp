#pragma once

#include <cstdint>

namespace tessarin::warp {

enum class Filter : std::uint8_t { Bilinear = 0, Lanczos3 = 1 };

}  // namespace tessarin::warp
