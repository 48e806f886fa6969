// The samplers' run kernels four lanes wide, for processors with AVX2.
//
// The kernels of samplers_lanes.hpp over four-lane vectors, compiled for
// AVX2 in this unit alone and entered only where the dispatch layer found
// AVX2 (never FMA: products and sums stay separately rounded). Every header
// is included before the AVX2 region except the kernels (see
// simd/dispatch.hpp). Positions the kernels leave take the per-pixel
// Lanczos-3 with the SSE2 arithmetic, compiled outside the region.
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/lanes.hpp"
#include "warp/samplers.hpp"
#include "warp/samplers_sse2.hpp"
#include "warp/samplers_wide.hpp"

#if defined(TESSARIN_SIMD_X86)

TESSARIN_BEGIN_AVX2
#include "warp/samplers_lanes.hpp"

namespace tessarin::warp::detail {
namespace {

template <class U>
inline U load_word(const void* p) {
    U v;
    std::memcpy(&v, p, sizeof(U));
    return v;
}

// The 4 int32 lanes of `v` made of byte (or 16-bit element) `b` of each of
// its 32-bit (or 64-bit) groups, zero-extended.
inline __m256d byte_lanes(__m128i v, int b) {
    const char m = static_cast<char>(b), z = -1;
    const __m128i mask = _mm_setr_epi8(m, z, z, z, static_cast<char>(m + 4), z, z, z, static_cast<char>(m + 8), z,
                                       z, z, static_cast<char>(m + 12), z, z, z);
    return _mm256_cvtepi32_pd(_mm_shuffle_epi8(v, mask));
}

// Exact byte-to-double widening without a conversion instruction: the double
// whose bytes are v, five zeros, 0x30 and 0x43 (low to high) is 2^52 + v, and
// subtracting 2^52 leaves v exactly. A 256-bit byte shuffle that builds those
// doubles and a subtraction share the load among more pipes than the
// conversions: runs of 6 bytes per lane (RGB bilinear tap rows,
// single-channel Lanczos-3 tap rows) measured 3-6% faster on a
// first-generation Zen, where conversions issue on one pipe only, and runs of
// 18 bytes (RGB Lanczos-3 tap rows, three windows of 6) 5% faster on a
// fourth-generation Zen (1.5% slower on the first). 16-bit samples gained
// nothing and keep the conversions.
//
// The source of the shuffle: lanes 0 and 1's 8 bytes in its low half, lanes 2
// and 3's in its high half, and in bytes 14 and 15 of each half (the last two
// of lanes 1 and 3, which the callers never use) the high bytes 0x30, 0x43.
template <class T>
inline __m256i magic_source(const T* const* at, std::ptrdiff_t offset) {
    auto q = [&](int l) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(reinterpret_cast<const unsigned char*>(at[l]) + offset));
    };
    const __m256i v = _mm256_set_m128i(_mm_unpacklo_epi64(q(2), q(3)), _mm_unpacklo_epi64(q(0), q(1)));
    return _mm256_blend_epi16(v, _mm256_set1_epi16(0x4330), 0x80);
}

// Byte b < 6 of each lane's 8 bytes in a magic_source, as doubles.
inline __m256d magic_lanes(__m256i source, int b) {
    const char e = static_cast<char>(b), f = static_cast<char>(8 + b), z = -1;
    const __m256i mask = _mm256_setr_epi8(e, z, z, z, z, z, 14, 15, f, z, z, z, z, z, 14, 15, e, z, z, z, z, z, 14,
                                          15, f, z, z, z, z, z, 14, 15);
    const __m256d two52 = _mm256_castsi256_pd(_mm256_set1_epi64x(0x4330000000000000LL));
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_shuffle_epi8(source, mask)), two52);
}

// Element e < E of the runs of E samples at at[0..3], as doubles, four lanes,
// handed to sink(e, lanes) in the order of e: the lanes hold the e-th sample
// of each lane's run. Every load stays inside its run except for byte runs,
// read 6 at a time with 8-byte loads, and 16-bit runs of 6, read with one
// 16-byte load.
template <class T, int E, class Sink>
inline void lanes_of(const T* const* at, Sink& sink) {
    static_assert(E == 6 || E == 18);
    if constexpr (sizeof(T) == 1) {
        for (int o = 0; o < E; o += 6) {
            const __m256i source = magic_source(at, o);
            for (int b = 0; b < 6; ++b) sink(o + b, magic_lanes(source, b));
        }
        return;
    }
    // 16-bit runs: whole 16-byte loads of 8 samples transposed to lanes, and
    // the last two samples of a run of 18 read exactly (4 bytes per lane).
    constexpr int whole = E == 6 ? 6 : 16;  // elements from whole loads
TESSARIN_UNROLL(2)
    for (int e = 0; e < whole; e += 8) {
        constexpr int used = whole < 8 ? whole : 8;
        __m128i v[4];
        for (int l = 0; l < 4; ++l) v[l] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[l] + e));
        const __m128i ab_lo = _mm_unpacklo_epi16(v[0], v[1]), cd_lo = _mm_unpacklo_epi16(v[2], v[3]);
        const __m128i ab_hi = _mm_unpackhi_epi16(v[0], v[1]), cd_hi = _mm_unpackhi_epi16(v[2], v[3]);
        const __m128i q[4] = {_mm_unpacklo_epi32(ab_lo, cd_lo), _mm_unpackhi_epi32(ab_lo, cd_lo),
                              _mm_unpacklo_epi32(ab_hi, cd_hi), _mm_unpackhi_epi32(ab_hi, cd_hi)};
TESSARIN_UNROLL(8)
        for (int i = 0; i < used; ++i)
            sink(e + i, _mm256_cvtepi32_pd(
                            _mm_cvtepu16_epi32(i % 2 == 0 ? q[i / 2] : _mm_unpackhi_epi64(q[i / 2], q[i / 2]))));
    }
    if constexpr (E == 18) {
        auto pair = [&](int l) { return static_cast<int>(load_word<std::uint32_t>(at[l] + 16)); };
        const __m128i g = _mm_setr_epi32(pair(0), pair(1), pair(2), pair(3));
        sink(16, _mm256_cvtepi32_pd(_mm_and_si128(g, _mm_set1_epi32(0xFFFF))));
        sink(17, _mm256_cvtepi32_pd(_mm_srli_epi32(g, 16)));
    }
}

// A sink of lanes_of that keeps every element.
struct KeepLanes {
    __m256d* out;
    void operator()(int e, __m256d lanes) { out[e] = lanes; }
};

// The samples of the 2 x 2 taps of four pixels, as doubles, one pixel per
// lane: p[r][k * N + c] is channel c of tap column k (0: x0, 1: x0 + 1) in tap
// row r (0: y0, 1: y0 + 1). `at[l]` points at lane l's tap (x0, y0); no tap
// is clamped here.
template <class T, int N>
inline void bilinear_taps4(const T* const* at, std::ptrdiff_t stride, __m256d (*p)[2 * N]) {
    if constexpr (N == 1 && sizeof(T) == 1) {
        // Lane l's taps x0, x1 of either row in the low bytes of a 32-bit
        // group, one vector per row.
        auto row = [&](std::ptrdiff_t o) {
            auto word = [&](int l) { return static_cast<int>(load_word<std::uint32_t>(at[l] + o)); };
            return _mm_setr_epi32(word(0), word(1), word(2), word(3));
        };
        const __m128i r0 = row(0), r1 = row(stride);
        p[0][0] = byte_lanes(r0, 0);
        p[0][1] = byte_lanes(r0, 1);
        p[1][0] = byte_lanes(r1, 0);
        p[1][1] = byte_lanes(r1, 1);
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
            const std::ptrdiff_t o = r * stride;
            const T* row[4] = {at[0] + o, at[1] + o, at[2] + o, at[3] + o};
            KeepLanes keep{p[r]};
            lanes_of<T, 6>(row, keep);
        }
    }
}

// Stores the channels of four consecutive pixels, given one 32-bit lane per
// pixel and channel: every pack saturates, so a lane below 0 stores 0 and one
// above the element's maximum stores the maximum.
template <class T, int N>
inline void store_pixels4(const __m128i* ch, T* out) {
    auto* o = reinterpret_cast<unsigned char*>(out);
    if constexpr (N == 1 && sizeof(T) == 1) {
        const __m128i v = _mm_packus_epi16(_mm_packus_epi32(ch[0], ch[0]), _mm_setzero_si128());
        const auto word = static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
        std::memcpy(o, &word, 4);
    } else if constexpr (N == 1) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi32(ch[0], ch[0]));
    } else {
        const __m128i rg = _mm_packus_epi32(ch[0], ch[1]);  // r0 r1 r2 r3 g0 g1 g2 g3
        const __m128i bb = _mm_packus_epi32(ch[2], ch[2]);  // b0 b1 b2 b3 b0 b1 b2 b3
        if constexpr (sizeof(T) == 1) {
            const __m128i bytes = _mm_packus_epi16(rg, bb);  // r0..r3 g0..g3 b0..b3 b0..b3
            const __m128i packed = _mm_shuffle_epi8(bytes, _mm_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), packed);
            const auto tail = static_cast<std::uint32_t>(_mm_extract_epi32(packed, 2));
            std::memcpy(o + 8, &tail, 4);
        } else {
            // r0 g0 b0 r1 g1 b1 r2 g2, then b2 r3 g3 b3.
            const __m128i lo = _mm_or_si128(
                _mm_shuffle_epi8(rg, _mm_setr_epi8(0, 1, 8, 9, -1, -1, 2, 3, 10, 11, -1, -1, 4, 5, 12, 13)),
                _mm_shuffle_epi8(bb, _mm_setr_epi8(-1, -1, -1, -1, 0, 1, -1, -1, -1, -1, 2, 3, -1, -1, -1, -1)));
            const __m128i hi = _mm_or_si128(
                _mm_shuffle_epi8(rg, _mm_setr_epi8(-1, -1, 6, 7, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
                _mm_shuffle_epi8(bb, _mm_setr_epi8(4, 5, -1, -1, -1, -1, 6, 7, -1, -1, -1, -1, -1, -1, -1, -1)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), lo);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 16), hi);
        }
    }
}

// The six table entries of four rows, transposed: w[k] holds entry k of each
// lane's row.
inline void weights4(const double* const* row, __m256d* w) {
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

// What the run kernels need beyond the double lanes: 32-bit indices, and
// loads that widen byte and 16-bit samples of four runs at once.
struct Lanes4 : simd::F64x4 {
    using I = __m128i;

    // Bytes a lane's bilinear tap-row load reads beyond the two pixels it
    // needs: RGB rows of 6 samples are read with one 8- or 16-byte load
    // (lanes_of), single-channel byte rows with one 4-byte load (a few
    // percent faster than two exact 2-byte loads merged in a general
    // register). Single-channel 16-bit taps are read exactly.
    template <class T, int N>
    static constexpr std::size_t over_read = N == 1 ? (sizeof(T) == 1 ? 2 : 0) : sizeof(T) == 1 ? 2 : 4;
    // Lanczos-3 rows are read with whole loads a little past their sixth
    // tap, except 16-bit RGB rows (two 16-byte loads and an exact 4-byte
    // one).
    template <class T, int N>
    static constexpr bool lanczos3_reads_past = N == 1 || sizeof(T) == 1;
    // The store's conversion truncates every lane below 2^31 in magnitude
    // exactly and its packs saturate, which is max(v, 0), min(v, MAX) and the
    // truncation in one: a lane in (-1, 0) truncates to 0, one at or below -1
    // packs to 0, one at or above MAX packs to MAX. The kernels' sums stay far
    // inside 2^31: a bilinear sum weighs the samples by four weights in
    // [0, 1] that add up to 1, and a Lanczos-3 sum by 36 products of table
    // entries whose magnitudes add up to less than 2 along either axis.
    static constexpr bool saturating_store = true;

    // The truncation as a double is the rounding toward zero, so it does not
    // wait for the integer conversion (both are exact for the coordinates the
    // kernels take, which lie in [0, 2^30)).
    static D whole(D v, I& i) {
        i = _mm256_cvttpd_epi32(v);
        return _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    }

    // The same for four float positions in one 128-bit vector: a conversion
    // and a rounding of four floats each take half the issue cycles of the
    // 256-bit double ones, and only the fraction is widened.
    static D float_fraction(const float* p, I& i) {
        const __m128 x = _mm_loadu_ps(p);
        i = _mm_cvttps_epi32(x);
        return _mm256_cvtps_pd(_mm_sub_ps(x, _mm_round_ps(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)));
    }

    static bool floats_within(const float* xs, const float* ys, float x_lo, float y_lo, float x_end, float y_end) {
        const __m128 x = _mm_loadu_ps(xs), y = _mm_loadu_ps(ys);
        const __m128 m =
            _mm_and_ps(_mm_and_ps(_mm_cmpge_ps(x, _mm_set1_ps(x_lo)), _mm_cmplt_ps(x, _mm_set1_ps(x_end))),
                       _mm_and_ps(_mm_cmpge_ps(y, _mm_set1_ps(y_lo)), _mm_cmplt_ps(y, _mm_set1_ps(y_end))));
        return _mm_movemask_ps(m) == 0xF;
    }

    // Offsets in 32-bit lanes: fits_lane_kernels keeps them below 2^30.
    template <int C, class P>
    static void addresses(const P* base, I r, std::int32_t rs, I c, std::int32_t bias, const P** at) {
        __m128i off = _mm_mullo_epi32(r, _mm_set1_epi32(rs));
        if constexpr (C == 1) off = _mm_add_epi32(off, c);
        if constexpr (C == 3) off = _mm_add_epi32(off, _mm_add_epi32(_mm_add_epi32(c, c), c));
        if (bias != 0) off = _mm_add_epi32(off, _mm_set1_epi32(bias));
        alignas(16) std::int32_t o[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(o), off);
        for (int l = 0; l < 4; ++l) at[l] = base + o[l];
    }

    static void rows(const double* const* row, D* w) { weights4(row, w); }

    template <class T, int N>
    static void bilinear_taps(const T* const* at, std::ptrdiff_t stride, D (*p)[2 * N]) {
        bilinear_taps4<T, N>(at, stride, p);
    }

    template <class T, int E, class Sink>
    static void tap_row(const T* const* at, Sink& sink) {
        lanes_of<T, E>(at, sink);
    }

    template <class T, int N>
    static void store_pixels(const D* v, T* out) {
        __m128i ch[N];
        for (int c = 0; c < N; ++c) ch[c] = _mm256_cvttpd_epi32(v[c]);
        store_pixels4<T, N>(ch, out);
    }
};

static_assert(SamplerLanes<Lanes4>);

}  // namespace
}  // namespace tessarin::warp::detail
TESSARIN_END_AVX2

TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::SamplerKernels, Avx2,
                        tessarin::warp::detail::lane_sampler_kernels<tessarin::warp::detail::Lanes4,
                                                                     tessarin::warp::detail::Sse2Lanczos3>())

#endif
