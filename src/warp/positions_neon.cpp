// The warp's positions two lanes wide, for aarch64.
#include "simd/lanes.hpp"
#include "warp/positions_lanes.hpp"

#if defined(TESSARIN_SIMD_NEON)
TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::PositionKernels, Neon,
                        {tessarin::warp::detail::positions_lanes<tessarin::simd::F64n2>})
#endif
