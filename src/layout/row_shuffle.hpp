// Rows whose elements are one contiguous run of bytes in another order:
// pixels reversed (a[:, ::-1]), channels reversed (BGR views, a[..., ::-1]),
// or both. Copying such a row element by element costs a load and a store
// per element; a byte shuffle moves as many whole pixels as one 16-byte
// window holds at once, and the bytes are only moved, never combined.
#pragma once

#include <cstddef>

#include "simd/dispatch.hpp"

namespace tessarin::layout {

class RowShuffle {
public:
    // A row of pixels of `channels` elements of `bytes` bytes each, pixel
    // x's channel k at byte offset x * pixel_step + k * channel_step from
    // the row's pointer.
    RowShuffle(std::ptrdiff_t pixel_step, std::ptrdiff_t channel_step, std::size_t channels, std::size_t bytes);

    // Whether copy() can be used: the processor has a byte shuffle, the
    // row's elements are one contiguous run (channel steps of one element,
    // pixel steps of one pixel, either sign), and a window holds a pixel.
    bool usable() const { return usable_; }

    // Copies the row's n pixels at `row` to `out` in logical order (channels
    // of pixel 0 first). Windows read only the row's own bytes and write
    // only the row's n pixels of output; pixels no window can take without
    // reaching past either go one element at a time. Only when usable().
    void copy(const char* row, std::size_t n, char* out) const;

private:
    unsigned char mask_[16] = {};  // window byte of each output byte of a block
    std::ptrdiff_t pixel_step_;
    std::ptrdiff_t channel_step_;
    std::ptrdiff_t first_ = 0;  // a block's window start, from its first pixel's offset
    std::size_t channels_;
    std::size_t bytes_;
    std::size_t pixels_ = 0;  // whole pixels per window
    simd::Variant variant_;
    bool usable_ = false;
};

}  // namespace tessarin::layout
