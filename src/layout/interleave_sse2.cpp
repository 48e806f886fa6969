// The interleaving kernel under SSE2, which has no byte shuffle: the scalar
// table, so channel planes go element by element.
#include "layout/interleave.hpp"

#if defined(TESSARIN_SIMD_X86)
TESSARIN_KERNELS_AS(tessarin::layout::InterleaveKernels, Sse2, Scalar)
#endif
