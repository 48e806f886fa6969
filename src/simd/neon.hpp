// The aarch64 vector intrinsics, for the NEON variants. Kernels use separate
// multiplies and adds (vmulq, vaddq), never the fusing vfmaq/vmlaq forms.
// Elsewhere it declares nothing.
#pragma once

#include "simd/dispatch.hpp"

#if defined(TESSARIN_SIMD_NEON)
#include <arm_neon.h>
#endif
