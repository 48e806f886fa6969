// Level-line field and seed ordering.
//
// The gradient of pixel (x, y) comes from the 2 × 2 block whose top-left
// sample is (x, y); its norm is the math library's hypot, and the direction is
// the unit gradient turned by +90 degrees. Rounding to 32-bit floats happens
// only when the record is written. The rows run through the vector loop of
// field_row.hpp, which falls back on block_record below pixel by pixel.
#include "detector/field.hpp"

#include <array>
#include <cmath>

#include "detector/field_row.hpp"
#include "pool/pool.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessarin::detector {
namespace field_detail {

// A norm that is zero, NaN, or infinite once rounded to 32 bits leaves the
// record all zero: such a pixel has no direction and never seeds or joins a
// region (an infinite norm would give NaN directions that pass every
// tolerance test).
Px block_record(const double* top, const double* bottom, std::size_t x) {
    const double i00 = top[x], i10 = top[x + 1], i01 = bottom[x], i11 = bottom[x + 1];
    const double gx = (((i10 + i11) - i00) - i01) * 0.5;
    const double gy = (((i01 + i11) - i00) - i10) * 0.5;
    if (gx == 0.0 && gy == 0.0) return Px{};  // hypot(±0, ±0) is +0
    const double n = std::hypot(gx, gy);
    const float norm = static_cast<float>(n);
    if (!(n > 0.0) || !std::isfinite(norm)) return Px{};
    return Px{norm, static_cast<float>(-gy / n), static_cast<float>(gx / n)};
}

}  // namespace field_detail

#if defined(__SSE2__)

namespace {

// Two lanes, the x86-64 baseline.
struct Sse2 {
    using D = __m128d;
    static constexpr std::size_t lanes = 2;
    static D set1(double v) { return _mm_set1_pd(v); }
    static D load(const double* p) { return _mm_loadu_pd(p); }
    static D add(D a, D b) { return _mm_add_pd(a, b); }
    static D sub(D a, D b) { return _mm_sub_pd(a, b); }
    static D mul(D a, D b) { return _mm_mul_pd(a, b); }
    static D sqrt(D a) { return _mm_sqrt_pd(a); }
    static D div(D a, D b) { return _mm_div_pd(a, b); }
    static D negate(D a) { return _mm_xor_pd(a, _mm_set1_pd(-0.0)); }
    static D greater(D a, D b) { return _mm_cmpgt_pd(a, b); }
    static D less(D a, D b) { return _mm_cmplt_pd(a, b); }
    static D equal(D a, D b) { return _mm_cmpeq_pd(a, b); }
    static D both(D a, D b) { return _mm_and_pd(a, b); }
    static D select(D mask, D a, D b) { return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b)); }
    static unsigned bits(D mask) { return static_cast<unsigned>(_mm_movemask_pd(mask)); }
    static unsigned same_floats(D a, D b) {
        __m128i fa = _mm_castps_si128(_mm_cvtpd_ps(a)), fb = _mm_castps_si128(_mm_cvtpd_ps(b));
        return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(fa, fb)))) & 3u;
    }
    static void store_floats(float* out, D a) { _mm_storel_pi(reinterpret_cast<__m64*>(out), _mm_cvtpd_ps(a)); }
};

}  // namespace

void field_detail::field_rows_narrow(const double* image, Px* field, std::size_t width, std::size_t begin,
                                     std::size_t end) {
    for (std::size_t y = begin; y < end; ++y) {
        const double* top = image + y * width;
        field_detail::field_row<Sse2>(top, top + width, field + y * width, width - 1);
    }
}

#else

void field_detail::field_rows_narrow(const double* image, Px* field, std::size_t width, std::size_t begin,
                                     std::size_t end) {
    for (std::size_t y = begin; y < end; ++y) {
        const double* top = image + y * width;
        for (std::size_t x = 0; x + 1 < width; ++x)
            field[y * width + x] = field_detail::block_record(top, top + width, x);
    }
}

#endif

namespace {

// Bin of a seed's norm relative to the maximum, in 32-bit arithmetic:
// truncated toward zero, negative and NaN quotients giving 0, at most 1023.
std::size_t norm_bin(float norm, float max_norm) {
    float q = (norm / max_norm) * 1023.0f;
    if (!(q > 0.0f)) return 0;
    if (q >= 1023.0f) return 1023;
    return static_cast<std::size_t>(q);
}

}  // namespace

std::vector<Px> level_line_field(const double* image, std::size_t width, std::size_t height) {
    std::vector<Px> field(width * height);  // the last row and column stay zero
    if (width < 2 || height < 2) return field;
    pool::parallel_for(height - 1, [&](std::size_t begin, std::size_t end) {
        if (!field_detail::field_rows_wide(image, field.data(), width, begin, end))
            field_detail::field_rows_narrow(image, field.data(), width, begin, end);
    });
    return field;
}

std::vector<std::uint32_t> seeds_by_norm(std::span<const Px> field, float threshold) {
    std::vector<std::uint32_t> seeds;
    float max_norm = 0.0f;
    for (const Px& p : field)
        if (p.norm > max_norm) max_norm = p.norm;  // NaN never wins
    if (!(max_norm > 0.0f)) return seeds;

    // A counting pass sizes the 1024 bins inside one list, strongest bin
    // first; a second pass fills them, so each bin keeps ascending indices.
    constexpr std::size_t bins = 1024;
    std::array<std::size_t, bins> start{};
    for (const Px& p : field)
        if (p.norm > threshold) ++start[norm_bin(p.norm, max_norm)];
    std::size_t total = 0;
    for (std::size_t b = bins; b-- > 0;) {
        std::size_t count = start[b];
        start[b] = total;
        total += count;
    }
    seeds.resize(total);
    std::uint32_t index = 0;
    for (const Px& p : field) {
        if (p.norm > threshold) seeds[start[norm_bin(p.norm, max_norm)]++] = index;
        ++index;
    }
    return seeds;
}

}  // namespace tessarin::detector
