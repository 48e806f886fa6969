// The warp's positions four lanes wide, for processors with AVX2.
//
// Compiled for AVX2 in this unit alone and entered only where the dispatch
// layer found AVX2; every header is included before the AVX2 region except
// the kernel itself (see simd/dispatch.hpp).
#include <cstddef>
#include <limits>

#include "simd/lanes.hpp"
#include "warp/positions.hpp"

#if defined(TESSARIN_SIMD_X86)

TESSARIN_BEGIN_AVX2
#include "warp/positions_lanes.hpp"

namespace tessarin::warp::detail {
namespace {

void positions(const double* cu, const double* cv, const double* cw, double ru, double rv, double rw,
               std::size_t n, double* sx, double* sy) {
    positions_lanes<simd::F64x4>(cu, cv, cw, ru, rv, rw, n, sx, sy);
}

}  // namespace
}  // namespace tessarin::warp::detail
TESSARIN_END_AVX2

TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::PositionKernels, Avx2, {tessarin::warp::detail::positions})

#endif
