// The level-line field's row loop two lanes wide, for aarch64.
#include "simd/lanes.hpp"
#include "detector/field_row.hpp"

#if defined(TESSARIN_SIMD_NEON)
void tessarin::detector::field_detail::field_rows_neon(const double* image, Px* field, std::size_t width,
                                                       std::size_t begin, std::size_t end) {
    field_rows<simd::F64n2>(image, field, width, begin, end);
}
#endif
