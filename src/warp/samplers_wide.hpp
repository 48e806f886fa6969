// The samplers applied to a run of positions, several output pixels at a
// time. Each pixel keeps exactly the operations of the per-pixel samplers in
// samplers.hpp, in the same order: a vector lane holds one pixel, and lanes
// never combine. Where the processor has AVX2 the bilinear sampler runs four
// pixels per 256-bit vector; FMA is never enabled, so products and sums stay
// separately rounded. Elsewhere (and for any group the fast kernel does not
// take) the per-pixel samplers run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "warp/samplers.hpp"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define TESSARIN_WARP_AVX2 1
#include <immintrin.h>
#endif

namespace tessarin::warp {
namespace detail {

#if defined(TESSARIN_WARP_AVX2)

inline bool has_avx2() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
}

// Bytes a lane's tap-row load reads beyond the two pixels it needs: RGB rows
// are read with whole 8- or 16-byte loads. Single-channel taps are read exactly.
template <class T, int N>
inline constexpr std::size_t over_read = N == 1 ? 0 : 16 / sizeof(T) == 16 ? 2 : 4;

template <class U>
inline U load_word(const void* p) {
    U v;
    std::memcpy(&v, p, sizeof(U));
    return v;
}

// The 4 int32 lanes of `v` made of byte (or 16-bit element) `b` of each of
// its 32-bit (or 64-bit) groups, zero-extended.
[[gnu::target("avx2")]] inline __m256d byte_lanes(__m128i v, int b) {
    const char m = static_cast<char>(b), z = -1;
    const __m128i mask = _mm_setr_epi8(m, z, z, z, static_cast<char>(m + 4), z, z, z, static_cast<char>(m + 8), z,
                                       z, z, static_cast<char>(m + 12), z, z, z);
    return _mm256_cvtepi32_pd(_mm_shuffle_epi8(v, mask));
}

// The samples of the 2 x 2 taps of four pixels, as doubles, one pixel per
// lane: p[r][k * N + c] is channel c of tap column k (0: x0, 1: x0 + 1) in tap
// row r (0: y0, 1: y0 + 1). `at[l]` points at lane l's tap (x0, y0); no tap
// is clamped here.
template <class T, int N>
[[gnu::target("avx2")]] inline void bilinear_taps4(const T* const* at, std::size_t stride, __m256d (*p)[2 * N]) {
    if constexpr (N == 1 && sizeof(T) == 1) {
        // Lane l's four taps in one 32-bit group: x0, x1 of row 0, then of row 1.
        auto group = [&](int l) {
            return static_cast<int>(load_word<std::uint16_t>(at[l]) |
                                    static_cast<std::uint32_t>(load_word<std::uint16_t>(at[l] + stride)) << 16);
        };
        const __m128i v = _mm_setr_epi32(group(0), group(1), group(2), group(3));
        p[0][0] = byte_lanes(v, 0);
        p[0][1] = byte_lanes(v, 1);
        p[1][0] = byte_lanes(v, 2);
        p[1][1] = byte_lanes(v, 3);
    } else if constexpr (N == 1) {
        // Lane l's four 16-bit taps in one 64-bit group, transposed to lanes.
        auto group = [&](int l) {
            return static_cast<long long>(load_word<std::uint32_t>(at[l]) |
                                          static_cast<std::uint64_t>(load_word<std::uint32_t>(at[l] + stride)) << 32);
        };
        const __m128i g01 = _mm_set_epi64x(group(1), group(0));
        const __m128i g23 = _mm_set_epi64x(group(3), group(2));
        const __m128i t0 = _mm_unpacklo_epi16(g01, g23);  // 0a 2a 0b 2b 0c 2c 0d 2d
        const __m128i t1 = _mm_unpackhi_epi16(g01, g23);  // 1a 3a 1b 3b ...
        const __m128i ab = _mm_unpacklo_epi16(t0, t1);    // 0a 1a 2a 3a 0b 1b 2b 3b
        const __m128i cd = _mm_unpackhi_epi16(t0, t1);
        p[0][0] = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(ab));
        p[0][1] = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_unpackhi_epi64(ab, ab)));
        p[1][0] = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(cd));
        p[1][1] = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_unpackhi_epi64(cd, cd)));
    } else if constexpr (sizeof(T) == 1) {
        // Each lane's tap row is 6 bytes (x0's RGB, x1's RGB), read as 8.
        for (int r = 0; r < 2; ++r) {
            const std::size_t o = r * stride;
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at[0] + o));
            const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at[1] + o));
            const __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at[2] + o));
            const __m128i d = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at[3] + o));
            const __m128i ab = _mm_unpacklo_epi8(a, b), cd = _mm_unpacklo_epi8(c, d);
            const __m128i lo = _mm_unpacklo_epi16(ab, cd);  // bytes 0..3, four lanes each
            const __m128i hi = _mm_unpackhi_epi16(ab, cd);  // bytes 4..7
            p[r][0] = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(lo));
            p[r][1] = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_srli_si128(lo, 4)));
            p[r][2] = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_srli_si128(lo, 8)));
            p[r][3] = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_srli_si128(lo, 12)));
            p[r][4] = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(hi));
            p[r][5] = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_srli_si128(hi, 4)));
        }
    } else {
        // Each lane's tap row is 6 16-bit samples, read as 8.
        for (int r = 0; r < 2; ++r) {
            const std::size_t o = r * stride;
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[0] + o));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[1] + o));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[2] + o));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[3] + o));
            const __m128i ab_lo = _mm_unpacklo_epi16(a, b), cd_lo = _mm_unpacklo_epi16(c, d);
            const __m128i ab_hi = _mm_unpackhi_epi16(a, b), cd_hi = _mm_unpackhi_epi16(c, d);
            const __m128i s01 = _mm_unpacklo_epi32(ab_lo, cd_lo);  // samples 0, 1 of the four lanes
            const __m128i s23 = _mm_unpackhi_epi32(ab_lo, cd_lo);
            const __m128i s45 = _mm_unpacklo_epi32(ab_hi, cd_hi);
            const __m128i s[3] = {s01, s23, s45};
            for (int q = 0; q < 3; ++q) {
                p[r][2 * q] = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(s[q]));
                p[r][2 * q + 1] = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_unpackhi_epi64(s[q], s[q])));
            }
        }
    }
}

// Rounds half up, clamps and truncates, four lanes: max and min keep their
// second operand when the first is NaN, as to_sample does.
template <class T>
[[gnu::target("avx2")]] inline __m128i to_samples4(__m256d acc) {
    __m256d v = _mm256_add_pd(acc, _mm256_set1_pd(0.5));
    v = _mm256_max_pd(v, _mm256_setzero_pd());
    v = _mm256_min_pd(v, _mm256_set1_pd(max_sample<T>));
    return _mm256_cvttpd_epi32(v);
}

// Stores the channels of four consecutive pixels, given one 32-bit lane per pixel.
template <class T, int N>
[[gnu::target("avx2")]] inline void store_pixels4(const __m128i* ch, T* out) {
    auto* o = reinterpret_cast<unsigned char*>(out);
    if constexpr (N == 1 && sizeof(T) == 1) {
        const __m128i v = _mm_packus_epi16(_mm_packus_epi32(ch[0], ch[0]), _mm_setzero_si128());
        const auto word = static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
        std::memcpy(o, &word, 4);
    } else if constexpr (N == 1) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi32(ch[0], ch[0]));
    } else if constexpr (sizeof(T) == 1) {
        const __m128i rgb0 = _mm_or_si128(ch[0], _mm_or_si128(_mm_slli_epi32(ch[1], 8), _mm_slli_epi32(ch[2], 16)));
        const __m128i packed = _mm_shuffle_epi8(rgb0, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o), packed);
        const auto tail = static_cast<std::uint32_t>(_mm_extract_epi32(packed, 2));
        std::memcpy(o + 8, &tail, 4);
    } else {
        const __m128i rg = _mm_or_si128(ch[0], _mm_slli_epi32(ch[1], 16));
        const __m128i squeeze = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
        const __m128i p01 = _mm_shuffle_epi8(_mm_unpacklo_epi32(rg, ch[2]), squeeze);  // pixels 0, 1
        const __m128i p23 = _mm_shuffle_epi8(_mm_unpackhi_epi32(rg, ch[2]), squeeze);  // pixels 2, 3
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_or_si128(p01, _mm_slli_si128(p23, 12)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 16), _mm_srli_si128(p23, 4));
    }
}

// Four bilinear samples whose positions all satisfy 0 <= x < width - 1 and
// 0 <= y < height - 1 (no tap clamped, no NaN): the floor is the truncation,
// and the weights and sums are those of sample_bilinear, lane by lane.
template <class T, int N>
[[gnu::target("avx2")]] inline void bilinear4(const T* src, std::size_t stride, __m256d x, __m256d y, T* out) {
    const __m128i ix = _mm256_cvttpd_epi32(x);
    const __m128i iy = _mm256_cvttpd_epi32(y);
    const __m256d fx = _mm256_sub_pd(x, _mm256_cvtepi32_pd(ix));
    const __m256d fy = _mm256_sub_pd(y, _mm256_cvtepi32_pd(iy));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d gx = _mm256_sub_pd(one, fx);
    const __m256d gy = _mm256_sub_pd(one, fy);
    const __m256d w00 = _mm256_mul_pd(gx, gy);
    const __m256d w10 = _mm256_mul_pd(fx, gy);
    const __m256d w01 = _mm256_mul_pd(gx, fy);
    const __m256d w11 = _mm256_mul_pd(fx, fy);

    // Element offsets of the (x0, y0) taps; the caller made sure they fit.
    __m128i col = ix;
    if constexpr (N == 3) col = _mm_add_epi32(_mm_add_epi32(ix, ix), ix);
    const __m128i off = _mm_add_epi32(_mm_mullo_epi32(iy, _mm_set1_epi32(static_cast<int>(stride))), col);
    alignas(16) std::int32_t o[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(o), off);
    const T* at[4] = {src + o[0], src + o[1], src + o[2], src + o[3]};

    __m256d p[2][2 * N];
    bilinear_taps4<T, N>(at, stride, p);
    __m128i ch[N];
    for (int c = 0; c < N; ++c) {
        __m256d acc = _mm256_add_pd(_mm256_mul_pd(p[0][c], w00), _mm256_mul_pd(p[0][N + c], w10));
        acc = _mm256_add_pd(acc, _mm256_mul_pd(p[1][c], w01));
        acc = _mm256_add_pd(acc, _mm256_mul_pd(p[1][N + c], w11));
        ch[c] = to_samples4<T>(acc);
    }
    store_pixels4<T, N>(ch, out);
}

template <class T, int N>
[[gnu::target("avx2")]] void bilinear_run_avx2(const T* src, std::size_t width, std::size_t height, const double* xs,
                                               const double* ys, std::size_t count, T* out) {
    // The kernel takes a group of four when no position needs a clamped tap
    // or is NaN, and its loads stay inside the buffer: RGB loads read a few
    // elements past the second tap, so their last tap row is never the image's
    // last row. Everything else goes through the per-pixel sampler.
    const __m256d x_end = _mm256_set1_pd(static_cast<double>(width) - 1.0);
    const __m256d y_end = _mm256_set1_pd(static_cast<double>(height) - (over_read<T, N> > 0 ? 2.0 : 1.0));
    const __m256d zero = _mm256_setzero_pd();
    const std::size_t stride = width * N;
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d x = _mm256_loadu_pd(xs + i);
        const __m256d y = _mm256_loadu_pd(ys + i);
        const __m256d inside = _mm256_and_pd(
            _mm256_and_pd(_mm256_cmp_pd(x, zero, _CMP_GE_OQ), _mm256_cmp_pd(x, x_end, _CMP_LT_OQ)),
            _mm256_and_pd(_mm256_cmp_pd(y, zero, _CMP_GE_OQ), _mm256_cmp_pd(y, y_end, _CMP_LT_OQ)));
        if (_mm256_movemask_pd(inside) == 0xF) {
            bilinear4<T, N>(src, stride, x, y, out + i * N);
        } else {
            for (std::size_t l = i; l < i + 4; ++l) sample_bilinear<T, N>(src, width, height, xs[l], ys[l], out + l * N);
        }
    }
    for (; i < count; ++i) sample_bilinear<T, N>(src, width, height, xs[i], ys[i], out + i * N);
}

// The four-lane kernel computes element offsets in 32-bit lanes.
template <class T, int N>
inline bool fits_wide_kernel(std::size_t width, std::size_t height) {
    constexpr std::size_t limit = std::size_t{1} << 30;
    return width < limit && height < limit && width * N < limit / (height == 0 ? 1 : height) &&
           width * N * sizeof(T) >= over_read<T, N>;
}

#endif

}  // namespace detail

// sample_bilinear at (xs[i], ys[i]) into out + i * N for i < count.
template <class T, int N>
inline void sample_bilinear_run(const T* src, std::size_t width, std::size_t height, const double* xs,
                                const double* ys, std::size_t count, T* out) {
#if defined(TESSARIN_WARP_AVX2)
    if (detail::has_avx2() && detail::fits_wide_kernel<T, N>(width, height)) {
        detail::bilinear_run_avx2<T, N>(src, width, height, xs, ys, count, out);
        return;
    }
#endif
    for (std::size_t i = 0; i < count; ++i) sample_bilinear<T, N>(src, width, height, xs[i], ys[i], out + i * N);
}

}  // namespace tessarin::warp
