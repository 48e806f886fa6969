// Gaussian pre-filter and subsampling of the working image.
//
// The blur is separable: a horizontal pass over the input rows, then a
// vertical pass. The output keeps one blurred sample per output pixel, at the
// source column column_map[x] and the source row trunc(y / scale), so only
// those samples of the blur are ever computed:
//   - the horizontal pass blurs each whole input row (contiguous, so it
//     vectorises) and keeps only the mapped columns, giving a narrow image of
//     new_width × height;
//   - the vertical pass runs once per output row, over the rows of that
//     narrow image around the source row, and writes the output row directly.
// Every sample is still the sum of its taps in tap order, each product and
// sum rounded on its own, exactly as if both passes covered the whole image.
#include "detector/downscale.hpp"

#include <cmath>
#include <limits>
#include <memory>

#include "pool/pool.hpp"

namespace tessarin::detector {
namespace {

// sqrt(2 ln 1000): the kernel reaches out to where the Gaussian falls to 1/1000.
constexpr double kernel_reach = 3.7169221888498383;

// Truncates toward zero into an unsigned word; NaN and negatives give 0,
// values at or above 2^64 the largest word.
std::size_t to_size(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 18446744073709551616.0) return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(v);
}

}  // namespace

std::vector<double> gaussian_kernel(double scale) {
    const double sigma = 0.6 / scale;
    const std::size_t n = to_size(std::ceil(sigma * kernel_reach));
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
    std::size_t s = to_size(static_cast<double>(i) / scale);
    return s < size - 1 ? s : size - 1;
}

namespace {

// out[x] = 0.0 + k[0] * src[0][x] + k[1] * src[1][x] + ... for x < len, each
// product and sum rounded in tap order. The taps run over a block of columns
// held in registers, so each tap is one weight times a contiguous run.
void weighted_sum(const double* const* src, const double* k, std::size_t taps, double* out,
                  std::size_t len) {
    constexpr std::size_t block = 16;
    std::size_t x = 0;
    for (; x + block <= len; x += block) {
        double acc[block];
        for (std::size_t j = 0; j < block; ++j) acc[j] = 0.0;
        for (std::size_t i = 0; i < taps; ++i) {
            const double w = k[i];
            const double* s = src[i] + x;
            for (std::size_t j = 0; j < block; ++j) acc[j] = acc[j] + w * s[j];
        }
        for (std::size_t j = 0; j < block; ++j) out[x + j] = acc[j];
    }
    for (; x < len; ++x) {
        double acc = 0.0;
        for (std::size_t i = 0; i < taps; ++i) acc = acc + k[i] * src[i][x];
        out[x] = acc;
    }
}

}  // namespace

std::size_t downscaled_size(std::size_t size, double scale) {
    std::size_t n = to_size(std::floor(static_cast<double>(size) * scale));
    return n < 3 ? (n < 2 ? 2 : n) : n;
}

Image downscale(const double* image, std::size_t width, std::size_t height, double scale) {
    const std::vector<double> kernel = gaussian_kernel(scale);
    const std::size_t taps = kernel.size();
    const std::size_t n = taps / 2;

    Image out;
    out.width = downscaled_size(width, scale);
    out.height = downscaled_size(height, scale);
    const std::size_t ow = out.width;

    std::vector<std::size_t> column_map(ow);
    for (std::size_t x = 0; x < ow; ++x) column_map[x] = source_index(x, scale, width);

    // Horizontal pass, mapped columns only: narrow(x, y) = T1(column_map[x], y).
    // Each row is padded with n copies of its end samples on either side, which
    // is clamp-to-edge for every tap, even taps reaching past the whole row.
    std::unique_ptr<double[]> narrow(new double[ow * height]);
    pool::parallel_for(height, [&](std::size_t begin, std::size_t end) {
        std::vector<double> padded(width + 2 * n);
        std::vector<double> blurred(width);
        std::vector<const double*> src(taps);
        for (std::size_t i = 0; i < taps; ++i) src[i] = padded.data() + i;
        for (std::size_t y = begin; y < end; ++y) {
            const double* row = image + y * width;
            for (std::size_t i = 0; i < n; ++i) padded[i] = row[0];
            for (std::size_t x = 0; x < width; ++x) padded[n + x] = row[x];
            for (std::size_t i = 0; i < n; ++i) padded[n + width + i] = row[width - 1];
            weighted_sum(src.data(), kernel.data(), taps, blurred.data(), width);
            double* dst = narrow.get() + y * ow;
            for (std::size_t x = 0; x < ow; ++x) dst[x] = blurred[column_map[x]];
        }
    });

    // Vertical pass, source rows only: O(x, y) = T2(column_map[x], sy), with
    // the rows above and below the image clamped to its edge rows.
    out.pixels.assign(ow * out.height, 0.0);
    pool::parallel_for(out.height, [&](std::size_t begin, std::size_t end) {
        std::vector<const double*> src(taps);
        for (std::size_t y = begin; y < end; ++y) {
            const std::size_t sy = source_index(y, scale, height);
            for (std::size_t i = 0; i < taps; ++i) {
                std::size_t r = sy + i < n ? 0 : sy + i - n;
                if (r > height - 1) r = height - 1;
                src[i] = narrow.get() + r * ow;
            }
            weighted_sum(src.data(), kernel.data(), taps, out.pixels.data() + y * ow, ow);
        }
    });
    return out;
}

}  // namespace tessarin::detector
