// Rows whose channels lie in separate planes: a channel-first image viewed
// with its channels last (np.moveaxis(chw, 0, 2)), where each channel's
// samples of a row are one run of their own. Copying such a row element by
// element costs a load and a store per sample; byte shuffles (x86) or
// interleaving stores (aarch64) take 16 bytes of each of the three runs at
// once. The bytes are only moved, never combined.
#pragma once

#include <cstddef>

#include "simd/dispatch.hpp"

namespace tessarin::layout {

// The interleaving kernel, one table per variant (simd::pick), one entry per
// element size (1 and 2 bytes): interleave3's work for elements of that
// size. The scalar table is the element loop (interleave.cpp); the vector
// ones run interleave_runs.hpp over a lane type with the byte shuffle
// (interleave_avx2.cpp, interleave_neon.cpp; SSE2 has none and takes the
// scalar table).
struct InterleaveKernels {
    using Runs = void (*)(const char* const* runs, std::size_t n, char* out);
    Runs bytes1, bytes2;
    // Whether the entries move elements in vectors. Planes are interleaved
    // only then: the element loop gains nothing over copying element by
    // element.
    bool in_vectors;
};

// Whether interleave3 moves elements of `bytes` bytes in vectors in variant
// v (1- and 2-byte elements, where the variant's table does); otherwise it
// moves them one at a time.
bool interleaves_in_vectors(std::size_t bytes, simd::Variant v);

// out[(x * 3 + k) * bytes ...] = the `bytes` bytes at runs[k] + x * bytes,
// for x < n and k < 3. Reads only the runs' n elements and writes only the
// n pixels of output; the runs must not overlap the output.
void interleave3(const char* const* runs, std::size_t n, std::size_t bytes, char* out, simd::Variant v);

namespace interleave_detail {

// interleave3's definition for pixels [begin, end): one element at a time.
void one_by_one(const char* const* runs, std::size_t begin, std::size_t end, std::size_t bytes, char* out);

}  // namespace interleave_detail

}  // namespace tessarin::layout

TESSARIN_DECLARE_KERNELS(tessarin::layout::InterleaveKernels)
