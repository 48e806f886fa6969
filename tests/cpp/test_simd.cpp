#include <gtest/gtest.h>

#include "detector/downscale.hpp"
#include "detector/field.hpp"
#include "simd/dispatch.hpp"
#include "variants.hpp"

namespace tessarin::simd {
namespace {

TEST(Dispatch, WidestSupportedVariantIsChosenAndCanBePinned) {
    const auto& all = supported();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), Variant::Scalar);
    EXPECT_EQ(chosen(), all.back());
#if defined(TESSARIN_SIMD_X86)
    EXPECT_TRUE(runs(Variant::Sse2));  // the x86-64 baseline
#endif
    {
        const Forced scalar(Variant::Scalar);
        EXPECT_TRUE(scalar.ok());
        EXPECT_EQ(chosen(), Variant::Scalar);
    }
    EXPECT_EQ(chosen(), all.back());
    for (Variant v : {Variant::Sse2, Variant::Avx2, Variant::Neon}) {
        const Forced f(v);
        EXPECT_EQ(f.ok(), runs(v)) << name(v);
        EXPECT_EQ(chosen(), f.ok() ? v : all.back()) << name(v);
    }
}

#if defined(TESSARIN_SIMD_NEON)
// Every aarch64 processor has NEON: the detector's loops and the samplers'
// runs (which take the variant chosen() names) use its kernels.
TEST(Dispatch, AArch64ChoosesTheNeonKernels) {
    EXPECT_EQ(chosen(), Variant::Neon);
    EXPECT_EQ(detector::field_detail::field_rows_for(chosen()), &detector::field_detail::field_rows_neon);
    EXPECT_EQ(detector::weighted_sum_for(chosen()), &detector::downscale_detail::weighted_sum_neon);
}
#endif

}  // namespace
}  // namespace tessarin::simd
