// The samplers' run kernels two lanes wide, for aarch64.
//
// The kernels of samplers_lanes.hpp over NEON vectors of two doubles. Every
// load reads exactly the samples of its taps, so the kernels take groups up
// to the image's last row. Positions the kernels leave take the per-pixel
// Lanczos-3 with the portable arithmetic.
#include <cstddef>
#include <cstdint>

#include "simd/lanes.hpp"
#include "warp/samplers.hpp"
#include "warp/samplers_lanes.hpp"
#include "warp/samplers_wide.hpp"

#if defined(TESSARIN_SIMD_NEON)

namespace tessarin::warp::detail {
namespace {

struct Lanes2 : simd::F64n2 {
    using I = int64x2_t;

    template <class T, int N>
    static constexpr std::size_t over_read = 0;
    template <class T, int N>
    static constexpr bool lanczos3_reads_past = false;
    static constexpr bool saturating_store = false;

    // Exact conversions both ways for the coordinates the kernels take.
    static D whole(D v, I& i) {
        i = vcvtq_s64_f64(v);  // toward zero
        return vcvtq_f64_s64(i);
    }

    // Float positions widened exactly, then as doubles.
    static D float_fraction(const float* p, I& i) {
        const D x = vcvt_f64_f32(vld1_f32(p));
        return vsubq_f64(x, whole(x, i));
    }

    static bool floats_within(const float* xs, const float* ys, float x_lo, float y_lo, float x_end, float y_end) {
        const D x = vcvt_f64_f32(vld1_f32(xs)), y = vcvt_f64_f32(vld1_f32(ys));
        const uint64x2_t m =
            vandq_u64(vandq_u64(vcgeq_f64(x, vdupq_n_f64(x_lo)), vcltq_f64(x, vdupq_n_f64(x_end))),
                      vandq_u64(vcgeq_f64(y, vdupq_n_f64(y_lo)), vcltq_f64(y, vdupq_n_f64(y_end))));
        return (vgetq_lane_u64(m, 0) & vgetq_lane_u64(m, 1)) != 0;
    }

    template <int C, class P>
    static void addresses(const P* base, I r, std::int32_t rs, I c, std::int32_t bias, const P** at) {
        for (int l = 0; l < 2; ++l) {
            const std::int64_t rl = l == 0 ? vgetq_lane_s64(r, 0) : vgetq_lane_s64(r, 1);
            const std::int64_t cl = l == 0 ? vgetq_lane_s64(c, 0) : vgetq_lane_s64(c, 1);
            at[l] = base + (rl * rs + cl * C + bias);
        }
    }

    static void rows(const double* const* row, D* w) {
        for (int k = 0; k < 6; k += 2) {
            const D a = vld1q_f64(row[0] + k), b = vld1q_f64(row[1] + k);
            w[k] = vzip1q_f64(a, b);
            w[k + 1] = vzip2q_f64(a, b);
        }
    }

    // Sample e of both lanes' runs, widened exactly.
    template <class T>
    static D pair(const T* const* at, std::size_t e) {
        return vsetq_lane_f64(widen(at[1][e]), vdupq_n_f64(widen(at[0][e])), 1);
    }

    template <class T, int N>
    static void bilinear_taps(const T* const* at, std::ptrdiff_t stride, D (*p)[2 * N]) {
        for (int r = 0; r < 2; ++r) {
            const T* row[2] = {at[0] + r * stride, at[1] + r * stride};
            for (int e = 0; e < 2 * N; ++e) p[r][e] = pair(row, static_cast<std::size_t>(e));
        }
    }

    template <class T, int E, class Sink>
    static void tap_row(const T* const* at, Sink& sink) {
        for (int e = 0; e < E; ++e) sink(e, pair(at, static_cast<std::size_t>(e)));
    }

    template <class T, int N>
    static void store_pixels(const D* v, T* out) {
        for (int c = 0; c < N; ++c) {
            const uint64x2_t u = vcvtq_u64_f64(v[c]);  // toward zero
            out[c] = static_cast<T>(vgetq_lane_u64(u, 0));
            out[N + c] = static_cast<T>(vgetq_lane_u64(u, 1));
        }
    }
};

static_assert(SamplerLanes<Lanes2>);

}  // namespace
}  // namespace tessarin::warp::detail

TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::SamplerKernels, Neon,
                        tessarin::warp::detail::lane_sampler_kernels<tessarin::warp::detail::Lanes2,
                                                                     tessarin::warp::detail::PortableLanczos3>())

#endif
