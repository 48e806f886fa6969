// The drivers' own kernel families, the warp's positions and the remap's
// widening of map entries: every variant gives the bits of the definition,
// for every run length (whole vectors and the pixels after them) and for
// the values that divide or compare unlike ordinary ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "simd/dispatch.hpp"
#include "variants.hpp"
#include "warp/map_widen.hpp"
#include "warp/positions.hpp"

namespace tessarin::warp::detail {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Empty vectors may hold null data, which memcmp must not be given.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

class WarpKernels : public ::testing::TestWithParam<simd::Variant> {};

// w of +0 and -0 (a point at infinity), NaN and infinite terms, tiny and huge
// ones, mixed among ordinary terms in every lane.
TEST_P(WarpKernels, PositionsMatchTheDefinition) {
    TESSARIN_RUN_VARIANT(GetParam());
    const auto positions = simd::pick<PositionKernels>(GetParam()).positions;
    const double specials[] = {0.0, -0.0, nan, inf, -inf, 1e-310, -1e300, 3.0};
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> term(-4.0, 4.0);
    for (std::size_t n = 0; n <= 37; ++n) {
        std::vector<double> cu(n), cv(n), cw(n);
        for (std::size_t i = 0; i < n; ++i) {
            cu[i] = i % 5 == 1 ? specials[(i + 3) % 8] : term(rng);
            cv[i] = i % 7 == 2 ? specials[(i + 1) % 8] : term(rng);
            // rw below is 1: cw = -1 gives w = +0; the specials give the rest.
            cw[i] = i % 3 == 0 ? -1.0 : i % 4 == 1 ? specials[i % 8] : term(rng);
        }
        for (double rw : {1.0, -0.0}) {
            std::vector<double> want_x(n), want_y(n), got_x(n, 7.0), got_y(n, 7.0);
            run_positions(cu.data(), cv.data(), cw.data(), 0.25, -1.5, rw, n, want_x.data(), want_y.data());
            positions(cu.data(), cv.data(), cw.data(), 0.25, -1.5, rw, n, got_x.data(), got_y.data());
            EXPECT_TRUE(same_bits(got_x, want_x)) << n << " " << rw;
            EXPECT_TRUE(same_bits(got_y, want_y)) << n << " " << rw;
        }
    }
}

TEST_P(WarpKernels, WideningMatchesTheDefinition) {
    TESSARIN_RUN_VARIANT(GetParam());
    const auto widen = simd::pick<WidenKernels>(GetParam()).widen;
    const float specials[] = {-0.0f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max(), -3.5f};
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> entry(-100.0f, 2000.0f);
    for (std::size_t n = 0; n <= 37; ++n) {
        std::vector<float> mx(n), my(n);
        for (std::size_t i = 0; i < n; ++i) {
            mx[i] = i % 4 == 1 ? specials[i % 6] : entry(rng);
            my[i] = i % 5 == 3 ? specials[(i + 2) % 6] : entry(rng);
        }
        std::vector<double> want_x(n), want_y(n), got_x(n, 7.0), got_y(n, 7.0);
        widen_entries(mx.data(), my.data(), n, want_x.data(), want_y.data());
        widen(mx.data(), my.data(), n, got_x.data(), got_y.data());
        EXPECT_TRUE(same_bits(got_x, want_x)) << n;
        EXPECT_TRUE(same_bits(got_y, want_y)) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, WarpKernels, tessarin::testing::every_variant, tessarin::testing::variant_name);

}  // namespace
}  // namespace tessarin::warp::detail
