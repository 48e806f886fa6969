// The remap's widening of map entries four lanes wide, for processors with
// AVX2.
//
// Compiled for AVX2 in this unit alone and entered only where the dispatch
// layer found AVX2; every header is included before the AVX2 region except
// the kernel itself (see simd/dispatch.hpp).
#include <cstddef>

#include "simd/lanes.hpp"
#include "warp/map_widen.hpp"

#if defined(TESSARIN_SIMD_X86)

TESSARIN_BEGIN_AVX2
#include "warp/map_widen_lanes.hpp"

namespace tessarin::warp::detail {
namespace {

void widen(const float* mx, const float* my, std::size_t n, double* sx, double* sy) {
    widen_lanes<simd::F64x4>(mx, my, n, sx, sy);
}

}  // namespace
}  // namespace tessarin::warp::detail
TESSARIN_END_AVX2

TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::WidenKernels, Avx2, {tessarin::warp::detail::widen})

#endif
