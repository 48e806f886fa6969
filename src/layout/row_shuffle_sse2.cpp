// The row shuffle under SSE2, which has no byte shuffle: the scalar table,
// so rows that would be shuffled go element by element.
#include "layout/row_shuffle.hpp"

#if defined(TESSARIN_SIMD_X86)
TESSARIN_KERNELS_AS(tessarin::layout::RowShuffleKernels, Sse2, Scalar)
#endif
