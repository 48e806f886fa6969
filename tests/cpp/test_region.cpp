#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "detector/testing.hpp"
#include "detector/field.hpp"
#include "detector/region.hpp"

namespace tessarin::detector {
namespace {

constexpr double pi = 3.141592653589793;
constexpr double pi_over_8 = 0.39269908169872414;

// A field in which every pixel has weight `norm` and level-line angle `angle`,
// with every pixel marked used except those listed as free.
struct Scene {
    std::size_t width, height;
    std::vector<Px> field;
    std::vector<std::uint8_t> used;

    Scene(std::size_t w, std::size_t h, double angle = 0.0, float norm = 10.0f)
        : width(w), height(h), field(w * h, direction(angle, norm)), used(w * h, 1) {}

    static Px direction(double angle, float norm = 10.0f) {
        return Px{norm, static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
    }
    void free(std::uint32_t i) { used[i] = 0; }
    void free(std::uint32_t i, double angle) {
        used[i] = 0;
        field[i] = direction(angle);
    }
    double grow(std::uint32_t seed, std::vector<std::uint32_t>& region, double tolerance = pi_over_8) {
        return grow_region(seed, field, used, region, tolerance, width, height);
    }
};

// ---------------------------------------------------------------------------
// grow_region: visiting order and the running direction.

struct GrowthCase {
    const char* name;
    std::size_t width, height;
    std::vector<std::uint32_t> free;  // the seed comes first
    std::vector<std::uint32_t> want;  // the region in joining order
};

void PrintTo(const GrowthCase& c, std::ostream* os) { *os << c.name; }

class GrowthOrder : public ::testing::TestWithParam<GrowthCase> {};

TEST_P(GrowthOrder, JoinsBreadthFirstRowByRow) {
    const GrowthCase& c = GetParam();
    Scene s(c.width, c.height, 0.3);
    for (std::uint32_t i : c.free) s.free(i);
    std::vector<std::uint32_t> region = {99, 98, 97};  // stale content from an earlier seed
    s.grow(c.free.front(), region);
    EXPECT_EQ(region, c.want);
    for (std::size_t i = 0; i < s.used.size(); ++i) EXPECT_EQ(s.used[i], 1) << i;  // all taken or used before
}

INSTANTIATE_TEST_SUITE_P(
    Regions, GrowthOrder,
    ::testing::Values(
        // The nine central pixels of a 5 × 5 image, grown from the centre.
        GrowthCase{"centre_of_5x5", 5, 5, {12, 6, 7, 8, 11, 13, 16, 17, 18}, {12, 6, 7, 8, 11, 13, 16, 17, 18}},
        // Corners see only the three neighbours inside the image.
        GrowthCase{"top_left_corner", 4, 4, {0, 1, 4, 5}, {0, 1, 4, 5}},
        GrowthCase{"top_right_corner", 4, 4, {3, 2, 6, 7}, {3, 2, 6, 7}},
        GrowthCase{"bottom_left_corner", 4, 4, {12, 8, 9, 13}, {12, 8, 9, 13}},
        GrowthCase{"bottom_right_corner", 4, 4, {15, 10, 11, 14}, {15, 10, 11, 14}},
        // Edges and a chain: pixels reached later are visited later.
        GrowthCase{"bottom_edge_chain", 5, 3, {12, 13, 14, 9, 4}, {12, 13, 9, 14, 4}},
        GrowthCase{"left_edge", 3, 5, {6, 3, 4, 7, 9, 10}, {6, 3, 4, 7, 9, 10}},
        GrowthCase{"lone_seed", 3, 3, {4}, {4}}),
    [](const ::testing::TestParamInfo<GrowthCase>& info) { return std::string(info.param.name); });

TEST(GrowRegion, LoneSeedReturnsItsOwnLevelLineAngle) {
    Scene s(3, 3);
    s.free(4, 2.0);
    std::vector<std::uint32_t> region;
    const double angle = s.grow(4, region);
    EXPECT_EQ(angle, std::atan2(double(s.field[4].uy), double(s.field[4].ux)));
}

// The second candidate is tested against the direction after the first
// joined, not against the seed's own.
TEST(GrowRegion, RunningDirectionDecidesLaterNeighbours) {
    Scene s(5, 5);
    s.free(12, 0.0);
    s.free(6, 0.35);   // (x-1, y-1): within pi/8 of the seed
    s.free(8, -0.35);  // (x+1, y-1): 0.525 from the region once 6 has joined
    std::vector<std::uint32_t> region;
    const double angle = s.grow(12, region);
    EXPECT_EQ(region, (std::vector<std::uint32_t>{12, 6}));
    EXPECT_EQ(s.used[8], 0);  // rejected, still free
    EXPECT_NEAR(angle, 0.175, 1e-6);
}

// A rejected neighbour may still join when a later pixel of the region
// reaches it with a direction that has turned towards it.
TEST(GrowRegion, RejectedPixelCanJoinLater) {
    Scene s(5, 3);
    s.free(5, 0.0);   // seed at (0, 1)
    s.free(1, 0.45);  // (1, 0): 0.45 from the seed, rejected at the seed's visit
    s.free(6, 0.3);   // (1, 1): joins, turns the region to 0.15
    s.free(7, 0.4);   // (2, 1): joins from 6, region about 0.233
    std::vector<std::uint32_t> region;
    s.grow(5, region);
    EXPECT_EQ(region, (std::vector<std::uint32_t>{5, 6, 1, 7}));
}

// A wider tolerance takes what pi/8 rejects.
TEST(GrowRegion, ToleranceIsTheCallersOwn) {
    Scene s(3, 3);
    s.free(4, 0.0);
    s.free(5, 0.6);
    std::vector<std::uint32_t> region;
    s.grow(4, region, pi_over_8);
    EXPECT_EQ(region.size(), 1u);
    s.used[5] = 0;
    s.grow(4, region, 0.7);  // the seed is used now; only its mark is set again
    EXPECT_EQ(region, (std::vector<std::uint32_t>{4, 5}));
}

// ---------------------------------------------------------------------------
// region_to_rect: worked rectangles.

struct RectCase {
    const char* name;
    std::size_t width;
    std::vector<std::uint32_t> pixels;
    double angle;
    Rect want;     // prec and p are checked separately
    double slack;  // for coordinates and directions
};

void PrintTo(const RectCase& c, std::ostream* os) { *os << c.name; }

class FittedRect : public ::testing::TestWithParam<RectCase> {};

TEST_P(FittedRect, Matches) {
    const RectCase& c = GetParam();
    std::vector<Px> field(c.width * c.width, Px{7.5f, 1.0f, 0.0f});
    const Rect r = region_to_rect(c.pixels, field, c.width, c.angle, 0.125);
    EXPECT_NEAR(r.x1, c.want.x1, c.slack);
    EXPECT_NEAR(r.y1, c.want.y1, c.slack);
    EXPECT_NEAR(r.x2, c.want.x2, c.slack);
    EXPECT_NEAR(r.y2, c.want.y2, c.slack);
    EXPECT_EQ(r.width, c.want.width);
    EXPECT_NEAR(r.dx, c.want.dx, c.slack);
    EXPECT_NEAR(r.dy, c.want.dy, c.slack);
    EXPECT_EQ(r.prec, pi_over_8);
    EXPECT_EQ(r.p, 0.125);
}

INSTANTIATE_TEST_SUITE_P(
    Regions, FittedRect,
    ::testing::Values(
        RectCase{"row_angle_0", 8, {17, 18, 19, 20}, 0.0, {1, 2, 4, 2, 1.0, 1, 0, 0, 0}, 1e-15},
        RectCase{"row_angle_pi", 8, {17, 18, 19, 20}, pi, {4, 2, 1, 2, 1.0, -1, 0, 0, 0}, 1e-15},
        RectCase{"row_reversed_list", 8, {20, 19, 18, 17}, 0.0, {1, 2, 4, 2, 1.0, 1, 0, 0, 0}, 1e-15},
        RectCase{"column_angle_pi_2", 8, {9, 17, 25, 33}, pi / 2, {1, 1, 1, 4, 1.0, 0, 1, 0, 0}, 1e-15},
        RectCase{"diagonal", 8, {9, 18, 27, 36}, pi / 4,
                 {1, 1, 4, 4, 1.0, 0.7071067811865476, 0.7071067811865475, 0, 0}, 1e-15},
        // A 2 × 4 block: the across spread is 1 plus rounding, kept as is.
        RectCase{"block_2x4", 8, {9, 10, 11, 12, 17, 18, 19, 20}, 0.0,
                 {1, 1.5, 4, 1.5, 1.0000000000000007, 1, 0, 0, 0}, 1e-15},
        RectCase{"single_pixel", 8, {27}, 0.0, {3, 3, 3, 3, 1.0, 1, 0, 0, 0}, 1e-15}),
    [](const ::testing::TestParamInfo<RectCase>& info) { return std::string(info.param.name); });

TEST(RegionToRect, DiagonalDirectionIsExact) {
    std::vector<Px> field(64, Px{3.0f, 0.7f, 0.7f});
    const std::vector<std::uint32_t> pixels = {9, 18, 27, 36};
    const Rect r = region_to_rect(pixels, field, 8, pi / 4, 0.125);
    EXPECT_EQ(r.dx, 0.7071067811865476);
    EXPECT_EQ(r.dy, 0.7071067811865475);
}

// A one-row region keeps its cross moment at +0, so the principal axis is
// atan2(+0, negative) = +pi exactly; a -0 would give -pi and flip the sign of
// the tiny dy, and with region angle 0 would skip the half turn.
struct RowSenseCase {
    double angle;
    double dx, dy;
};

void PrintTo(const RowSenseCase& c, std::ostream* os) { *os << "region angle " << c.angle; }

class OneRowAxis : public ::testing::TestWithParam<RowSenseCase> {};

TEST_P(OneRowAxis, ExactDirection) {
    std::vector<Px> field(64, Px{9.0f, -1.0f, 0.0f});
    const std::vector<std::uint32_t> pixels = {17, 18, 19, 20};
    const Rect r = region_to_rect(pixels, field, 8, GetParam().angle, 0.125);
    EXPECT_EQ(r.dx, GetParam().dx);
    EXPECT_EQ(r.dy, GetParam().dy);
}

// The expected values come from this platform's math library at run time, as
// the rectangle's do; a compiler folding sin(pi) to the correctly rounded
// value would disagree with a library that is not (MinGW-w64's x87 sin).
double runtime_cos(double x) {
    volatile double v = x;
    return std::cos(v);
}
double runtime_sin(double x) {
    volatile double v = x;
    return std::sin(v);
}

INSTANTIATE_TEST_SUITE_P(Angles, OneRowAxis,
                         ::testing::Values(RowSenseCase{pi, runtime_cos(pi), runtime_sin(pi)},
                                           RowSenseCase{0.0, runtime_cos(pi + pi), runtime_sin(pi + pi)},
                                           RowSenseCase{-pi, runtime_cos(pi), runtime_sin(pi)}));

// The half turn uses pi/8 whatever tolerance grew the region, and compares
// the angles modulo 2 pi.
struct FlipCase {
    const char* name;
    double angle;  // the one-row region's axis is at pi
    bool flipped;
};

void PrintTo(const FlipCase& c, std::ostream* os) { *os << c.name; }

class OrientationFlip : public ::testing::TestWithParam<FlipCase> {};

TEST_P(OrientationFlip, TurnsWhenFarFromRegionAngle) {
    std::vector<Px> field(64, Px{9.0f, -1.0f, 0.0f});
    const std::vector<std::uint32_t> pixels = {17, 18, 19, 20};
    const Rect r = region_to_rect(pixels, field, 8, GetParam().angle, 0.125);
    EXPECT_NEAR(r.dx, GetParam().flipped ? 1.0 : -1.0, 1e-15);
    EXPECT_DOUBLE_EQ(r.x1, GetParam().flipped ? 1.0 : 4.0);
    EXPECT_DOUBLE_EQ(r.x2, GetParam().flipped ? 4.0 : 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Angles, OrientationFlip,
    ::testing::Values(FlipCase{"half_a_radian_off", pi - 0.5, true}, FlipCase{"just_under_pi_8", pi - 0.39, false},
                      FlipCase{"just_over_pi_8", pi - 0.3928, true}, FlipCase{"wraps_past_minus_pi", -pi + 0.3, false},
                      FlipCase{"wraps_far_side", -pi + 0.5, true}, FlipCase{"opposite", 0.0, true}),
    [](const ::testing::TestParamInfo<FlipCase>& info) { return std::string(info.param.name); });

TEST(RegionToRect, CarriesTheCallersProbability) {
    std::vector<Px> field(64, Px{9.0f, 1.0f, 0.0f});
    const std::vector<std::uint32_t> pixels = {17, 18};
    const Rect r = region_to_rect(pixels, field, 8, 0.0, 0.0625);
    EXPECT_EQ(r.p, 0.0625);
    EXPECT_EQ(r.prec, pi_over_8);
}

// Heavier pixels pull the centroid, and the end points stay on the axis
// through it.
TEST(RegionToRect, WeightsMoveTheAxis) {
    std::vector<Px> field(64, Px{1.0f, 1.0f, 0.0f});
    // Two rows: y = 2 with weight 3, y = 3 with weight 1, x from 1 to 4.
    std::vector<std::uint32_t> pixels;
    for (std::uint32_t x = 1; x <= 4; ++x) {
        pixels.push_back(2 * 8 + x);
        field[2 * 8 + x].norm = 3.0f;
        pixels.push_back(3 * 8 + x);
    }
    const Rect r = region_to_rect(pixels, field, 8, 0.0, 0.125);
    EXPECT_NEAR(r.y1, 2.25, 1e-14);
    EXPECT_NEAR(r.y2, 2.25, 1e-14);
    EXPECT_NEAR(r.x1, 1.0, 1e-14);
    EXPECT_NEAR(r.x2, 4.0, 1e-14);
    EXPECT_NEAR(r.width, 1.0, 1e-14);
}

// ---------------------------------------------------------------------------
// From an image to a rectangle: a step edge's strongest seed grows along the
// edge and fits a rectangle lying on it.
TEST(RegionFromImage, StepEdgeGivesAVerticalRectangle) {
    const std::size_t w = 12, h = 10;
    std::vector<double> img(w * h);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) img[y * w + x] = x >= 6 ? 200.0 : 10.0;
    const std::vector<Px> field = level_line_field(img.data(), w, h);
    const std::vector<std::uint32_t> seeds = seeds_by_norm(field, grad_threshold);
    ASSERT_EQ(seeds.size(), h - 1);
    std::vector<std::uint8_t> used(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) used[i] = field[i].norm <= grad_threshold;
    std::vector<std::uint32_t> region;
    const double angle = grow_region(seeds[0], field, used, region, pi_over_8, w, h);
    EXPECT_EQ(region.size(), h - 1);
    EXPECT_DOUBLE_EQ(angle, pi / 2);
    const Rect r = region_to_rect(region, field, w, angle, 0.125);
    EXPECT_NEAR(r.x1, 5.0, 1e-12);
    EXPECT_NEAR(r.x2, 5.0, 1e-12);
    EXPECT_NEAR(r.y1, 0.0, 1e-12);
    EXPECT_NEAR(r.y2, double(h - 2), 1e-12);
    EXPECT_NEAR(r.dy, 1.0, 1e-15);
    EXPECT_EQ(r.width, 1.0);
}

// A sample that is not finite, or whose gradients overflow 32-bit floats,
// takes no part in any region: the seed walk returns, and every rectangle is
// finite. Here the sample sits on the edge at (6, 4) and splits it in two.
class EdgeWithUnrepresentableSample : public ::testing::TestWithParam<double> {};

TEST_P(EdgeWithUnrepresentableSample, RegionsAvoidItAndRectanglesStayFinite) {
    const std::size_t w = 12, h = 10;
    std::vector<double> img(w * h);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) img[y * w + x] = x >= 6 ? 200.0 : 10.0;
    img[4 * w + 6] = GetParam();
    const std::vector<Px> field = level_line_field(img.data(), w, h);
    std::vector<std::uint8_t> used(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) used[i] = field[i].norm <= grad_threshold;
    std::vector<std::uint32_t> region;
    std::vector<std::size_t> sizes;
    for (std::uint32_t seed : seeds_by_norm(field, grad_threshold)) {
        if (used[seed]) continue;
        const double angle = grow_region(seed, field, used, region, pi_over_8, w, h);
        for (std::uint32_t i : region) {
            const std::size_t x = i % w, y = i / w;
            EXPECT_FALSE((x == 5 || x == 6) && (y == 3 || y == 4)) << "pixel " << i << " joined";
        }
        const Rect r = region_to_rect(region, field, w, angle, 0.125);
        for (double v : {r.x1, r.y1, r.x2, r.y2, r.width, r.dx, r.dy}) EXPECT_TRUE(std::isfinite(v));
        sizes.push_back(region.size());
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{3, 4}));  // rows 0 to 2 and 5 to 8 of the edge
}

INSTANTIATE_TEST_SUITE_P(Samples, EdgeWithUnrepresentableSample,
                         ::testing::Values(std::numeric_limits<double>::infinity(),
                                           -std::numeric_limits<double>::infinity(),
                                           std::numeric_limits<double>::quiet_NaN(), 1e300));

}  // namespace
}  // namespace tessarin::detector
