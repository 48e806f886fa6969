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

// A floor as a signed 64-bit index, saturating, NaN giving 0.
inline std::int64_t to_index(double floored) {
    if (!(floored == floored)) return 0;
    if (floored >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (floored < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(floored);
}

// Clamps a tap index to [0, size - 1]; size >= 1.
inline std::size_t clamp_tap(std::int64_t i, std::size_t size) {
    if (i < 0) return 0;
    auto u = static_cast<std::uint64_t>(i);
    return u >= size ? size - 1 : static_cast<std::size_t>(u);
}

// i + d without signed overflow (the sum saturates); used for tap offsets.
inline std::int64_t offset_index(std::int64_t i, std::int64_t d) {
    std::int64_t r;
    if (__builtin_add_overflow(i, d, &r))
        return d > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return r;
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
// the position lies outside the image. A NaN coordinate writes zeros.
template <class T, int N>
inline void sample_bilinear(const T* src, std::size_t width, std::size_t height, double x, double y,
                            T* out) {
    static_assert(std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::uint16_t>);
    if (!detail::accepted(width, height, x, y)) return;
    const double fx0 = std::floor(x);
    const double fy0 = std::floor(y);
    const std::int64_t ix = detail::to_index(fx0);
    const std::int64_t iy = detail::to_index(fy0);
    // Each tap is clamped on its own: in the half-pixel margins both taps of
    // an axis land on the edge pixel.
    const std::size_t x0 = detail::clamp_tap(ix, width) * N;
    const std::size_t x1 = detail::clamp_tap(detail::offset_index(ix, 1), width) * N;
    const T* row0 = src + detail::clamp_tap(iy, height) * width * N;
    const T* row1 = src + detail::clamp_tap(detail::offset_index(iy, 1), height) * width * N;
    const double fx = x - fx0;
    const double fy = y - fy0;
    const double w00 = (1.0 - fx) * (1.0 - fy);
    const double w10 = fx * (1.0 - fy);
    const double w01 = (1.0 - fx) * fy;
    const double w11 = fx * fy;
    for (int c = 0; c < N; ++c) {
        double acc = static_cast<double>(row0[x0 + c]) * w00 + static_cast<double>(row0[x1 + c]) * w10;
        acc = acc + static_cast<double>(row1[x0 + c]) * w01;
        acc = acc + static_cast<double>(row1[x1 + c]) * w11;
        out[c] = detail::to_sample<T>(acc);
    }
}

namespace detail {

// The 36 Lanczos-3 terms, tap row by tap row and left to right within a row.
// `Interior` reads each tap row as one contiguous run of 6 * N samples; the
// clamped form goes through per-tap column offsets. Both add the same
// products in the same order, so they agree bit for bit.
template <class T, int N, bool Interior>
inline void lanczos3_accumulate(const T* src, std::size_t width, const std::size_t (&rows)[6],
                                const std::size_t (&cols)[6], const Lanczos3Row& wx, const Lanczos3Row& wy,
                                T* out) {
    double acc[N];
    for (int c = 0; c < N; ++c) acc[c] = 0.0;
    for (int j = 0; j < 6; ++j) {
        const T* row = src + rows[j] * width * N;
        if constexpr (Interior) row += cols[0];
        for (int k = 0; k < 6; ++k) {
            const double weight = wx[k] * wy[j];
            const T* px = Interior ? row + k * N : row + cols[k];
            for (int c = 0; c < N; ++c) acc[c] = acc[c] + static_cast<double>(px[c]) * weight;
        }
    }
    for (int c = 0; c < N; ++c) out[c] = to_sample<T>(acc[c]);
}

}  // namespace detail

// Lanczos-3 sample at (x, y) into the N samples at `out`, with weights from
// `table`; writes nothing when the position lies outside the image. A NaN
// coordinate samples like the coordinate 0. Edge pixels are replicated for
// taps beyond the border; the weights are not renormalised.
//
// `ForceClamped` sends interior positions through the clamped taps too; it
// exists so that the two paths can be compared.
template <class T, int N, bool ForceClamped = false>
inline void sample_lanczos3(const T* src, std::size_t width, std::size_t height, const Lanczos3Table& table,
                            double x, double y, T* out) {
    static_assert(std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::uint16_t>);
    if (!detail::accepted(width, height, x, y)) return;
    const double fx0 = std::floor(x);
    const double fy0 = std::floor(y);
    const Lanczos3Row& wx = table[detail::table_row(x - fx0)];
    const Lanczos3Row& wy = table[detail::table_row(y - fy0)];
    const std::int64_t ix = detail::to_index(fx0);
    const std::int64_t iy = detail::to_index(fy0);
    std::size_t rows[6];
    std::size_t cols[6];
    for (int k = 0; k < 6; ++k) {
        rows[k] = detail::clamp_tap(detail::offset_index(iy, k - 2), height);
        cols[k] = detail::clamp_tap(detail::offset_index(ix, k - 2), width) * N;
    }
    // ix - 2 >= 0 and ix + 3 <= width - 1, likewise for y: no tap is clamped.
    const bool interior = ix >= 2 && iy >= 2 && static_cast<std::uint64_t>(ix) + 4 <= width &&
                          static_cast<std::uint64_t>(iy) + 4 <= height;
    if (interior && !ForceClamped)
        detail::lanczos3_accumulate<T, N, true>(src, width, rows, cols, wx, wy, out);
    else
        detail::lanczos3_accumulate<T, N, false>(src, width, rows, cols, wx, wy, out);
}

}  // namespace tessarin::warp
