// Gaussian pre-filter and subsampling of the working image.
//
// The blur is separable, a horizontal pass and then a vertical one, but the
// output keeps only one blurred sample per output pixel (source column
// column_map[x], source row trunc(y / scale)), so only those are computed.
// One parallel loop runs over the output rows. Each range of output rows,
// a block of output columns at a time, blurs the stretch of the input rows it
// reads horizontally (contiguous, so the taps vectorise), keeps the mapped
// columns in a small window of rows, and blurs that window vertically
// straight into the output row. No intermediate image
// is made. The sums run in the vector variant chosen at the start of the call
// (downscale_sum.hpp), which keeps every lane in tap order. Every sample is still 0.0 plus its taps in tap order, each product
// and sum rounded on its own, exactly as two whole-image passes would give.
#include "detector/testing.hpp"
#include "detector/saturate.hpp"
#include "detector/downscale.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "pool/pool.hpp"
#include "sample/size_mismatch.hpp"

namespace tessarin::detector {
namespace {

// sqrt(2 ln 1000): the kernel reaches out to where the Gaussian falls to 1/1000.
constexpr double kernel_reach = 3.7169221888498383;

// Output columns whose window rows are kept together: a range of output rows
// is made a block of columns at a time, so that its scratch (the window of
// `taps` rows, the blurred and widened input rows) grows with the block
// rather than with the image's width. Images up to 5120 columns wide at the
// default scale are one block.
constexpr std::size_t column_block = 4096;

// A stretch of an input row's working values: seg[i] is column first + i.
struct Stretch {
    const double* seg;
    std::size_t first;
};

// buf[j] = row[clamp(first + j, 0, width - 1)] for j < count, from the
// stretch that holds those columns.
void clamped_copy(Stretch row, std::size_t width, std::ptrdiff_t first, std::size_t count, double* buf) {
    const auto last = static_cast<std::ptrdiff_t>(width) - 1;
    const auto origin = static_cast<std::ptrdiff_t>(row.first);
    for (std::size_t j = 0; j < count; ++j) {
        const std::ptrdiff_t c = std::clamp(first + static_cast<std::ptrdiff_t>(j), std::ptrdiff_t{0}, last);
        buf[j] = row.seg[c - origin];
    }
}

// Horizontal blur of columns [c0, c1) of one input row, out[j] = T1(c0 + j),
// with the samples beyond either end of the row taken from the nearest end
// (for every tap, even taps that reach past the whole row). The stretch holds
// every column those taps reach once clamped to the row. Columns whose taps
// all fall inside the row read it in place; the few near the ends read a
// clamped copy in `edge` (room for n + 2n samples).
void blur_columns(WeightedSum weighted_sum, Stretch row, std::size_t width, std::size_t c0, std::size_t c1,
                  const std::vector<double>& kernel, std::vector<double>& edge, std::vector<const double*>& src,
                  double* out) {
    const std::size_t taps = kernel.size();
    const std::size_t n = taps / 2;
    const std::size_t inner_begin = std::min(std::max(c0, n), c1);
    const std::size_t inner_end = width > 2 * n ? std::max(std::min(c1, width - n), inner_begin) : inner_begin;

    auto blur_span = [&](std::size_t begin, std::size_t end) {
        if (begin >= end) return;
        const std::size_t len = end - begin;
        for (std::size_t done = 0; done < len; done += n + 1) {
            // Spans near the ends are at most n wide unless the row is narrower
            // than the kernel; then go n + 1 columns at a time.
            const std::size_t part = std::min(n + 1, len - done);
            const auto first = static_cast<std::ptrdiff_t>(begin + done) - static_cast<std::ptrdiff_t>(n);
            clamped_copy(row, width, first, part + 2 * n, edge.data());
            for (std::size_t i = 0; i < taps; ++i) src[i] = edge.data() + i;
            weighted_sum(src.data(), kernel.data(), taps, out + (begin + done - c0), part);
        }
    };

    blur_span(c0, inner_begin);
    if (inner_end > inner_begin) {
        // inner_begin - n is at or after the stretch's first column.
        for (std::size_t i = 0; i < taps; ++i) src[i] = row.seg + (inner_begin - n - row.first) + i;
        weighted_sum(src.data(), kernel.data(), taps, out + (inner_begin - c0), inner_end - inner_begin);
    }
    blur_span(inner_end, c1);
}

}  // namespace

namespace {

void weighted_sum_scalar(const double* const* src, const double* k, std::size_t taps, double* out, std::size_t len) {
    for (std::size_t x = 0; x < len; ++x) {
        double acc = 0.0;
        for (std::size_t i = 0; i < taps; ++i) acc = acc + k[i] * src[i][x];
        out[x] = acc;
    }
}

}  // namespace

}  // namespace tessarin::detector

TESSARIN_DEFINE_KERNELS(tessarin::detector::SumKernels, Scalar, {tessarin::detector::weighted_sum_scalar})

namespace tessarin::detector {

std::vector<double> gaussian_kernel(double scale) {
    const double sigma = 0.6 / scale;
    const std::size_t n = saturating_word(std::ceil(sigma * kernel_reach));
    std::vector<double> k(2 * n + 1);
    const double centre = static_cast<double>(n);
    for (std::size_t i = 0; i < k.size(); ++i) {
        double t = (static_cast<double>(i) - centre) / sigma;
        t = t * t;
        t = t * -0.5;
        k[i] = std::exp(t);
    }
    double sum = 0.0;
    for (double v : k) sum = sum + v;
    for (double& v : k) v = v / sum;
    return k;
}

std::size_t source_index(std::size_t i, double scale, std::size_t size) {
    std::size_t s = saturating_word(static_cast<double>(i) / scale);
    return s < size - 1 ? s : size - 1;
}

std::size_t downscaled_size(std::size_t size, double scale) {
    std::size_t n = saturating_word(std::floor(static_cast<double>(size) * scale));
    return n < 3 ? (n < 2 ? 2 : n) : n;
}

template <class T>
void downscale_into(const T* image, std::size_t width, std::size_t height, double scale, double* out) {
    const std::vector<double> kernel = gaussian_kernel(scale);
    const std::size_t taps = kernel.size();
    const std::size_t n = taps / 2;
    const std::size_t ow = downscaled_size(width, scale);
    const std::size_t oh = downscaled_size(height, scale);

    const auto weighted_sum = simd::pick<SumKernels>(simd::chosen()).weighted_sum;
    std::vector<std::size_t> column_map(ow);
    for (std::size_t x = 0; x < ow; ++x) column_map[x] = source_index(x, scale, width);

    // An output row blurs about height / oh input rows across and its own
    // columns down, `taps` taps a sample each.
    const std::size_t row_cost =
        sample::saturating_product({(height + oh - 1) / oh, width + 1, taps}) + sample::saturating_product({ow, taps});
    pool::parallel_for(oh, row_cost, [&](std::size_t begin, std::size_t end) {
        // The horizontally blurred input rows this range of output rows reads,
        // narrowed to the mapped columns of a block: input row r lives in slot
        // r % taps. Source rows only grow with the output row, and one output
        // row reads at most `taps` consecutive input rows, so a slot is reused
        // only once its row has fallen behind every later output row's reach.
        const std::size_t block = std::min(ow, column_block);
        std::vector<double> window(taps * block);
        std::vector<double> blurred, widened;
        std::vector<double> edge(3 * n + 1);
        std::vector<const double*> src(taps);

        for (std::size_t xb = 0; xb < ow; xb += block) {
            const std::size_t nb = std::min(block, ow - xb);
            // The input columns blurred for the block, and those their taps
            // read once clamped to the row.
            const std::size_t c0 = column_map[xb], c1 = column_map[xb + nb - 1] + 1;
            const std::size_t lo = c0 > n ? c0 - n : 0, hi = std::min(width, c1 + n);
            blurred.resize(c1 - c0);
            if constexpr (!std::is_same_v<T, double>) widened.resize(hi - lo);
            std::size_t ready = 0;  // input rows below this are, or were, in the window

            for (std::size_t y = begin; y < end; ++y) {
                const std::size_t sy = source_index(y, scale, height);
                const std::size_t rlo = sy < n ? 0 : sy - n;
                const std::size_t rhi = std::min(sy + n, height - 1) + 1;
                for (std::size_t r = std::max(rlo, ready); r < rhi; ++r) {
                    const T* in = image + r * width;
                    Stretch row{nullptr, lo};
                    if constexpr (std::is_same_v<T, double>) {
                        row.seg = in + lo;
                    } else {
                        for (std::size_t x = lo; x < hi; ++x) widened[x - lo] = working_value(in[x]);
                        row.seg = widened.data();
                    }
                    blur_columns(weighted_sum, row, width, c0, c1, kernel, edge, src, blurred.data());
                    double* dst = window.data() + (r % taps) * block;
                    for (std::size_t x = 0; x < nb; ++x) dst[x] = blurred[column_map[xb + x] - c0];
                }
                ready = rhi;

                for (std::size_t i = 0; i < taps; ++i) {
                    const std::size_t r = sy + i < n ? 0 : std::min(sy + i - n, height - 1);
                    src[i] = window.data() + (r % taps) * block;
                }
                weighted_sum(src.data(), kernel.data(), taps, out + y * ow + xb, nb);
            }
        }
    });
}

template void downscale_into(const double*, std::size_t, std::size_t, double, double*);
template void downscale_into(const std::uint8_t*, std::size_t, std::size_t, double, double*);
template void downscale_into(const std::uint16_t*, std::size_t, std::size_t, double, double*);
template void downscale_into(const float*, std::size_t, std::size_t, double, double*);

namespace {

template <class T>
Image downscale_samples(const T* image, std::size_t width, std::size_t height, double scale) {
    Image out;
    out.width = downscaled_size(width, scale);
    out.height = downscaled_size(height, scale);
    out.pixels.resize(out.width * out.height);
    downscale_into(image, width, height, scale, out.pixels.data());
    return out;
}

}  // namespace

Image downscale(const double* image, std::size_t width, std::size_t height, double scale) {
    return downscale_samples(image, width, height, scale);
}

Image downscale(const std::uint8_t* image, std::size_t width, std::size_t height, double scale) {
    return downscale_samples(image, width, height, scale);
}

Image downscale(const std::uint16_t* image, std::size_t width, std::size_t height, double scale) {
    return downscale_samples(image, width, height, scale);
}

Image downscale(const float* image, std::size_t width, std::size_t height, double scale) {
    return downscale_samples(image, width, height, scale);
}

}  // namespace tessarin::detector
