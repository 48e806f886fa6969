// The remap's widening of map entries two lanes wide, for aarch64.
#include "simd/lanes.hpp"
#include "warp/map_widen_lanes.hpp"

#if defined(TESSARIN_SIMD_NEON)
TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::WidenKernels, Neon,
                        {tessarin::warp::detail::widen_lanes<tessarin::simd::F64n2>})
#endif
