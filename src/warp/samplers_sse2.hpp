// The per-pixel Lanczos-3 arithmetic in SSE2 registers: the interior products
// two at a time and the RGB sums of channels 0 and 1 in one vector. It gives
// the bits of detail::PortableLanczos3 (samplers.hpp): the widening is exact,
// each product is the sample times the same weight product, and each lane
// adds its own channel's terms one by one, in order.
//
// The SSE2 variant's runs use it for every pixel, and the AVX2 variant's for
// the positions its lane kernels leave (near the border, NaN). Include it
// outside any AVX2 region: its functions are shared by both units and must
// be compiled for the baseline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/x86.hpp"
#include "warp/samplers.hpp"

#if defined(TESSARIN_SIMD_X86)

namespace tessarin::warp::detail {

namespace sse2 {

// Widening of a contiguous run of samples to doubles, two at a time. The
// conversions are exact, so these pairs equal the scalar conversions.
template <class U>
inline U load_scalar(const unsigned char* p) {
    U v;
    std::memcpy(&v, p, sizeof(U));
    return v;
}

// Reads exactly n bytes into the low end of a vector: never beyond the run.
template <std::size_t n>
inline __m128i load_bytes(const unsigned char* p) {
    if constexpr (n == 16) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else if constexpr (n == 2) {
        return _mm_cvtsi32_si128(load_scalar<std::uint16_t>(p));
    } else if constexpr (n == 4) {
        return _mm_cvtsi32_si128(static_cast<int>(load_scalar<std::uint32_t>(p)));
    } else if constexpr (n == 6) {
        return _mm_insert_epi16(_mm_cvtsi32_si128(static_cast<int>(load_scalar<std::uint32_t>(p))),
                                load_scalar<std::uint16_t>(p + 4), 2);
    } else {
        static_assert(n == 12);
        return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                  _mm_cvtsi32_si128(static_cast<int>(load_scalar<std::uint32_t>(p + 8))));
    }
}

// The 6 * N samples of a tap row as 3 * N pairs of doubles: the samples are
// widened to 32-bit integers four at a time and converted two at a time.
template <class T, int N>
inline void widen_tap_row(const T* p, __m128d* out) {
    constexpr std::size_t bytes = 6 * N * sizeof(T);
    constexpr std::size_t chunks = (bytes + 15) / 16;  // 16-byte loads
    constexpr int quads = 3 * N / 2 + (3 * N) % 2;     // 32-bit quads used
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    const __m128i zero = _mm_setzero_si128();
    __m128i quad[quads];
    for (std::size_t c = 0; c < chunks; ++c) {
        const __m128i v = c + 1 < chunks || bytes % 16 == 0 ? load_bytes<16>(b + 16 * c)
                                                            : load_bytes<bytes % 16 == 0 ? 16 : bytes % 16>(b + 16 * c);
        // The 16-bit octets of this chunk, then their quads.
        __m128i octs[2];
        int n_octs = 1;
        if constexpr (sizeof(T) == 1) {
            octs[0] = _mm_unpacklo_epi8(v, zero);
            octs[1] = _mm_unpackhi_epi8(v, zero);
            n_octs = 2;
        } else {
            octs[0] = v;
        }
        for (int o = 0; o < n_octs; ++o) {
            const int q0 = static_cast<int>(c) * 2 * n_octs + 2 * o;
            if (q0 < quads) quad[q0] = _mm_unpacklo_epi16(octs[o], zero);
            if (q0 + 1 < quads) quad[q0 + 1] = _mm_unpackhi_epi16(octs[o], zero);
        }
    }
    for (int m = 0; m < 3 * N; ++m)
        out[m] = _mm_cvtepi32_pd(m % 2 == 0 ? quad[m / 2] : _mm_shuffle_epi32(quad[m / 2], 0x0E));
}

// The weight of every sample of a tap row, two at a time: wx[k] * wy for the
// samples of tap k, each product formed once and repeated for the channels.
template <int N>
inline void tap_row_weights(const Lanczos3Row& wx, double wy, __m128d* out) {
    const __m128d y = _mm_set1_pd(wy);
    const __m128d w01 = _mm_mul_pd(_mm_loadu_pd(&wx[0]), y);
    const __m128d w23 = _mm_mul_pd(_mm_loadu_pd(&wx[2]), y);
    const __m128d w45 = _mm_mul_pd(_mm_loadu_pd(&wx[4]), y);
    if constexpr (N == 1) {
        out[0] = w01;
        out[1] = w23;
        out[2] = w45;
    } else {
        static_assert(N == 3);
        const __m128d w[3] = {w01, w23, w45};
        for (int i = 0; i < 3; ++i) {  // samples k0 k0 | k0 k1 | k1 k1 of two taps
            out[3 * i] = _mm_unpacklo_pd(w[i], w[i]);
            out[3 * i + 1] = w[i];
            out[3 * i + 2] = _mm_unpackhi_pd(w[i], w[i]);
        }
    }
}

}  // namespace sse2

// detail::PortableLanczos3's operations in SSE2 registers.
struct Sse2Lanczos3 {
    template <class T, int N>
    static void row_terms(const T* row, const Lanczos3Row& wx, double wy, double* terms) {
        __m128d samples[3 * N];
        __m128d weights[3 * N];
        sse2::widen_tap_row<T, N>(row, samples);
        sse2::tap_row_weights<N>(wx, wy, weights);
        for (int m = 0; m < 3 * N; ++m) _mm_storeu_pd(terms + 2 * m, _mm_mul_pd(samples[m], weights[m]));
    }

    template <class T, int N, int P>
    static void store(const double (*terms)[36 * N], T* const* out) {
        if constexpr (N == 3) {
            // Channels 0 and 1 of a sample share a vector accumulator; each
            // lane still adds its own channel's terms one by one, in order.
            __m128d acc01[P];
            double acc2[P];
            for (int q = 0; q < P; ++q) {
                acc01[q] = _mm_setzero_pd();
                acc2[q] = 0.0;
            }
            for (int i = 0; i < 36; ++i)
                for (int q = 0; q < P; ++q) {
                    acc01[q] = _mm_add_pd(acc01[q], _mm_loadu_pd(&terms[q][i * 3]));
                    acc2[q] = acc2[q] + terms[q][i * 3 + 2];
                }
            for (int q = 0; q < P; ++q) {
                alignas(16) double lanes[2];
                _mm_store_pd(lanes, acc01[q]);
                out[q][0] = to_sample<T>(lanes[0]);
                out[q][1] = to_sample<T>(lanes[1]);
                out[q][2] = to_sample<T>(acc2[q]);
            }
        } else {
            PortableLanczos3::store<T, N, P>(terms, out);
        }
    }
};

}  // namespace tessarin::warp::detail

#endif
