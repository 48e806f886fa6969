// The remap's widening of map entries written once over a lane type, the
// entries after the last whole vector by widen_entries (map_widen.hpp). Each
// variant file includes this header and gets its own copy (internal
// linkage), compiled for its instruction set; keep it free of library
// templates (see simd/dispatch.hpp).
#pragma once

#include <cstddef>

#include "simd/lanes.hpp"
#include "warp/map_widen.hpp"

namespace tessarin::warp::detail {
namespace {

template <simd::DoubleLanes L>
void widen_lanes(const float* mx, const float* my, std::size_t n, double* sx, double* sy) {
    constexpr std::size_t lanes = L::lanes;
    std::size_t i = 0;
    for (; i + lanes <= n; i += lanes) {
        L::store(sx + i, L::load_floats(mx + i));
        L::store(sy + i, L::load_floats(my + i));
    }
    widen_entries(mx + i, my + i, n - i, sx + i, sy + i);
}

}  // namespace
}  // namespace tessarin::warp::detail
