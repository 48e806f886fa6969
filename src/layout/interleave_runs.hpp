// The interleaving kernel, written once over a byte lane type with the
// interleaving store (simd::ByteShuffleLanes): 16 bytes of each run per
// step, the pixels left over one element at a time.
//
// Each variant file (interleave_avx2.cpp, interleave_neon.cpp) includes this
// header and gets its own copy (internal linkage), compiled for its
// instruction set; keep it free of library templates (see simd/dispatch.hpp).
#pragma once

#include <cstddef>

#include "layout/interleave.hpp"
#include "simd/bytes.hpp"

namespace tessarin::layout::interleave_detail {
namespace {

template <simd::ByteShuffleLanes L, std::size_t S>
void runs_lanes(const char* const* runs, std::size_t n, char* out) {
    constexpr std::size_t step = L::bytes / S;  // pixels per step
    std::size_t x = 0;
    for (; x + step <= n; x += step)
        L::template store3<S>(out + x * 3 * S, L::load(runs[0] + x * S), L::load(runs[1] + x * S),
                              L::load(runs[2] + x * S));
    one_by_one(runs, x, n, S, out);
}

}  // namespace
}  // namespace tessarin::layout::interleave_detail
