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

// Whether interleave3 moves elements of `bytes` bytes in vectors in variant
// v (1- and 2-byte elements, where the variant has a byte shuffle);
// otherwise it moves them one at a time.
bool interleaves_in_vectors(std::size_t bytes, simd::Variant v);

// out[(x * 3 + k) * bytes ...] = the `bytes` bytes at runs[k] + x * bytes,
// for x < n and k < 3. Reads only the runs' n elements and writes only the
// n pixels of output; the runs must not overlap the output.
void interleave3(const char* const* runs, std::size_t n, std::size_t bytes, char* out, simd::Variant v);

}  // namespace tessarin::layout
