// The interleaving kernel in NEON interleaving stores (st3), for aarch64.
#include "layout/interleave.hpp"
#include "layout/interleave_runs.hpp"
#include "simd/bytes.hpp"

#if defined(TESSARIN_SIMD_NEON)
TESSARIN_DEFINE_KERNELS(tessarin::layout::InterleaveKernels, Neon,
                        {tessarin::layout::interleave_detail::runs_lanes<tessarin::simd::U8n16, 1>,
                         tessarin::layout::interleave_detail::runs_lanes<tessarin::simd::U8n16, 2>, true})
#endif
