// The remap's widening of map entries two lanes wide, the x86-64 baseline.
#include "simd/lanes.hpp"
#include "warp/map_widen_lanes.hpp"

#if defined(TESSARIN_SIMD_X86)
TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::WidenKernels, Sse2,
                        {tessarin::warp::detail::widen_lanes<tessarin::simd::F64x2>})
#endif
