// Gaussian downscaling: kernel, sizes, column map, edge handling, and
// bit-for-bit agreement of the fused passes with a plain three-pass blur.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "detector/testing.hpp"
#include "detector/downscale.hpp"
#include "pool/testing.hpp"
#include "variants.hpp"

namespace {

using tessarin::detector::downscale;
using tessarin::detector::downscaled_size;
using tessarin::detector::gaussian_kernel;
using tessarin::detector::Image;
using tessarin::detector::source_index;

std::size_t clamp_index(std::ptrdiff_t i, std::size_t size) {
    if (i < 0) return 0;
    return std::min(static_cast<std::size_t>(i), size - 1);
}

// The blur as plainly as it can be written: whole-image horizontal pass, whole-
// image vertical pass, then one sample per output pixel. Shares nothing with
// the code under test but the kernel, which is checked on its own.
std::vector<double> reference_downscale(const std::vector<double>& img, std::size_t w,
                                        std::size_t h, double scale) {
    const std::vector<double> k = gaussian_kernel(scale);
    const auto n = static_cast<std::ptrdiff_t>(k.size() / 2);
    std::vector<double> t1(w * h, 0.0), t2(w * h, 0.0);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t i = 0; i < k.size(); ++i)
            for (std::size_t x = 0; x < w; ++x) {
                auto sx = clamp_index(static_cast<std::ptrdiff_t>(x + i) - n, w);
                t1[y * w + x] = t1[y * w + x] + k[i] * img[y * w + sx];
            }
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t i = 0; i < k.size(); ++i) {
            auto r = clamp_index(static_cast<std::ptrdiff_t>(y + i) - n, h);
            for (std::size_t x = 0; x < w; ++x) t2[y * w + x] = t2[y * w + x] + k[i] * t1[r * w + x];
        }
    const std::size_t ow = downscaled_size(w, scale), oh = downscaled_size(h, scale);
    std::vector<double> out(ow * oh);
    for (std::size_t y = 0; y < oh; ++y) {
        const auto sy = std::min(static_cast<std::size_t>(std::trunc(y / scale)), h - 1);
        for (std::size_t x = 0; x < ow; ++x) {
            const auto sx = std::min(static_cast<std::size_t>(std::trunc(x / scale)), w - 1);
            out[y * ow + x] = t2[sy * w + sx];
        }
    }
    return out;
}

std::vector<double> random_image(std::size_t w, std::size_t h, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 255.0);
    std::vector<double> img(w * h);
    for (double& v : img) v = u(rng);
    return img;
}

// Bitwise equality, so that -0.0 against +0.0 counts as a difference.
void expect_same_bits(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(got[i]), std::bit_cast<std::uint64_t>(want[i]))
            << "sample " << i << ": " << got[i] << " vs " << want[i];
}

// ---- row sums --------------------------------------------------------------

// Every vector width against the scalar sum in tap order, over lengths that
// end inside and outside a block of columns, with samples that expose any
// change of order (large cancelling terms, -0.0, infinities, NaN).
class WeightedSum : public ::testing::TestWithParam<tessarin::simd::Variant> {};

TEST_P(WeightedSum, SumsInTapOrder) {
    TESSARIN_RUN_VARIANT(GetParam());
    const auto sum = tessarin::simd::pick<tessarin::detector::SumKernels>(GetParam()).weighted_sum;
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const double special[] = {1e17, -1e17, -0.0, std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN(), 3e-320};
    for (std::size_t taps : {1u, 3u, 7u, 19u}) {
        std::vector<double> k(taps);
        for (double& v : k) v = u(rng);
        for (std::size_t len : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 33u, 70u}) {
            std::vector<std::vector<double>> rows(taps, std::vector<double>(len));
            for (auto& row : rows)
                for (double& v : row) v = (rng() % 8 == 0) ? special[rng() % 6] : u(rng) * 1e3;
            std::vector<const double*> src;
            for (const auto& row : rows) src.push_back(row.data());
            std::vector<double> want(len);
            for (std::size_t x = 0; x < len; ++x) {
                double acc = 0.0;
                for (std::size_t i = 0; i < taps; ++i) acc = acc + k[i] * rows[i][x];
                want[x] = acc;
            }
            std::vector<double> got(len, 42.0);
            sum(src.data(), k.data(), taps, got.data(), len);
            expect_same_bits(got, want);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, WeightedSum, tessarin::testing::every_variant, tessarin::testing::variant_name);

// ---- kernel ---------------------------------------------------------------

struct KernelCase {
    double scale;
    std::size_t taps;
    double centre;  // approximate centre weight, or 0 to skip
};

class KernelTest : public ::testing::TestWithParam<KernelCase> {};

TEST_P(KernelTest, SizeSymmetryAndSum) {
    const auto& c = GetParam();
    const std::vector<double> k = gaussian_kernel(c.scale);
    ASSERT_EQ(k.size(), c.taps);
    double sum = 0.0;
    for (std::size_t i = 0; i < k.size(); ++i) {
        EXPECT_EQ(k[i], k[k.size() - 1 - i]) << i;
        if (i < k.size() / 2) {
            EXPECT_LT(k[i], k[i + 1]) << i;
        }
        sum += k[i];
    }
    EXPECT_NEAR(sum, 1.0, 1e-15);
    if (c.centre != 0.0) {
        EXPECT_NEAR(k[k.size() / 2], c.centre, 1e-6);
    }
}

INSTANTIATE_TEST_SUITE_P(Scales, KernelTest,
                         ::testing::Values(KernelCase{0.8, 7, 0.531907}, KernelCase{0.5, 11, 0.332453},
                                           KernelCase{0.25, 19, 0.0},
                                           // sigma × 3.7169221888498383 is exactly 3 here; with
                                           // sqrt(6 ln 10) computed at run time it would round up to 4
                                           KernelCase{0.7433844377699677, 7, 0.0}));

TEST(Kernel, ExactWeights) {
    // The first half up to the centre; the normalisation is a division by the
    // sum, which at scale 0.25 differs from a product with its reciprocal.
    const std::vector<std::pair<double, std::vector<double>>> cases = {
        {0.8, {0x1.763496d347523p-13, 0x1.f1e23259cfdc4p-7, 0x1.bfd7fac1bd5a7p-3, 0x1.10562a79786b0p-1}},
        {0.25,
         {0x1.341f9a57a268bp-13, 0x1.50f04559cd74ep-11, 0x1.35b9fa336a4cdp-9, 0x1.deabe8f904ad5p-8,
          0x1.36ef289e2b5dap-6, 0x1.5392460096fe5p-5, 0x1.37bdf2f411a24p-4, 0x1.e1296dd81d8a7p-4,
          0x1.38258bac069fap-3, 0x1.54741bfae234bp-3}},
    };
    for (const auto& [scale, half] : cases) {
        const std::vector<double> k = gaussian_kernel(scale);
        ASSERT_EQ(k.size(), 2 * half.size() - 1);
        for (std::size_t i = 0; i < half.size(); ++i) EXPECT_EQ(k[i], half[i]) << scale << " tap " << i;
    }
}

// ---- sizes and source indices ---------------------------------------------

class SizeTest : public ::testing::TestWithParam<std::tuple<std::size_t, double, std::size_t>> {};

TEST_P(SizeTest, FloorOfProductAtLeastTwo) {
    const auto [size, scale, want] = GetParam();
    EXPECT_EQ(downscaled_size(size, scale), want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SizeTest,
    ::testing::Values(std::make_tuple(640, 0.8, 512), std::make_tuple(480, 0.8, 384),
                      std::make_tuple(100, 0.29, 28),  // 28.999999999999996 in doubles
                      std::make_tuple(100, 0.58, 57), std::make_tuple(7, 0.5, 3),
                      std::make_tuple(10, 0.25, 2), std::make_tuple(10, 0.0, 2),
                      std::make_tuple(10, -1.0, 2),
                      std::make_tuple(10, std::numeric_limits<double>::quiet_NaN(), 2)));

struct ColumnCase {
    double scale;
    std::size_t size;
    std::vector<std::size_t> want;  // source indices of outputs 0, 1, ...
};

class ColumnMapTest : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(ColumnMapTest, TruncatedQuotient) {
    const auto& c = GetParam();
    for (std::size_t x = 0; x < c.want.size(); ++x) EXPECT_EQ(source_index(x, c.scale, c.size), c.want[x]) << x;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ColumnMapTest,
    ::testing::Values(ColumnCase{0.8, 640, {0, 1, 2, 3, 5, 6, 7, 8, 10, 11}},
                      ColumnCase{0.5, 7, {0, 2, 4}},
                      // clamped to the last column
                      ColumnCase{0.5, 4, {0, 2, 3, 3}}));

TEST(ColumnMap, DivisionNotReciprocal) {
    // Positions where x / scale and x × (1 / scale) truncate differently.
    struct Case {
        std::size_t x;
        double scale;
        std::size_t want;
    };
    for (const Case& c : {Case{39, 0.65, 60}, Case{65, 0.65, 100}, Case{33, 0.55, 59}, Case{99, 0.55, 179}})
        EXPECT_EQ(source_index(c.x, c.scale, 1000), c.want) << c.x << " / " << c.scale;
}

// ---- the image ------------------------------------------------------------

class ConstantTest : public ::testing::TestWithParam<std::tuple<double, double>> {};

TEST_P(ConstantTest, StaysConstant) {
    const auto [scale, value] = GetParam();
    const std::vector<double> img(37 * 23, value);
    const Image out = downscale(img.data(), 37, 23, scale);
    ASSERT_EQ(out.pixels.size(), downscaled_size(37, scale) * downscaled_size(23, scale));
    for (double v : out.pixels) EXPECT_NEAR(v, value, 1e-13 * std::max(1.0, value));
}

INSTANTIATE_TEST_SUITE_P(Cases, ConstantTest,
                         ::testing::Combine(::testing::Values(0.8, 0.5, 0.29, 0.2),
                                            ::testing::Values(0.0, 1.0, 255.0, 65535.0 / 257.0)));

// A bright line on the border sees itself repeated beyond the edge: its
// blurred value is K[0] + ... + K[n]. The image is constant along the line,
// so the other pass leaves that value (within the rounding of its sum).
class BorderTest : public ::testing::TestWithParam<std::tuple<double, bool>> {};

TEST_P(BorderTest, EdgeRepeatsOutward) {
    const auto [scale, vertical] = GetParam();
    const std::size_t w = 31, h = 29;
    std::vector<double> img(w * h, 0.0);
    for (std::size_t i = 0; i < (vertical ? h : w); ++i) img[vertical ? i * w : i] = 1.0;
    const std::vector<double> k = gaussian_kernel(scale);
    double edge = 0.0;
    for (std::size_t i = 0; i <= k.size() / 2; ++i) edge += k[i];
    const Image out = downscale(img.data(), w, h, scale);
    const std::size_t count = vertical ? out.height : out.width;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = out.pixels[vertical ? i * out.width : i];
        EXPECT_NEAR(v, edge, 1e-14) << i;
    }
    EXPECT_GT(edge, 0.5);
    expect_same_bits(out.pixels, reference_downscale(img, w, h, scale));
}

INSTANTIATE_TEST_SUITE_P(Cases, BorderTest,
                         ::testing::Combine(::testing::Values(0.8, 0.5, 0.25), ::testing::Bool()));

// The fused passes against the plain blur, bit for bit, over shapes where
// the taps stay inside the row, where they reach past it, and with blocks of
// columns that do and do not divide the width.
class ReferenceTest : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t, double>> {};

TEST_P(ReferenceTest, SameBitsAsThreePasses) {
    const auto [w, h, scale] = GetParam();
    const std::vector<double> img = random_image(w, h, static_cast<unsigned>(w * 131 + h));
    const Image out = downscale(img.data(), w, h, scale);
    EXPECT_EQ(out.width, downscaled_size(w, scale));
    EXPECT_EQ(out.height, downscaled_size(h, scale));
    expect_same_bits(out.pixels, reference_downscale(img, w, h, scale));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ReferenceTest,
    ::testing::Values(std::make_tuple(7, 7, 0.5), std::make_tuple(4, 5, 0.8), std::make_tuple(12, 40, 0.25),
                      std::make_tuple(40, 12, 0.25), std::make_tuple(64, 48, 0.8), std::make_tuple(97, 61, 0.8),
                      std::make_tuple(100, 100, 0.29), std::make_tuple(123, 77, 0.65),
                      std::make_tuple(200, 150, 0.55), std::make_tuple(33, 300, 0.999),
                      // rows exactly as wide as the kernel, one less, one more
                      std::make_tuple(6, 20, 0.8), std::make_tuple(7, 20, 0.8), std::make_tuple(8, 20, 0.8),
                      // wide kernels, source rows several apart
                      std::make_tuple(50, 200, 0.2), std::make_tuple(30, 120, 0.1),
                      // more output columns than one block of the window holds
                      // (4096), with a short last block; a wide kernel too
                      std::make_tuple(5200, 5, 0.8), std::make_tuple(8197, 6, 0.5),
                      std::make_tuple(41017, 31, 0.1)));

// Samples widened as they are read, a stretch of each row per block of
// columns: the bits of the same image given as doubles.
TEST(Downscale, WideRowsOfBytesMatchTheirDoubles) {
    const std::size_t w = 9001, h = 7;
    std::vector<std::uint8_t> bytes(w * h);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 24);
    const std::vector<double> wide(bytes.begin(), bytes.end());
    for (double scale : {0.8, 0.45})
        expect_same_bits(downscale(bytes.data(), w, h, scale).pixels, downscale(wide.data(), w, h, scale).pixels);
}

TEST(Downscale, SpecialSamplesMatchReference) {
    // Infinities, NaN and negative zero travel through the same operations in
    // the same order, so even they come out with the same bits.
    const std::size_t w = 45, h = 38;
    std::vector<double> img = random_image(w, h, 7);
    img[3 * w + 20] = std::numeric_limits<double>::infinity();
    img[30 * w + 2] = -std::numeric_limits<double>::infinity();
    img[10 * w + 40] = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t x = 0; x < w; ++x) img[(h - 1) * w + x] = -0.0;
    const Image out = downscale(img.data(), w, h, 0.8);
    const std::vector<double> ref = reference_downscale(img, w, h, 0.8);
    ASSERT_EQ(out.pixels.size(), ref.size());
    for (std::size_t i = 0; i < ref.size(); ++i) {
        if (std::isnan(ref[i]))
            EXPECT_TRUE(std::isnan(out.pixels[i])) << i;
        else
            EXPECT_EQ(std::bit_cast<std::uint64_t>(out.pixels[i]), std::bit_cast<std::uint64_t>(ref[i])) << i;
    }
}

class WorkersTest : public ::testing::TestWithParam<double> {
protected:
    void TearDown() override { tessarin::pool::set_workers(0); }
};

TEST_P(WorkersTest, OutputIndependentOfPoolSize) {
    const double scale = GetParam();
    const std::size_t w = 301, h = 203;
    const std::vector<double> img = random_image(w, h, 99);
    std::vector<std::vector<double>> results;
    // All rows on the calling thread, then shared among 1, 2 and 7 workers.
    const std::size_t before = tessarin::pool::set_inline_work(std::numeric_limits<std::size_t>::max());
    results.push_back(downscale(img.data(), w, h, scale).pixels);
    tessarin::pool::set_inline_work(0);
    for (std::size_t workers : {1u, 2u, 7u}) {
        tessarin::pool::set_workers(workers);
        results.push_back(downscale(img.data(), w, h, scale).pixels);
    }
    tessarin::pool::set_inline_work(before);
    for (std::size_t k = 1; k < results.size(); ++k) expect_same_bits(results[k], results[0]);
}

INSTANTIATE_TEST_SUITE_P(Scales, WorkersTest, ::testing::Values(0.8, 0.3));

}  // namespace
