// The samplers applied to a run of positions, several output pixels at a
// time. Each pixel keeps exactly the operations of the per-pixel samplers in
// samplers.hpp, in the same order: a vector lane holds one pixel, and lanes
// never combine. Where the processor has AVX2 both samplers run four pixels
// per 256-bit vector on groups of positions whose taps need no clamping; FMA
// is never enabled, so products and sums stay separately rounded. Groups near
// the border or holding NaN positions, and every position on processors
// without AVX2, go through the per-pixel samplers.
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

// Bytes a lane's bilinear tap-row load reads beyond the two pixels it needs:
// RGB rows of 6 samples are read with one 8- or 16-byte load (lanes_of).
// Single-channel taps are read exactly.
template <class T, int N>
inline constexpr std::size_t over_read = N == 1 ? 0 : sizeof(T) == 1 ? 2 : 4;

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

// The four bytes of 32-bit group `g` of `v`, zero-extended to four lanes.
[[gnu::target("avx2")]] inline __m256d group_lanes(__m128i v, int g) {
    const char b = static_cast<char>(4 * g), z = -1;
    const __m128i mask = _mm_setr_epi8(b, z, z, z, static_cast<char>(b + 1), z, z, z, static_cast<char>(b + 2), z,
                                       z, z, static_cast<char>(b + 3), z, z, z);
    return _mm256_cvtepi32_pd(_mm_shuffle_epi8(v, mask));
}

// Element e < E of the runs of E samples at at[0..3], as doubles, four lanes,
// handed to sink(e, lanes) in the order of e: the lanes hold the e-th sample
// of each lane's run. Every load stays inside its run except when E is 6:
// that run is read with one 8- or 16-byte load.
template <class T, int E, class Sink>
[[gnu::target("avx2")]] inline void lanes_of(const T* const* at, Sink& sink) {
    static_assert(E == 6 || E == 18);
    constexpr int per_load = 16 / sizeof(T);  // elements of a 16-byte load
    constexpr int whole = E == 6 ? 6 : E - E % per_load;  // elements from whole loads
    __m128i v[4];
#pragma GCC unroll 4
    for (int e = 0; e < whole; e += per_load) {
        constexpr int used = whole < per_load ? whole : per_load;
        for (int l = 0; l < 4; ++l) {
            const T* p = at[l] + e;
            v[l] = sizeof(T) == 1 && E == 6 ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))
                                            : _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        }
        if constexpr (sizeof(T) == 1) {
            const __m128i ab_lo = _mm_unpacklo_epi8(v[0], v[1]), cd_lo = _mm_unpacklo_epi8(v[2], v[3]);
            const __m128i ab_hi = _mm_unpackhi_epi8(v[0], v[1]), cd_hi = _mm_unpackhi_epi8(v[2], v[3]);
            const __m128i q[4] = {_mm_unpacklo_epi16(ab_lo, cd_lo), _mm_unpackhi_epi16(ab_lo, cd_lo),
                                  _mm_unpacklo_epi16(ab_hi, cd_hi), _mm_unpackhi_epi16(ab_hi, cd_hi)};
#pragma GCC unroll 16
            for (int i = 0; i < used; ++i) sink(e + i, group_lanes(q[i / 4], i % 4));
        } else {
            const __m128i ab_lo = _mm_unpacklo_epi16(v[0], v[1]), cd_lo = _mm_unpacklo_epi16(v[2], v[3]);
            const __m128i ab_hi = _mm_unpackhi_epi16(v[0], v[1]), cd_hi = _mm_unpackhi_epi16(v[2], v[3]);
            const __m128i q[4] = {_mm_unpacklo_epi32(ab_lo, cd_lo), _mm_unpackhi_epi32(ab_lo, cd_lo),
                                  _mm_unpacklo_epi32(ab_hi, cd_hi), _mm_unpackhi_epi32(ab_hi, cd_hi)};
#pragma GCC unroll 8
            for (int i = 0; i < used; ++i)
                sink(e + i, _mm256_cvtepi32_pd(
                                _mm_cvtepu16_epi32(i % 2 == 0 ? q[i / 2] : _mm_unpackhi_epi64(q[i / 2], q[i / 2]))));
        }
    }
    if constexpr (E == 18) {
        // The last two elements, read exactly: 2 or 4 bytes per lane.
        using Pair = std::conditional_t<sizeof(T) == 1, std::uint16_t, std::uint32_t>;
        auto pair = [&](int l) { return static_cast<int>(load_word<Pair>(at[l] + 16)); };
        const __m128i g = _mm_setr_epi32(pair(0), pair(1), pair(2), pair(3));
        if constexpr (sizeof(T) == 1) {
            sink(16, byte_lanes(g, 0));
            sink(17, byte_lanes(g, 1));
        } else {
            sink(16, _mm256_cvtepi32_pd(_mm_and_si128(g, _mm_set1_epi32(0xFFFF))));
            sink(17, _mm256_cvtepi32_pd(_mm_srli_epi32(g, 16)));
        }
    }
}

// A sink of lanes_of that keeps every element.
struct KeepLanes {
    __m256d* out;
    [[gnu::target("avx2"), gnu::always_inline]] void operator()(int e, __m256d lanes) { out[e] = lanes; }
};

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
    } else {
        // Each lane's tap row is x0's then x1's samples, 6 in all.
        for (int r = 0; r < 2; ++r) {
            const std::size_t o = r * stride;
            const T* row[4] = {at[0] + o, at[1] + o, at[2] + o, at[3] + o};
            KeepLanes keep{p[r]};
            lanes_of<T, 6>(row, keep);
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

// Whether the four positions at xs, ys all satisfy lo <= x < x_end and
// lo <= y < y_end; a NaN coordinate never does.
[[gnu::target("avx2")]] inline bool all_within(const double* xs, const double* ys, double lo, double x_end,
                                               double y_end) {
    const __m256d x = _mm256_loadu_pd(xs), y = _mm256_loadu_pd(ys), l = _mm256_set1_pd(lo);
    const __m256d m = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(x, l, _CMP_GE_OQ), _mm256_cmp_pd(x, _mm256_set1_pd(x_end), _CMP_LT_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(y, l, _CMP_GE_OQ), _mm256_cmp_pd(y, _mm256_set1_pd(y_end), _CMP_LT_OQ)));
    return _mm256_movemask_pd(m) == 0xF;
}

template <class T, int N>
[[gnu::target("avx2")]] void bilinear_run_avx2(const T* src, std::size_t width, std::size_t height, const double* xs,
                                               const double* ys, std::size_t count, T* out) {
    // The kernel takes a group of four when no position needs a clamped tap
    // or is NaN, and its loads stay inside the buffer: RGB loads read a few
    // elements past the second tap, so their last tap row is never the image's
    // last row. Everything else goes through the per-pixel sampler.
    const double x_end = static_cast<double>(width) - 1.0;
    const double y_end = static_cast<double>(height) - (over_read<T, N> > 0 ? 2.0 : 1.0);
    const std::size_t stride = width * N;
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        if (all_within(xs + i, ys + i, 0.0, x_end, y_end)) {
            bilinear4<T, N>(src, stride, _mm256_loadu_pd(xs + i), _mm256_loadu_pd(ys + i), out + i * N);
        } else {
            for (std::size_t l = i; l < i + 4; ++l) sample_bilinear<T, N>(src, width, height, xs[l], ys[l], out + l * N);
        }
    }
    for (; i < count; ++i) sample_bilinear<T, N>(src, width, height, xs[i], ys[i], out + i * N);
}

// The six table entries of four rows, transposed: w[k] holds entry k of each
// lane's row.
[[gnu::target("avx2")]] inline void weights4(const double* const* row, __m256d* w) {
    const __m256d a = _mm256_loadu_pd(row[0]), b = _mm256_loadu_pd(row[1]);
    const __m256d c = _mm256_loadu_pd(row[2]), d = _mm256_loadu_pd(row[3]);
    const __m256d ab0 = _mm256_unpacklo_pd(a, b), ab1 = _mm256_unpackhi_pd(a, b);  // a0 b0 a2 b2 | a1 b1 a3 b3
    const __m256d cd0 = _mm256_unpacklo_pd(c, d), cd1 = _mm256_unpackhi_pd(c, d);
    w[0] = _mm256_permute2f128_pd(ab0, cd0, 0x20);
    w[1] = _mm256_permute2f128_pd(ab1, cd1, 0x20);
    w[2] = _mm256_permute2f128_pd(ab0, cd0, 0x31);
    w[3] = _mm256_permute2f128_pd(ab1, cd1, 0x31);
    const __m128d a45 = _mm_loadu_pd(row[0] + 4), b45 = _mm_loadu_pd(row[1] + 4);
    const __m128d c45 = _mm_loadu_pd(row[2] + 4), d45 = _mm_loadu_pd(row[3] + 4);
    w[4] = _mm256_set_m128d(_mm_unpacklo_pd(c45, d45), _mm_unpacklo_pd(a45, b45));
    w[5] = _mm256_set_m128d(_mm_unpackhi_pd(c45, d45), _mm_unpackhi_pd(a45, b45));
}

// Table rows of four fractions in [0, 1): table_row's rounding, lane by lane
// (the scaling, truncation and remainder are exact).
[[gnu::target("avx2")]] inline __m128i table_rows4(__m256d fraction) {
    const __m256d f = _mm256_mul_pd(fraction, _mm256_set1_pd(1024.0));
    const __m256d whole = _mm256_cvtepi32_pd(_mm256_cvttpd_epi32(f));
    const __m256d up = _mm256_and_pd(_mm256_cmp_pd(_mm256_sub_pd(f, whole), _mm256_set1_pd(0.5), _CMP_GE_OQ),
                                     _mm256_set1_pd(1.0));
    return _mm256_cvttpd_epi32(_mm256_add_pd(whole, up));
}

// A sink of lanes_of that adds the terms of one tap row to the accumulators:
// sample e is channel e % N of tap e / N, weighed by wx[tap] * wy, the weight
// product formed once per tap.
template <int N>
struct Lanczos3Terms {
    __m256d* acc;
    const __m256d* wx;
    __m256d wy;
    __m256d weight;
    [[gnu::target("avx2"), gnu::always_inline]] void operator()(int e, __m256d samples) {
        const int c = e % N;
        if (c == 0) weight = _mm256_mul_pd(wx[e / N], wy);
        acc[c] = _mm256_add_pd(acc[c], _mm256_mul_pd(samples, weight));
    }
};

// G groups of four Lanczos-3 samples whose positions all satisfy
// 2 <= x < width - 3 and 2 <= y < height - 3 (no tap clamped, no NaN). Each
// lane adds its 36 terms per channel in the order of sample_lanczos3; the G
// groups run side by side only to overlap their chains of additions.
template <class T, int N, int G>
[[gnu::target("avx2")]] inline void lanczos3_4(const T* src, std::size_t stride, const double* table,
                                               const double* xs, const double* ys, T* out) {
    __m256d wx[G][6], wy[G][6], acc[G][N];
    const T* base[G][4];
    for (int g = 0; g < G; ++g) {
        const __m256d x = _mm256_loadu_pd(xs + 4 * g), y = _mm256_loadu_pd(ys + 4 * g);
        const __m128i ix = _mm256_cvttpd_epi32(x), iy = _mm256_cvttpd_epi32(y);
        const __m128i rx = table_rows4(_mm256_sub_pd(x, _mm256_cvtepi32_pd(ix)));
        const __m128i ry = table_rows4(_mm256_sub_pd(y, _mm256_cvtepi32_pd(iy)));
        const __m128i two = _mm_set1_epi32(2), six = _mm_set1_epi32(6);
        __m128i col = _mm_sub_epi32(ix, two);
        if constexpr (N == 3) col = _mm_add_epi32(_mm_add_epi32(col, col), col);
        const __m128i off =
            _mm_add_epi32(_mm_mullo_epi32(_mm_sub_epi32(iy, two), _mm_set1_epi32(static_cast<int>(stride))), col);
        alignas(16) std::int32_t o[4], tx[4], ty[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(o), off);
        _mm_store_si128(reinterpret_cast<__m128i*>(tx), _mm_mullo_epi32(rx, six));
        _mm_store_si128(reinterpret_cast<__m128i*>(ty), _mm_mullo_epi32(ry, six));
        const double* rows_x[4] = {table + tx[0], table + tx[1], table + tx[2], table + tx[3]};
        const double* rows_y[4] = {table + ty[0], table + ty[1], table + ty[2], table + ty[3]};
        weights4(rows_x, wx[g]);
        weights4(rows_y, wy[g]);
        for (int l = 0; l < 4; ++l) base[g][l] = src + o[l];
        for (int c = 0; c < N; ++c) acc[g][c] = _mm256_setzero_pd();
    }
    for (int j = 0; j < 6; ++j)
        for (int g = 0; g < G; ++g) {
            const T* at[4] = {base[g][0] + j * stride, base[g][1] + j * stride, base[g][2] + j * stride,
                              base[g][3] + j * stride};
            Lanczos3Terms<N> terms{acc[g], wx[g], wy[g][j], _mm256_setzero_pd()};
            lanes_of<T, 6 * N>(at, terms);
        }
    for (int g = 0; g < G; ++g) {
        __m128i ch[N];
        for (int c = 0; c < N; ++c) ch[c] = to_samples4<T>(acc[g][c]);
        store_pixels4<T, N>(ch, out + 4 * g * N);
    }
}

template <class T, int N>
[[gnu::target("avx2")]] void lanczos3_run_avx2(const T* src, std::size_t width, std::size_t height,
                                               const Lanczos3Table& table, const double* xs, const double* ys,
                                               std::size_t count, T* out) {
    // Interior groups only, as in bilinear_run_avx2; single-channel rows are
    // read with whole loads a little past their sixth tap, so their last tap
    // row is never the image's last row.
    constexpr int G = N == 1 ? 2 : 1;
    const double lo = 2.0;
    const double x_end = static_cast<double>(width) - 3.0;
    const double y_end = static_cast<double>(height) - (N == 1 ? 4.0 : 3.0);
    const std::size_t stride = width * N;
    auto inside = [&](std::size_t i) { return all_within(xs + i, ys + i, lo, x_end, y_end); };
    auto one_by_one = [&](std::size_t i, std::size_t n) {
        sample_lanczos3_interleaved<T, N>(src, width, height, table, xs + i, ys + i, n, out + i * N);
    };
    const double* t = table[0].data();
    std::size_t i = 0;
    for (; i + 4 * G <= count; i += 4 * G) {
        bool all = true;
        for (int g = 0; g < G; ++g) all = all && inside(i + 4 * g);
        if (all) {
            lanczos3_4<T, N, G>(src, stride, t, xs + i, ys + i, out + i * N);
            continue;
        }
        for (int g = 0; g < G; ++g) {
            const std::size_t k = i + 4 * g;
            if (inside(k))
                lanczos3_4<T, N, 1>(src, stride, t, xs + k, ys + k, out + k * N);
            else
                one_by_one(k, 4);
        }
    }
    for (; i + 4 <= count; i += 4) {
        if (inside(i))
            lanczos3_4<T, N, 1>(src, stride, t, xs + i, ys + i, out + i * N);
        else
            one_by_one(i, 4);
    }
    one_by_one(i, count - i);
}

// The four-lane kernels compute element offsets in 32-bit lanes, and a row
// must be long enough to hold what a bilinear RGB load reads past its taps
// (a Lanczos-3 interior needs rows of at least 7 pixels anyway).
template <class T, int N>
inline bool fits_wide_kernel(std::size_t width, std::size_t height) {
    constexpr std::size_t limit = std::size_t{1} << 30;
    return width < limit && height < limit && width * N < limit / (height == 0 ? 1 : height) &&
           width * N * sizeof(T) >= over_read<T, N>;
}

#endif

}  // namespace detail

// sample_lanczos3 at (xs[i], ys[i]) into out + i * N for i < count.
template <class T, int N>
inline void sample_lanczos3_run(const T* src, std::size_t width, std::size_t height, const Lanczos3Table& table,
                                const double* xs, const double* ys, std::size_t count, T* out) {
#if defined(TESSARIN_WARP_AVX2)
    if (detail::has_avx2() && detail::fits_wide_kernel<T, N>(width, height)) {
        detail::lanczos3_run_avx2<T, N>(src, width, height, table, xs, ys, count, out);
        return;
    }
#endif
    sample_lanczos3_interleaved<T, N>(src, width, height, table, xs, ys, count, out);
}

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
