// The level-line field's row kernel two lanes wide, the x86-64 baseline.
#include "simd/lanes.hpp"
#include "detector/field_row.hpp"

#if defined(TESSARIN_SIMD_X86)
TESSARIN_DEFINE_KERNELS(tessarin::detector::field_detail::FieldKernels, Sse2,
                        {tessarin::detector::field_detail::field_rows<tessarin::simd::F64x2>})
#endif
