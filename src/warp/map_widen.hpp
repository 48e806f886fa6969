// The remap's map entries of a run as doubles, one kernel family
// (simd/dispatch.hpp). Widening a float to a double is exact, so every
// variant gives the bits of widen_entries, the definition and the scalar
// table (map_widen.cpp); the vector tables run map_widen_lanes.hpp over their
// lane type (map_widen_sse2.cpp, map_widen_avx2.cpp, map_widen_neon.cpp).
#pragma once

#include <cstddef>

#include "simd/dispatch.hpp"

namespace tessarin::warp::detail {

inline void widen_entries(const float* mx, const float* my, std::size_t n, double* sx, double* sy) {
    for (std::size_t i = 0; i < n; ++i) {
        sx[i] = static_cast<double>(mx[i]);
        sy[i] = static_cast<double>(my[i]);
    }
}

struct WidenKernels {
    void (*widen)(const float* mx, const float* my, std::size_t n, double* sx, double* sy);
};

}  // namespace tessarin::warp::detail

TESSARIN_DECLARE_KERNELS(tessarin::warp::detail::WidenKernels)
