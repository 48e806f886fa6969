// The level-line field's row kernel four lanes wide, for processors with AVX2.
//
// The loop is compiled for AVX2 in this unit alone and entered only where the
// dispatch layer found AVX2. Every header is included before the AVX2 region
// (see simd/dispatch.hpp) except the loop itself.
#include <cstddef>

#include "detector/field.hpp"
#include "simd/lanes.hpp"

#if defined(TESSARIN_SIMD_X86)

TESSARIN_BEGIN_AVX2
#include "detector/field_row.hpp"

namespace tessarin::detector::field_detail {
namespace {

void rows(const double* image, Px* field, std::size_t width, std::size_t begin, std::size_t end) {
    field_rows<simd::F64x4>(image, field, width, begin, end);
}

}  // namespace
}  // namespace tessarin::detector::field_detail
TESSARIN_END_AVX2

TESSARIN_DEFINE_KERNELS(tessarin::detector::field_detail::FieldKernels, Avx2,
                        {tessarin::detector::field_detail::rows})

#endif
