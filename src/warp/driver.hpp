// What the two resampling drivers share: buffer counts computed without
// wrapping, and the source image with the sampler the call's filter selects.
#pragma once

#include <cstddef>
#include <optional>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "pool/platform.hpp"
#include "sample/size_mismatch.hpp"
#include "warp/filter.hpp"
#include "warp/samplers_wide.hpp"

namespace tessarin::warp::detail {

// a * b * c, or the largest word when the product overflows: no buffer can
// have that length, so a length check against it always fails.
inline std::size_t saturating_count(std::size_t a, std::size_t b, std::size_t c) {
    return sample::saturating_product({a, b, c});
}

// a * b * c samples of type T for an output that is about to be allocated; an
// overflowing count is refused instead of wrapped into a small buffer, and an
// output larger than the machine's memory (where the system would grant it
// and end the process once it is written) as memory that cannot be had.
template <class T>
inline std::size_t output_count(std::size_t a, std::size_t b, std::size_t c) {
    const auto count = sample::checked_product({a, b, c});
    if (!count) throw std::overflow_error("output size overflows a machine word");
    const auto bytes = sample::checked_product({*count, sizeof(T)});
    const std::uint64_t limit = pool::platform::memory_bytes();
    if (bytes && limit != 0 && *bytes > limit) throw std::bad_alloc();
    return *count;
}

// The work of one output row for the pool (pool.hpp), in taps: every sample
// of a pixel weighs 4 source samples (bilinear) or 36 (Lanczos-3), and
// finding a pixel's position and testing its bounds costs about 8 more
// (measured: a bilinear pixel of a gray remap takes 2.4 ns, of an RGB warp
// 5.4 ns, on a 2-core EPYC).
inline std::size_t row_cost(std::size_t out_width, std::size_t channels, Filter filter) {
    const std::size_t taps = filter == Filter::Lanczos3 ? 36 : 4;
    return sample::saturating_product({out_width, channels * taps + 8});
}

// The image a driver reads, with the Lanczos-3 table of the call when the
// filter needs one. Shared read-only by every row.
template <class T>
struct Source {
    const T* data;
    std::size_t width;
    std::size_t height;
    std::ptrdiff_t row_step;     // elements from a row to the next (see ImageView)
    const Lanczos3Table* table;  // null for the bilinear filter
    // The vector variant of every run of the call, chosen once when the call
    // makes its Source, and its sampler runs.
    simd::Variant variant = simd::chosen();
    const SamplerKernels* samplers = &simd::pick<SamplerKernels>(variant);
};

// The call's weight table: built once, before any row, for Lanczos-3 only.
inline std::optional<Lanczos3Table> table_for(Filter filter) {
    if (filter == Filter::Lanczos3) return lanczos3_table();
    return std::nullopt;
}

// Positions are handed to the samplers a run at a time: the drivers work them
// out for a run of pixels before sampling it, so that the arithmetic of
// neighbouring pixels can run side by side.
inline constexpr std::size_t run_length = 256;

template <class T, int N, Filter F>
inline void sample_run(const Source<T>& s, const double* xs, const double* ys, std::size_t count, T* out) {
    if constexpr (F == Filter::Lanczos3)
        s.samplers->template runs<T, N>().lanczos3(s.data, s.width, s.height, s.row_step, *s.table, xs, ys, count, out);
    else
        s.samplers->template runs<T, N>().bilinear(s.data, s.width, s.height, s.row_step, xs, ys, count, out);
}

}  // namespace tessarin::warp::detail
