// The blur's row sums two lanes wide, for aarch64.
#include "simd/lanes.hpp"
#include "detector/downscale_sum.hpp"

#if defined(TESSARIN_SIMD_NEON)
TESSARIN_DEFINE_KERNELS(tessarin::detector::SumKernels, Neon,
                        {tessarin::detector::downscale_detail::weighted_sum_lanes<tessarin::simd::F64n2>})
#endif
