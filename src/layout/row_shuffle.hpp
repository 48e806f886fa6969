// Rows whose elements are one contiguous run of bytes in another order:
// pixels reversed (a[:, ::-1]), channels reversed (BGR views, a[..., ::-1]),
// or both. Copying such a row element by element costs a load and a store
// per element; a byte shuffle moves as many whole pixels as one 16-byte
// window holds at once, and the bytes are only moved, never combined.
#pragma once

#include <cstddef>

#include "simd/dispatch.hpp"

namespace tessarin::layout {

// The row shuffle's kernel, one table per variant (simd::pick): `count`
// windows, the k-th the 16 bytes at in + k * in_step rearranged by `mask`
// (output byte j is window byte mask[j], each below 16) into the 16 at
// out + k * out_step. Windows that follow one another may overlap in the
// output: each writes after the one before it. One call per run of windows,
// so that a vector kernel holds the mask in a register and makes no call per
// window (a call per window copied 6 MB of reversed RGB bytes at a fifth of
// the speed of memcpy). The scalar table is the byte loop (row_shuffle.cpp);
// the vector ones run row_shuffle_windows.hpp over a lane type with the
// byte shuffle (row_shuffle_avx2.cpp, row_shuffle_neon.cpp; SSE2 has none
// and takes the scalar table).
struct RowShuffleKernels {
    void (*windows)(const char* in, std::ptrdiff_t in_step, const unsigned char* mask, char* out,
                    std::ptrdiff_t out_step, std::ptrdiff_t count);
    // Whether windows moves bytes in vectors. Rows are shuffled only then:
    // the byte loop gains nothing over copying element by element.
    bool in_vectors;
};

class RowShuffle {
public:
    // A row of pixels of `channels` elements of `bytes` bytes each, pixel
    // x's channel k at byte offset x * pixel_step + k * channel_step from
    // the row's pointer, copied with variant v's kernels.
    RowShuffle(std::ptrdiff_t pixel_step, std::ptrdiff_t channel_step, std::size_t channels, std::size_t bytes,
               simd::Variant v);

    // Whether copy() can be used: the variant shuffles bytes in vectors, the
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
    const RowShuffleKernels* kernels_;
    bool usable_ = false;
};

}  // namespace tessarin::layout

TESSARIN_DECLARE_KERNELS(tessarin::layout::RowShuffleKernels)
