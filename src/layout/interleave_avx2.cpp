// The interleaving kernel in pshufb, for processors with AVX2 (the build
// marks the byte shuffle for AVX2; see simd/bytes.hpp).
//
// Compiled for AVX2 in this unit alone and entered only where the dispatch
// layer found AVX2; every header is included before the AVX2 region except
// the kernel itself (see simd/dispatch.hpp).
#include <cstddef>

#include "layout/interleave.hpp"
#include "simd/bytes.hpp"

#if defined(TESSARIN_SIMD_X86)

TESSARIN_BEGIN_AVX2
#include "layout/interleave_runs.hpp"

namespace tessarin::layout::interleave_detail {
namespace {

void runs1(const char* const* runs, std::size_t n, char* out) { runs_lanes<simd::U8x16Shuffle, 1>(runs, n, out); }
void runs2(const char* const* runs, std::size_t n, char* out) { runs_lanes<simd::U8x16Shuffle, 2>(runs, n, out); }

}  // namespace
}  // namespace tessarin::layout::interleave_detail
TESSARIN_END_AVX2

TESSARIN_DEFINE_KERNELS(tessarin::layout::InterleaveKernels, Avx2,
                        {tessarin::layout::interleave_detail::runs1, tessarin::layout::interleave_detail::runs2,
                         true})

#endif
