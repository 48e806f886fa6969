// The warp's run of positions written once over a lane type: run_positions
// (positions.hpp) lane by lane, the pixels after the last whole vector by
// run_positions itself. Each variant file includes this header and gets its
// own copy (internal linkage), compiled for its instruction set; keep it
// free of library templates (see simd/dispatch.hpp).
#pragma once

#include <cstddef>
#include <limits>

#include "simd/lanes.hpp"
#include "warp/positions.hpp"

namespace tessarin::warp::detail {
namespace {

template <simd::DoubleLanes L>
void positions_lanes(const double* cu, const double* cv, const double* cw, double ru, double rv, double rw,
                     std::size_t n, double* sx, double* sy) {
    using D = typename L::D;
    constexpr std::size_t lanes = L::lanes;
    const D u = L::set1(ru), v = L::set1(rv), r = L::set1(rw);
    const D rejected = L::set1(std::numeric_limits<double>::infinity()), zero = L::zero();
    std::size_t i = 0;
    for (; i + lanes <= n; i += lanes) {
        const D w = L::add(L::load(cw + i), r);
        const D qx = L::div(L::add(L::load(cu + i), u), w);
        const D qy = L::div(L::add(L::load(cv + i), v), w);
        L::store(sx + i, L::select(L::equal(w, zero), rejected, qx));  // equal is false for NaN, as ==
        L::store(sy + i, qy);
    }
    run_positions(cu + i, cv + i, cw + i, ru, rv, rw, n - i, sx + i, sy + i);
}

}  // namespace
}  // namespace tessarin::warp::detail
