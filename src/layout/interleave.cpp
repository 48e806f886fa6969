#include "layout/interleave.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#include "simd/neon.hpp"
#include "simd/x86.hpp"

namespace tessarin::layout {
namespace {

void one_by_one(const char* const* runs, std::size_t begin, std::size_t end, std::size_t bytes, char* out) {
    for (std::size_t x = begin; x < end; ++x)
        for (std::size_t k = 0; k < 3; ++k) std::memcpy(out + (x * 3 + k) * bytes, runs[k] + x * bytes, bytes);
}

#if defined(TESSARIN_SIMD_X86)
// Masks that build the 48 output bytes of a step from the 16 bytes of each
// run: masks[b][k][j] is the byte of run k that lands at output byte
// 16 * b + j, or 0x80 (zero) where that byte comes from another run.
template <std::size_t S>
constexpr auto interleave_masks() {
    std::array<std::array<std::array<unsigned char, 16>, 3>, 3> m{};
    for (std::size_t b = 0; b < 3; ++b)
        for (std::size_t j = 0; j < 16; ++j) {
            const std::size_t g = 16 * b + j, element = g / S, pixel = element / 3, k = element % 3;
            for (std::size_t r = 0; r < 3; ++r)
                m[b][r][j] = r == k ? static_cast<unsigned char>(pixel * S + g % S) : 0x80;
        }
    return m;
}

template <std::size_t S>
TESSARIN_TARGET_AVX2 std::size_t interleave_x86(const char* const* runs, std::size_t n, char* out) {
    static constexpr auto masks = interleave_masks<S>();
    constexpr std::size_t step = 16 / S;  // pixels per step
    auto load = [](const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); };
    __m128i m[3][3];
    for (std::size_t b = 0; b < 3; ++b)
        for (std::size_t k = 0; k < 3; ++k) m[b][k] = load(masks[b][k].data());
    std::size_t x = 0;
    for (; x + step <= n; x += step) {
        const __m128i v[3] = {load(runs[0] + x * S), load(runs[1] + x * S), load(runs[2] + x * S)};
        for (std::size_t b = 0; b < 3; ++b) {
            const __m128i o = _mm_or_si128(
                _mm_or_si128(_mm_shuffle_epi8(v[0], m[b][0]), _mm_shuffle_epi8(v[1], m[b][1])),
                _mm_shuffle_epi8(v[2], m[b][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x * 3 * S + 16 * b), o);
        }
    }
    return x;
}
#endif

#if defined(TESSARIN_SIMD_NEON)
template <std::size_t S>
std::size_t interleave_neon(const char* const* runs, std::size_t n, char* out) {
    constexpr std::size_t step = 16 / S;
    std::size_t x = 0;
    for (; x + step <= n; x += step) {
        if constexpr (S == 1) {
            const auto p = [&](int k) { return vld1q_u8(reinterpret_cast<const std::uint8_t*>(runs[k] + x)); };
            vst3q_u8(reinterpret_cast<std::uint8_t*>(out + x * 3), uint8x16x3_t{{p(0), p(1), p(2)}});
        } else {
            // Byte loads: a run of 16-bit samples need not be aligned.
            const auto p = [&](int k) {
                return vreinterpretq_u16_u8(vld1q_u8(reinterpret_cast<const std::uint8_t*>(runs[k] + x * 2)));
            };
            vst3q_u16(reinterpret_cast<std::uint16_t*>(out + x * 6), uint16x8x3_t{{p(0), p(1), p(2)}});
        }
    }
    return x;
}
#endif

}  // namespace

bool interleaves_in_vectors(std::size_t bytes, simd::Variant v) {
    return (bytes == 1 || bytes == 2) && (v == simd::Variant::Avx2 || v == simd::Variant::Neon);
}

void interleave3(const char* const* runs, std::size_t n, std::size_t bytes, char* out, simd::Variant v) {
    std::size_t done = 0;
    if (interleaves_in_vectors(bytes, v)) {
#if defined(TESSARIN_SIMD_X86)
        done = bytes == 1 ? interleave_x86<1>(runs, n, out) : interleave_x86<2>(runs, n, out);
#elif defined(TESSARIN_SIMD_NEON)
        done = bytes == 1 ? interleave_neon<1>(runs, n, out) : interleave_neon<2>(runs, n, out);
#endif
    }
    one_by_one(runs, done, n, bytes, out);
}

}  // namespace tessarin::layout
