// The transposing copy's tiles in SSE2 unpacks, the x86-64 baseline.
#include "layout/transpose.hpp"
#include "layout/transpose_tile.hpp"
#include "simd/bytes.hpp"

#if defined(TESSARIN_SIMD_X86)
TESSARIN_DEFINE_KERNELS(tessarin::layout::TransposeKernels, Sse2,
                        tessarin::layout::transpose_detail::lane_kernels<tessarin::simd::U8x16>())
#endif
