#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "detector/nfa.hpp"
#include "detector/testing.hpp"

namespace tessarin::detector {
namespace {

constexpr double pi_8 = 0.39269908169872414;
constexpr Px strong_along_x{10.0f, 1.0f, 0.0f};
constexpr Px strong_along_y{10.0f, 0.0f, 1.0f};

// A w × h field with no gradient anywhere.
std::vector<Px> blank(std::size_t w, std::size_t h) { return std::vector<Px>(w * h, Px{0.0f, 0.0f, 0.0f}); }

Rect horizontal(double x1, double x2, double y, double width, double p = 0.125) {
    return Rect{x1, y, x2, y, width, 1.0, 0.0, pi_8, p};
}

// Reference values from an independent evaluation of each branch's formula.
struct LogGammaCase {
    double x, expected;
};
class LogGamma : public ::testing::TestWithParam<LogGammaCase> {};

TEST_P(LogGamma, FollowsItsBranchFormula) {
    EXPECT_NEAR(log_gamma(GetParam().x), GetParam().expected, 2e-14 * GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(BothBranches, LogGamma,
                         ::testing::Values(LogGammaCase{5.0, 3.1780538303473485},  // Lanczos, ~ln 24
                                           LogGammaCase{14.0, 22.55216385312578},  // Lanczos
                                           LogGammaCase{15.0, 25.191221182741465}, // the large-argument branch from 15 on
                                           LogGammaCase{16.0, 27.89927138384267}));

// A row of n inside pixels, the first k of them aligned, scored in full.
struct TailCase {
    std::size_t n, k;
    double log_nt, expected, tolerance;
};
class RowScore : public ::testing::TestWithParam<TailCase> {};

TEST_P(RowScore, MatchesBinomialTail) {
    const auto c = GetParam();
    const std::size_t w = c.n + 4;
    std::vector<Px> field = blank(w, 3);
    for (std::size_t i = 0; i < c.n; ++i) field[w + 2 + i] = i < c.k ? strong_along_x : strong_along_y;
    const Rect r = horizontal(2.0, static_cast<double>(c.n + 1), 1.0, 1.0);
    EXPECT_EQ(count_aligned(r, field, w, 3, grad_threshold), (AlignedCount{c.n, c.k}));
    EXPECT_NEAR(rect_log_nfa(r, field, w, 3, grad_threshold, c.log_nt), c.expected - c.log_nt, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, RowScore,
    ::testing::Values(TailCase{10, 10, 0.0, 9.030899869919436, 0.0},  // k = n: log10(8) per pixel
                      TailCase{10, 10, 2.5, 9.030899869919436, 0.0},
                      TailCase{20, 15, 0.0, 9.6269, 5e-5},  // stops early; the full tail is 9.6263
                      TailCase{100, 40, 0.0, 11.3642, 5e-5}, TailCase{50, 3, 0.0, 0.0185, 5e-5},
                      TailCase{50, 3, 1.25, 0.0185, 5e-5}, TailCase{7, 0, 3.0, 0.0, 0.0}));

TEST(BinomialLogNfa, UnderflowedFirstTermScoresFromItsLogarithm) {
    const std::size_t n = 100000, k = 50000;
    const double log1 = std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0) +
                        k * std::log(0.125) + (n - k) * std::log(0.875);
    EXPECT_NEAR(binomial_log_nfa(n, k, 0.125, 1.0), -log1 / std::log(10.0) - 1.0, 1e-9 * -log1);
    EXPECT_EQ(binomial_log_nfa(n, 5000, 0.125, 1.0), -1.0);  // k below the mean
}

// Placements of a rectangle against a 9 × 7 field of aligned pixels.
struct PlacedCase {
    const char* name;
    Rect rect;
    AlignedCount expected;
};
class Placement : public ::testing::TestWithParam<PlacedCase> {};

TEST_P(Placement, CountsInsideAndAligned) {
    std::vector<Px> field(9 * 7, strong_along_x);
    field[3 * 9 + 4] = Px{grad_threshold, 1.0f, 0.0f};  // at the threshold: never aligned
    field[3 * 9 + 5] = Px{10.0f, -1.0f, 0.0f};          // opposite direction
    const Rect& r = GetParam().rect;
    EXPECT_EQ(count_aligned(r, field, 9, 7, grad_threshold), GetParam().expected);
    if (GetParam().expected.n == 0) {
        EXPECT_EQ(rect_log_nfa(r, field, 9, 7, grad_threshold, 2.0), -2.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, Placement,
    ::testing::Values(PlacedCase{"right_of_image", horizontal(12, 15, 3, 2), {0, 0}},
                      PlacedCase{"below_image", horizontal(2, 5, 9.5, 2), {0, 0}},
                      PlacedCase{"left_of_image", horizontal(-9, -4, 3, 2), {0, 0}},
                      PlacedCase{"above_image", horizontal(2, 5, -3, 2), {0, 0}},
                      PlacedCase{"point_along_x", horizontal(2, 2, 2, 1), {1, 1}},
                      PlacedCase{"point_slanted", Rect{2, 2, 2, 2, 1, 0.6, 0.8, pi_8, 0.125}, {1, 0}},
                      PlacedCase{"point_reversed", Rect{2, 2, 2, 2, 1, -1, 0, pi_8, 0.125}, {1, 0}},
                      PlacedCase{"row_with_threshold_and_opposite", horizontal(3, 6, 3, 1), {4, 2}},
                      PlacedCase{"boundaries_inclusive", horizontal(2, 6, 3, 2), {15, 13}}),
    [](const auto& info) { return std::string(info.param.name); });

// The alignment test compares in 32-bit floats: a direction whose float dot
// product equals the float cosine is aligned, though in doubles it lies just
// beyond the tolerance.
TEST(Alignment, FloatCosineIsTheBoundary) {
    const float cp = static_cast<float>(std::cos(pi_8));
    ASSERT_LT(static_cast<double>(cp), std::cos(pi_8));
    for (const auto& [ux, aligned] : {std::pair{cp, 1u}, std::pair{std::nextafter(cp, 0.0f), 0u}}) {
        const std::vector<Px> field(1, Px{10.0f, ux, 0.0f});
        EXPECT_EQ(count_aligned(horizontal(0, 0, 0, 1), field, 1, 1, grad_threshold), (AlignedCount{1, aligned}));
    }
}

// The per-row run search must count exactly the pixels that the test of every
// pixel in the bounding box counts, including on exact boundaries.
TEST(CountAligned, RunSearchMatchesBoxWalk) {
    const std::size_t w = 97, h = 61;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Px> field(w * h);
    for (Px& px : field) {
        const double a = unit(rng) * 6.283185307179586;
        px = Px{static_cast<float>(unit(rng) * 12.0), static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
    }
    const double axis_angles[] = {0.0, 1.5707963267948966, 3.141592653589793, -1.5707963267948966, 0.7853981633974483};
    for (int i = 0; i < 20000; ++i) {
        const bool snapped = i % 3 == 0;  // integer and half-integer geometry hits boundaries exactly
        const double a = i % 5 == 0 ? axis_angles[i / 5 % 5] : unit(rng) * 6.283185307179586;
        double cx = unit(rng) * (w + 20.0) - 10.0, cy = unit(rng) * (h + 20.0) - 10.0;
        double hl = unit(rng) * 40.0, width = 0.5 + unit(rng) * 8.0;
        if (snapped) {
            cx = std::round(cx * 2) / 2, cy = std::round(cy * 2) / 2;
            hl = std::round(hl), width = std::round(width * 2) / 2;
        }
        const double dx = std::cos(a), dy = std::sin(a);
        const Rect r{cx - hl * dx, cy - hl * dy, cx + hl * dx, cy + hl * dy, width, dx, dy, unit(rng), 0.125};
        const AlignedCount c = count_aligned_in_box(r, field, w, h, grad_threshold);
        ASSERT_EQ(count_aligned(r, field, w, h, grad_threshold), c) << "rect " << i;
        // One pass over several tolerances gives each one's own count.
        std::array<double, tolerance_trials> precs;
        for (std::size_t j = 0; j < tolerance_trials; ++j) precs[j] = r.prec * std::ldexp(1.0, -static_cast<int>(j));
        std::array<std::size_t, tolerance_trials> k;
        ASSERT_EQ(count_aligned_tolerances(r, precs, field, w, h, grad_threshold, k), c.n) << "rect " << i;
        for (std::size_t j = 0; j < tolerance_trials; ++j) {
            Rect t = r;
            t.prec = precs[j];
            ASSERT_EQ(k[j], count_aligned_in_box(t, field, w, h, grad_threshold).k) << "rect " << i << " trial " << j;
        }
    }
}

}  // namespace
}  // namespace tessarin::detector
