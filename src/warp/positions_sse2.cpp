// The warp's positions two lanes wide, the x86-64 baseline.
#include "simd/lanes.hpp"
#include "warp/positions_lanes.hpp"

#if defined(TESSARIN_SIMD_X86)
TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::PositionKernels, Sse2,
                        {tessarin::warp::detail::positions_lanes<tessarin::simd::F64x2>})
#endif
