// The blur's row sums two lanes wide, the x86-64 baseline.
#include "simd/lanes.hpp"
#include "detector/downscale_sum.hpp"

#if defined(TESSARIN_SIMD_X86)
void tessarin::detector::downscale_detail::weighted_sum_sse2(const double* const* src, const double* k,
                                                             std::size_t taps, double* out, std::size_t len) {
    weighted_sum_lanes<simd::F64x2>(src, k, taps, out, len);
}
#endif
