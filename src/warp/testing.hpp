// Test-only entry points of the samplers' runs.
#pragma once

#include <cstddef>

#include "simd/dispatch.hpp"
#include "warp/samplers_wide.hpp"

namespace tessarin::warp {

// One run of variant v (which the processor must run), for the tests that
// compare variants run by run: the drivers pick the table once per call.
template <class T, int N>
inline void sample_lanczos3_run(simd::Variant v, const T* src, std::size_t width, std::size_t height,
                                std::ptrdiff_t row_step, const Lanczos3Table& table, const double* xs,
                                const double* ys, std::size_t count, T* out) {
    simd::pick<detail::SamplerKernels>(v).runs<T, N>().lanczos3(src, width, height, row_step, table, xs, ys, count,
                                                                 out);
}

template <class T, int N, class P>
inline void sample_bilinear_run(simd::Variant v, const T* src, std::size_t width, std::size_t height,
                                std::ptrdiff_t row_step, const P* xs, const P* ys, std::size_t count, T* out) {
    simd::pick<detail::SamplerKernels>(v).runs<T, N>().template bilinear_of<P>()(src, width, height, row_step, xs,
                                                                                 ys, count, out);
}

}  // namespace tessarin::warp
