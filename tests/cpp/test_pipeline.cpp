#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <variant>
#include <vector>

#include "detector/detector.hpp"
#include "detector/testing.hpp"
#include "python/repr_text.hpp"

using tessarin::detector::Segment;
using tessarin::sample::SizeMismatch;
namespace det = tessarin::detector;

TEST(SizeMismatch, LengthIsCheckedBeforeAnythingElse) {
    struct Case {
        std::size_t len, width, height, expected;
    };
    for (Case c : {Case{3, 2, 2, 4}, Case{0, 3, 3, 9}, Case{10, 3, 3, 9}, Case{1, 0, 5, 0}}) {
        std::vector<std::uint8_t> px(c.len, 0);
        auto r = det::detect(std::span<const std::uint8_t>(px), c.width, c.height, 1.0);
        ASSERT_TRUE(std::holds_alternative<SizeMismatch>(r));
        EXPECT_EQ(std::get<SizeMismatch>(r), (SizeMismatch{c.expected, c.len}));
    }
    // A product that overflows a machine word can never match.
    std::vector<double> one(1);
    auto r = det::detect(std::span<const double>(one), std::size_t{1} << 33, std::size_t{1} << 33, 1.0);
    EXPECT_TRUE(std::holds_alternative<SizeMismatch>(r));
}

// Products are taken left to right: one that overflows before a later zero
// still overflows, so no huge size can pass for an empty one.
static_assert(tessarin::sample::checked_product({std::size_t{1} << 33, std::size_t{1} << 33, 0}) == std::nullopt);
static_assert(tessarin::sample::checked_product({0, std::size_t{1} << 63, 4}) == 0);
static_assert(tessarin::sample::saturating_product({std::size_t{1} << 32, std::size_t{1} << 32}) ==
              std::numeric_limits<std::size_t>::max());

TEST(SizeMismatch, DebugTextNamesBothFields) {
    std::ostringstream os;
    os << SizeMismatch{4, 3};
    EXPECT_EQ(os.str(), "SizeMismatch { expected: 4, got: 3 }");
}

TEST(Pipeline, TooSmallOrFlatImagesGiveNoSegments) {
    struct Case {
        std::size_t w, h;
        double scale;
    };
    for (Case c : {Case{2, 5, 1.0}, Case{5, 2, 1.0}, Case{10, 10, 0.25}, Case{10, 10, 0.0}, Case{10, 10, -1.0},
                   Case{40, 30, 1.0}, Case{40, 30, std::nan("")}, Case{40, 30, 2.0}}) {
        std::vector<float> px(c.w * c.h, 7.0f);  // constant: no gradient anywhere
        auto r = det::detect(std::span<const float>(px), c.w, c.h, c.scale);
        ASSERT_TRUE(std::holds_alternative<std::vector<Segment>>(r));
        EXPECT_TRUE(std::get<std::vector<Segment>>(r).empty());
    }
}

TEST(Pipeline, NumberOfTestsAndMinimumRegionSize) {
    struct Case {
        std::size_t w, h, min_size;
    };
    for (Case c : {Case{3, 3, 4}, Case{100, 100, 13}, Case{640, 480, 17}, Case{1920, 1080, 19}, Case{4000, 3000, 21},
                   Case{320, 240, 15}})
        EXPECT_EQ(det::min_region_size(det::log_nt(c.w, c.h)), c.min_size) << c.w << "x" << c.h;
    EXPECT_NEAR(det::log_nt(320, 240), 13.2548, 1e-4);
    // log10(11) enters as its literal, one ulp above a run-time log10(11).
    EXPECT_EQ(det::log_nt(1, 1), 1.0413926851582251);
    EXPECT_EQ(det::min_region_size(std::nan("")), 0u);
    EXPECT_EQ(det::min_region_size(-5.0), 0u);
    EXPECT_EQ(det::min_region_size(1e300), std::numeric_limits<std::size_t>::max());
}

TEST(Pipeline, SortIsLongestFirstInTotalOrderAndStable) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    auto seg = [](double len, double tag) { return Segment{0, 0, len, 0, tag, 0.125, 1.0}; };
    // Lengths: 3, NaN (positive NaN sorts above +inf), 5, 3 (tie, keeps order), inf, 0.
    std::vector<Segment> v{seg(3, 0), seg(nan, 1), seg(5, 2), seg(3, 3), seg(inf, 4), seg(0, 5)};
    det::sort_longest_first(v);
    std::vector<double> tags;
    for (const auto& s : v) tags.push_back(s.width);
    EXPECT_EQ(tags, (std::vector<double>{1, 4, 2, 0, 3, 5}));
}

TEST(SegmentText, FixedPointWithTiesToEven) {
    struct Case {
        Segment s;
        const char* text;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const Case& c : {
             Case{{10.0, 20.25, 30.5, 40.75, 1.5, 0, 0}, "Segment((10.0, 20.2)-(30.5, 40.8), width=1.5)"},
             Case{{-0.04, -0.0, 1e20, 0.05, 0.05, 0, 0},
                  "Segment((-0.0, -0.0)-(100000000000000000000.0, 0.1), width=0.1)"},
             Case{{nan, inf, -inf, 0.25, 0.35, 0, 0}, "Segment((NaN, inf)-(-inf, 0.2), width=0.3)"},
         })
        EXPECT_EQ(tessarin::python::segment_text(c.s), c.text);
}
