// The row shuffle's windows in NEON table lookups (tbl), for aarch64.
#include "layout/row_shuffle.hpp"
#include "layout/row_shuffle_windows.hpp"
#include "simd/bytes.hpp"

#if defined(TESSARIN_SIMD_NEON)
TESSARIN_DEFINE_KERNELS(tessarin::layout::RowShuffleKernels, Neon,
                        {tessarin::layout::row_shuffle_detail::windows<tessarin::simd::U8n16>, true})
#endif
