// Fuzz target: both samplers at arbitrary positions, and the warp and remap
// drivers on arbitrary sizes (including ones that overflow or cannot be
// allocated), matrices, scales, offsets and maps. Nothing may be read or
// written outside a buffer; lengths that do not match are SizeMismatch;
// hostile output sizes are refused with overflow_error (only when the
// sample count or its byte size overflows) or bad_alloc; and a
// Lanczos-3 sample is the same whether its taps go the interior or the
// clamped way.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <stdexcept>
#include <variant>

#include "fuzz_input.hpp"
#include "warp/remap.hpp"
#include "warp/samplers.hpp"
#include "warp/warp.hpp"

namespace {

using namespace tessarin;
using warp::Filter;

// A length for a buffer of a*b*c elements: exact when that is small, now and
// then one off, else something short (the driver must notice).
std::size_t length_for(fuzz::Input& in, std::size_t a, std::size_t b, std::size_t c) {
    if (!fuzz::small_enough(a, b, 2048)) return in.raw().ConsumeIntegralInRange<std::size_t>(0, 16);
    std::size_t n = a * b * c;
    if (in.raw().ConsumeIntegral<std::uint8_t>() < 16) n = n + 1 - 2 * (n > 0 && in.raw().ConsumeBool());
    return n;
}

bool fits(std::size_t len, std::size_t a, std::size_t b, std::size_t c) {
    std::size_t n;
    return !__builtin_mul_overflow(a, b, &n) && !__builtin_mul_overflow(n, c, &n) && n == len;
}

// Whether an output of a*b*c samples of T has a byte size a machine word holds:
// the drivers may refuse with overflow_error only when it does not.
template <class T>
bool output_fits(std::size_t a, std::size_t b, std::size_t c) {
    std::size_t n;
    return !__builtin_mul_overflow(a, b, &n) && !__builtin_mul_overflow(n, c, &n) &&
           !__builtin_mul_overflow(n, sizeof(T), &n);
}

template <class T>
void check_output(const sample::Result<sample::Buffer<T>>& r, bool src_ok, std::size_t count) {
    if (std::holds_alternative<sample::SizeMismatch>(r) == src_ok) std::abort();
    if (src_ok && std::get<sample::Buffer<T>>(r).size() != count) std::abort();
}

template <class T, int N>
void samplers(fuzz::Input& in) {
    const std::size_t w = in.raw().ConsumeIntegralInRange<std::size_t>(0, 16);
    const std::size_t h = in.raw().ConsumeIntegralInRange<std::size_t>(0, 16);
    const std::vector<T> src = in.samples<T>(w * h * N);
    static const warp::Lanczos3Table table = warp::lanczos3_table();
    for (int i = 0; i < 8 && in.raw().remaining_bytes() > 0; ++i) {
        const double x = in.real(-4.0, static_cast<double>(w) + 4.0);
        const double y = in.real(-4.0, static_cast<double>(h) + 4.0);
        T a[N] = {}, b[N] = {}, c[N] = {};
        warp::sample_bilinear<T, N>(src.data(), w, h, std::ptrdiff_t(w * N), x, y, a);
        warp::sample_lanczos3<T, N>(src.data(), w, h, std::ptrdiff_t(w * N), table, x, y, b);
        warp::sample_lanczos3<T, N, true>(src.data(), w, h, std::ptrdiff_t(w * N), table, x, y, c);
        if (std::memcmp(b, c, sizeof b) != 0) std::abort();
    }
}

template <class T>
void warp_driver(fuzz::Input& in, Filter filter) {
    const std::size_t w = in.size(24), h = in.size(24), ow = in.size(24), oh = in.size(24);
    std::array<double, 9> m;
    for (double& v : m) v = in.real(-2.0, 2.0);
    const double scale = in.real(0.1, 4.0), off_x = in.real(-30.0, 30.0), off_y = in.real(-30.0, 30.0);
    const std::vector<T> src = in.samples<T>(length_for(in, w, h, 3));
    const bool src_ok = fits(src.size(), w, h, 3);
    try {
        auto r = warp::warp_rgb<T>(src, w, h, ow, oh, m, scale, off_x, off_y, filter);
        check_output(r, src_ok, ow * oh * 3);
    } catch (const std::overflow_error&) {
        if (!src_ok || output_fits<T>(ow, oh, 3)) std::abort();  // only for sizes that overflow
    }
}

template <class T, int N>
void remap_driver(fuzz::Input& in, Filter filter) {
    const std::size_t w = in.size(24), h = in.size(24), ow = in.size(24), oh = in.size(24);
    const std::vector<T> src = in.samples<T>(length_for(in, w, h, N));
    const std::size_t n = length_for(in, ow, oh, 1);
    const std::size_t ny = in.raw().ConsumeIntegral<std::uint8_t>() < 16 ? n + 1 : n;
    std::vector<float> mx(n), my(ny);
    for (float& v : mx) v = in.real32(-3.0f, static_cast<float>(w) + 3.0f);
    for (float& v : my) v = in.real32(-3.0f, static_cast<float>(h) + 3.0f);
    const bool ok = fits(src.size(), w, h, N) && fits(n, ow, oh, 1) && ny == n;
    try {
        auto r = warp::remap<T, N>(src, w, h, mx, my, ow, oh, filter);
        check_output(r, ok, ow * oh * N);
    } catch (const std::overflow_error&) {
        if (!ok || output_fits<T>(ow, oh, N)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const int what = in.raw().ConsumeIntegralInRange<int>(0, 11);
    const Filter filter = in.raw().ConsumeBool() ? Filter::Lanczos3 : Filter::Bilinear;
    try {
        switch (what) {
            case 0: samplers<std::uint8_t, 1>(in); break;
            case 1: samplers<std::uint8_t, 3>(in); break;
            case 2: samplers<std::uint16_t, 1>(in); break;
            case 3: samplers<std::uint16_t, 3>(in); break;
            case 4: case 5: warp_driver<std::uint8_t>(in, filter); break;
            case 6: warp_driver<std::uint16_t>(in, filter); break;
            case 7: remap_driver<std::uint8_t, 1>(in, filter); break;
            case 8: remap_driver<std::uint8_t, 3>(in, filter); break;
            case 9: remap_driver<std::uint16_t, 1>(in, filter); break;
            default: remap_driver<std::uint16_t, 3>(in, filter); break;
        }
    } catch (const std::bad_alloc&) {
        // A size the machine cannot give is refused; that is the sound outcome.
    }
    return 0;
}
