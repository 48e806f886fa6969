// Vectors of doubles for the kernels written once over a lane type: F64x2
// (SSE2), F64x4 (AVX2) and F64n2 (NEON), each present where the build has its
// instruction set. Every operation is the scalar one in each lane, rounded
// on its own; there is no fused multiply-add among them. Masks are vectors
// with all bits set in the lanes where a comparison holds (an ordered one:
// false for NaN). max(a, b) is a > b ? a : b and min(a, b) is a < b ? a : b,
// lane by lane, as the x86 instructions define them.
//
// Every member is inline and small. F64x4's members carry
// TESSARIN_TARGET_AVX2, so they may be used from any function compiled for
// AVX2, in or outside a TESSARIN_BEGIN_AVX2 region.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>

#include "simd/neon.hpp"
#include "simd/x86.hpp"

namespace tessarin::simd {

// What a kernel written over a lane type of doubles may use. A lane type
// that lacks one of these fails to compile where a kernel names it, with the
// missing requirement in the message; each type below is checked as soon as
// it is defined.
template <class L>
concept DoubleLanes = requires(typename L::D a, typename L::D b, double v, const double* in, double* out,
                               float* floats, const float* in_floats) {
    requires std::copyable<typename L::D>;
    { L::lanes } -> std::convertible_to<std::size_t>;
    { L::set1(v) } -> std::same_as<typename L::D>;
    { L::zero() } -> std::same_as<typename L::D>;
    { L::load(in) } -> std::same_as<typename L::D>;
    // The 32-bit floats in[0 .. lanes) widened to doubles (exactly).
    { L::load_floats(in_floats) } -> std::same_as<typename L::D>;
    L::store(out, a);
    { L::add(a, b) } -> std::same_as<typename L::D>;
    { L::sub(a, b) } -> std::same_as<typename L::D>;
    { L::mul(a, b) } -> std::same_as<typename L::D>;
    { L::div(a, b) } -> std::same_as<typename L::D>;
    { L::sqrt(a) } -> std::same_as<typename L::D>;
    { L::negate(a) } -> std::same_as<typename L::D>;
    { L::greater(a, b) } -> std::same_as<typename L::D>;
    { L::less(a, b) } -> std::same_as<typename L::D>;
    { L::equal(a, b) } -> std::same_as<typename L::D>;
    { L::greater_equal(a, b) } -> std::same_as<typename L::D>;
    { L::max(a, b) } -> std::same_as<typename L::D>;
    { L::min(a, b) } -> std::same_as<typename L::D>;
    { L::both(a, b) } -> std::same_as<typename L::D>;
    { L::select(a, a, b) } -> std::same_as<typename L::D>;
    { L::bits(a) } -> std::same_as<unsigned>;
    { L::same_floats(a, b) } -> std::same_as<unsigned>;
    L::store_floats(floats, a);
};

#if defined(TESSARIN_SIMD_X86)

struct F64x2 {
    using D = __m128d;
    static constexpr std::size_t lanes = 2;
    static D set1(double v) { return _mm_set1_pd(v); }
    static D zero() { return _mm_setzero_pd(); }
    static D load(const double* p) { return _mm_loadu_pd(p); }
    static D load_floats(const float* p) {
        return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }
    static void store(double* p, D a) { _mm_storeu_pd(p, a); }
    static D add(D a, D b) { return _mm_add_pd(a, b); }
    static D sub(D a, D b) { return _mm_sub_pd(a, b); }
    static D mul(D a, D b) { return _mm_mul_pd(a, b); }
    static D div(D a, D b) { return _mm_div_pd(a, b); }
    static D sqrt(D a) { return _mm_sqrt_pd(a); }
    static D negate(D a) { return _mm_xor_pd(a, _mm_set1_pd(-0.0)); }
    static D greater(D a, D b) { return _mm_cmpgt_pd(a, b); }
    static D less(D a, D b) { return _mm_cmplt_pd(a, b); }
    static D equal(D a, D b) { return _mm_cmpeq_pd(a, b); }
    static D greater_equal(D a, D b) { return _mm_cmpge_pd(a, b); }
    // a > b ? a : b and a < b ? a : b, lane by lane (a NaN a gives b).
    static D max(D a, D b) { return _mm_max_pd(a, b); }
    static D min(D a, D b) { return _mm_min_pd(a, b); }
    static D both(D a, D b) { return _mm_and_pd(a, b); }
    static D select(D mask, D a, D b) { return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b)); }
    // Bit l set where lane l of the mask is.
    static unsigned bits(D mask) { return static_cast<unsigned>(_mm_movemask_pd(mask)); }
    // Bit l set where lanes l of a and b round to the same 32-bit float.
    static unsigned same_floats(D a, D b) {
        const __m128i fa = _mm_castps_si128(_mm_cvtpd_ps(a)), fb = _mm_castps_si128(_mm_cvtpd_ps(b));
        return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(fa, fb)))) & 3u;
    }
    // The lanes rounded to 32-bit floats, into out[0..1].
    static void store_floats(float* out, D a) { _mm_storel_pi(reinterpret_cast<__m64*>(out), _mm_cvtpd_ps(a)); }
};

struct F64x4 {
    using D = __m256d;
    static constexpr std::size_t lanes = 4;
    TESSARIN_TARGET_AVX2 static D set1(double v) { return _mm256_set1_pd(v); }
    TESSARIN_TARGET_AVX2 static D zero() { return _mm256_setzero_pd(); }
    TESSARIN_TARGET_AVX2 static D load(const double* p) { return _mm256_loadu_pd(p); }
    TESSARIN_TARGET_AVX2 static D load_floats(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
    TESSARIN_TARGET_AVX2 static void store(double* p, D a) { _mm256_storeu_pd(p, a); }
    TESSARIN_TARGET_AVX2 static D add(D a, D b) { return _mm256_add_pd(a, b); }
    TESSARIN_TARGET_AVX2 static D sub(D a, D b) { return _mm256_sub_pd(a, b); }
    TESSARIN_TARGET_AVX2 static D mul(D a, D b) { return _mm256_mul_pd(a, b); }
    TESSARIN_TARGET_AVX2 static D div(D a, D b) { return _mm256_div_pd(a, b); }
    TESSARIN_TARGET_AVX2 static D sqrt(D a) { return _mm256_sqrt_pd(a); }
    TESSARIN_TARGET_AVX2 static D negate(D a) { return _mm256_xor_pd(a, _mm256_set1_pd(-0.0)); }
    TESSARIN_TARGET_AVX2 static D greater(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
    TESSARIN_TARGET_AVX2 static D less(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    TESSARIN_TARGET_AVX2 static D equal(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
    TESSARIN_TARGET_AVX2 static D greater_equal(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
    TESSARIN_TARGET_AVX2 static D max(D a, D b) { return _mm256_max_pd(a, b); }
    TESSARIN_TARGET_AVX2 static D min(D a, D b) { return _mm256_min_pd(a, b); }
    TESSARIN_TARGET_AVX2 static D both(D a, D b) { return _mm256_and_pd(a, b); }
    TESSARIN_TARGET_AVX2 static D select(D mask, D a, D b) { return _mm256_blendv_pd(b, a, mask); }
    TESSARIN_TARGET_AVX2 static unsigned bits(D mask) { return static_cast<unsigned>(_mm256_movemask_pd(mask)); }
    TESSARIN_TARGET_AVX2 static unsigned same_floats(D a, D b) {
        const __m128i fa = _mm_castps_si128(_mm256_cvtpd_ps(a)), fb = _mm_castps_si128(_mm256_cvtpd_ps(b));
        return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(fa, fb))));
    }
    TESSARIN_TARGET_AVX2 static void store_floats(float* out, D a) { _mm_storeu_ps(out, _mm256_cvtpd_ps(a)); }
};

static_assert(DoubleLanes<F64x2>);
static_assert(DoubleLanes<F64x4>);

#endif

#if defined(TESSARIN_SIMD_NEON)

struct F64n2 {
    using D = float64x2_t;
    static constexpr std::size_t lanes = 2;
    static D set1(double v) { return vdupq_n_f64(v); }
    static D zero() { return vdupq_n_f64(0.0); }
    static D load(const double* p) { return vld1q_f64(p); }
    static D load_floats(const float* p) { return vcvt_f64_f32(vld1_f32(p)); }
    static void store(double* p, D a) { vst1q_f64(p, a); }
    static D add(D a, D b) { return vaddq_f64(a, b); }
    static D sub(D a, D b) { return vsubq_f64(a, b); }
    static D mul(D a, D b) { return vmulq_f64(a, b); }
    static D div(D a, D b) { return vdivq_f64(a, b); }
    static D sqrt(D a) { return vsqrtq_f64(a); }
    static D negate(D a) { return vnegq_f64(a); }
    static D greater(D a, D b) { return vreinterpretq_f64_u64(vcgtq_f64(a, b)); }
    static D less(D a, D b) { return vreinterpretq_f64_u64(vcltq_f64(a, b)); }
    static D equal(D a, D b) { return vreinterpretq_f64_u64(vceqq_f64(a, b)); }
    static D greater_equal(D a, D b) { return vreinterpretq_f64_u64(vcgeq_f64(a, b)); }
    // vmaxq/vminq would give NaN for a NaN operand.
    static D max(D a, D b) { return vbslq_f64(vcgtq_f64(a, b), a, b); }
    static D min(D a, D b) { return vbslq_f64(vcltq_f64(a, b), a, b); }
    static D both(D a, D b) {
        return vreinterpretq_f64_u64(vandq_u64(vreinterpretq_u64_f64(a), vreinterpretq_u64_f64(b)));
    }
    static D select(D mask, D a, D b) { return vbslq_f64(vreinterpretq_u64_f64(mask), a, b); }
    static unsigned bits(D mask) {
        const uint64x2_t m = vreinterpretq_u64_f64(mask);
        return static_cast<unsigned>((vgetq_lane_u64(m, 0) & 1u) | (vgetq_lane_u64(m, 1) & 1u) << 1);
    }
    static unsigned same_floats(D a, D b) {
        const uint32x2_t e = vceq_u32(vreinterpret_u32_f32(vcvt_f32_f64(a)), vreinterpret_u32_f32(vcvt_f32_f64(b)));
        return static_cast<unsigned>((vget_lane_u32(e, 0) & 1u) | (vget_lane_u32(e, 1) & 1u) << 1);
    }
    static void store_floats(float* out, D a) { vst1_f32(out, vcvt_f32_f64(a)); }
};

static_assert(DoubleLanes<F64n2>);

#endif

}  // namespace tessarin::simd
