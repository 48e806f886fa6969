// The blur's row sums four lanes wide, for processors with AVX2.
//
// Compiled for AVX2 in this unit alone and entered only where the dispatch
// layer found AVX2; every header is included before the AVX2 region except
// the sums themselves (see simd/dispatch.hpp).
#include <cstddef>

#include "detector/downscale.hpp"
#include "simd/lanes.hpp"

#if defined(TESSARIN_SIMD_X86)

TESSARIN_BEGIN_AVX2
#include "detector/downscale_sum.hpp"

namespace tessarin::detector::downscale_detail {
namespace {

void sums(const double* const* src, const double* k, std::size_t taps, double* out, std::size_t len) {
    weighted_sum_lanes<simd::F64x4>(src, k, taps, out, len);
}

}  // namespace
}  // namespace tessarin::detector::downscale_detail
TESSARIN_END_AVX2

TESSARIN_DEFINE_KERNELS(tessarin::detector::SumKernels, Avx2, {tessarin::detector::downscale_detail::sums})

#endif
