// One square tile of a transposing copy: as many columns as one 16-byte
// vector holds elements become as many rows. A copy of an array whose first
// axis has the shortest stride (Fortran order, transposed views) reads each
// output position's elements down a column; moving them a tile at a time
// turns element-sized loads and stores into whole-vector ones.
//
// The tile is transposed in log2(n) rounds of interleaving (x86 unpack,
// aarch64 zip), each round pairing vector i with vector i + n/2: a round
// rotates the bits of (row, column) by one, so after log2(n) rounds rows and
// columns have traded places. Elements are only moved, never combined: the
// copy is the same bytes on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/neon.hpp"
#include "simd/x86.hpp"

namespace tessarin::layout {

// Elements of `bytes` bytes per tile side: 16, 8, 4 or 2.
template <std::size_t bytes>
inline constexpr std::size_t tile_lanes = 16 / bytes;

namespace tile_detail {

#if defined(TESSARIN_SIMD_X86)
using Vec = __m128i;
inline Vec load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store(char* p, Vec v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
// Interleaves the low (upper = false) or high halves of a and b, element by
// element of S bytes.
template <std::size_t S, bool upper>
inline Vec interleave(Vec a, Vec b) {
    if constexpr (S == 1) return upper ? _mm_unpackhi_epi8(a, b) : _mm_unpacklo_epi8(a, b);
    else if constexpr (S == 2) return upper ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b);
    else if constexpr (S == 4) return upper ? _mm_unpackhi_epi32(a, b) : _mm_unpacklo_epi32(a, b);
    else return upper ? _mm_unpackhi_epi64(a, b) : _mm_unpacklo_epi64(a, b);
}
#define TESSARIN_TILE_VECTORS 1
#elif defined(TESSARIN_SIMD_NEON)
using Vec = uint8x16_t;
inline Vec load(const char* p) { return vld1q_u8(reinterpret_cast<const std::uint8_t*>(p)); }
inline void store(char* p, Vec v) { vst1q_u8(reinterpret_cast<std::uint8_t*>(p), v); }
template <std::size_t S, bool upper>
inline Vec interleave(Vec a, Vec b) {
    if constexpr (S == 1) {
        return upper ? vzip2q_u8(a, b) : vzip1q_u8(a, b);
    } else if constexpr (S == 2) {
        const uint16x8_t x = vreinterpretq_u16_u8(a), y = vreinterpretq_u16_u8(b);
        return vreinterpretq_u8_u16(upper ? vzip2q_u16(x, y) : vzip1q_u16(x, y));
    } else if constexpr (S == 4) {
        const uint32x4_t x = vreinterpretq_u32_u8(a), y = vreinterpretq_u32_u8(b);
        return vreinterpretq_u8_u32(upper ? vzip2q_u32(x, y) : vzip1q_u32(x, y));
    } else {
        const uint64x2_t x = vreinterpretq_u64_u8(a), y = vreinterpretq_u64_u8(b);
        return vreinterpretq_u8_u64(upper ? vzip2q_u64(x, y) : vzip1q_u64(x, y));
    }
}
#define TESSARIN_TILE_VECTORS 1
#endif

}  // namespace tile_detail

// For j, q < n = tile_lanes<S>: copies element j of column q, the S bytes at
// cols[q] + j * S, to out + j * row_bytes + q * S. Columns and output need no
// alignment; the columns' bytes must not overlap the output's.
template <std::size_t S>
TESSARIN_ALWAYS_INLINE void transpose_tile(const char* const* cols, char* out, std::size_t row_bytes) {
    constexpr std::size_t n = tile_lanes<S>;
#if defined(TESSARIN_TILE_VECTORS)
    using namespace tile_detail;
    Vec r[n];
    TESSARIN_UNROLL(16)
    for (std::size_t q = 0; q < n; ++q) r[q] = load(cols[q]);
    TESSARIN_UNROLL(4)
    for (std::size_t round = 1; round < n; round *= 2) {
        Vec t[n];
        TESSARIN_UNROLL(8)
        for (std::size_t i = 0; i < n / 2; ++i) {
            t[2 * i] = interleave<S, false>(r[i], r[i + n / 2]);
            t[2 * i + 1] = interleave<S, true>(r[i], r[i + n / 2]);
        }
        TESSARIN_UNROLL(16)
        for (std::size_t i = 0; i < n; ++i) r[i] = t[i];
    }
    TESSARIN_UNROLL(16)
    for (std::size_t j = 0; j < n; ++j) store(out + j * row_bytes, r[j]);
#else
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t q = 0; q < n; ++q) std::memcpy(out + j * row_bytes + q * S, cols[q] + j * S, S);
#endif
}

}  // namespace tessarin::layout
