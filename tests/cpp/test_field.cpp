#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "detector/testing.hpp"
#include "detector/field.hpp"
#include "detector/field_row.hpp"
#include "pool/testing.hpp"
#include "variants.hpp"

namespace tessarin::detector {
namespace {

// The record of the block at (x, y) by the defining arithmetic, one pixel at
// a time with the math library's hypot; the field must match it bit for bit.
Px reference_record(const std::vector<double>& img, std::size_t width, std::size_t x, std::size_t y) {
    const double i00 = img[y * width + x], i10 = img[y * width + x + 1];
    const double i01 = img[(y + 1) * width + x], i11 = img[(y + 1) * width + x + 1];
    const double gx = (((i10 + i11) - i00) - i01) * 0.5;
    const double gy = (((i01 + i11) - i00) - i10) * 0.5;
    const double n = std::hypot(gx, gy);
    if (!(n > 0.0) || !std::isfinite(static_cast<float>(n))) return Px{};
    return Px{static_cast<float>(n), static_cast<float>(-gy / n), static_cast<float>(gx / n)};
}

bool same_bits(const Px& a, const Px& b) { return std::memcmp(&a, &b, sizeof(Px)) == 0; }

std::string show(const Px& p) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "{%a, %a, %a}", p.norm, p.ux, p.uy);
    return buf;
}

// Counts the records that differ from the reference and reports the first.
void expect_matches_reference(const std::vector<Px>& field, const std::vector<double>& img, std::size_t width,
                              std::size_t height) {
    ASSERT_EQ(field.size(), width * height);
    std::size_t wrong = 0;
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            const Px want = (x + 1 < width && y + 1 < height) ? reference_record(img, width, x, y) : Px{};
            const Px& got = field[y * width + x];
            if (!same_bits(got, want) && wrong++ == 0)
                ADD_FAILURE() << "pixel (" << x << ", " << y << "): got " << show(got) << ", want " << show(want);
        }
    }
    EXPECT_EQ(wrong, 0u);
}

// ---------------------------------------------------------------------------
// The field against the per-pixel definition, on images that exercise the
// fast rows' accepted and rejected pixels alike.

struct ImageCase {
    const char* name;
    std::size_t width, height;
    std::function<double(std::mt19937_64&, std::size_t, std::size_t)> sample;
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

// Every vector variant the processor runs, through the public function.
class FieldMatchesDefinition : public ::testing::TestWithParam<std::tuple<ImageCase, simd::Variant>> {};

TEST_P(FieldMatchesDefinition, BitForBit) {
    const auto& [c, variant] = GetParam();
    TESSARIN_RUN_VARIANT(variant);
    std::mt19937_64 rng(12345);
    std::vector<double> img(c.width * c.height);
    for (std::size_t y = 0; y < c.height; ++y)
        for (std::size_t x = 0; x < c.width; ++x) img[y * c.width + x] = c.sample(rng, x, y);
    const std::vector<Px> field = level_line_field(img.data(), c.width, c.height);
    expect_matches_reference(field, img, c.width, c.height);
}

std::string image_variant_name(const ::testing::TestParamInfo<std::tuple<ImageCase, simd::Variant>>& info) {
    return std::string(std::get<0>(info.param).name) + "_" + simd::name(std::get<1>(info.param));
}

double uniform(std::mt19937_64& rng, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}

INSTANTIATE_TEST_SUITE_P(
    Images, FieldMatchesDefinition,
    ::testing::Combine(::testing::Values(
        ImageCase{"bytes", 613, 409,
                  [](std::mt19937_64& r, std::size_t, std::size_t) { return double(r() % 256); }},
        ImageCase{"words_over_257", 301, 203,
                  [](std::mt19937_64& r, std::size_t, std::size_t) { return double(r() % 65536) / 257.0; }},
        ImageCase{"small_steps", 257, 255,  // few distinct gradients, many exact ties
                  [](std::mt19937_64& r, std::size_t, std::size_t) { return double(r() % 4); }},
        ImageCase{"smooth", 400, 300,
                  [](std::mt19937_64&, std::size_t x, std::size_t y) {
                      return 100.0 * std::sin(0.05 * x) * std::cos(0.031 * y) + 0.37 * x;
                  }},
        ImageCase{"doubles", 333, 222,
                  [](std::mt19937_64& r, std::size_t, std::size_t) { return uniform(r, -1000.0, 1000.0); }},
        ImageCase{"wide_exponents", 211, 197,  // tiny, huge and overflowing gradients
                  [](std::mt19937_64& r, std::size_t, std::size_t) {
                      return std::ldexp(uniform(r, -1.0, 1.0), int(r() % 2000) - 1000);
                  }},
        ImageCase{"near_float_limits", 97, 89,  // norms around the largest 32-bit float
                  [](std::mt19937_64& r, std::size_t, std::size_t) { return uniform(r, -6e38, 6e38); }},
        // Blocks whose norm lies within an ulp or two of a midpoint between
        // 32-bit floats: the sqrt estimate alone would round some of them the
        // wrong way. Even pixels of even rows hold the block {0, p; 0, r}
        // with p = g - 1, r = g + 1, so gx = g and gy = 1 exactly.
        ImageCase{"norms_at_float_midpoints", 240, 160,
                  [](std::mt19937_64&, std::size_t x, std::size_t y) {
                      if (x % 2 == 0) return 0.0;
                      std::mt19937_64 block((x / 2) * 7919 + (y / 2) * 104729);
                      float f = std::uniform_real_distribution<float>(100.0f, 10000.0f)(block);
                      double mid = (double(f) + double(std::nextafter(f, 1e9f))) / 2;
                      double g = std::sqrt(mid * mid - 1.0);
                      return y % 2 == 0 ? g - 1.0 : g + 1.0;
                  }},
        ImageCase{"odd_width", 4, 7,
                  [](std::mt19937_64& r, std::size_t, std::size_t) { return double(r() % 256); }},
        ImageCase{"specials", 64, 48,
                  [](std::mt19937_64& r, std::size_t, std::size_t) {
                      static const double v[] = {0.0, -0.0, 1.0, 255.0, 1e-310,
                                                 std::numeric_limits<double>::infinity(),
                                                 -std::numeric_limits<double>::infinity(),
                                                 std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300};
                      return v[r() % 10];
                  }}),
    tessarin::testing::every_variant),
    image_variant_name);

// ---------------------------------------------------------------------------
// Worked records: step edges.

struct EdgeCase {
    const char* name;
    bool vertical;  // step across x (else across y)
    Px want;        // record at the block straddling the step
};

void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }

class StepEdge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(StepEdge, RecordAtTheStep) {
    const EdgeCase& c = GetParam();
    const std::size_t n = 10;
    std::vector<double> img(n * n);
    for (std::size_t y = 0; y < n; ++y)
        for (std::size_t x = 0; x < n; ++x) img[y * n + x] = ((c.vertical ? x : y) >= 5) ? 100.0 : 0.0;
    const std::vector<Px> field = level_line_field(img.data(), n, n);
    for (std::size_t y = 0; y + 1 < n; ++y) {
        for (std::size_t x = 0; x + 1 < n; ++x) {
            const bool at_step = (c.vertical ? x : y) == 4;
            const Px want = at_step ? c.want : Px{};
            EXPECT_TRUE(same_bits(field[y * n + x], want)) << "(" << x << ", " << y << "): " << show(field[y * n + x]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Edges, StepEdge,
                         ::testing::Values(EdgeCase{"vertical", true, Px{100.0f, -0.0f, 1.0f}},
                                           EdgeCase{"horizontal", false, Px{100.0f, -1.0f, 0.0f}}),
                         [](const ::testing::TestParamInfo<EdgeCase>& info) { return std::string(info.param.name); });

TEST(LevelLineField, LastRowAndColumnStayZero) {
    const std::size_t w = 9, h = 6;
    std::vector<double> img(w * h);
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = double((i * 7919) % 251);
    const std::vector<Px> field = level_line_field(img.data(), w, h);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x)
            if (x == w - 1 || y == h - 1) {
                EXPECT_TRUE(same_bits(field[y * w + x], Px{})) << x << ", " << y;
            }
}

TEST(LevelLineField, ConstantImageHasNoDirectionAndNoSeeds) {
    std::vector<double> img(20 * 15, 42.0);
    const std::vector<Px> field = level_line_field(img.data(), 20, 15);
    for (const Px& p : field) EXPECT_TRUE(same_bits(p, Px{}));
    EXPECT_TRUE(seeds_by_norm(field, grad_threshold).empty());
}

TEST(LevelLineField, DegenerateSizesGiveZeroRecords) {
    std::vector<double> img = {1.0, 50.0, 3.0, 200.0};
    for (auto [w, h] : {std::pair<std::size_t, std::size_t>{4, 1}, {1, 4}, {0, 0}}) {
        const std::vector<Px> field = level_line_field(img.data(), w, h);
        ASSERT_EQ(field.size(), w * h);
        for (const Px& p : field) EXPECT_TRUE(same_bits(p, Px{}));
    }
}

// A non-finite sample, or a gradient whose norm overflows a 32-bit float,
// leaves every block that holds it without a direction; the other blocks are
// untouched.
class UnrepresentableSample : public ::testing::TestWithParam<double> {};

TEST_P(UnrepresentableSample, BlocksHoldingItStayZero) {
    const std::size_t w = 7, h = 6, sx = 3, sy = 2;
    std::vector<double> img(w * h);
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = double((i * 37) % 101);
    img[sy * w + sx] = GetParam();
    const std::vector<Px> field = level_line_field(img.data(), w, h);
    for (std::size_t y = 0; y + 1 < h; ++y) {
        for (std::size_t x = 0; x + 1 < w; ++x) {
            const Px& got = field[y * w + x];
            const bool holds = (x == sx || x + 1 == sx) && (y == sy || y + 1 == sy);
            if (holds) {
                EXPECT_TRUE(same_bits(got, Px{})) << "(" << x << ", " << y << "): " << show(got);
            } else {
                EXPECT_TRUE(same_bits(got, reference_record(img, w, x, y))) << x << ", " << y;
            }
            EXPECT_TRUE(std::isfinite(got.norm) && std::isfinite(got.ux) && std::isfinite(got.uy));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, UnrepresentableSample,
                         ::testing::Values(std::numeric_limits<double>::infinity(),
                                           -std::numeric_limits<double>::infinity(),
                                           std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300, 1e39));

// The norm range the workers take row by row is that of the whole field.
TEST(LevelLineField, SameFieldAndNormRangeWithAnyNumberOfWorkers) {
    const std::size_t w = 523, h = 311;
    std::mt19937_64 rng(7);
    std::vector<double> img(w * h);
    for (double& v : img) v = double(rng() % 256) + (rng() % 3 == 0 ? 0.5 : 0.0);
    img[200 * w + 17] = std::numeric_limits<double>::quiet_NaN();
    img[300 * w + 500] = 1e6;  // the strongest gradient, far down
    const std::size_t before = pool::workers();
    std::vector<std::vector<Px>> fields;
    // 0: every row on the calling thread; then shared among n workers.
    const std::size_t inline_before = pool::set_inline_work(0);
    for (std::size_t n : {0u, 1u, 2u, 7u}) {
        pool::set_inline_work(n == 0 ? std::numeric_limits<std::size_t>::max() : 0);
        if (n != 0) pool::set_workers(n);
        std::vector<Px> f(w * h);
        const NormRange r = level_line_field_into(img.data(), w, h, f.data());
        const NormRange want = norm_range(f);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(r.max), std::bit_cast<std::uint32_t>(want.max)) << n;
        EXPECT_EQ(r.plain, want.plain);
        fields.push_back(std::move(f));
    }
    pool::set_workers(before);
    pool::set_inline_work(inline_before);
    for (std::size_t k = 1; k < fields.size(); ++k)
        EXPECT_EQ(std::memcmp(fields[0].data(), fields[k].data(), fields[0].size() * sizeof(Px)), 0) << k;
}

// ---------------------------------------------------------------------------
// Seed order.

struct SeedCase {
    const char* name;
    std::vector<float> norms;
    float threshold;
    std::vector<std::uint32_t> want;
};

void PrintTo(const SeedCase& c, std::ostream* os) { *os << c.name; }

class SeedOrder : public ::testing::TestWithParam<SeedCase> {};

TEST_P(SeedOrder, Matches) {
    const SeedCase& c = GetParam();
    std::vector<Px> field;
    for (float n : c.norms) field.push_back(Px{n, 0.0f, 1.0f});
    EXPECT_EQ(seeds_by_norm(field, c.threshold), c.want);
}

const float nan_f = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Fields, SeedOrder,
    ::testing::Values(
        SeedCase{"worked_example", {10, 20, 20, 6}, grad_threshold, {1, 2, 0, 3}},
        SeedCase{"empty", {}, grad_threshold, {}},
        SeedCase{"all_zero", {0, 0, 0}, grad_threshold, {}},
        SeedCase{"maximum_not_above_threshold", {1, 5.226252f, 3}, grad_threshold, {}},
        SeedCase{"threshold_itself_is_not_a_seed", {5.226252f, 6, 5.226252f}, grad_threshold, {1}},
        SeedCase{"maxima_first_in_raster_order", {7, 30, 8, 30, 30}, grad_threshold, {1, 3, 4, 2, 0}},
        SeedCase{"nan_neither_wins_nor_seeds", {nan_f, 9, nan_f, 18}, grad_threshold, {3, 1}},
        // 1023 * 6/10 = 613.8 and 1023 * 6.001/10 = 613.9: one bin, raster order.
        SeedCase{"same_bin_keeps_raster_order", {6.001f, 6.0f, 10.0f}, grad_threshold, {2, 0, 1}},
        // A negative threshold: zero norms seed too, into bin 0 after the rest.
        SeedCase{"negative_threshold", {0, 4, 0, 2}, -1.0f, {1, 3, 0, 2}}),
    [](const ::testing::TestParamInfo<SeedCase>& info) { return std::string(info.param.name); });

TEST(SeedOrder, BinsAreDecreasingAndEachSeedAppearsOnce) {
    std::mt19937_64 rng(99);
    std::vector<Px> field(5000);
    for (Px& p : field) p.norm = (rng() % 4 == 0) ? 0.0f : std::uniform_real_distribution<float>(0.0f, 500.0f)(rng);
    const std::vector<std::uint32_t> seeds = seeds_by_norm(field, grad_threshold);
    float max_norm = 0.0f;
    std::size_t expected = 0;
    for (const Px& p : field) {
        max_norm = std::max(max_norm, p.norm);
        expected += p.norm > grad_threshold;
    }
    ASSERT_EQ(seeds.size(), expected);
    auto bin = [&](std::uint32_t i) { return std::min(1023u, unsigned((field[i].norm / max_norm) * 1023.0f)); };
    for (std::size_t k = 1; k < seeds.size(); ++k) {
        const unsigned a = bin(seeds[k - 1]), b = bin(seeds[k]);
        EXPECT_TRUE(a > b || (a == b && seeds[k - 1] < seeds[k])) << k;
    }
}

}  // namespace
}  // namespace tessarin::detector
