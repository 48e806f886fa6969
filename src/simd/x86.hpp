// The x86-64 intrinsics, for the SSE2 and AVX2 variants. Include it before
// any TESSARIN_BEGIN_AVX2 region; elsewhere it declares nothing.
#pragma once

#include "simd/dispatch.hpp"

#if defined(TESSARIN_SIMD_X86)
#include <immintrin.h>
#endif
