#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "detector/nfa.hpp"
#include "detector/testing.hpp"
#include "detector/refine.hpp"

namespace tessarin::detector {
namespace {

constexpr double pi = 3.141592653589793;
constexpr Px along_x{10.0f, 1.0f, 0.0f};
constexpr Px along_y{10.0f, 0.0f, 1.0f};

bool same_bits(const Rect& a, const Rect& b) { return std::memcmp(&a, &b, sizeof(Rect)) == 0; }

// A field with no gradient except where a test paints pixels; every pixel
// starts used, as weak pixels do in a detection.
struct Scene {
    std::size_t w, h;
    std::vector<Px> field;
    std::vector<std::uint8_t> used;
    std::vector<std::uint32_t> region;

    Scene(std::size_t w, std::size_t h) : w(w), h(h), field(w * h, Px{0, 0, 0}), used(w * h, 1) {}

    std::uint32_t at(std::size_t x, std::size_t y) const { return static_cast<std::uint32_t>(y * w + x); }
    // Paints a region pixel, marked used like a freshly grown region.
    void add(std::size_t x, std::size_t y, Px px = along_x) {
        field[at(x, y)] = px;
        region.push_back(at(x, y));
    }
    bool refine_with(Rect& r, std::size_t min_size, double& angle) {
        return refine(region, angle, r, used, field, min_size, w, h);
    }
    std::vector<std::uint32_t> free_pixels() const {
        std::vector<std::uint32_t> out;
        for (std::size_t i = 0; i < used.size(); ++i)
            if (used[i] == 0) out.push_back(static_cast<std::uint32_t>(i));
        return out;
    }
};

// Regions that fill their rectangle to at least 0.7 are kept untouched.
struct DenseCase {
    std::size_t n;
    double length, width;
};
class DenseEnough : public ::testing::TestWithParam<DenseCase> {};

TEST_P(DenseEnough, KeepsRegionRectAndMarks) {
    Scene s(16, 3);
    for (std::size_t x = 0; x < GetParam().n; ++x) s.add(x, 1);
    const Rect before{0, 1, GetParam().length, 1, GetParam().width, 1, 0, pi / 8, 0.125};
    Rect r = before;
    const auto region = s.region;
    double angle = -7.0;
    EXPECT_TRUE(s.refine_with(r, 20, angle));
    EXPECT_TRUE(same_bits(r, before));
    EXPECT_EQ(s.region, region);
    EXPECT_TRUE(s.free_pixels().empty());
    EXPECT_EQ(angle, -7.0);
}

INSTANTIATE_TEST_SUITE_P(Boundary, DenseEnough,
                         ::testing::Values(DenseCase{7, 10, 1},  // exactly 0.7
                                           DenseCase{7, 5, 2}, DenseCase{1, 0, 1},
                                           DenseCase{4, 0.5, 0.5}));  // area clamped to 1

// The plus sign of 25 pixels around the seed (10, 10), arms of 6, one
// direction: regrowing takes it all again, and its 12 × 12 rectangle is too
// sparse, so shrinking cuts the arms back until 5 pixels fill a 2 × 2 square.
struct ShrinkCase {
    std::size_t min_size;
    bool kept;
    std::size_t remaining;
};
class Shrink : public ::testing::TestWithParam<ShrinkCase> {};

TEST_P(Shrink, CutsArmsAroundSeed) {
    Scene s(21, 21);
    s.add(10, 10);
    for (std::size_t d = 1; d <= 6; ++d) s.add(10 - d, 10), s.add(10 + d, 10), s.add(10, 10 - d), s.add(10, 10 + d);
    Rect r{4, 10, 16, 10, 12, 1, 0, pi / 8, 0.0625};
    double angle = 5.0;
    EXPECT_EQ(s.refine_with(r, GetParam().min_size, angle), GetParam().kept);
    EXPECT_EQ(angle, 0.0);
    ASSERT_EQ(s.region.size(), GetParam().remaining);
    EXPECT_EQ(s.region[0], s.at(10, 10));
    for (std::uint32_t i : s.region) EXPECT_EQ(s.used[i], 1);
    EXPECT_EQ(s.free_pixels().size(), 25 - GetParam().remaining);
    if (GetParam().kept) {
        EXPECT_EQ(r.p, 0.0625);
    }
}

INSTANTIATE_TEST_SUITE_P(MinRegionSize, Shrink,
                         ::testing::Values(ShrinkCase{5, true, 5}, ShrinkCase{6, false, 5}));

TEST(Refine, RegrownRegionTooSmallFreesWhatItLeft) {
    Scene s(20, 7);
    for (std::size_t x = 5; x <= 8; ++x) s.add(x, 3);
    s.add(15, 3), s.add(16, 3);  // not connected to the seed
    Rect r{5, 3, 16, 3, 3, 1, 0, pi / 8, 0.125};
    double angle = 1.0;
    EXPECT_FALSE(s.refine_with(r, 5, angle));
    EXPECT_EQ(s.region.size(), 4u);
    EXPECT_EQ(s.free_pixels(), (std::vector<std::uint32_t>{s.at(15, 3), s.at(16, 3)}));
}

// Row 3 from the seed at x = 5: angles 0, 0.1, -0.1, 0, 0.3. Only pixels closer
// to the seed than the rectangle's width set the regrowing tolerance (twice
// the deviation of their angles): width 3 takes x = 5..7 (tolerance 0.163),
// which lets -0.1 rejoin; width 4 adds x = 8 (tolerance 0.141), which does not.
struct ToleranceCase {
    double width;
    bool kept;
    std::vector<std::size_t> kept_x, freed_x;
};
class ToleranceNearSeed : public ::testing::TestWithParam<ToleranceCase> {};

TEST_P(ToleranceNearSeed, DecidesWhatRejoins) {
    Scene s(14, 7);
    for (const auto& [x, a] : {std::pair{5, 0.0}, {6, 0.1}, {7, -0.1}, {8, 0.0}, {9, 0.3}})
        s.add(x, 3, Px{10.0f, static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))});
    Rect r{5, 3, 9, 3, GetParam().width, 1, 0, pi / 8, 0.125};
    double angle = 0.0;
    EXPECT_EQ(s.refine_with(r, 3, angle), GetParam().kept);
    std::vector<std::uint32_t> kept, freed;
    for (std::size_t x : GetParam().kept_x) kept.push_back(s.at(x, 3));
    for (std::size_t x : GetParam().freed_x) freed.push_back(s.at(x, 3));
    std::sort(s.region.begin(), s.region.end());
    EXPECT_EQ(s.region, kept);
    EXPECT_EQ(s.free_pixels(), freed);
}

INSTANTIATE_TEST_SUITE_P(Widths, ToleranceNearSeed,
                         ::testing::Values(ToleranceCase{3.0, true, {5, 6, 7, 8}, {9}},
                                           ToleranceCase{4.0, false, {5, 6}, {7, 8, 9}}));

// A weight that is not a finite number gives a rectangle with NaN end points;
// refine must reject the candidate instead of shrinking forever.
class UnusableWeight : public ::testing::TestWithParam<float> {};

TEST_P(UnusableWeight, Rejects) {
    Scene s(20, 3);
    for (std::size_t x = 2; x <= 9; ++x) s.add(x, 1, x == 6 ? Px{GetParam(), 1.0f, 0.0f} : along_x);
    Rect r{2, 1, 9, 1, 3, 1, 0, pi / 8, 0.125};
    double angle = 0.0;
    EXPECT_FALSE(s.refine_with(r, 2, angle));
}

INSTANTIATE_TEST_SUITE_P(Weights, UnusableWeight,
                         ::testing::Values(std::numeric_limits<float>::quiet_NaN(),
                                           std::numeric_limits<float>::infinity()));

// improve_rect on a 10-pixel row at y = 5, x = 2..11, of `aligned` pixels,
// with rows 4 and 6 of `beside` pixels.
struct ImproveCase {
    const char* name;
    Px row4, row5, row6;
    Rect start;
    double log_nt;
    Rect expected;  // p and prec are checked separately
    double p;
};
class Improve : public ::testing::TestWithParam<ImproveCase> {};

TEST_P(Improve, SettlesOnExpectedRectangle) {
    const auto& c = GetParam();
    Scene s(14, 11);
    for (std::size_t x = 2; x <= 11; ++x)
        s.field[s.at(x, 4)] = c.row4, s.field[s.at(x, 5)] = c.row5, s.field[s.at(x, 6)] = c.row6;
    Rect r = c.start;
    const double score = improve_rect(r, s.field, s.w, s.h, grad_threshold, c.log_nt);
    EXPECT_EQ(score, rect_log_nfa(r, s.field, s.w, s.h, grad_threshold, c.log_nt));
    EXPECT_EQ(r.p, c.p);
    EXPECT_EQ(r.prec, c.p == c.start.p ? c.start.prec : pi * c.p);
    Rect got = r, want = c.expected;
    got.p = want.p = got.prec = want.prec = 0.0;
    EXPECT_TRUE(same_bits(got, want)) << got.x1 << "," << got.y1 << " " << got.x2 << "," << got.y2 << " w " << got.width;
}

constexpr Px none{0, 0, 0};
constexpr Rect row5(double width, double y = 5.0, double p = 0.125) { return {2, y, 11, y, width, 1, 0, pi / 8, p}; }
constexpr Rect row5_back(double width, double y) { return {11, y, 2, y, width, -1, 0, pi / 8, 0.125}; }
constexpr Px back{10.0f, -1.0f, 0.0f};

INSTANTIATE_TEST_SUITE_P(
    Phases, Improve,
    ::testing::Values(
        ImproveCase{"positive_at_once", none, along_x, none, row5(1), 0.0, row5(1), 0.125},
        ImproveCase{"nothing_better", none, none, none, row5(2), 1.0, row5(2), 0.125},
        ImproveCase{"precision", none, along_x, none, row5(1, 5, 0.0625), 15.0, row5(1), 0.0625 / 32},
        ImproveCase{"precision_both_phases", none, along_x, none, row5(1), 100.0, row5(1), 0.125 / 1024},
        ImproveCase{"width", along_y, along_x, along_y, row5(3), 20.0, row5(1.5), 0.125 / 32},
        ImproveCase{"first_side", none, along_y, along_x, row5(2, 5.5), 21.0, row5(1, 6), 0.125 / 32},
        ImproveCase{"second_side", none, along_x, along_y, row5(2, 5.5), 21.0, row5(1, 5), 0.125 / 32},
        ImproveCase{"first_side_reversed", none, back, along_y, row5_back(2, 5.5), 21.0, row5_back(1, 5),
                    0.125 / 32}),
    [](const auto& info) { return std::string(info.param.name); });

// A slanted rectangle whose best neighbour is the side-phase trial j = 2: its
// end points must be P + 2 * D, not P + D + D, which differ here.
TEST(Improve, SideTrialIsOneStepOfTwice) {
    const double dx = std::cos(0.5), dy = std::sin(0.5), hl = 6.5, sx = 0.25 * -dy, sy = 0.25 * dx;
    const Rect start{12.3 - hl * dx, 8.1 - hl * dy, 12.3 + hl * dx, 8.1 + hl * dy, 1.5, dx, dy, pi / 8, 0.125};
    Rect target = start;
    target.x1 += 2.0 * sx, target.y1 += 2.0 * sy, target.x2 += 2.0 * sx, target.y2 += 2.0 * sy;
    target.width = 0.5;
    ASSERT_NE((start.x1 + sx) + sx, target.x1);
    ASSERT_NE((start.y1 + sy) + sy, target.y1);

    // Paint aligned exactly the pixels inside the target.
    Scene s(26, 18);
    std::vector<Px> probe(s.w * s.h, Px{0, 0, 0});
    for (std::size_t i = 0; i < probe.size(); ++i) {
        probe[i] = Px{10.0f, static_cast<float>(dx), static_cast<float>(dy)};
        if (count_aligned_in_box(target, probe, s.w, s.h, grad_threshold).k == 1) s.field[i] = probe[i];
        probe[i] = Px{0, 0, 0};
    }
    auto score_at_finest = [&](Rect r) {
        r.p = 0.125 / 32, r.prec = pi * r.p;
        return rect_log_nfa(r, s.field, s.w, s.h, grad_threshold, 0.0);
    };
    const double low = score_at_finest(start), high = score_at_finest(target);
    ASSERT_LT(low, high);
    Rect r = start;
    improve_rect(r, s.field, s.w, s.h, grad_threshold, (low + high) / 2);
    target.p = r.p, target.prec = r.prec;
    EXPECT_TRUE(same_bits(r, target));
}

}  // namespace
}  // namespace tessarin::detector
