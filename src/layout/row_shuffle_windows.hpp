// The row shuffle's windows kernel, written once over a byte lane type with
// the byte shuffle (simd::ByteShuffleLanes): the mask is loaded once and
// stays in a register for the whole run of windows.
//
// Each variant file (row_shuffle_avx2.cpp, row_shuffle_neon.cpp) includes
// this header and gets its own copy (internal linkage), compiled for its
// instruction set; keep it free of library templates (see simd/dispatch.hpp).
#pragma once

#include <cstddef>

#include "simd/bytes.hpp"

namespace tessarin::layout::row_shuffle_detail {
namespace {

template <simd::ByteShuffleLanes L>
void windows(const char* in, std::ptrdiff_t in_step, const unsigned char* mask, char* out, std::ptrdiff_t out_step,
             std::ptrdiff_t count) {
    const typename L::V m = L::load(mask);
    for (std::ptrdiff_t k = 0; k < count; ++k, in += in_step, out += out_step) L::store(out, L::shuffle(L::load(in), m));
}

}  // namespace
}  // namespace tessarin::layout::row_shuffle_detail
