#include "warp/warp.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "pool/pool.hpp"
#include "warp/driver.hpp"
#include "warp/positions.hpp"

namespace tessarin::warp {
namespace {

// Columns whose terms are worked out together (96 KiB of terms): a row is
// rendered a block of columns at a time, so that the terms take memory in
// proportion to the block rather than to the output's width.
constexpr std::size_t column_block = 4096;

// Per-column products of the plane's X with the first column of the matrix,
// for a block of columns. X and these products depend on the column only, so
// they are formed once per call for an output up to a block wide, and once
// per block of a portion of rows for a wider one; a row adds its own terms to
// them, which keeps every pixel's operations and their order.
struct Columns {
    std::unique_ptr<double[]> terms;
    double* u;  // H0 * X
    double* v;  // H3 * X
    double* w;  // H6 * X

    explicit Columns(std::size_t n) : terms(new double[3 * n]), u(terms.get()), v(u + n), w(v + n) {}

    // Fills the terms of columns first, ..., first + n - 1.
    void fill(std::size_t first, std::size_t n, const std::array<double, 9>& h, double scale, double off_x) {
        for (std::size_t i = 0; i < n; ++i) {
            const double plane_x = static_cast<double>(first + i) / scale + off_x;
            u[i] = h[0] * plane_x;
            v[i] = h[3] * plane_x;
            w[i] = h[6] * plane_x;
        }
    }
};

struct Plane {
    const std::array<double, 9>& h;
    double scale;
    double off_x;
    double off_y;
    const Columns* whole;  // the terms of every column, for outputs up to a block wide; else null
    // Source positions of a run of output pixels in one row (positions.hpp),
    // in the call's variant.
    decltype(detail::PositionKernels::positions) positions;
};

template <class T, Filter F>
void warp_rows(const detail::Source<T>& src, const Plane& p, T* out, std::size_t out_width, std::size_t begin,
               std::size_t end) {
    constexpr std::size_t run_length = detail::run_length;
    double sx[run_length];
    double sy[run_length];
    // Outputs up to a block wide (all common ones) go row by row as a whole,
    // with the call's terms; wider ones a block of columns down the portion's
    // rows at a time, with terms of the portion's own.
    std::optional<Columns> own;
    if (p.whole == nullptr) own.emplace(column_block);
    const Columns& cols = p.whole != nullptr ? *p.whole : *own;
    for (std::size_t first = 0; first < out_width; first += column_block) {
        const std::size_t width = std::min(column_block, out_width - first);
        if (own) own->fill(first, width, p.h, p.scale, p.off_x);
        for (std::size_t y = begin; y < end; ++y) {
            const double plane_y = static_cast<double>(y) / p.scale + p.off_y;
            const double ru = p.h[1] * plane_y + p.h[2];
            const double rv = p.h[4] * plane_y + p.h[5];
            const double rw = p.h[7] * plane_y + p.h[8];
            T* row = out + (y * out_width + first) * 3;
            std::fill_n(row, width * 3, T{0});
            for (std::size_t x0 = 0; x0 < width; x0 += run_length) {
                const std::size_t n = std::min(run_length, width - x0);
                const double* cu = cols.u + x0;
                const double* cv = cols.v + x0;
                const double* cw = cols.w + x0;
                p.positions(cu, cv, cw, ru, rv, rw, n, sx, sy);
                detail::sample_run<T, 3, F>(src, sx, sy, n, row + x0 * 3);
            }
        }
    }
}

}  // namespace

template <class T>
sample::Result<sample::Buffer<T>> warp_rgb(std::span<const T> src, std::size_t width, std::size_t height,
                                           std::size_t out_width, std::size_t out_height,
                                           const std::array<double, 9>& inverse, double scale, double off_x,
                                           double off_y, Filter filter) {
    const std::size_t expected = detail::saturating_count(width, height, 3);
    if (src.size() != expected) return sample::SizeMismatch{expected, src.size()};
    // The length check bounds the row step: width * 3 < 2^63.
    const ImageView<T> view{src.data(), static_cast<std::ptrdiff_t>(width * 3)};
    return warp_rgb<T>(view, width, height, out_width, out_height, inverse, scale, off_x, off_y, filter);
}

template <class T>
sample::Result<sample::Buffer<T>> warp_rgb(ImageView<T> src, std::size_t width, std::size_t height,
                                           std::size_t out_width, std::size_t out_height,
                                           const std::array<double, 9>& inverse, double scale, double off_x,
                                           double off_y, Filter filter) {
    const std::size_t count = detail::output_count<T>(out_width, out_height, 3);
    const auto table = detail::table_for(filter);
    // Every row is cleared by the row loop just before it is sampled (pixels
    // that no sampler writes stay 0), not all at once before the loop: the
    // clearing is shared among the workers, and a row's cache lines are
    // fetched once for both the clearing and the samples (3-6% faster on
    // 1920 x 1080 RGB bilinear calls than a zero-filled allocation).
    auto out = sample::Buffer<T>::unfilled(count);
    if (count == 0) return out;  // no rows, or rows of no pixels

    std::optional<Columns> whole;
    if (out_width <= column_block) {
        whole.emplace(out_width);
        whole->fill(0, out_width, inverse, scale, off_x);
    }
    const detail::Source<T> source{src.data, width, height, src.row_step, table ? &*table : nullptr};
    const Plane plane{inverse, scale, off_x, off_y, whole ? &*whole : nullptr,
                      simd::pick<detail::PositionKernels>(source.variant).positions};
    T* data = out.data();
    pool::parallel_for(out_height, detail::row_cost(out_width, 3, filter), [&](std::size_t begin, std::size_t end) {
        if (filter == Filter::Lanczos3)
            warp_rows<T, Filter::Lanczos3>(source, plane, data, out_width, begin, end);
        else
            warp_rows<T, Filter::Bilinear>(source, plane, data, out_width, begin, end);
    });
    return out;
}

#define TESSARIN_WARP_INSTANCE(T)                                                                            \
    template sample::Result<sample::Buffer<T>> warp_rgb<T>(std::span<const T>, std::size_t, std::size_t,       \
                                                           std::size_t, std::size_t, const std::array<double, 9>&, \
                                                           double, double, double, Filter);                    \
    template sample::Result<sample::Buffer<T>> warp_rgb<T>(ImageView<T>, std::size_t, std::size_t, std::size_t, \
                                                           std::size_t, const std::array<double, 9>&, double,   \
                                                           double, double, Filter);
TESSARIN_WARP_INSTANCE(std::uint8_t)
TESSARIN_WARP_INSTANCE(std::uint16_t)
#undef TESSARIN_WARP_INSTANCE

}  // namespace tessarin::warp
