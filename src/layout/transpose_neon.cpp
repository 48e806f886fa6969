// The transposing copy's tiles in NEON zips, for aarch64.
#include "layout/transpose.hpp"
#include "layout/transpose_tile.hpp"
#include "simd/bytes.hpp"

#if defined(TESSARIN_SIMD_NEON)
TESSARIN_DEFINE_KERNELS(tessarin::layout::TransposeKernels, Neon,
                        {{tessarin::layout::transpose_detail::columns<tessarin::simd::U8n16, 1>,
                          tessarin::layout::transpose_detail::columns<tessarin::simd::U8n16, 2>,
                          tessarin::layout::transpose_detail::columns<tessarin::simd::U8n16, 4>,
                          tessarin::layout::transpose_detail::columns<tessarin::simd::U8n16, 8>}})
#endif
