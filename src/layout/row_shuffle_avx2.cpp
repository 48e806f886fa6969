// The row shuffle's windows in pshufb, for processors with AVX2 (the build
// marks the byte shuffle for AVX2; see simd/bytes.hpp).
//
// Compiled for AVX2 in this unit alone and entered only where the dispatch
// layer found AVX2; every header is included before the AVX2 region except
// the kernel itself (see simd/dispatch.hpp).
#include <cstddef>

#include "layout/row_shuffle.hpp"
#include "simd/bytes.hpp"

#if defined(TESSARIN_SIMD_X86)

TESSARIN_BEGIN_AVX2
#include "layout/row_shuffle_windows.hpp"

namespace tessarin::layout::row_shuffle_detail {
namespace {

void windows_avx2(const char* in, std::ptrdiff_t in_step, const unsigned char* mask, char* out,
                  std::ptrdiff_t out_step, std::ptrdiff_t count) {
    windows<simd::U8x16Shuffle>(in, in_step, mask, out, out_step, count);
}

}  // namespace
}  // namespace tessarin::layout::row_shuffle_detail
TESSARIN_END_AVX2

TESSARIN_DEFINE_KERNELS(tessarin::layout::RowShuffleKernels, Avx2,
                        {tessarin::layout::row_shuffle_detail::windows_avx2, true})

#endif
