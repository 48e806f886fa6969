#include <gtest/gtest.h>

#include "simd/dispatch.hpp"
#include "variants.hpp"

namespace tessarin::simd {
namespace {

TEST(Dispatch, WidestSupportedVariantIsChosenAndCanBePinned) {
    const auto& all = supported();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), Variant::Scalar);
    EXPECT_EQ(chosen(), all.back());
#if defined(TESSARIN_SIMD_NEON)
    EXPECT_EQ(chosen(), Variant::Neon);  // every aarch64 processor has NEON
#elif defined(TESSARIN_SIMD_X86)
    EXPECT_TRUE(runs(Variant::Sse2));
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

}  // namespace
}  // namespace tessarin::simd
