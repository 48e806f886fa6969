// Level-line field and seed ordering.
//
// The gradient of pixel (x, y) comes from the 2 × 2 block whose top-left
// sample is (x, y); its norm is the math library's hypot, and the direction is
// the unit gradient turned by +90 degrees. Rounding to 32-bit floats happens
// only when the record is written.
//
// hypot costs far more than the rest of the pixel, so rows are first computed
// two pixels at a time with sqrt(gx² + gy²), and that result is kept only
// where it cannot differ from the hypot one: the three 32-bit values must stay
// the same for every norm within a relative 2^-44 of the sqrt estimate. The
// estimate and any hypot accurate to a few units in the last place are within
// 2^-50 of each other, so the kept records are bit for bit those of the hypot
// path. Every other pixel (a value near a 32-bit rounding boundary, tiny or
// huge gradients, NaN and infinities) takes the hypot path itself.
#include "detector/field.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include "pool/pool.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessarin::detector {
namespace {

// The record of one block from its gradient, by the defining arithmetic. A
// norm that is zero, NaN, or infinite once rounded to 32 bits leaves the
// record all zero: such a pixel has no direction and never seeds or joins a
// region (an infinite norm would give NaN directions that pass every
// tolerance test).
Px record_from_gradient(double gx, double gy) {
    if (gx == 0.0 && gy == 0.0) return Px{};  // hypot(±0, ±0) is +0
    double n = std::hypot(gx, gy);
    float norm = static_cast<float>(n);
    if (!(n > 0.0) || !std::isfinite(norm)) return Px{};
    return Px{norm, static_cast<float>(-gy / n), static_cast<float>(gx / n)};
}

// The block whose top-left sample is top[x]; bottom is the next image row.
Px block_record(const double* top, const double* bottom, std::size_t x) {
    double i00 = top[x], i10 = top[x + 1], i01 = bottom[x], i11 = bottom[x + 1];
    double gx = (((i10 + i11) - i00) - i01) * 0.5;
    double gy = (((i01 + i11) - i00) - i10) * 0.5;
    return record_from_gradient(gx, gy);
}

#if defined(__SSE2__)

// Relative half-width of the band in which the sqrt estimate must be stable.
constexpr double band = 0x1p-44;
// Squared norms outside (2^-200, 2^200) take the exact path, so the estimate
// never overflows, underflows or rounds to a 32-bit infinity.
constexpr double min_square = 0x1p-200;
constexpr double max_square = 0x1p+200;

// 1 in each 64-bit lane whose two 32-bit roundings of v * (1 - band) and
// v * (1 + band) agree bit for bit; then every value in between rounds to the
// same float, and so does v itself.
inline __m128d rounds_alike(__m128d v, __m128d below, __m128d above) {
    __m128i lo = _mm_castps_si128(_mm_cvtpd_ps(_mm_mul_pd(v, below)));
    __m128i hi = _mm_castps_si128(_mm_cvtpd_ps(_mm_mul_pd(v, above)));
    __m128i same = _mm_cmpeq_epi32(lo, hi);               // lanes 0, 1 hold the results
    same = _mm_unpacklo_epi32(same, same);                 // widen to 64-bit lanes
    return _mm_castsi128_pd(same);
}

void field_row(const double* top, const double* bottom, Px* out, std::size_t cols) {
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d zero = _mm_setzero_pd();
    const __m128d below = _mm_set1_pd(1.0 - band);
    const __m128d above = _mm_set1_pd(1.0 + band);
    const __m128d lo_square = _mm_set1_pd(min_square);
    const __m128d hi_square = _mm_set1_pd(max_square);

    std::size_t x = 0;
    for (; x + 2 <= cols; x += 2) {
        __m128d i00 = _mm_loadu_pd(top + x), i10 = _mm_loadu_pd(top + x + 1);
        __m128d i01 = _mm_loadu_pd(bottom + x), i11 = _mm_loadu_pd(bottom + x + 1);
        __m128d gx = _mm_mul_pd(_mm_sub_pd(_mm_sub_pd(_mm_add_pd(i10, i11), i00), i01), half);
        __m128d gy = _mm_mul_pd(_mm_sub_pd(_mm_sub_pd(_mm_add_pd(i01, i11), i00), i10), half);
        __m128d s = _mm_add_pd(_mm_mul_pd(gx, gx), _mm_mul_pd(gy, gy));
        __m128d in_range = _mm_and_pd(_mm_cmpgt_pd(s, lo_square), _mm_cmplt_pd(s, hi_square));
        // Out-of-range lanes divide by 1 instead, harmlessly; they are redone.
        __m128d n = _mm_sqrt_pd(_mm_or_pd(_mm_and_pd(in_range, s), _mm_andnot_pd(in_range, _mm_set1_pd(1.0))));
        // One division: the directions need only land inside the band, and
        // a product with the reciprocal is within 2^-51 of the quotient.
        __m128d inv = _mm_div_pd(_mm_set1_pd(1.0), n);
        __m128d ux = _mm_mul_pd(_mm_xor_pd(gy, sign), inv);
        __m128d uy = _mm_mul_pd(gx, inv);
        __m128d sure = _mm_and_pd(in_range, _mm_and_pd(rounds_alike(n, below, above),
                                                       _mm_and_pd(rounds_alike(ux, below, above),
                                                                  rounds_alike(uy, below, above))));
        __m128d flat = _mm_and_pd(_mm_cmpeq_pd(gx, zero), _mm_cmpeq_pd(gy, zero));

        alignas(16) std::array<float, 4> fn, fux, fuy;
        _mm_store_ps(fn.data(), _mm_cvtpd_ps(n));
        _mm_store_ps(fux.data(), _mm_cvtpd_ps(ux));
        _mm_store_ps(fuy.data(), _mm_cvtpd_ps(uy));
        int sure_mask = _mm_movemask_pd(sure);
        int flat_mask = _mm_movemask_pd(flat);
        for (int lane = 0; lane < 2; ++lane) {
            Px& rec = out[x + lane];
            if (sure_mask & (1 << lane))
                rec = Px{fn[lane], fux[lane], fuy[lane]};
            else if (!(flat_mask & (1 << lane)))
                rec = block_record(top, bottom, x + lane);
            else
                rec = Px{};  // a flat block has no direction
        }
    }
    for (; x < cols; ++x) out[x] = block_record(top, bottom, x);
}

#else

void field_row(const double* top, const double* bottom, Px* out, std::size_t cols) {
    for (std::size_t x = 0; x < cols; ++x) out[x] = block_record(top, bottom, x);
}

#endif

// Bin of a seed's norm relative to the maximum, in 32-bit arithmetic:
// truncated toward zero, negative and NaN quotients giving 0, at most 1023.
std::size_t norm_bin(float norm, float max_norm) {
    float q = (norm / max_norm) * 1023.0f;
    if (!(q > 0.0f)) return 0;
    if (q >= 1023.0f) return 1023;
    return static_cast<std::size_t>(q);
}

constexpr std::uint32_t bins = 1024;

// norm_bin for a seed, or `bins` for a pixel that is no seed, without
// branches: the seed test is unpredictable and a pixel in three or so is one.
// Field norms are never NaN or negative and never above the maximum, so the
// quotient lies in [0, 1023] and the truncation alone gives the bin.
inline std::uint32_t seed_bin(float norm, float max_norm, float threshold) {
    const float q = (norm / max_norm) * 1023.0f;
    const auto b = std::min(static_cast<std::uint32_t>(q), bins - 1);
    const std::uint32_t seed = 0u - static_cast<std::uint32_t>(norm > threshold);  // all ones or zero
    return (b & seed) | (bins & ~seed);
}

// The largest norm, NaN never winning, and whether every norm is finite and
// not negative, as in any field level_line_field makes. The maximum of a set
// does not depend on the order it is taken in, so four running maxima break
// the dependency chain of a single one.
struct NormRange {
    float max;
    bool plain;
};

NormRange norm_range(std::span<const Px> field) {
    float m[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    bool plain[4] = {true, true, true, true};
    const std::size_t count = field.size();
    std::size_t i = 0;
    auto take = [&](std::size_t j, float v) {
        m[j] = v > m[j] ? v : m[j];
        plain[j] &= v >= 0.0f && v <= std::numeric_limits<float>::max();  // false for NaN
    };
    for (; i + 4 <= count; i += 4)
        for (std::size_t j = 0; j < 4; ++j) take(j, field[i + j].norm);
    for (; i < count; ++i) take(0, field[i].norm);
    NormRange r{m[0], plain[0]};
    for (std::size_t j = 1; j < 4; ++j) {
        r.max = m[j] > r.max ? m[j] : r.max;
        r.plain &= plain[j];
    }
    return r;
}

}  // namespace

std::vector<Px> level_line_field(const double* image, std::size_t width, std::size_t height) {
    std::vector<Px> field(width * height);
    level_line_field_into(image, width, height, field.data());
    return field;
}

void level_line_field_into(const double* image, std::size_t width, std::size_t height, Px* field) {
    if (width < 2 || height < 2) {
        std::fill(field, field + width * height, Px{});
        return;
    }
    const std::size_t cols = width - 1;
    // One item per row; the last row has no block below it and is all zero.
    pool::parallel_for(height, [&](std::size_t begin, std::size_t end) {
        for (std::size_t y = begin; y < end; ++y) {
            Px* out = field + y * width;
            if (y + 1 == height) {
                std::fill(out, out + width, Px{});
                continue;
            }
            const double* top = image + y * width;
            field_row(top, top + width, out, cols);
            out[cols] = Px{};  // the last column has no block to its right
        }
    });
}

std::vector<std::uint32_t> seeds_by_norm(std::span<const Px> field, float threshold) {
    return seeds_by_norm(field, threshold, nullptr);
}

std::vector<std::uint32_t> seeds_by_norm(std::span<const Px> field, float threshold, std::uint8_t* marks) {
    std::vector<std::uint32_t> seeds;
    const auto [max_norm, plain] = norm_range(field);
    auto mark = [&](std::size_t i) {
        if (marks != nullptr) marks[i] = field[i].norm <= threshold ? 1 : 0;
    };
    if (!(max_norm > 0.0f)) {
        for (std::size_t i = 0; i < field.size(); ++i) mark(i);
        return seeds;
    }
    // A field with other norms than level_line_field makes (hand-made ones)
    // takes the general bin computation.
    auto bin_of = [&](const Px& p) -> std::uint32_t {
        if (plain) return seed_bin(p.norm, max_norm, threshold);
        return p.norm > threshold ? static_cast<std::uint32_t>(norm_bin(p.norm, max_norm)) : bins;
    };

    // The seeds in ascending index order with their bins, gathered without a
    // branch per pixel (a pixel in three or so is a seed, unpredictably). The
    // scratch is not zero-filled: only the part that is written is read.
    const std::size_t count = field.size();
    std::unique_ptr<std::uint32_t[]> found(new std::uint32_t[count]);
    std::unique_ptr<std::uint16_t[]> found_bin(new std::uint16_t[count]);
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t b = bin_of(field[i]);
        found[n] = static_cast<std::uint32_t>(i);
        found_bin[n] = static_cast<std::uint16_t>(b);
        n += static_cast<std::size_t>(b != bins);
        mark(i);
    }

    // A counting sort: the 1024 bins inside one list, strongest bin first,
    // each keeping ascending indices.
    std::array<std::size_t, bins> start{};
    for (std::size_t j = 0; j < n; ++j) ++start[found_bin[j]];
    std::size_t total = 0;
    for (std::size_t b = bins; b-- > 0;) {
        std::size_t c = start[b];
        start[b] = total;
        total += c;
    }
    seeds.resize(n);
    for (std::size_t j = 0; j < n; ++j) seeds[start[found_bin[j]]++] = found[j];
    return seeds;
}

}  // namespace tessarin::detector
