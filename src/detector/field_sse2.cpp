// The level-line field's row loop two lanes wide, the x86-64 baseline.
#include "simd/lanes.hpp"
#include "detector/field_row.hpp"

#if defined(TESSARIN_SIMD_X86)
void tessarin::detector::field_detail::field_rows_sse2(const double* image, Px* field, std::size_t width,
                                                       std::size_t begin, std::size_t end) {
    field_rows<simd::F64x2>(image, field, width, begin, end);
}
#endif
