// Region growing, log-gamma and downscaling from input samples take cheaper
// paths than their defining arithmetic; these tests hold them to it bit for
// bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <cstdint>
#include <random>
#include <vector>

#include "detector/testing.hpp"
#include "detector/downscale.hpp"
#include "detector/field.hpp"
#include "detector/nfa.hpp"
#include "detector/region.hpp"

namespace tessarin::detector {
namespace {

// Growing by the definition: hypot after every pixel taken.
double reference_grow(std::uint32_t seed, const std::vector<Px>& field, std::vector<std::uint8_t>& used,
                      std::vector<std::uint32_t>& region, double tolerance, std::size_t w, std::size_t h) {
    region.assign(1, seed);
    used[seed] = 1;
    const double c = std::cos(tolerance);
    double sx = field[seed].ux, sy = field[seed].uy, t = c;
    for (std::size_t i = 0; i < region.size(); ++i) {
        const std::int64_t x = region[i] % w, y = region[i] / w;
        for (std::int64_t ny = y - 1; ny <= y + 1; ++ny)
            for (std::int64_t nx = x - 1; nx <= x + 1; ++nx) {
                if (nx < 0 || ny < 0 || nx >= static_cast<std::int64_t>(w) || ny >= static_cast<std::int64_t>(h))
                    continue;
                const std::size_t n = static_cast<std::size_t>(ny) * w + static_cast<std::size_t>(nx);
                if (used[n] != 0) continue;
                const double vx = field[n].ux, vy = field[n].uy;
                if (t > sx * vx + sy * vy) continue;
                used[n] = 1;
                region.push_back(static_cast<std::uint32_t>(n));
                sx += vx;
                sy += vy;
                t = std::hypot(sx, sy) * c;
            }
    }
    return std::atan2(sy, sx);
}

struct Scene {
    const char* name;
    double spread;      // how far directions scatter around a common one, radians
    bool axis_aligned;  // directions exactly ±x or ±y: dot products tie with the threshold
};

class GrowMatchesDefinition : public ::testing::TestWithParam<Scene> {};

TEST_P(GrowMatchesDefinition, RegionsAndAnglesBitForBit) {
    const Scene scene = GetParam();
    const std::size_t w = 61, h = 47;
    std::mt19937_64 rng(11);
    std::normal_distribution<double> jitter(0.0, scene.spread);
    std::vector<Px> field(w * h);
    for (Px& p : field) {
        double a = 0.4 + jitter(rng);
        if (scene.axis_aligned) a = std::round(a / (std::numbers::pi / 2)) * (std::numbers::pi / 2);
        const float ux = scene.axis_aligned ? static_cast<float>(std::lround(std::cos(a))) : static_cast<float>(std::cos(a));
        const float uy = scene.axis_aligned ? static_cast<float>(std::lround(std::sin(a))) : static_cast<float>(std::sin(a));
        p = Px{10.0f, ux, uy};
    }
    for (double tolerance : {0.39269908169872414, 0.0, 0.05, 0.7, std::numbers::pi / 2, 2.5}) {
        std::vector<std::uint8_t> used(w * h, 0), ref_used(w * h, 0);
        std::vector<std::uint32_t> region, ref_region;
        // Every pixel in turn seeds a region of what is still free.
        for (std::uint32_t s = 0; s < w * h; s += 7) {
            if (used[s] != 0) continue;
            const double a = grow_region(s, field, used, region, tolerance, w, h);
            const double b = reference_grow(s, field, ref_used, ref_region, tolerance, w, h);
            ASSERT_EQ(region, ref_region) << "seed " << s << " tolerance " << tolerance;
            ASSERT_EQ(std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b)) << s;
        }
        EXPECT_EQ(used, ref_used);
    }
}

INSTANTIATE_TEST_SUITE_P(Fields, GrowMatchesDefinition,
                         ::testing::Values(Scene{"tight", 0.1, false}, Scene{"loose", 0.6, false},
                                           Scene{"ties", 0.3, true}),
                         [](const auto& info) { return std::string(info.param.name); });

bool same_rect(const Rect& a, const Rect& b) { return std::memcmp(&a, &b, sizeof(Rect)) == 0; }

// Refinement fits its shrinking regions from their points; every fit must be
// region_to_rect's, also after entries are dropped the way shrinking drops them.
TEST(FitFromPoints, SameRectangleAsTheRegionList) {
    const std::size_t w = 53, h = 41;
    std::mt19937_64 rng(5);
    std::normal_distribution<double> jitter(0.0, 0.5);
    std::uniform_real_distribution<float> norm(5.3f, 360.0f);
    std::vector<Px> field(w * h);
    for (Px& p : field) {
        const double a = -2.0 + jitter(rng);
        p = Px{norm(rng), static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
    }
    std::vector<std::uint8_t> used(w * h, 0);
    std::vector<std::uint32_t> region;
    RegionPoints points;
    std::size_t fits = 0;
    for (std::uint32_t s = 0; s < w * h; s += 5) {
        if (used[s] != 0) continue;
        const double angle = grow_region(s, field, used, region, 0.7, w, h);
        points.assign(region, field, w);
        while (!region.empty()) {
            for (double p : {0.125, 0.0078125}) {
                ASSERT_TRUE(same_rect(points_to_rect(points, angle, p), region_to_rect(region, field, w, angle, p)))
                    << "seed " << s << ", " << region.size() << " pixels";
                ++fits;
            }
            const std::size_t k = std::uniform_int_distribution<std::size_t>(0, region.size() - 1)(rng);
            region[k] = region.back();
            region.pop_back();
            points.remove(k);
        }
    }
    EXPECT_GT(fits, 1000u);
}

// The Lanczos branch with powers taken by pow, and the large-argument branch with pow(x, 6).
double reference_log_gamma(double x) {
    if (x >= 15.0)
        return 0.918938533204673 + (x - 0.5) * std::log(x) - x +
               0.5 * x * std::log(x * std::sinh(1.0 / x) + 1.0 / (810.0 * std::pow(x, 6.0)));
    static constexpr double q[7] = {75122.633153,  80916.6278952, 36308.2951477, 8687.24529705,
                                    1168.92649479, 83.8676043424, 2.50662827511};
    double a = (x + 0.5) * std::log(x + 5.5) - (x + 5.5), b = 0.0;
    for (int j = 0; j < 7; ++j) {
        a -= std::log(x + j);
        b += q[j] * std::pow(x, static_cast<double>(j));
    }
    return a + std::log(b);
}

TEST(LogGamma, WholeArgumentsMatchThePowForm) {
    for (double x = 1.0; x <= 1000.0; x += 1.0)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(log_gamma(x)), std::bit_cast<std::uint64_t>(reference_log_gamma(x)))
            << x;
    for (double x : {0.5, 2.25, 14.5, 15.5, 399.5, 1e6 + 0.5})
        EXPECT_EQ(std::bit_cast<std::uint64_t>(log_gamma(x)), std::bit_cast<std::uint64_t>(reference_log_gamma(x)))
            << x;
}

TEST(LogGamma, WholeTableMatchesTheFunction) {
    for (std::size_t n = 1; n < whole_log_gamma_size + 64; ++n)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(log_gamma_whole(n)),
                  std::bit_cast<std::uint64_t>(log_gamma(static_cast<double>(n))))
            << n;
    EXPECT_EQ(log_gamma_whole(std::size_t{1} << 40), log_gamma(0x1p40));
}

template <class T>
void expect_downscale_of_widened(const std::vector<T>& img, std::size_t w, std::size_t h, double scale) {
    std::vector<double> widened(img.size());
    for (std::size_t i = 0; i < img.size(); ++i) widened[i] = working_value(img[i]);
    const Image a = downscale(img.data(), w, h, scale);
    const Image b = downscale(widened.data(), w, h, scale);
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    ASSERT_EQ(a.pixels.size(), b.pixels.size());
    for (std::size_t i = 0; i < a.pixels.size(); ++i)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(a.pixels[i]), std::bit_cast<std::uint64_t>(b.pixels[i])) << i;
}

TEST(DownscaleSamples, SameBitsAsTheWidenedImage) {
    const std::size_t w = 53, h = 41;
    std::mt19937 rng(5);
    std::vector<std::uint8_t> u8(w * h);
    std::vector<std::uint16_t> u16(w * h);
    std::vector<float> f32(w * h);
    for (std::size_t i = 0; i < w * h; ++i) {
        u8[i] = static_cast<std::uint8_t>(rng());
        u16[i] = static_cast<std::uint16_t>(rng());  // not multiples of 257
        f32[i] = static_cast<float>(rng()) * 1e-7f;
    }
    f32[100] = std::numeric_limits<float>::quiet_NaN();
    f32[700] = std::numeric_limits<float>::infinity();
    for (double scale : {0.8, 0.5, 0.31, 0.0999}) {
        expect_downscale_of_widened(u8, w, h, scale);
        expect_downscale_of_widened(u16, w, h, scale);
        expect_downscale_of_widened(f32, w, h, scale);
    }
    EXPECT_EQ(working_value(std::uint16_t{65535}), 255.0);
    EXPECT_EQ(working_value(std::uint16_t{257}), 1.0);
}

// Seed order by the definition: 1024 growable bins filled in index order.
std::vector<std::uint32_t> reference_seeds(const std::vector<Px>& field, float threshold) {
    float m = 0.0f;
    for (const Px& p : field)
        if (p.norm > m) m = p.norm;
    std::vector<std::uint32_t> out;
    if (!(m > 0.0f)) return out;
    std::vector<std::vector<std::uint32_t>> bins(1024);
    for (std::uint32_t i = 0; i < field.size(); ++i) {
        if (!(field[i].norm > threshold)) continue;
        const float q = (field[i].norm / m) * 1023.0f;
        const std::size_t b = !(q > 0.0f) ? 0 : q >= 1023.0f ? 1023 : static_cast<std::size_t>(q);
        bins[b].push_back(i);
    }
    for (std::size_t b = 1024; b-- > 0;) out.insert(out.end(), bins[b].begin(), bins[b].end());
    return out;
}

TEST(SeedOrder, MatchesTheBinsOfTheDefinition) {
    const std::size_t w = 97, h = 61;
    std::mt19937 rng(9);
    std::vector<double> img(w * h);
    for (double& v : img) v = static_cast<double>(rng() % 256);
    std::vector<Px> field = level_line_field(img.data(), w, h);
    for (float threshold : {grad_threshold, 0.0f, 50.0f, 1e9f}) {
        std::vector<std::uint8_t> marks(field.size(), 7);
        EXPECT_EQ(seeds_by_norm(field, threshold, marks.data()), reference_seeds(field, threshold)) << threshold;
        for (std::size_t i = 0; i < field.size(); ++i)
            ASSERT_EQ(marks[i], field[i].norm <= threshold ? 1 : 0) << i;
    }
    std::vector<std::uint8_t> marks(field.size(), 7);  // a field without gradient marks everything
    EXPECT_TRUE(seeds_by_norm(std::vector<Px>(field.size()), grad_threshold, marks.data()).empty());
    EXPECT_EQ(marks, std::vector<std::uint8_t>(field.size(), 1));
    // Norms no field of an image holds take the general path.
    const float inf = std::numeric_limits<float>::infinity();
    for (float odd : {std::numeric_limits<float>::quiet_NaN(), -3.0f, inf}) {
        std::vector<Px> f = field;
        f[17].norm = odd;
        f[300].norm = odd;
        EXPECT_EQ(seeds_by_norm(f, grad_threshold), reference_seeds(f, grad_threshold)) << odd;
    }
}

// Storage filled with NaN bytes stands for memory that was never initialised.
TEST(IntoStorage, EveryRecordAndSampleIsWritten) {
    const std::size_t w = 45, h = 33;
    std::mt19937 rng(4);
    std::vector<double> img(w * h);
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = (i % 7 == 0) ? 5.0 : static_cast<double>(rng() % 4);
    const std::vector<Px> field = level_line_field(img.data(), w, h);  // flat blocks among the rest
    std::vector<Px> into(w * h);
    std::memset(into.data(), 0xff, into.size() * sizeof(Px));
    level_line_field_into(img.data(), w, h, into.data());
    EXPECT_EQ(std::memcmp(into.data(), field.data(), field.size() * sizeof(Px)), 0);

    const Image small = downscale(img.data(), w, h, 0.6);
    std::vector<double> out(small.pixels.size());
    std::memset(out.data(), 0xff, out.size() * sizeof(double));
    downscale_into(img.data(), w, h, 0.6, out.data());
    EXPECT_EQ(std::memcmp(out.data(), small.pixels.data(), out.size() * sizeof(double)), 0);
}

TEST(PixelGrid, DividesExactlyForEveryIndex) {
    std::mt19937 rng(8);
    const std::size_t widths[] = {1, 2, 3, 7, 640, 1536, 3200, 65535, 65536, 65537, 2147483647u, 4294967295u,
                                  std::size_t{1} << 32, (std::size_t{1} << 33) + 3};
    for (std::size_t w : widths) {
        const PixelGrid grid(w);
        std::vector<std::uint32_t> indices = {0, 1, 2, UINT32_MAX, UINT32_MAX - 1};
        for (std::size_t k = 1; k <= 4; ++k) {  // around multiples of the width
            const std::uint64_t m = k * w;
            for (std::uint64_t v : {m - 1, m, m + 1})
                if (v <= UINT32_MAX) indices.push_back(static_cast<std::uint32_t>(v));
        }
        for (int r = 0; r < 20000; ++r) indices.push_back(rng());
        for (std::uint32_t i : indices) {
            const PixelXY p = grid.xy(i);
            ASSERT_EQ(p.y, i / w) << i << " / " << w;
            ASSERT_EQ(p.x, i % w) << i << " % " << w;
        }
    }
}

// The 32-bit-halves form serves compilers without a 128-bit integer.
#if defined(__SIZEOF_INT128__)
TEST(PixelGrid, HighProductFromHalvesMatchesTheWideProduct) {
    std::mt19937_64 rng(9);
    std::vector<std::uint64_t> values = {0, 1, 2, 0xffffffffu, 0x100000000u, UINT64_MAX, UINT64_MAX - 1,
                                         UINT64_MAX / 3 + 1};
    for (int r = 0; r < 2000; ++r) values.push_back(rng());
    for (std::uint64_t a : values)
        for (std::uint64_t b : {values[0], values[3], values[5], values[7], values[10], values[200]}) {
            const auto wide = static_cast<std::uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
            ASSERT_EQ(high_product_halves(a, b), wide) << a << " * " << b;
        }
}
#endif

}  // namespace
}  // namespace tessarin::detector
