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
#include <limits>
#include <type_traits>
#include <vector>

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

// The arithmetic of a Lanczos-3 sample that a variant may do in its own
// registers: the products of an interior tap row, and the sums. This is the
// definition; the SSE2 form (samplers_sse2.hpp) gives the same bits.
struct PortableLanczos3 {
    // The 6 * N products of the interior tap row at `row` (6 * N samples in
    // a row) into terms[0, 6 * N): each sample times (wx[k] * wy).
    template <class T, int N>
    static void row_terms(const T* row, const Lanczos3Row& wx, double wy, double* terms) {
        for (int k = 0; k < 6; ++k) {
            const double weight = wx[k] * wy;
            for (int c = 0; c < N; ++c) terms[k * N + c] = widen(row[k * N + c]) * weight;
        }
    }

    // Adds up the terms of P samples and stores them. Each channel of each
    // sample has its own accumulator, starting at 0.0 and taking its 36
    // terms in order; running the P * N independent sums side by side only
    // hides the latency of the additions.
    template <class T, int N, int P>
    static void store(const double (*terms)[36 * N], T* const* out) {
        double acc[P][N];
        for (int q = 0; q < P; ++q)
            for (int c = 0; c < N; ++c) acc[q][c] = 0.0;
        for (int i = 0; i < 36; ++i)
            for (int q = 0; q < P; ++q)
                for (int c = 0; c < N; ++c) acc[q][c] = acc[q][c] + terms[q][i * N + c];
        for (int q = 0; q < P; ++q)
            for (int c = 0; c < N; ++c) out[q][c] = to_sample<T>(acc[q][c]);
    }
};

// The 36 * N products of a Lanczos-3 sample at (x, y), in the order they are
// added: tap row by tap row (top to bottom), left to right within a row, the
// channels innermost; each is the sample times (wx[k] * wy[j]). Returns false,
// writing nothing, when the position lies outside the image.
//
// In the interior every tap row is read as one contiguous run of 6 * N
// samples; near the border the taps go through clamped indices, which
// replicate the edge pixels. Both produce the same products, so the sums
// agree bit for bit. `ForceClamped` sends interior positions through the
// clamped taps too, so that the two can be compared. `Arithmetic` forms the
// interior products (PortableLanczos3, or a form that gives its bits).
template <class T, int N, bool ForceClamped = false, class Arithmetic = PortableLanczos3>
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
        for (int j = 0; j < 6; ++j, row += row_step)
            Arithmetic::template row_terms<T, N>(row, wx, wy[j], terms + j * 6 * N);
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
        detail::PortableLanczos3::store<T, N, 1>(terms, &out);
}

// sample_lanczos3 at (xs[i], ys[i]) into out + i * N for i < count, with the
// sums of several pixels interleaved. Same results, pixel for pixel, with
// the interior products and the sums formed by `Arithmetic`.
template <class T, int N, class Arithmetic = detail::PortableLanczos3>
inline void sample_lanczos3_interleaved(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step,
                                        const Lanczos3Table& table, const double* xs, const double* ys,
                                        std::size_t count, T* out) {
    constexpr int P = N == 1 ? 6 : 3;
    double terms[P][36 * N];
    T* dest[P];
    int n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!detail::lanczos3_terms<T, N, false, Arithmetic>(src, width, height, row_step, table, xs[i], ys[i],
                                                             terms[n]))
            continue;
        dest[n] = out + i * N;
        if (++n == P) {
            Arithmetic::template store<T, N, P>(terms, dest);
            n = 0;
        }
    }
    for (int q = 0; q < n; ++q) Arithmetic::template store<T, N, 1>(&terms[q], &dest[q]);
}

}  // namespace tessarin::warp
