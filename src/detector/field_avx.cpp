// The level-line field's row loop with four lanes, for processors with AVX.
//
// This unit alone is compiled for AVX; it includes no library templates (see
// field_row.hpp), and it is entered only after a run-time check.
#include <cstddef>

#include "detector/types.hpp"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TESSARIN_FIELD_AVX 1
#pragma GCC push_options
#pragma GCC target("avx")
#include <immintrin.h>
#endif

#include "detector/field_row.hpp"

namespace tessarin::detector::field_detail {

#if defined(TESSARIN_FIELD_AVX)

namespace {

struct Avx {
    using D = __m256d;
    static constexpr std::size_t lanes = 4;
    static D set1(double v) { return _mm256_set1_pd(v); }
    static D load(const double* p) { return _mm256_loadu_pd(p); }
    static D add(D a, D b) { return _mm256_add_pd(a, b); }
    static D sub(D a, D b) { return _mm256_sub_pd(a, b); }
    static D mul(D a, D b) { return _mm256_mul_pd(a, b); }
    static D sqrt(D a) { return _mm256_sqrt_pd(a); }
    static D div(D a, D b) { return _mm256_div_pd(a, b); }
    static D negate(D a) { return _mm256_xor_pd(a, _mm256_set1_pd(-0.0)); }
    static D greater(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
    static D less(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    static D equal(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
    static D both(D a, D b) { return _mm256_and_pd(a, b); }
    static D select(D mask, D a, D b) { return _mm256_blendv_pd(b, a, mask); }
    static unsigned bits(D mask) { return static_cast<unsigned>(_mm256_movemask_pd(mask)); }
    static unsigned same_floats(D a, D b) {
        __m128i fa = _mm_castps_si128(_mm256_cvtpd_ps(a)), fb = _mm_castps_si128(_mm256_cvtpd_ps(b));
        return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(fa, fb))));
    }
    static void store_floats(float* out, D a) { _mm_storeu_ps(out, _mm256_cvtpd_ps(a)); }
};

void rows(const double* image, Px* field, std::size_t width, std::size_t begin, std::size_t end) {
    for (std::size_t y = begin; y < end; ++y) {
        const double* top = image + y * width;
        field_row<Avx>(top, top + width, field + y * width, width - 1);
    }
}

}  // namespace

#pragma GCC pop_options

bool field_rows_wide(const double* image, Px* field, std::size_t width, std::size_t begin, std::size_t end) {
    static const bool usable = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    if (!usable) return false;
    rows(image, field, width, begin, end);
    return true;
}

#else

bool field_rows_wide(const double*, Px*, std::size_t, std::size_t, std::size_t) { return false; }

#endif

}  // namespace tessarin::detector::field_detail
