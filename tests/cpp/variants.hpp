// Tests that run a kernel in every variant: parametrize over every_variant
// and open the test with TESSARIN_RUN_VARIANT(v), which pins
// the variant for the test's body or skips, naming it, where the processor
// lacks it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "simd/dispatch.hpp"

namespace tessarin::testing {

// Every variant this build has code for; those the processor lacks skip.
#if defined(TESSARIN_SIMD_X86)
inline const auto every_variant = ::testing::Values(simd::Variant::Scalar, simd::Variant::Sse2, simd::Variant::Avx2);
#elif defined(TESSARIN_SIMD_NEON)
inline const auto every_variant = ::testing::Values(simd::Variant::Scalar, simd::Variant::Neon);
#else
inline const auto every_variant = ::testing::Values(simd::Variant::Scalar);
#endif

inline std::string variant_name(const ::testing::TestParamInfo<simd::Variant>& info) {
    return simd::name(info.param);
}

}  // namespace tessarin::testing

namespace tessarin::simd {
inline void PrintTo(Variant v, std::ostream* os) { *os << name(v); }
}  // namespace tessarin::simd

#define TESSARIN_RUN_VARIANT(v)                                                             \
    const ::tessarin::simd::Forced tessarin_forced_variant(v);                              \
    if (!tessarin_forced_variant.ok())                                                      \
    GTEST_SKIP() << "variant " << ::tessarin::simd::name(v) << " does not run on this processor"
