// The level-line field's row kernel two lanes wide, for aarch64.
#include "simd/lanes.hpp"
#include "detector/field_row.hpp"

#if defined(TESSARIN_SIMD_NEON)
TESSARIN_DEFINE_KERNELS(tessarin::detector::field_detail::FieldKernels, Neon,
                        {tessarin::detector::field_detail::field_rows<tessarin::simd::F64n2>})
#endif
