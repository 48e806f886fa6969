// The warp's source positions of a run of output pixels in one row, one
// kernel family (simd/dispatch.hpp): each pixel's homogeneous coordinates
// from its column terms (cu, cv, cw) and the row's terms (ru, rv, rw),
// divided through. run_positions is the definition and the scalar table
// (positions.cpp); the vector tables run positions_lanes.hpp over their lane
// type, lane by lane the same additions and divisions (positions_sse2.cpp,
// positions_avx2.cpp, positions_neon.cpp).
#pragma once

#include <cstddef>
#include <limits>

#include "simd/dispatch.hpp"

namespace tessarin::warp::detail {

// A point at infinity (w of either sign of zero) is sent outside every image.
inline void run_positions(const double* cu, const double* cv, const double* cw, double ru, double rv, double rw,
                          std::size_t n, double* sx, double* sy) {
    constexpr double rejected = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < n; ++i) {
        const double w = cw[i] + rw;
        const double qx = (cu[i] + ru) / w;
        const double qy = (cv[i] + rv) / w;
        sx[i] = w == 0.0 ? rejected : qx;
        sy[i] = qy;
    }
}

struct PositionKernels {
    void (*positions)(const double* cu, const double* cv, const double* cw, double ru, double rv, double rw,
                      std::size_t n, double* sx, double* sy);
};

}  // namespace tessarin::warp::detail

TESSARIN_DECLARE_KERNELS(tessarin::warp::detail::PositionKernels)
