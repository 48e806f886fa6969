#include "layout/row_shuffle.hpp"

#include <algorithm>
#include <cstring>

namespace tessarin::layout {
namespace {

std::ptrdiff_t magnitude(std::ptrdiff_t v) { return v < 0 ? -v : v; }
std::ptrdiff_t at_most_zero(std::ptrdiff_t v) { return v < 0 ? v : 0; }
std::ptrdiff_t at_least_zero(std::ptrdiff_t v) { return v > 0 ? v : 0; }

// The definition of the windows kernel: byte by byte, each window read
// whole before it is written, as a vector kernel does.
void windows_scalar(const char* in, std::ptrdiff_t in_step, const unsigned char* mask, char* out,
                    std::ptrdiff_t out_step, std::ptrdiff_t count) {
    for (std::ptrdiff_t k = 0; k < count; ++k, in += in_step, out += out_step) {
        char window[16];
        std::memcpy(window, in, 16);
        for (std::size_t j = 0; j < 16; ++j) out[j] = window[mask[j]];
    }
}

}  // namespace

RowShuffle::RowShuffle(std::ptrdiff_t pixel_step, std::ptrdiff_t channel_step, std::size_t channels,
                       std::size_t bytes, simd::Variant v)
    : pixel_step_(pixel_step),
      channel_step_(channel_step),
      channels_(channels),
      bytes_(bytes),
      kernels_(&simd::pick<RowShuffleKernels>(v)) {
    const auto s = static_cast<std::ptrdiff_t>(bytes), c = static_cast<std::ptrdiff_t>(channels);
    const bool contiguous = bytes > 0 && channels > 0 && (channels == 1 || magnitude(channel_step) == s) &&
                            magnitude(pixel_step) == c * s;
    pixels_ = contiguous ? 16 / (channels * bytes) : 0;
    usable_ = kernels_->in_vectors && pixels_ > 0;
    if (!usable_) return;
    // A block of pixels_ pixels spans pixels_ * c * s bytes, from its lowest
    // element on; output byte (q, k, b) comes from pixel q's channel k.
    const auto p = static_cast<std::ptrdiff_t>(pixels_);
    first_ = at_most_zero((p - 1) * pixel_step) + at_most_zero((c - 1) * channel_step);
    for (std::ptrdiff_t q = 0; q < p; ++q)
        for (std::ptrdiff_t k = 0; k < c; ++k)
            for (std::ptrdiff_t b = 0; b < s; ++b)
                mask_[(q * c + k) * s + b] =
                    static_cast<unsigned char>(q * pixel_step + k * channel_step + b - first_);
}

void RowShuffle::copy(const char* row, std::size_t n, char* out) const {
    if (n == 0) return;
    const auto s = static_cast<std::ptrdiff_t>(bytes_), c = static_cast<std::ptrdiff_t>(channels_);
    const std::ptrdiff_t pixel_bytes = c * s;
    const auto last = static_cast<std::ptrdiff_t>(n) - 1;
    // The row's own bytes: [low, high).
    const std::ptrdiff_t low = at_most_zero(last * pixel_step_) + at_most_zero((c - 1) * channel_step_);
    const std::ptrdiff_t high = at_least_zero(last * pixel_step_) + at_least_zero((c - 1) * channel_step_) + s;
    const std::ptrdiff_t out_end = static_cast<std::ptrdiff_t>(n) * pixel_bytes;
    const auto p = static_cast<std::ptrdiff_t>(pixels_);
    auto one_by_one = [&](std::ptrdiff_t x0, std::ptrdiff_t x1) {
        for (std::ptrdiff_t x = x0; x < x1; ++x)
            for (std::ptrdiff_t k = 0; k < c; ++k)
                std::memcpy(out + (x * c + k) * s, row + x * pixel_step_ + k * channel_step_,
                            static_cast<std::size_t>(s));
    };
    // A window is taken when it reads only the row's bytes and writes only
    // its n pixels. Each of these bounds holds on an interval of x, so the
    // windows taken are one run: the first one found, and as many after it
    // as every bound allows.
    const auto windows = static_cast<std::ptrdiff_t>(n) / p;
    const std::ptrdiff_t in_step = p * pixel_step_, out_step = p * pixel_bytes;
    auto window = [&](std::ptrdiff_t w) { return w * in_step + first_; };
    auto taken = [&](std::ptrdiff_t w) {
        return window(w) >= low && window(w) + 16 <= high && w * out_step + 16 <= out_end;
    };
    std::ptrdiff_t w = 0;
    while (w < windows && !taken(w)) ++w;
    one_by_one(0, w * p);
    if (w < windows) {
        // Windows after w: the output bound, and the input bound in the
        // direction the windows move.
        std::ptrdiff_t more = (out_end - 16 - w * out_step) / out_step;
        const std::ptrdiff_t room = in_step > 0 ? high - 16 - window(w) : window(w) - low;
        more = std::min({more, room / magnitude(in_step), windows - 1 - w});
        kernels_->windows(row + window(w), in_step, mask_, out + w * out_step, out_step, more + 1);
        w += more + 1;
    }
    const std::ptrdiff_t x = w * p;
    one_by_one(x, static_cast<std::ptrdiff_t>(n));
}

}  // namespace tessarin::layout

TESSARIN_DEFINE_KERNELS(tessarin::layout::RowShuffleKernels, Scalar,
                        {tessarin::layout::windows_scalar, false})
