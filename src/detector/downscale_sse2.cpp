// The blur's row sums two lanes wide, the x86-64 baseline.
#include "simd/lanes.hpp"
#include "detector/downscale_sum.hpp"

#if defined(TESSARIN_SIMD_X86)
TESSARIN_DEFINE_KERNELS(tessarin::detector::SumKernels, Sse2,
                        {tessarin::detector::downscale_detail::weighted_sum_lanes<tessarin::simd::F64x2>})
#endif
