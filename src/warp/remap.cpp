#include "warp/remap.hpp"

#include <algorithm>
#include <cstdint>

#include "pool/pool.hpp"
#include "simd/fetch.hpp"
#include "simd/x86.hpp"
#include "warp/driver.hpp"

namespace tessarin::warp {
namespace {

// The map entries of a run as doubles. Widening a float to a double is exact.
void widen(const float* mx, const float* my, std::size_t n, double* sx, double* sy) {
    for (std::size_t i = 0; i < n; ++i) {
        sx[i] = static_cast<double>(mx[i]);
        sy[i] = static_cast<double>(my[i]);
    }
}

#if defined(TESSARIN_SIMD_X86)
// The same, four entries per instruction.
TESSARIN_TARGET_AVX2 void widen_avx2(const float* mx, const float* my, std::size_t n, double* sx, double* sy) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        _mm256_storeu_pd(sx + i, _mm256_cvtps_pd(_mm_loadu_ps(mx + i)));
        _mm256_storeu_pd(sy + i, _mm256_cvtps_pd(_mm_loadu_ps(my + i)));
    }
    widen(mx + i, my + i, n - i, sx + i, sy + i);
}
#endif

// Requests the cache lines of the map entries [from, to), ahead of their
// widening: the maps stream from memory and are read once, so without the
// request the widening waits on them while the sampler's arithmetic sits idle.
void fetch_map_entries(const float* mx, const float* my, std::size_t from, std::size_t to) {
    constexpr std::size_t per_line = 64 / sizeof(float);
    for (std::size_t i = from; i < to; i += per_line) {
        simd::fetch(mx + i);
        simd::fetch(my + i);
    }
}

template <class T, int N, Filter F>
void remap_rows(const detail::Source<T>& src, const float* map_x, const float* map_y, T* out,
                std::size_t out_width, std::size_t begin, std::size_t end) {
    constexpr std::size_t run_length = detail::run_length;
    double sx[run_length];
    double sy[run_length];
    const std::size_t last = end * out_width;  // the rows' map entries end here
    for (std::size_t y = begin; y < end; ++y) {
        const std::size_t first = y * out_width;
        for (std::size_t x0 = 0; x0 < out_width; x0 += run_length) {
            const std::size_t n = std::min(run_length, out_width - x0);
            // The next run's entries arrive while this run is sampled.
            const std::size_t next = first + x0 + n;
            fetch_map_entries(map_x, map_y, next, std::min(next + run_length, last));
            const float* mx = map_x + first + x0;
            const float* my = map_y + first + x0;
#if defined(TESSARIN_SIMD_X86)
            if (src.variant == simd::Variant::Avx2)
                widen_avx2(mx, my, n, sx, sy);
            else
#endif
                widen(mx, my, n, sx, sy);
            detail::sample_run<T, N, F>(src, sx, sy, n, out + (first + x0) * N);
        }
    }
}

}  // namespace

template <class T, int Channels>
sample::Result<sample::Buffer<T>> remap(std::span<const T> src, std::size_t width, std::size_t height,
                                        std::span<const float> map_x, std::span<const float> map_y,
                                        std::size_t out_width, std::size_t out_height, Filter filter) {
    const std::size_t expected = detail::saturating_count(width, height, Channels);
    if (src.size() != expected) return sample::SizeMismatch{expected, src.size()};
    const std::size_t pixels = detail::saturating_count(out_width, out_height, 1);
    if (map_x.size() != pixels) return sample::SizeMismatch{pixels, map_x.size()};
    if (map_y.size() != map_x.size()) return sample::SizeMismatch{pixels, map_y.size()};
    const std::size_t count = detail::output_count(out_width, out_height, Channels);
    const auto table = detail::table_for(filter);
    auto out = sample::Buffer<T>::zeroed(count);
    if (count == 0) return out;  // no rows, or rows of no pixels

    const detail::Source<T> source{src.data(), width, height, table ? &*table : nullptr};
    const float* mx = map_x.data();
    const float* my = map_y.data();
    T* data = out.data();
    pool::parallel_for(out_height, [&](std::size_t begin, std::size_t end) {
        if (filter == Filter::Lanczos3)
            remap_rows<T, Channels, Filter::Lanczos3>(source, mx, my, data, out_width, begin, end);
        else
            remap_rows<T, Channels, Filter::Bilinear>(source, mx, my, data, out_width, begin, end);
    });
    return out;
}

#define TESSARIN_REMAP_INSTANCE(T, N)                                                                     \
    template sample::Result<sample::Buffer<T>> remap<T, N>(std::span<const T>, std::size_t, std::size_t, \
                                                           std::span<const float>, std::span<const float>, \
                                                           std::size_t, std::size_t, Filter);
TESSARIN_REMAP_INSTANCE(std::uint8_t, 1)
TESSARIN_REMAP_INSTANCE(std::uint8_t, 3)
TESSARIN_REMAP_INSTANCE(std::uint16_t, 1)
TESSARIN_REMAP_INSTANCE(std::uint16_t, 3)
#undef TESSARIN_REMAP_INSTANCE

}  // namespace tessarin::warp
