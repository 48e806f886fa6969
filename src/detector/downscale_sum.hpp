// The row sums of the Gaussian blur, written once over a lane type.
//
// out[x] = 0.0 + k[0] * src[0][x] + k[1] * src[1][x] + ... for x < len: each
// lane holds one column and adds its taps in tap order, each product and sum
// a separate rounded operation, exactly as the scalar loop does. Blocks of
// columns are held in registers while the taps go by, each tap one weight
// times a contiguous run.
//
// Each variant file (downscale_sse2.cpp, downscale_avx2.cpp,
// downscale_neon.cpp) includes this header, gets its own copy (internal
// linkage) compiled for its instruction set and makes it the weighted_sum of
// its SumKernels table; keep it free of library
// templates (see simd/dispatch.hpp).
#pragma once

#include <cstddef>

#include "detector/downscale.hpp"
#include "simd/lanes.hpp"

namespace tessarin::detector::downscale_detail {
namespace {

template <simd::DoubleLanes V>
inline void weighted_sum_lanes(const double* const* src, const double* k, std::size_t taps, double* out,
                               std::size_t len) {
    using D = typename V::D;
    constexpr std::size_t lanes = V::lanes;
    constexpr std::size_t block = 4 * lanes;
    std::size_t x = 0;
    for (; x + block <= len; x += block) {
        D a0 = V::zero(), a1 = V::zero(), a2 = V::zero(), a3 = V::zero();
        for (std::size_t i = 0; i < taps; ++i) {
            const double* s = src[i] + x;
            const D w = V::set1(k[i]);
            a0 = V::add(a0, V::mul(w, V::load(s)));
            a1 = V::add(a1, V::mul(w, V::load(s + lanes)));
            a2 = V::add(a2, V::mul(w, V::load(s + 2 * lanes)));
            a3 = V::add(a3, V::mul(w, V::load(s + 3 * lanes)));
        }
        V::store(out + x, a0);
        V::store(out + x + lanes, a1);
        V::store(out + x + 2 * lanes, a2);
        V::store(out + x + 3 * lanes, a3);
    }
    for (; x < len; ++x) {
        double acc = 0.0;
        for (std::size_t i = 0; i < taps; ++i) acc = acc + k[i] * src[i][x];
        out[x] = acc;
    }
}

}  // namespace
}  // namespace tessarin::detector::downscale_detail
