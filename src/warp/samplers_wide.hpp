// The samplers applied to a run of positions, several output pixels at a
// time. Every pixel gets exactly the result of the per-pixel samplers in
// samplers.hpp: the vector variants (samplers_lanes.hpp, one file per
// instruction set) keep each pixel's operations in their order, one pixel per
// lane, and send positions near the border or NaN ones through the per-pixel
// samplers. The scalar and SSE2 variants sample pixel by pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "simd/dispatch.hpp"
#include "warp/samplers.hpp"

namespace tessarin::warp {
namespace detail {

// The vector variants' runs, for the four instances (T, N) of the samplers.
#if defined(TESSARIN_SIMD_X86)
template <class T, int N, class P>
void bilinear_run_avx2(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step, const P* xs,
                       const P* ys, std::size_t count, T* out);
template <class T, int N>
void lanczos3_run_avx2(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step,
                       const Lanczos3Table& table, const double* xs, const double* ys, std::size_t count, T* out);
#endif
#if defined(TESSARIN_SIMD_NEON)
template <class T, int N, class P>
void bilinear_run_neon(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step, const P* xs,
                       const P* ys, std::size_t count, T* out);
template <class T, int N>
void lanczos3_run_neon(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step,
                       const Lanczos3Table& table, const double* xs, const double* ys, std::size_t count, T* out);
#endif

}  // namespace detail

// sample_lanczos3 at (xs[i], ys[i]) into out + i * N for i < count, in
// variant v (which the processor must run; the drivers pass the one chosen
// at the start of their call).
template <class T, int N>
inline void sample_lanczos3_run(simd::Variant v, const T* src, std::size_t width, std::size_t height,
                                std::ptrdiff_t row_step, const Lanczos3Table& table, const double* xs,
                                const double* ys, std::size_t count, T* out) {
#if defined(TESSARIN_SIMD_X86)
    if (v == simd::Variant::Avx2)
        return detail::lanczos3_run_avx2<T, N>(src, width, height, row_step, table, xs, ys, count, out);
#endif
#if defined(TESSARIN_SIMD_NEON)
    if (v == simd::Variant::Neon)
        return detail::lanczos3_run_neon<T, N>(src, width, height, row_step, table, xs, ys, count, out);
#endif
    sample_lanczos3_interleaved<T, N>(src, width, height, row_step, table, xs, ys, count, out);
}

// sample_bilinear at (xs[i], ys[i]) into out + i * N for i < count, in
// variant v, as above. Positions P are doubles or 32-bit floats (taken at
// their exact value as doubles).
template <class T, int N, class P>
inline void sample_bilinear_run(simd::Variant v, const T* src, std::size_t width, std::size_t height,
                                std::ptrdiff_t row_step, const P* xs, const P* ys, std::size_t count, T* out) {
    static_assert(std::is_same_v<P, double> || std::is_same_v<P, float>);
#if defined(TESSARIN_SIMD_X86)
    if (v == simd::Variant::Avx2)
        return detail::bilinear_run_avx2<T, N, P>(src, width, height, row_step, xs, ys, count, out);
#endif
#if defined(TESSARIN_SIMD_NEON)
    if (v == simd::Variant::Neon)
        return detail::bilinear_run_neon<T, N, P>(src, width, height, row_step, xs, ys, count, out);
#endif
    for (std::size_t i = 0; i < count; ++i)
        sample_bilinear<T, N>(src, width, height, row_step, static_cast<double>(xs[i]), static_cast<double>(ys[i]),
                              out + i * N);
}

}  // namespace tessarin::warp
