// The samplers applied to a run of positions, written once over a lane type:
// a vector lane holds one output pixel and keeps exactly the operations of
// the per-pixel samplers in samplers.hpp, in the same order; lanes never
// combine. Groups of positions whose taps need no clamping go through the
// vector kernels; groups near the border or holding NaN positions go through
// the per-pixel samplers.
//
// The lane type L extends a double-lane type of simd/lanes.hpp with what
// differs per instruction set, the loads, widening and stores: the concept
// SamplerLanes below names each operation.
//
// A kernel whose loads read past a tap row never takes a group with a tap on
// the row that ends the image's memory: the last row, or row 0 when rows are
// stored bottom up (a negative row step). Rows do not overlap, so what a load
// reads past any other row's end lies in the row stored after it.
//
// Each variant file (samplers_avx2.cpp, samplers_neon.cpp) includes this
// header and gets its own copy (internal linkage), compiled for its
// instruction set, and makes lane_sampler_kernels its SamplerKernels table;
// keep it free of library templates (see simd/dispatch.hpp).
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>

#include "simd/dispatch.hpp"
#include "simd/lanes.hpp"
#include "warp/samplers.hpp"
#include "warp/samplers_wide.hpp"

namespace tessarin::warp::detail {

// A sink of tap_row: takes the lanes of element e of the runs.
template <class D>
struct LaneSink {
    void operator()(int e, D lanes);
};

// The operations of SamplerLanes that depend on the samples' type T and
// channel count N, checked at the instances the kernels use.
template <class L, class T, int N>
concept SamplerLanesFor = requires(const T* const* at, std::ptrdiff_t stride, typename L::D (*p)[2 * N],
                                   LaneSink<typename L::D>& sink, const typename L::D* v, T* out, const T* base,
                                   typename L::I i, const T** to) {
    // at[l] = base + (r[l] * rs + c[l] * N + bias), for coordinates inside
    // the image.
    L::template addresses<N>(base, i, std::int32_t{0}, i, std::int32_t{0}, to);
    // The 2 x 2 bilinear taps from at[l] (rows `stride` elements apart):
    // p[r][k * N + c] is channel c of tap column k in tap row r.
    L::template bilinear_taps<T, N>(at, stride, p);
    // sink(e, lanes) for each of the E = 6 * N samples of the runs at[l], in
    // order of e (a Lanczos-3 tap row; 6 is also a bilinear RGB tap row).
    L::template tap_row<T, 6 * N>(at, sink);
    // Truncates lanes in [0, MAX] and stores the N channels of consecutive
    // pixels (v[c] holds channel c).
    L::template store_pixels<T, N>(v, out);
    // Bytes a bilinear tap-row load reads past the row's two pixels (0 when
    // loads are exact).
    { L::template over_read<T, N> } -> std::convertible_to<std::size_t>;
    // Whether a Lanczos-3 tap-row load reads past the row's sixth tap.
    { L::template lanczos3_reads_past<T, N> } -> std::convertible_to<bool>;
};

// What the run kernels need of their lane type L beyond simd::DoubleLanes.
// A lane type that lacks an operation fails to compile where it is checked
// (a static_assert after each lane type), naming the operation.
template <class L>
concept SamplerLanes =
    simd::DoubleLanes<L> &&
    requires(typename L::D v, typename L::I& i, const float* p, float f, const double* const* rows,
             typename L::D* w, const double* table, const double** at) {
        // The vector of the lanes' integer coordinates.
        typename L::I;
        // trunc(v) as doubles, and as integers into i.
        { L::whole(v, i) } -> std::same_as<typename L::D>;
        // For the 32-bit floats p[l] in [0, 2^30): the fraction
        // p[l] - trunc(p[l]) as doubles, and the truncation as integers
        // into i.
        { L::float_fraction(p, i) } -> std::same_as<typename L::D>;
        // all_within for 32-bit float positions xs, ys and bounds x_lo, y_lo,
        // x_end, y_end.
        { L::floats_within(p, p, f, f, f, f) } -> std::same_as<bool>;
        // Addresses of table rows (C = 0): at[l] = base + (r[l] * rs + bias).
        L::template addresses<0>(table, i, std::int32_t{6}, i, std::int32_t{0}, at);
        // Entries 0..5 of table rows r[l], transposed: w[k] holds entry k of
        // each lane's row.
        L::rows(rows, w);
        // Whether store_pixels also takes lanes outside [0, MAX], with
        // |v| < 2^31, and stores them clamped to the range; the kernels then
        // leave the clamping to it.
        { L::saturating_store } -> std::convertible_to<bool>;
    } &&
    SamplerLanesFor<L, std::uint8_t, 1> && SamplerLanesFor<L, std::uint8_t, 3> &&
    SamplerLanesFor<L, std::uint16_t, 1> && SamplerLanesFor<L, std::uint16_t, 3>;

namespace {

// The kernels may compute element offsets in 32-bit lanes, rows must not
// overlap, and a row must be long enough to hold what a bilinear load reads
// past its taps (a Lanczos-3 interior needs rows of at least 7 pixels anyway).
template <SamplerLanes L, class T, int N>
inline bool fits_lane_kernels(std::size_t width, std::size_t height, std::ptrdiff_t row_step) {
    constexpr std::size_t limit = std::size_t{1} << 30;
    const auto step = static_cast<std::size_t>(row_step < 0 ? -row_step : row_step);
    return width < limit && height < limit && step < limit / (height == 0 ? 1 : height) && width * N <= step &&
           width * N * sizeof(T) >= L::template over_read<T, N>;
}

// The lowest row a kernel's group may take: `lo`, or one more than the
// lowest of its tap rows needs when its loads read past a tap row and row 0
// ends the image's memory.
inline double first_row(double lo, std::ptrdiff_t row_step, bool reads_past) {
    return reads_past && row_step < 0 ? lo + 1.0 : lo;
}

// Whether the positions at xs, ys all satisfy x_lo <= x < x_end and
// y_lo <= y < y_end; a NaN coordinate never does.
template <simd::DoubleLanes L>
inline bool all_within(const double* xs, const double* ys, double x_lo, double y_lo, double x_end, double y_end) {
    using D = typename L::D;
    const D x = L::load(xs), y = L::load(ys);
    const D m = L::both(L::both(L::greater_equal(x, L::set1(x_lo)), L::less(x, L::set1(x_end))),
                        L::both(L::greater_equal(y, L::set1(y_lo)), L::less(y, L::set1(y_end))));
    return L::bits(m) == (1u << L::lanes) - 1;
}

// The fraction of each lane's position, and its truncation as integers into
// i, for positions that are neither negative nor NaN (the floor is then the
// truncation). A float position gives the same bits as its exact widening to
// a double: both the truncation and the remainder are exact in either width,
// the remainder being the low bits of the float's own significand.
template <SamplerLanes L>
inline typename L::D fraction(const double* p, typename L::I& i) {
    const typename L::D x = L::load(p);
    return L::sub(x, L::whole(x, i));
}
template <SamplerLanes L>
inline typename L::D fraction(const float* p, typename L::I& i) {
    return L::float_fraction(p, i);
}

// Bounds compared in the positions' own width. The lower bounds (0 to 3)
// are floats. An upper bound b rounded to the nearest float b' keeps the test
// safe: a float p < b' is at most the float below b', which is at most b, and
// b' = b when b is a float, so p < b' implies p < b. Bounds past 2^24 that are
// no floats may only send a few more positions through the per-pixel sampler.
template <SamplerLanes L>
inline bool all_within(const float* xs, const float* ys, double x_lo, double y_lo, double x_end, double y_end) {
    return L::floats_within(xs, ys, static_cast<float>(x_lo), static_cast<float>(y_lo), static_cast<float>(x_end),
                            static_cast<float>(y_end));
}

// Rounds half up and clamps to the element range, lane by lane, as to_sample
// does before its truncation (a NaN sum gives 0). A lane type whose store
// saturates (L::saturating_store) leaves the clamping to the store.
template <SamplerLanes L, class T>
inline typename L::D clamped(typename L::D acc) {
    if constexpr (L::saturating_store) return L::add(acc, L::set1(0.5));
    const typename L::D v = L::max(L::add(acc, L::set1(0.5)), L::zero());
    return L::min(v, L::set1(max_sample<T>));
}

// Walks a run of `count` positions G groups of lanes at a time: where every
// group of a step is inside, groups(i) takes the G groups from position i at
// once; otherwise each group goes to group(i) when inside and to
// one_by_one(i, i + lanes) when not. The groups left over go one at a time,
// and the positions after them one by one.
template <std::size_t lanes, int G, class Inside, class Groups, class Group, class OneByOne>
TESSARIN_ALWAYS_INLINE void walk_groups(std::size_t count, Inside&& inside, Groups&& groups, Group&& group,
                                        OneByOne&& one_by_one) {
    std::size_t i = 0;
    for (; i + lanes * G <= count; i += lanes * G) {
        bool in[G];
        bool all = true;
        for (int g = 0; g < G; ++g) all = (in[g] = inside(i + lanes * g)) && all;
        if (all) {
            groups(i);
            continue;
        }
        for (int g = 0; g < G; ++g) {
            const std::size_t k = i + lanes * g;
            if (in[g])
                group(k);
            else
                one_by_one(k, k + lanes);
        }
    }
    for (; i + lanes <= count; i += lanes) {
        if (inside(i))
            group(i);
        else
            one_by_one(i, i + lanes);
    }
    one_by_one(i, count);
}

// G groups of bilinear samples whose positions all satisfy 0 <= x < width - 1
// and 0 <= y < height - 1 (no tap clamped, no NaN): the floor is the
// truncation, and the weights and sums are those of sample_bilinear. The
// groups' weights and tap addresses are all formed before any tap is read, so
// that the loads of one group start while the other is still adding up.
template <SamplerLanes L, class T, int N, int G, class P>
TESSARIN_ALWAYS_INLINE void bilinear_group(const T* src, std::ptrdiff_t stride, const P* xs, const P* ys, T* out) {
    using D = typename L::D;
    constexpr std::size_t lanes = L::lanes;
    D w[G][4];  // w00, w10, w01, w11
    const T* at[G][lanes];
    for (int g = 0; g < G; ++g) {
        typename L::I ix, iy;
        const D fx = fraction<L>(xs + lanes * g, ix);
        const D fy = fraction<L>(ys + lanes * g, iy);
        const D one = L::set1(1.0);
        const D gx = L::sub(one, fx);
        const D gy = L::sub(one, fy);
        w[g][0] = L::mul(gx, gy);
        w[g][1] = L::mul(fx, gy);
        w[g][2] = L::mul(gx, fy);
        w[g][3] = L::mul(fx, fy);
        L::template addresses<N>(src, iy, static_cast<std::int32_t>(stride), ix, 0, at[g]);
    }
    for (int g = 0; g < G; ++g) {
        D p[2][2 * N];
        L::template bilinear_taps<T, N>(at[g], stride, p);
        D ch[N];
        for (int c = 0; c < N; ++c) {
            D acc = L::add(L::mul(p[0][c], w[g][0]), L::mul(p[0][N + c], w[g][1]));
            acc = L::add(acc, L::mul(p[1][c], w[g][2]));
            acc = L::add(acc, L::mul(p[1][N + c], w[g][3]));
            ch[c] = clamped<L, T>(acc);
        }
        L::template store_pixels<T, N>(ch, out + lanes * g * N);
    }
}

// Positions are doubles (the warp's) or 32-bit floats (the remap's map
// entries, taken as they are stored: on a first-generation Zen their
// truncation and fraction cost half as much in 128-bit float lanes as in
// 256-bit double lanes).
template <SamplerLanes L, class T, int N, class P>
inline void bilinear_lanes(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step,
                           const P* xs, const P* ys, std::size_t count, T* out) {
    constexpr std::size_t lanes = L::lanes;
    auto one_by_one = [&](std::size_t begin, std::size_t end) {
        for (std::size_t k = begin; k < end; ++k)
            sample_bilinear<T, N>(src, width, height, row_step, static_cast<double>(xs[k]),
                                  static_cast<double>(ys[k]), out + k * N);
    };
    if (!fits_lane_kernels<L, T, N>(width, height, row_step)) return one_by_one(0, count);
    constexpr bool reads_past = L::template over_read<T, N> > 0;
    const double x_end = static_cast<double>(width) - 1.0;
    const double y_lo = first_row(0.0, row_step, reads_past);
    const double y_end = static_cast<double>(height) - (reads_past && row_step > 0 ? 2.0 : 1.0);
    auto inside = [&](std::size_t i) { return all_within<L>(xs + i, ys + i, 0.0, y_lo, x_end, y_end); };
    // Four groups side by side where all are inside: each pixel's operations
    // are unchanged, and the taps of one group load while the others add up
    // (on a first-generation Zen, 5% faster than two groups for 8-bit RGB,
    // 10% for 16-bit RGB, 4% for gray).
    walk_groups<lanes, 4>(
        count, inside, [&](std::size_t i) { bilinear_group<L, T, N, 4, P>(src, row_step, xs + i, ys + i, out + i * N); },
        [&](std::size_t i) { bilinear_group<L, T, N, 1, P>(src, row_step, xs + i, ys + i, out + i * N); }, one_by_one);
}

// Table rows of fractions in [0, 1): table_row's rounding, lane by lane (the
// scaling, truncation and remainder are exact).
template <SamplerLanes L>
inline typename L::I table_rows(typename L::D fraction) {
    using D = typename L::D;
    typename L::I unused, row;
    const D f = L::mul(fraction, L::set1(1024.0));
    const D whole = L::whole(f, unused);
    const D up = L::select(L::greater_equal(L::sub(f, whole), L::set1(0.5)), L::set1(1.0), L::zero());
    L::whole(L::add(whole, up), row);
    return row;
}

// A sink of tap_row that adds the terms of one tap row to the accumulators:
// sample e is channel e % N of tap e / N, weighed by wx[tap] * wy, the weight
// product formed once per tap.
template <SamplerLanes L, int N>
struct Lanczos3Terms {
    using D = typename L::D;
    D* acc;
    const D* wx;
    D wy;
    D weight;
    void operator()(int e, D samples) {
        const int c = e % N;
        if (c == 0) weight = L::mul(wx[e / N], wy);
        acc[c] = L::add(acc[c], L::mul(samples, weight));
    }
};

// G groups of Lanczos-3 samples whose positions all satisfy 2 <= x < width - 3
// and 2 <= y < height - 3 (no tap clamped, no NaN). Each lane adds its 36
// terms per channel in the order of sample_lanczos3; the G groups run side by
// side only to overlap their chains of additions.
template <SamplerLanes L, class T, int N, int G>
TESSARIN_ALWAYS_INLINE void lanczos3_group(const T* src, std::ptrdiff_t stride, const double* table, const double* xs,
                           const double* ys, T* out) {
    using D = typename L::D;
    constexpr std::size_t lanes = L::lanes;
    D wx[G][6], wy[G][6], acc[G][N];
    const T* base[G][lanes];
    for (int g = 0; g < G; ++g) {
        typename L::I ix, iy;
        const D x = L::load(xs + lanes * g), y = L::load(ys + lanes * g);
        const typename L::I rx = table_rows<L>(L::sub(x, L::whole(x, ix)));
        const typename L::I ry = table_rows<L>(L::sub(y, L::whole(y, iy)));
        const double* rows_x[lanes];
        const double* rows_y[lanes];
        L::template addresses<0>(table, rx, 6, rx, 0, rows_x);
        L::template addresses<0>(table, ry, 6, ry, 0, rows_y);
        // The taps start two rows up and two pixels left of the floor.
        const auto row_step = static_cast<std::int32_t>(stride);
        L::template addresses<N>(src, iy, row_step, ix, -2 * row_step - 2 * N, base[g]);
        L::rows(rows_x, wx[g]);
        L::rows(rows_y, wy[g]);
        for (int c = 0; c < N; ++c) acc[g][c] = L::zero();
    }
    for (int j = 0; j < 6; ++j)
        for (int g = 0; g < G; ++g) {
            const T* at[lanes];
            for (std::size_t l = 0; l < lanes; ++l) at[l] = base[g][l] + j * stride;
            Lanczos3Terms<L, N> terms{acc[g], wx[g], wy[g][j], L::zero()};
            L::template tap_row<T, 6 * N>(at, terms);
        }
    for (int g = 0; g < G; ++g) {
        D ch[N];
        for (int c = 0; c < N; ++c) ch[c] = clamped<L, T>(acc[g][c]);
        L::template store_pixels<T, N>(ch, out + lanes * g * N);
    }
}

// Positions near the border or NaN go to the per-pixel sampler with the
// Lanczos-3 arithmetic `Arithmetic` (samplers.hpp).
template <SamplerLanes L, class Arithmetic, class T, int N>
inline void lanczos3_lanes(const T* src, std::size_t width, std::size_t height, std::ptrdiff_t row_step,
                           const Lanczos3Table& table, const double* xs, const double* ys, std::size_t count,
                           T* out) {
    // Interior groups only, as in bilinear_lanes.
    constexpr std::size_t lanes = L::lanes;
    // Two groups side by side for either channel count: their chains of
    // additions overlap (the RGB kernel gains a few percent; more groups
    // gain nothing once the vector registers run out).
    constexpr int G = 2;
    constexpr bool reads_past = L::template lanczos3_reads_past<T, N>;
    const double lo = 2.0;
    const double x_end = static_cast<double>(width) - 3.0;
    const double y_lo = first_row(lo, row_step, reads_past);
    const double y_end = static_cast<double>(height) - (reads_past && row_step > 0 ? 4.0 : 3.0);
    auto inside = [&](std::size_t i) { return all_within<L>(xs + i, ys + i, lo, y_lo, x_end, y_end); };
    auto one_by_one = [&](std::size_t begin, std::size_t end) {
        sample_lanczos3_interleaved<T, N, Arithmetic>(src, width, height, row_step, table, xs + begin, ys + begin,
                                                      end - begin, out + begin * N);
    };
    const double* t = table[0].data();
    if (!fits_lane_kernels<L, T, N>(width, height, row_step)) return one_by_one(0, count);
    walk_groups<lanes, G>(
        count, inside, [&](std::size_t i) { lanczos3_group<L, T, N, G>(src, row_step, t, xs + i, ys + i, out + i * N); },
        [&](std::size_t i) { lanczos3_group<L, T, N, 1>(src, row_step, t, xs + i, ys + i, out + i * N); }, one_by_one);
}

// The SamplerKernels table of lane type L, the per-pixel Lanczos-3 taking
// `Arithmetic`.
template <SamplerLanes L, class Arithmetic>
constexpr SamplerKernels lane_sampler_kernels() {
    return sampler_kernels([]<class T, int N, class P>(RunOf<T, N, P>) { return &bilinear_lanes<L, T, N, P>; },
                           []<class T, int N>(RunOf<T, N>) { return &lanczos3_lanes<L, Arithmetic, T, N>; });
}

}  // namespace
}  // namespace tessarin::warp::detail
