// The two pixel samplers of the resampling drivers: each computes one output
// pixel from a real-valued source position. Integer positions are pixel
// centres; the image covers [-0.5, width - 0.5] x [-0.5, height - 0.5].
//
// Results are bit-exact: every product and sum is a separately rounded double
// operation in the order written here, so do not reassociate anything.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "simd/x86.hpp"

namespace tessarin::warp {

// Normalised Lanczos-3 weights for the fractional offsets r / 1024, r = 0..1024.
// Entry k of a row weighs the tap at offset k - 2 from the position's floor.
inline constexpr std::size_t lanczos3_rows = 1025;
using Lanczos3Row = std::array<double, 6>;
using Lanczos3Table = std::vector<Lanczos3Row>;

// Builds the 1025-row table (throws std::bad_alloc when memory runs out).
Lanczos3Table lanczos3_table();

namespace detail {

template <class T>
inline constexpr double max_sample = static_cast<double>(std::numeric_limits<T>::max());

// Rounds half up, clamps to the element range and truncates; NaN stores 0.
template <class T>
inline T to_sample(double acc) {
    double v = acc + 0.5;
    v = v > 0.0 ? v : 0.0;  // also maps NaN to 0
    v = v < max_sample<T> ? v : max_sample<T>;
    return static_cast<T>(v);
}

// The position is inside the closed image rectangle. A NaN coordinate passes
// (every comparison is false); an empty image accepts nothing.
inline bool accepted(std::size_t width, std::size_t height, double x, double y) {
    if (width == 0 || height == 0) return false;
    return !(x < -0.5 || x > static_cast<double>(width) - 0.5 || y < -0.5 ||
             y > static_cast<double>(height) - 0.5);
}

// The floor of a coordinate that passed the window test and is not NaN, as
// an index in [-1, size - 1]. Sizes stay below 2^63 (every sample is in
// memory), so the truncation is exact and nothing saturates. For -0 the
// fraction v - floor comes out as -0 where std::floor would give +0; a zero
// fraction of either sign selects the same table row and yields bilinear
// weights that only add zeros to non-negative sums, so no stored sample
// depends on it.
inline std::int64_t floor_index(double v) {
    const auto t = static_cast<std::int64_t>(v);
    return v < static_cast<double>(t) ? t - 1 : t;
}

// Clamps a tap index, at most three beyond either edge, to [0, size - 1].
inline std::size_t clamp_tap(std::int64_t i, std::size_t size) {
    const std::int64_t last = static_cast<std::int64_t>(size) - 1;
    return static_cast<std::size_t>(i < 0 ? 0 : (i > last ? last : i));
}

// The offset of row `row`, in elements, for rows row_step elements apart.
inline std::ptrdiff_t row_offset(std::size_t row, std::ptrdiff_t row_step) {
    return static_cast<std::ptrdiff_t>(row) * row_step;
}

// Exact widening of a sample; 8-bit samples go through a table, which costs
// one load instead of an integer-to-double conversion.
inline constexpr auto byte_values = [] {
    std::array<double, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = i;
    return t;
}();

template <class T>
inline double widen(T v) {
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return byte_values[v];
    else
        return static_cast<double>(v);
}

// Table row of a fraction in [0, 1]: round(fraction * 1024), halves away
// from zero, NaN giving 0. Scaling by 1024 is exact, and so are the
// truncation and the remainder, so this equals std::round without a call.
inline std::size_t table_row(double fraction) {
    double f = fraction * 1024.0;
    if (!(f > 0.0)) return 0;
    if (f >= 1024.0) return 1024;
    auto r = static_cast<std::size_t>(f);
    return r + (f - static_cast<double>(r) >= 0.5 ? 1 : 0);
}

}  // namespace detail

// Bilinear sample at (x, y) into the N samples at `out`; writes nothing when
// the position lies outside the image. A NaN coordinate writes zeros. Pixel
// (x, y) of the image is src + y * row_step + x * N (every sampler takes its
// image so; row_step, in elements, is width * N for a contiguous image and
// may be negative or larger, for flipped rows or rows of a wider image).
template <class T, int N>
inline void sample_bilinear(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step, double x,
                            double y, T* out) {
    static_assert(std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::uint16_t>);
    if (!detail::accepted(width, height, x, y)) return;
    if (x != x || y != y) {  // every weight is NaN, and a NaN sum stores 0
        for (int c = 0; c < N; ++c) out[c] = 0;
        return;
    }
    const std::int64_t ix = detail::floor_index(x);
    const std::int64_t iy = detail::floor_index(y);
    // Each tap is clamped on its own: in the half-pixel margins both taps of
    // an axis land on the edge pixel.
    const std::size_t x0 = detail::clamp_tap(ix, width) * N;
    const std::size_t x1 = detail::clamp_tap(ix + 1, width) * N;
    const T* row0 = src + detail::row_offset(detail::clamp_tap(iy, height), row_step);
    const T* row1 = src + detail::row_offset(detail::clamp_tap(iy + 1, height), row_step);
    const double fx = x - static_cast<double>(ix);
    const double fy = y - static_cast<double>(iy);
    const double w00 = (1.0 - fx) * (1.0 - fy);
    const double w10 = fx * (1.0 - fy);
    const double w01 = (1.0 - fx) * fy;
    const double w11 = fx * fy;
    for (int c = 0; c < N; ++c) {
        double acc = detail::widen(row0[x0 + c]) * w00 + detail::widen(row0[x1 + c]) * w10;
        acc = acc + detail::widen(row1[x0 + c]) * w01;
        acc = acc + detail::widen(row1[x1 + c]) * w11;
        out[c] = detail::to_sample<T>(acc);
    }
}

namespace detail {

#if defined(TESSARIN_SIMD_X86)  // SSE2, the x86-64 baseline
// Widening of a contiguous run of samples to doubles, two at a time. The
// conversions are exact, so these pairs equal the scalar conversions.
template <class U>
inline U load_scalar(const unsigned char* p) {
    U v;
    std::memcpy(&v, p, sizeof(U));
    return v;
}

// Reads exactly n bytes into the low end of a vector: never beyond the run.
template <std::size_t n>
inline __m128i load_bytes(const unsigned char* p) {
    if constexpr (n == 16) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else if constexpr (n == 2) {
        return _mm_cvtsi32_si128(load_scalar<std::uint16_t>(p));
    } else if constexpr (n == 4) {
        return _mm_cvtsi32_si128(static_cast<int>(load_scalar<std::uint32_t>(p)));
    } else if constexpr (n == 6) {
        return _mm_insert_epi16(_mm_cvtsi32_si128(static_cast<int>(load_scalar<std::uint32_t>(p))),
                                load_scalar<std::uint16_t>(p + 4), 2);
    } else {
        static_assert(n == 12);
        return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                  _mm_cvtsi32_si128(static_cast<int>(load_scalar<std::uint32_t>(p + 8))));
    }
}

// The 6 * N samples of a tap row as 3 * N pairs of doubles: the samples are
// widened to 32-bit integers four at a time and converted two at a time.
template <class T, int N>
inline void widen_tap_row(const T* p, __m128d* out) {
    constexpr std::size_t bytes = 6 * N * sizeof(T);
    constexpr std::size_t chunks = (bytes + 15) / 16;  // 16-byte loads
    constexpr int quads = 3 * N / 2 + (3 * N) % 2;     // 32-bit quads used
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    const __m128i zero = _mm_setzero_si128();
    __m128i quad[quads];
    for (std::size_t c = 0; c < chunks; ++c) {
        const __m128i v = c + 1 < chunks || bytes % 16 == 0 ? load_bytes<16>(b + 16 * c)
                                                            : load_bytes<bytes % 16 == 0 ? 16 : bytes % 16>(b + 16 * c);
        // The 16-bit octets of this chunk, then their quads.
        __m128i octs[2];
        int n_octs = 1;
        if constexpr (sizeof(T) == 1) {
            octs[0] = _mm_unpacklo_epi8(v, zero);
            octs[1] = _mm_unpackhi_epi8(v, zero);
            n_octs = 2;
        } else {
            octs[0] = v;
        }
        for (int o = 0; o < n_octs; ++o) {
            const int q0 = static_cast<int>(c) * 2 * n_octs + 2 * o;
            if (q0 < quads) quad[q0] = _mm_unpacklo_epi16(octs[o], zero);
            if (q0 + 1 < quads) quad[q0 + 1] = _mm_unpackhi_epi16(octs[o], zero);
        }
    }
    for (int m = 0; m < 3 * N; ++m)
        out[m] = _mm_cvtepi32_pd(m % 2 == 0 ? quad[m / 2] : _mm_shuffle_epi32(quad[m / 2], 0x0E));
}

// The weight of every sample of a tap row, two at a time: wx[k] * wy for the
// samples of tap k, each product formed once and repeated for the channels.
template <int N>
inline void tap_row_weights(const Lanczos3Row& wx, double wy, __m128d* out) {
    const __m128d y = _mm_set1_pd(wy);
    const __m128d w01 = _mm_mul_pd(_mm_loadu_pd(&wx[0]), y);
    const __m128d w23 = _mm_mul_pd(_mm_loadu_pd(&wx[2]), y);
    const __m128d w45 = _mm_mul_pd(_mm_loadu_pd(&wx[4]), y);
    if constexpr (N == 1) {
        out[0] = w01;
        out[1] = w23;
        out[2] = w45;
    } else {
        static_assert(N == 3);
        const __m128d w[3] = {w01, w23, w45};
        for (int i = 0; i < 3; ++i) {  // samples k0 k0 | k0 k1 | k1 k1 of two taps
            out[3 * i] = _mm_unpacklo_pd(w[i], w[i]);
            out[3 * i + 1] = w[i];
            out[3 * i + 2] = _mm_unpackhi_pd(w[i], w[i]);
        }
    }
}
#endif

// The 36 * N products of a Lanczos-3 sample at (x, y), in the order they are
// added: tap row by tap row (top to bottom), left to right within a row, the
// channels innermost; each is the sample times (wx[k] * wy[j]). Returns false,
// writing nothing, when the position lies outside the image.
//
// In the interior every tap row is read as one contiguous run of 6 * N
// samples; near the border the taps go through clamped indices, which
// replicate the edge pixels. Both produce the same products, so the sums
// agree bit for bit. `ForceClamped` sends interior positions through the
// clamped taps too, so that the two can be compared.
template <class T, int N, bool ForceClamped = false>
inline bool lanczos3_terms(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step,
                           const Lanczos3Table& table, double x, double y, double* terms) {
    if (!accepted(width, height, x, y)) return false;
    // A NaN coordinate has floor index 0 and table row 0: coordinate 0's.
    if (x != x) x = 0.0;
    if (y != y) y = 0.0;
    const std::int64_t ix = floor_index(x);
    const std::int64_t iy = floor_index(y);
    const Lanczos3Row& wx = table[table_row(x - static_cast<double>(ix))];
    const Lanczos3Row& wy = table[table_row(y - static_cast<double>(iy))];
    // ix - 2 >= 0 and ix + 3 <= width - 1, likewise for y: no tap is clamped.
    const bool interior = ix >= 2 && iy >= 2 && static_cast<std::uint64_t>(ix) + 4 <= width &&
                          static_cast<std::uint64_t>(iy) + 4 <= height;
    if (interior && !ForceClamped) {
        const T* row =
            src + row_offset(static_cast<std::size_t>(iy) - 2, row_step) + (static_cast<std::size_t>(ix) - 2) * N;
#if defined(TESSARIN_SIMD_X86)  // SSE2, the x86-64 baseline
        for (int j = 0; j < 6; ++j, row += row_step) {
            __m128d samples[3 * N];
            __m128d weights[3 * N];
            widen_tap_row<T, N>(row, samples);
            tap_row_weights<N>(wx, wy[j], weights);
            for (int m = 0; m < 3 * N; ++m)
                _mm_storeu_pd(terms + j * 6 * N + 2 * m, _mm_mul_pd(samples[m], weights[m]));
        }
#else
        for (int j = 0; j < 6; ++j, row += row_step)
            for (int k = 0; k < 6; ++k) {
                const double weight = wx[k] * wy[j];
                for (int c = 0; c < N; ++c) terms[(j * 6 + k) * N + c] = widen(row[k * N + c]) * weight;
            }
#endif
        return true;
    }
    std::size_t cols[6];
    for (int k = 0; k < 6; ++k) cols[k] = clamp_tap(ix + k - 2, width) * N;
    for (int j = 0; j < 6; ++j) {
        const T* row = src + row_offset(clamp_tap(iy + j - 2, height), row_step);
        for (int k = 0; k < 6; ++k) {
            const double weight = wx[k] * wy[j];
            for (int c = 0; c < N; ++c) terms[(j * 6 + k) * N + c] = widen(row[cols[k] + c]) * weight;
        }
    }
    return true;
}

// Adds up the terms of P samples and stores them. Each channel of each sample
// has its own accumulator, starting at 0.0 and taking its 36 terms in order;
// running the P * N independent sums side by side only hides the latency of
// the additions.
template <class T, int N, int P>
inline void lanczos3_store(const double (*terms)[36 * N], T* const* out) {
#if defined(TESSARIN_SIMD_X86)  // SSE2, the x86-64 baseline
    if constexpr (N == 3) {
        // Channels 0 and 1 of a sample share a vector accumulator; each lane
        // still adds its own channel's terms one by one, in order.
        __m128d acc01[P];
        double acc2[P];
        for (int q = 0; q < P; ++q) {
            acc01[q] = _mm_setzero_pd();
            acc2[q] = 0.0;
        }
        for (int i = 0; i < 36; ++i)
            for (int q = 0; q < P; ++q) {
                acc01[q] = _mm_add_pd(acc01[q], _mm_loadu_pd(&terms[q][i * 3]));
                acc2[q] = acc2[q] + terms[q][i * 3 + 2];
            }
        for (int q = 0; q < P; ++q) {
            alignas(16) double lanes[2];
            _mm_store_pd(lanes, acc01[q]);
            out[q][0] = to_sample<T>(lanes[0]);
            out[q][1] = to_sample<T>(lanes[1]);
            out[q][2] = to_sample<T>(acc2[q]);
        }
        return;
    }
#endif
    double acc[P][N];
    for (int q = 0; q < P; ++q)
        for (int c = 0; c < N; ++c) acc[q][c] = 0.0;
    for (int i = 0; i < 36; ++i)
        for (int q = 0; q < P; ++q)
            for (int c = 0; c < N; ++c) acc[q][c] = acc[q][c] + terms[q][i * N + c];
    for (int q = 0; q < P; ++q)
        for (int c = 0; c < N; ++c) out[q][c] = to_sample<T>(acc[q][c]);
}

}  // namespace detail

// Lanczos-3 sample at (x, y) into the N samples at `out`, with weights from
// `table`; writes nothing when the position lies outside the image. A NaN
// coordinate samples like the coordinate 0. Edge pixels are replicated for
// taps beyond the border; the weights are not renormalised.
template <class T, int N, bool ForceClamped = false>
inline void sample_lanczos3(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step,
                            const Lanczos3Table& table, double x, double y, T* out) {
    static_assert(std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::uint16_t>);
    double terms[1][36 * N];
    if (detail::lanczos3_terms<T, N, ForceClamped>(src, width, height, row_step, table, x, y, terms[0]))
        detail::lanczos3_store<T, N, 1>(terms, &out);
}

// sample_lanczos3 at (xs[i], ys[i]) into out + i * N for i < count, with the
// sums of several pixels interleaved. Same results, pixel for pixel.
template <class T, int N>
inline void sample_lanczos3_interleaved(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step,
                                        const Lanczos3Table& table, const double* xs, const double* ys,
                                        std::size_t count, T* out) {
    constexpr int P = N == 1 ? 6 : 3;
    double terms[P][36 * N];
    T* dest[P];
    int n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!detail::lanczos3_terms<T, N>(src, width, height, row_step, table, xs[i], ys[i], terms[n])) continue;
        dest[n] = out + i * N;
        if (++n == P) {
            detail::lanczos3_store<T, N, P>(terms, dest);
            n = 0;
        }
    }
    for (int q = 0; q < n; ++q) detail::lanczos3_store<T, N, 1>(&terms[q], &dest[q]);
}

}  // namespace tessarin::warp
