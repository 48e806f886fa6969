// The samplers' runs for the x86-64 baseline: pixel by pixel like the scalar
// runs, with the Lanczos-3 products and sums in SSE2 registers
// (samplers_sse2.hpp).
#include "warp/samplers_sse2.hpp"
#include "warp/samplers_wide.hpp"

#if defined(TESSARIN_SIMD_X86)
TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::SamplerKernels, Sse2,
                        tessarin::warp::detail::pixel_sampler_kernels<tessarin::warp::detail::Sse2Lanczos3>())
#endif
