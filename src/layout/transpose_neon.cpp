// The transposing copy's tiles in NEON zips, for aarch64.
#include "layout/transpose.hpp"
#include "layout/transpose_tile.hpp"
#include "simd/bytes.hpp"

#if defined(TESSARIN_SIMD_NEON)
TESSARIN_DEFINE_KERNELS(tessarin::layout::TransposeKernels, Neon,
                        tessarin::layout::transpose_detail::lane_kernels<tessarin::simd::U8n16>())
#endif
