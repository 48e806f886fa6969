// The samplers applied to a run of positions, several output pixels at a
// time: one kernel family (simd/dispatch.hpp), SamplerKernels, whose table
// holds the runs of every instance (T, N) of the samplers. Every pixel gets
// exactly the result of the per-pixel samplers in samplers.hpp.
//
// The scalar table samples pixel by pixel with the definition (samplers.cpp);
// the SSE2 table does too, with the Lanczos-3 products and sums in SSE2
// registers (samplers_sse2.hpp, samplers_sse2.cpp); the AVX2 and NEON tables
// run the lane kernels of samplers_lanes.hpp (samplers_avx2.cpp,
// samplers_neon.cpp), one pixel per lane, and send positions near the border
// or NaN ones through the per-pixel samplers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "simd/dispatch.hpp"
#include "warp/samplers.hpp"

namespace tessarin::warp::detail {

// sample_bilinear at (xs[i], ys[i]) into out + i * N for i < count, the
// positions P being doubles or 32-bit floats (taken at their exact value as
// doubles).
template <class T, class P>
using BilinearRun = void (*)(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step,
                             const P* xs, const P* ys, std::size_t count, T* out);

// sample_lanczos3 at (xs[i], ys[i]) into out + i * N for i < count.
template <class T>
using Lanczos3Run = void (*)(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step,
                             const Lanczos3Table& table, const double* xs, const double* ys, std::size_t count,
                             T* out);

// The runs of one instance (T, N).
template <class T, int N>
struct SamplerRuns {
    BilinearRun<T, double> bilinear;
    BilinearRun<T, float> bilinear_floats;
    Lanczos3Run<T> lanczos3;

    template <class P>
    constexpr BilinearRun<T, P> bilinear_of() const {
        static_assert(std::is_same_v<P, double> || std::is_same_v<P, float>);
        if constexpr (std::is_same_v<P, double>)
            return bilinear;
        else
            return bilinear_floats;
    }
};

// The family's table: the runs of the four instances.
struct SamplerKernels {
    SamplerRuns<std::uint8_t, 1> gray8;
    SamplerRuns<std::uint8_t, 3> rgb8;
    SamplerRuns<std::uint16_t, 1> gray16;
    SamplerRuns<std::uint16_t, 3> rgb16;

    template <class T, int N>
    constexpr const SamplerRuns<T, N>& runs() const {
        static_assert(std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::uint16_t>);
        static_assert(N == 1 || N == 3);
        if constexpr (std::is_same_v<T, std::uint8_t> && N == 1)
            return gray8;
        else if constexpr (std::is_same_v<T, std::uint8_t>)
            return rgb8;
        else if constexpr (N == 1)
            return gray16;
        else
            return rgb16;
    }
};

// Names an instance of the runs, (T, N) with positions P, for the builders
// of sampler_kernels.
template <class T, int N, class P = double>
struct RunOf {};

// The table whose runs are bilinear(RunOf<T, N, P>{}) and
// lanczos3(RunOf<T, N>{}) for the four instances (each returns a run).
template <class Bilinear, class Lanczos3>
constexpr SamplerKernels sampler_kernels(Bilinear bilinear, Lanczos3 lanczos3) {
    auto runs = [=]<class T, int N>(RunOf<T, N>) {
        return SamplerRuns<T, N>{bilinear(RunOf<T, N, double>{}), bilinear(RunOf<T, N, float>{}),
                                 lanczos3(RunOf<T, N>{})};
    };
    return SamplerKernels{runs(RunOf<std::uint8_t, 1>{}), runs(RunOf<std::uint8_t, 3>{}),
                          runs(RunOf<std::uint16_t, 1>{}), runs(RunOf<std::uint16_t, 3>{})};
}

// The bilinear run pixel by pixel: the scalar and SSE2 tables'.
template <class T, int N, class P>
void bilinear_pixels(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step, const P* xs,
                     const P* ys, std::size_t count, T* out) {
    for (std::size_t i = 0; i < count; ++i)
        sample_bilinear<T, N>(src, width, height, row_step, static_cast<double>(xs[i]), static_cast<double>(ys[i]),
                              out + i * N);
}

// The table of runs pixel by pixel, with the Lanczos-3 arithmetic
// `Arithmetic` (PortableLanczos3, or a form that gives its bits).
template <class Arithmetic>
constexpr SamplerKernels pixel_sampler_kernels() {
    return sampler_kernels([]<class T, int N, class P>(RunOf<T, N, P>) { return &bilinear_pixels<T, N, P>; },
                           []<class T, int N>(RunOf<T, N>) { return &sample_lanczos3_interleaved<T, N, Arithmetic>; });
}

}  // namespace tessarin::warp::detail

TESSARIN_DECLARE_KERNELS(tessarin::warp::detail::SamplerKernels)
