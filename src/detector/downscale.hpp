// Gaussian pre-filter and subsampling of the working image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "simd/dispatch.hpp"

namespace tessarin::detector {

// The working value of an input sample: 8-bit values and floats exactly,
// 16-bit values divided by 257 (a division, so that 65535 gives 255 exactly).
template <class T>
inline double working_value(T v) {
    if constexpr (std::is_same_v<T, std::uint16_t>)
        return static_cast<double>(v) / 257.0;
    else
        return static_cast<double>(v);
}

// floor(size × scale) in doubles, saturated to an unsigned word, at least 2.
std::size_t downscaled_size(std::size_t size, double scale);

// The blur's weights: 2n + 1 samples of a Gaussian of sigma 0.6 / scale, with
// n = ceil(sigma × sqrt(2 ln 1000)), normalised to sum 1.
std::vector<double> gaussian_kernel(double scale);

// The source row or column of output index i: min(trunc(i / scale), size - 1),
// a division by scale (not a product with its reciprocal). size >= 1.
std::size_t source_index(std::size_t i, double scale, std::size_t size);

// The blur's row sum, one table per variant (simd::pick): out[x] = 0.0 +
// k[0] * src[0][x] + ... + k[taps - 1] * src[taps - 1][x] for x < len, each
// product and sum rounded in tap order: the row sum both blur passes are made
// of. Every variant gives the same bits; downscale uses the one
// simd::chosen() names at the start of the call. The scalar table is the
// definition (downscale.cpp); the vector ones run downscale_sum.hpp over
// their lane type (downscale_sse2.cpp, downscale_avx2.cpp, downscale_neon.cpp).
struct SumKernels {
    void (*weighted_sum)(const double* const* src, const double* k, std::size_t taps, double* out,
                         std::size_t len);
};
using WeightedSum = decltype(SumKernels::weighted_sum);

// Blurs with a Gaussian of sigma 0.6 / scale and picks every output pixel at
// trunc(position / scale), straight from input samples: each input row is
// widened to its working values (working_value) just before it is blurred.
// Requires width, height >= 3 and an output of at least 3 × 3. The three
// passes run on the worker pool. The result goes into caller storage of
// downscaled_size(width, scale) × downscaled_size(height, scale) doubles, every one of which is written (the
// storage need not be initialised). T is one of the four sample types.
template <class T>
void downscale_into(const T* image, std::size_t width, std::size_t height, double scale, double* out);

}  // namespace tessarin::detector

TESSARIN_DECLARE_KERNELS(tessarin::detector::SumKernels)
