// The transposing copy under AVX2: the SSE2 tiles, which AVX2 runs as they
// are (the copy's blocks are shaped for 16-byte tiles).
#include "layout/transpose.hpp"

#if defined(TESSARIN_SIMD_X86)
TESSARIN_KERNELS_AS(tessarin::layout::TransposeKernels, Avx2, Sse2)
#endif
