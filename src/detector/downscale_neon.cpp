// The blur's row sums two lanes wide, for aarch64.
#include "simd/lanes.hpp"
#include "detector/downscale_sum.hpp"

#if defined(TESSARIN_SIMD_NEON)
void tessarin::detector::downscale_detail::weighted_sum_neon(const double* const* src, const double* k,
                                                             std::size_t taps, double* out, std::size_t len) {
    weighted_sum_lanes<simd::F64n2>(src, k, taps, out, len);
}
#endif
