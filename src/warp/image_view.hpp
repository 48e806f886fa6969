// A source image read where it lies.
#pragma once

#include <cstddef>

namespace tessarin::warp {

// Sample c of pixel (x, y) is data[y * row_step + x * Channels + c]: each
// row's pixels lie one after another, and row_step (in elements) is
// width * Channels for a contiguous image, negative for rows stored bottom
// up, larger for the rows of a crop of a wider image. The caller vouches that
// every pixel can be read and that nothing writes the image during the call.
// Rows that overlap (|row_step| < width * Channels) are read correctly, only
// without the vector kernels.
template <class T>
struct ImageView {
    const T* data;
    std::ptrdiff_t row_step;
};

}  // namespace tessarin::warp
