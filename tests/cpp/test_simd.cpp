#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "detector/detector.hpp"
#include "detector/downscale.hpp"
#include "detector/field.hpp"
#include "simd/dispatch.hpp"
#include "variants.hpp"
#include "warp/map_widen.hpp"
#include "warp/positions.hpp"
#include "warp/samplers_wide.hpp"

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

// The whole detector (downscale sums and field loop together) gives the same
// segments, bit for bit, in every variant as in the scalar definition.
class DetectInVariant : public ::testing::TestWithParam<Variant> {};

TEST_P(DetectInVariant, SameSegmentsAsScalar) {
    const std::size_t w = 211, h = 157;
    std::mt19937 rng(21);
    std::vector<std::uint8_t> img(w * h);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            // Two bright rectangles, a soft shading and some noise.
            const bool bright = (x > 30 && x < 120 && y > 20 && y < 90) || (x > 140 && x < 200 && y > 60 && y < 140);
            const double v = 50.0 + (bright ? 130.0 : 0.0) + 20.0 * std::sin(0.05 * x + 0.03 * y) + rng() % 9;
            img[y * w + x] = static_cast<std::uint8_t>(v);
        }
    for (double scale : {1.0, 0.8, 0.45}) {
        std::vector<detector::Segment> want, got;
        {
            const Forced scalar(Variant::Scalar);
            want = std::get<std::vector<detector::Segment>>(detector::detect(img, w, h, scale));
        }
        {
            TESSARIN_RUN_VARIANT(GetParam());
            got = std::get<std::vector<detector::Segment>>(detector::detect(img, w, h, scale));
        }
        ASSERT_FALSE(want.empty());
        ASSERT_EQ(got.size(), want.size()) << scale;
        EXPECT_EQ(std::memcmp(got.data(), want.data(), want.size() * sizeof(detector::Segment)), 0) << scale;
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, DetectInVariant, tessarin::testing::every_variant, tessarin::testing::variant_name);

#if defined(TESSARIN_SIMD_NEON)
// Every aarch64 processor has NEON: the detector's loops, the samplers' runs
// and the drivers' positions and widening (which take the variant chosen()
// names) use its kernels.
TEST(Dispatch, AArch64ChoosesTheNeonKernels) {
    EXPECT_EQ(chosen(), Variant::Neon);
    // Each variant's table, parenthesised: the macro would split the
    // template's arguments.
    EXPECT_EQ(&pick<detector::field_detail::FieldKernels>(chosen()),
              (&kernels<detector::field_detail::FieldKernels, Variant::Neon>()));
    EXPECT_EQ(&pick<detector::SumKernels>(chosen()), (&kernels<detector::SumKernels, Variant::Neon>()));
    EXPECT_EQ(&pick<warp::detail::SamplerKernels>(chosen()), (&kernels<warp::detail::SamplerKernels, Variant::Neon>()));
    EXPECT_EQ(&pick<warp::detail::PositionKernels>(chosen()),
              (&kernels<warp::detail::PositionKernels, Variant::Neon>()));
    EXPECT_EQ(&pick<warp::detail::WidenKernels>(chosen()), (&kernels<warp::detail::WidenKernels, Variant::Neon>()));
    // The sampler table's runs are the lane kernels, not the scalar runs.
    EXPECT_NE((kernels<warp::detail::SamplerKernels, Variant::Neon>().rgb8.bilinear),
              (kernels<warp::detail::SamplerKernels, Variant::Scalar>().rgb8.bilinear));
}
#endif

}  // namespace
}  // namespace tessarin::simd
