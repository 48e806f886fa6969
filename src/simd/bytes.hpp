// 16-byte vectors for the kernels that only move bytes (the layout copies),
// written once over a lane type: U8x16 (SSE2), U8x16Shuffle (U8x16 and the
// byte shuffle) and U8n16 (NEON), each present where the build has its
// instruction set. Nothing here combines bytes: every operation puts input
// bytes in other places, so every path gives the bytes of a plain copy.
//
// The byte shuffle (pshufb) is an SSSE3 instruction, beyond the x86-64
// baseline; this build marks it for AVX2, the one wider x86 target it has,
// so U8x16Shuffle's own members carry TESSARIN_TARGET_AVX2 and are used only
// from functions compiled for AVX2. Processors with SSSE3 but no AVX2 run the
// SSE2 variant, which has no shuffle.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>

#include "simd/neon.hpp"
#include "simd/x86.hpp"

namespace tessarin::simd {

// What a kernel written over a 16-byte lane type may use. A lane type that
// lacks one of these fails to compile where a kernel names it, with the
// missing requirement in the message; each type below is checked as soon as
// it is defined.
//   load(p), store(p, a): 16 bytes at any address.
//   zip_low<S>(a, b), zip_high<S>(a, b): the low (high) halves of a and b
//     interleaved element by element, elements of S bytes: a0 b0 a1 b1 ...
template <class L>
concept ByteLanes = requires(typename L::V a, typename L::V b, const void* in, void* out) {
    requires std::copyable<typename L::V>;
    { L::bytes } -> std::convertible_to<std::size_t>;
    { L::load(in) } -> std::same_as<typename L::V>;
    L::store(out, a);
    { L::template zip_low<1>(a, b) } -> std::same_as<typename L::V>;
    { L::template zip_high<1>(a, b) } -> std::same_as<typename L::V>;
    { L::template zip_low<2>(a, b) } -> std::same_as<typename L::V>;
    { L::template zip_high<2>(a, b) } -> std::same_as<typename L::V>;
    { L::template zip_low<4>(a, b) } -> std::same_as<typename L::V>;
    { L::template zip_high<4>(a, b) } -> std::same_as<typename L::V>;
    { L::template zip_low<8>(a, b) } -> std::same_as<typename L::V>;
    { L::template zip_high<8>(a, b) } -> std::same_as<typename L::V>;
};

// A byte lane type with the byte shuffle, for the kernels that rearrange
// bytes within a vector:
//   shuffle(a, m): byte j is byte m[j] of a, for indices m[j] below 16 (the
//     only ones kernels pass).
//   store3<S>(p, a, b, c): the three vectors' elements of S bytes (1 or 2)
//     interleaved into the 48 bytes at p: a0 b0 c0 a1 b1 c1 ...
template <class L>
concept ByteShuffleLanes =
    ByteLanes<L> && requires(typename L::V a, typename L::V b, typename L::V c, void* out) {
        { L::shuffle(a, b) } -> std::same_as<typename L::V>;
        L::template store3<1>(out, a, b, c);
        L::template store3<2>(out, a, b, c);
    };

#if defined(TESSARIN_SIMD_X86)

struct U8x16 {
    using V = __m128i;
    static constexpr std::size_t bytes = 16;
    static V load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void store(void* p, V a) { _mm_storeu_si128(static_cast<__m128i*>(p), a); }
    template <std::size_t S>
    static V zip_low(V a, V b) {
        if constexpr (S == 1) return _mm_unpacklo_epi8(a, b);
        else if constexpr (S == 2) return _mm_unpacklo_epi16(a, b);
        else if constexpr (S == 4) return _mm_unpacklo_epi32(a, b);
        else return _mm_unpacklo_epi64(a, b);
    }
    template <std::size_t S>
    static V zip_high(V a, V b) {
        if constexpr (S == 1) return _mm_unpackhi_epi8(a, b);
        else if constexpr (S == 2) return _mm_unpackhi_epi16(a, b);
        else if constexpr (S == 4) return _mm_unpackhi_epi32(a, b);
        else return _mm_unpackhi_epi64(a, b);
    }
};

namespace bytes_detail {

// The masks that build the 48 bytes of three interleaved vectors of S-byte
// elements: m[b][k][j] is the byte of vector k that lands at output byte
// 16 * b + j, or 0x80 (a zero byte) where that byte comes from another one.
struct Interleave3Masks {
    unsigned char m[3][3][16];
};

template <std::size_t S>
constexpr Interleave3Masks interleave3_masks() {
    Interleave3Masks r{};
    for (std::size_t b = 0; b < 3; ++b)
        for (std::size_t j = 0; j < 16; ++j) {
            const std::size_t g = 16 * b + j, element = g / S, pixel = element / 3, k = element % 3;
            for (std::size_t v = 0; v < 3; ++v)
                r.m[b][v][j] = v == k ? static_cast<unsigned char>(pixel * S + g % S) : 0x80;
        }
    return r;
}

}  // namespace bytes_detail

struct U8x16Shuffle : U8x16 {
    TESSARIN_TARGET_AVX2 static V shuffle(V a, V m) { return _mm_shuffle_epi8(a, m); }
    // Each output vector ORs the three inputs shuffled into its places; the
    // masks are constants, which the compiler keeps in registers across a
    // kernel's loop.
    template <std::size_t S>
    TESSARIN_TARGET_AVX2 static void store3(void* p, V a, V b, V c) {
        static constexpr bytes_detail::Interleave3Masks masks = bytes_detail::interleave3_masks<S>();
        char* out = static_cast<char*>(p);
        for (std::size_t i = 0; i < 3; ++i) {
            const V o = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, load(masks.m[i][0])),
                                                  _mm_shuffle_epi8(b, load(masks.m[i][1]))),
                                     _mm_shuffle_epi8(c, load(masks.m[i][2])));
            store(out + 16 * i, o);
        }
    }
};

static_assert(ByteLanes<U8x16>);
static_assert(!ByteShuffleLanes<U8x16>, "SSE2 has no byte shuffle");
static_assert(ByteShuffleLanes<U8x16Shuffle>);

#endif

#if defined(TESSARIN_SIMD_NEON)

struct U8n16 {
    using V = uint8x16_t;
    static constexpr std::size_t bytes = 16;
    static V load(const void* p) { return vld1q_u8(static_cast<const std::uint8_t*>(p)); }
    static void store(void* p, V a) { vst1q_u8(static_cast<std::uint8_t*>(p), a); }
    template <std::size_t S>
    static V zip_low(V a, V b) {
        if constexpr (S == 1) return vzip1q_u8(a, b);
        else if constexpr (S == 2) return vreinterpretq_u8_u16(vzip1q_u16(vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b)));
        else if constexpr (S == 4) return vreinterpretq_u8_u32(vzip1q_u32(vreinterpretq_u32_u8(a), vreinterpretq_u32_u8(b)));
        else return vreinterpretq_u8_u64(vzip1q_u64(vreinterpretq_u64_u8(a), vreinterpretq_u64_u8(b)));
    }
    template <std::size_t S>
    static V zip_high(V a, V b) {
        if constexpr (S == 1) return vzip2q_u8(a, b);
        else if constexpr (S == 2) return vreinterpretq_u8_u16(vzip2q_u16(vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b)));
        else if constexpr (S == 4) return vreinterpretq_u8_u32(vzip2q_u32(vreinterpretq_u32_u8(a), vreinterpretq_u32_u8(b)));
        else return vreinterpretq_u8_u64(vzip2q_u64(vreinterpretq_u64_u8(a), vreinterpretq_u64_u8(b)));
    }
    static V shuffle(V a, V m) { return vqtbl1q_u8(a, m); }
    // The interleaving stores; the output need not be aligned for 16-bit
    // elements (st3 of halfwords takes any address).
    template <std::size_t S>
    static void store3(void* p, V a, V b, V c) {
        if constexpr (S == 1) {
            vst3q_u8(static_cast<std::uint8_t*>(p), uint8x16x3_t{{a, b, c}});
        } else {
            vst3q_u16(static_cast<std::uint16_t*>(p), uint16x8x3_t{{vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b),
                                                                    vreinterpretq_u16_u8(c)}});
        }
    }
};

static_assert(ByteShuffleLanes<U8n16>);

#endif

}  // namespace tessarin::simd
