#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "image_fixtures.hpp"
#include "warp/samplers.hpp"
#include "warp/samplers_wide.hpp"
#include "warp/testing.hpp"
#include "variants.hpp"

namespace tessarin::warp {
namespace {

using testing::Instance;
using testing::random_samples;

const Lanczos3Table& table() {
    static const Lanczos3Table t = lanczos3_table();
    return t;
}

// ---------------------------------------------------------------- the table

TEST(Lanczos3Table, HasOneRowPerSixteenthOfAPixelStepAndBothEnds) {
    ASSERT_EQ(table().size(), 1025u);
    EXPECT_EQ(sizeof(Lanczos3Row) * table().size(), 49200u);
}

TEST(Lanczos3Table, TellingRows) {
    struct Case {
        std::size_t row;
        Lanczos3Row weights;
    };
    const Case cases[] = {
        {256, {0.0301122854, -0.1332746355, 0.8927707741, 0.2710105683, -0.0679972630, 0.0073782709}},
        {512, {0.0244565217, -0.1358695652, 0.6114130435, 0.6114130435, -0.1358695652, 0.0244565217}},
        {768, {0.0073782709, -0.0679972630, 0.2710105683, 0.8927707741, -0.1332746355, 0.0301122854}},
    };
    for (const auto& c : cases)
        for (int k = 0; k < 6; ++k) EXPECT_NEAR(table()[c.row][k], c.weights[k], 5e-11) << c.row << "/" << k;
}

TEST(Lanczos3Table, EndRowsPickOneTap) {
    const auto& first = table()[0];
    const auto& last = table()[1024];
    EXPECT_EQ(first[2], 1.0);
    EXPECT_EQ(first[5], 0.0);
    EXPECT_EQ(last[3], 1.0);
    EXPECT_EQ(last[0], 0.0);
    for (int k : {0, 1, 3, 4}) EXPECT_LT(std::abs(first[k]), 4e-17) << k;
    for (int k : {1, 2, 4, 5}) EXPECT_LT(std::abs(last[k]), 4e-17) << k;
}

TEST(Lanczos3Table, RowsAreNormalisedAndMirrored) {
    for (std::size_t r = 0; r < 1025; ++r) {
        double sum = 0.0;
        for (double w : table()[r]) sum += w;
        EXPECT_NEAR(sum, 1.0, 1e-15) << r;
        for (int k = 0; k < 6; ++k) EXPECT_NEAR(table()[r][k], table()[1024 - r][5 - k], 1e-15) << r << "/" << k;
    }
}

// Rounding half away from zero as C's round() defines it. Not round()
// itself: MinGW-w64's rounds 0.49999999999999994 up to 1.
double round_half_away(double x) {
    const double whole = std::trunc(x);
    if (std::fabs(x - whole) == 0.5) return whole + std::copysign(1.0, x);
    return std::nearbyint(x);
}

// The call-free rounding of the table row matches round() (halves away from
// zero) on every fraction, including those just below a half.
TEST(Lanczos3Table, RowIndexRoundsLikeTheLibrary) {
    std::vector<double> fractions = {0.0, -0.0, 1.0, 0.5, 0.49999999999999994 / 1024, 0.5 / 1024,
                                     1023.5 / 1024, std::nextafter(1023.5 / 1024, 0.0), std::nextafter(1.0, 0.0)};
    for (int r = 0; r < 1024; ++r) {
        const double half = (r + 0.5) / 1024;
        fractions.insert(fractions.end(), {half, std::nextafter(half, 0.0), std::nextafter(half, 1.0), r / 1024.0});
    }
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 100000; ++i) fractions.push_back(unit(rng));
    for (double f : fractions)
        ASSERT_EQ(detail::table_row(f), static_cast<std::size_t>(round_half_away(f * 1024.0))) << f;
    EXPECT_EQ(detail::table_row(std::numeric_limits<double>::quiet_NaN()), 0u);
}

// ---------------------------------------------------------- the conversion

TEST(OutputConversion, RoundsHalfUpClampsAndZeroesNaN) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double acc;
        std::uint8_t u8;
        std::uint16_t u16;
    };
    const Case cases[] = {
        // acc + 0.5 is rounded before it is truncated: 0.5 - 2^-54 reaches 1.
        {0.0, 0, 0},          {0.49999999999999989, 0, 0}, {0.49999999999999994, 1, 1}, {1.5, 2, 2},
        {254.5, 255, 255},    {255.4, 255, 255},           {300.0, 255, 300},  {-0.5, 0, 0},
        {-3.0, 0, 0},         {-1e300, 0, 0},              {65534.5, 255, 65535}, {1e300, 255, 65535},
        {nan, 0, 0},          {std::numeric_limits<double>::infinity(), 255, 65535},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(detail::to_sample<std::uint8_t>(c.acc), c.u8) << c.acc;
        EXPECT_EQ(detail::to_sample<std::uint16_t>(c.acc), c.u16) << c.acc;
    }
}

// ------------------------------------------- the samplers, every instance

// Straight from the formulas: library rounding, clamped taps, no fast path.
template <class T, int N>
void reference_lanczos3(const std::vector<T>& src, std::size_t w, std::size_t h, double x, double y, T* out) {
    if (w == 0 || h == 0 || x < -0.5 || x > w - 0.5 || y < -0.5 || y > h - 0.5) return;
    if (std::isnan(x)) x = 0.0;
    if (std::isnan(y)) y = 0.0;
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const auto& wx = table()[static_cast<std::size_t>(std::round((x - fx0) * 1024))];
    const auto& wy = table()[static_cast<std::size_t>(std::round((y - fy0) * 1024))];
    const auto ix = static_cast<std::int64_t>(fx0), iy = static_cast<std::int64_t>(fy0);
    const auto last_x = static_cast<std::int64_t>(w) - 1, last_y = static_cast<std::int64_t>(h) - 1;
    for (int c = 0; c < N; ++c) {
        double acc = 0.0;
        for (int j = 0; j < 6; ++j)
            for (int k = 0; k < 6; ++k) {
                const auto col = std::clamp<std::int64_t>(ix - 2 + k, 0, last_x);
                const auto row = std::clamp<std::int64_t>(iy - 2 + j, 0, last_y);
                acc += static_cast<double>(src[(row * w + col) * N + c]) * (wx[k] * wy[j]);
            }
        out[c] = static_cast<T>(std::min(std::max(acc + 0.5, 0.0), double(std::numeric_limits<T>::max())));
    }
}

template <class T, int N>
void reference_bilinear(const std::vector<T>& src, std::size_t w, std::size_t h, double x, double y, T* out) {
    if (w == 0 || h == 0 || x < -0.5 || x > w - 0.5 || y < -0.5 || y > h - 0.5) return;
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const auto ix = static_cast<std::int64_t>(fx0), iy = static_cast<std::int64_t>(fy0);
    const auto last_x = static_cast<std::int64_t>(w) - 1, last_y = static_cast<std::int64_t>(h) - 1;
    const auto x0 = std::clamp<std::int64_t>(ix, 0, last_x), x1 = std::clamp<std::int64_t>(ix + 1, 0, last_x);
    const auto y0 = std::clamp<std::int64_t>(iy, 0, last_y), y1 = std::clamp<std::int64_t>(iy + 1, 0, last_y);
    const double fx = x - fx0, fy = y - fy0;
    auto p = [&](std::int64_t col, std::int64_t row, int c) { return double(src[(row * w + col) * N + c]); };
    for (int c = 0; c < N; ++c) {
        const double acc = ((p(x0, y0, c) * ((1 - fx) * (1 - fy)) + p(x1, y0, c) * (fx * (1 - fy))) +
                            p(x0, y1, c) * ((1 - fx) * fy)) +
                           p(x1, y1, c) * (fx * fy);
        out[c] = static_cast<T>(std::min(std::max(acc + 0.5, 0.0), double(std::numeric_limits<T>::max())));
    }
}

enum class Kind { Bilinear, Lanczos3, Lanczos3Clamped };

// Samples into a pixel pre-filled with `fill`, so that "nothing written" shows.
template <class T, int N>
std::array<T, N> sample(Kind kind, const T* src, std::size_t w, std::size_t h, double x, double y, T fill = 0) {
    std::array<T, N> out;
    out.fill(fill);
    switch (kind) {
    case Kind::Bilinear: sample_bilinear<T, N>(src, w, h, std::ptrdiff_t(w * N), x, y, out.data()); break;
    case Kind::Lanczos3: sample_lanczos3<T, N>(src, w, h, std::ptrdiff_t(w * N), table(), x, y, out.data()); break;
    case Kind::Lanczos3Clamped: sample_lanczos3<T, N, true>(src, w, h, std::ptrdiff_t(w * N), table(), x, y, out.data()); break;
    }
    return out;
}

template <class I>
class Samplers : public ::testing::Test {
protected:
    using T = typename I::Sample;
    static constexpr int N = I::channels;
    static constexpr T untouched = 77;

    std::size_t w = 11, h = 9;
    std::vector<T> img = random_samples<T>(w * h * N, 1234);

    std::array<T, N> at(Kind kind, double x, double y) { return sample<T, N>(kind, img.data(), w, h, x, y, untouched); }
    std::array<T, N> pixel(std::size_t x, std::size_t y) {
        std::array<T, N> p;
        std::copy_n(img.begin() + (y * w + x) * N, N, p.begin());
        return p;
    }
    std::array<T, N> all(T v) {
        std::array<T, N> p;
        p.fill(v);
        return p;
    }
};

using AllInstances = ::testing::Types<Instance<std::uint8_t, 1>, Instance<std::uint8_t, 3>,
                                      Instance<std::uint16_t, 1>, Instance<std::uint16_t, 3>>;
TYPED_TEST_SUITE(Samplers, AllInstances);

constexpr Kind both_filters[] = {Kind::Bilinear, Kind::Lanczos3};

TYPED_TEST(Samplers, PixelCentresReproduceThePixel) {
    for (Kind kind : both_filters)
        for (std::size_t y = 0; y < this->h; ++y)
            for (std::size_t x = 0; x < this->w; ++x)
                ASSERT_EQ(this->at(kind, double(x), double(y)), this->pixel(x, y)) << x << "," << y;
}

// The window is closed: its bounds are sampled, anything beyond is not.
TYPED_TEST(Samplers, AcceptanceWindow) {
    const double inf = std::numeric_limits<double>::infinity();
    const double right = this->w - 0.5, bottom = this->h - 0.5;
    struct Case {
        double x, y;
        bool inside;
    };
    const Case cases[] = {
        {-0.5, -0.5, true},          {right, bottom, true},      {-0.5, bottom, true},
        {right, -0.5, true},         {-0.5000001, 0.0, false},   {0.0, -0.5000001, false},
        {std::nextafter(right, inf), 3.0, false},                {3.0, std::nextafter(bottom, inf), false},
        {inf, 3.0, false},           {-inf, 3.0, false},         {3.0, inf, false},
        {3.0, -inf, false},          {1e300, 1e300, false},
    };
    for (Kind kind : both_filters)
        for (const auto& c : cases) {
            const bool written = this->at(kind, c.x, c.y) != this->all(this->untouched);
            EXPECT_EQ(written, c.inside) << c.x << "," << c.y;
        }
    // In the half-pixel margins the bilinear taps fall on the edge pixels.
    EXPECT_EQ(this->at(Kind::Bilinear, -0.5, -0.5), this->pixel(0, 0));
    EXPECT_EQ(this->at(Kind::Bilinear, right, bottom), this->pixel(this->w - 1, this->h - 1));
    for (double m : {-0.5, -0.25, -1e-9})
        EXPECT_EQ(this->at(Kind::Bilinear, m, 4.0), this->pixel(0, 4)) << m;
}

TYPED_TEST(Samplers, NaNCoordinates) {
    using T = typename TestFixture::T;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Bilinear: every weight is NaN, so every channel stores 0.
    for (auto [x, y] : {std::pair{nan, 2.0}, std::pair{2.0, nan}, std::pair{nan, nan}})
        EXPECT_EQ(this->at(Kind::Bilinear, x, y), this->all(T{0}));
    // Lanczos-3 samples a NaN coordinate as the coordinate 0.
    EXPECT_EQ(this->at(Kind::Lanczos3, nan, 2.3), this->at(Kind::Lanczos3, 0.0, 2.3));
    EXPECT_EQ(this->at(Kind::Lanczos3, 4.6, nan), this->at(Kind::Lanczos3, 4.6, 0.0));
    EXPECT_EQ(this->at(Kind::Lanczos3, nan, nan), this->pixel(0, 0));
}

TYPED_TEST(Samplers, EmptySourcesWriteNothing) {
    using T = typename TestFixture::T;
    constexpr int N = TestFixture::N;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (Kind kind : {Kind::Bilinear, Kind::Lanczos3, Kind::Lanczos3Clamped})
        for (auto [w, h] : {std::pair<std::size_t, std::size_t>{0, 0}, {0, 5}, {5, 0}})
            for (auto [x, y] : {std::pair{0.0, 0.0}, std::pair{-0.5, -0.5}, std::pair{nan, nan}})
                EXPECT_EQ((sample<T, N>(kind, nullptr, w, h, x, y, this->untouched)), this->all(this->untouched));
}

// A one-pixel-wide source: both bilinear taps and all six Lanczos-3 columns
// are the single column, so x hardly matters. Bilinear x = +-0.5 keeps the
// horizontal weights exact, so the value is exactly that at x = 0; Lanczos-3
// weights of other rows sum to 1 only within rounding, which can tip a sum
// lying on a half (row 512's weights are ratios of 368) by one.
TYPED_TEST(Samplers, OnePixelWideSource) {
    using T = typename TestFixture::T;
    constexpr int N = TestFixture::N;
    const std::size_t h = 8;
    const auto col = random_samples<T>(h * N, 99);
    const std::pair<Kind, std::vector<double>> cases[] = {{Kind::Bilinear, {-0.5, 0.5}},
                                                          {Kind::Lanczos3, {-0.5, -0.1, 0.3, 0.5}}};
    for (const auto& [kind, xs] : cases)
        for (double y : {-0.5, 0.0, 1.25, 3.5, 6.999, 7.5})
            for (double x : xs) {
                const auto a = sample<T, N>(kind, col.data(), 1, h, x, y);
                const auto b = sample<T, N>(kind, col.data(), 1, h, 0.0, y);
                const int slack = kind == Kind::Bilinear ? 0 : 1;
                for (int c = 0; c < N; ++c) EXPECT_LE(std::abs(int(a[c]) - int(b[c])), slack) << x << "," << y;
            }
}

TYPED_TEST(Samplers, ConstantImageStaysConstant) {
    using T = typename TestFixture::T;
    constexpr int N = TestFixture::N;
    for (T value : {T{0}, T{1}, T{200}, std::numeric_limits<T>::max()}) {
        const std::vector<T> flat(this->w * this->h * N, value);
        std::mt19937_64 rng(5);
        std::uniform_real_distribution<double> px(-0.5, this->w - 0.5), py(-0.5, this->h - 0.5);
        for (int i = 0; i < 500; ++i) {
            const double x = px(rng), y = py(rng);
            for (Kind kind : both_filters)
                ASSERT_EQ((sample<T, N>(kind, flat.data(), this->w, this->h, x, y)), this->all(value)) << x << "," << y;
        }
    }
}

// The negative lobes overshoot a step edge; the result saturates, never wraps.
TYPED_TEST(Samplers, OvershootAtAStepIsClamped) {
    using T = typename TestFixture::T;
    constexpr int N = TestFixture::N;
    constexpr T top = std::numeric_limits<T>::max();
    const std::size_t w = 12, h = 6;
    std::vector<T> step(w * h * N);
    for (std::size_t i = 0; i < w * h; ++i)
        for (int c = 0; c < N; ++c) step[i * N + c] = (i % w) >= 6 ? top : T{0};
    EXPECT_EQ((sample<T, N>(Kind::Lanczos3, step.data(), w, h, 4.75, 2.0, 9)), this->all(T{0}));
    EXPECT_EQ((sample<T, N>(Kind::Lanczos3, step.data(), w, h, 6.25, 2.0)), this->all(top));
}

TYPED_TEST(Samplers, BilinearHalfwayIsTheRoundedUpMean) {
    using T = typename TestFixture::T;
    constexpr int N = TestFixture::N;
    std::vector<T> src(2 * N, T{10});
    for (int c = 0; c < N; ++c) src[N + c] = 13;
    EXPECT_EQ((sample<T, N>(Kind::Bilinear, src.data(), 2, 1, 0.5, 0.0)), this->all(T{12}));
    EXPECT_EQ((sample<T, N>(Kind::Bilinear, src.data(), 2, 1, 1.5, 0.0)), this->all(T{13}));
}

// Random positions over the whole window, the margins and positions just off
// pixel centres and table steps included: the interior fast path, the clamped
// path and the plain reference agree bit for bit.
TYPED_TEST(Samplers, MatchTheReferenceAndFastPathEqualsClampedPath) {
    using T = typename TestFixture::T;
    constexpr int N = TestFixture::N;
    for (auto [w, h] : {std::pair<std::size_t, std::size_t>{23, 17}, {1, 9}, {4, 3}, {7, 1}}) {
        const auto img = random_samples<T>(w * h * N, static_cast<unsigned>(w * 31 + h));
        std::mt19937_64 rng(w + 100 * h);
        std::uniform_real_distribution<double> px(-0.6, w - 0.4), py(-0.6, h - 0.4), tiny(-1e-12, 1e-12);
        std::uniform_int_distribution<int> steps(0, 1024 * 4);
        // Signed zeros, the window's corners and the outermost interior
        // positions (whose last tap row ends the buffer), then random ones.
        const double r = w - 0.5, b = h - 0.5;
        const std::pair<double, double> fixed[] = {{-0.0, 1.0}, {1.0, -0.0}, {-0.0, -0.0}, {-0.5, -0.5},
                                                   {r, b},      {-0.5, b},   {r, -0.5},   {0.0, -0.0},
                                                   {w - 3.1, h - 3.1},       {2.0, 2.0}};
        std::size_t interior = 0;
        for (int i = 0; i < 4000; ++i) {
            double x = px(rng), y = py(rng);
            if (i % 4 == 1) x = std::floor(x) + steps(rng) / 4096.0 + tiny(rng);  // near table steps and halves
            if (i % 4 == 2) y = std::round(y) + tiny(rng);                       // near pixel centres
            if (i < int(std::size(fixed))) std::tie(x, y) = fixed[i];
            std::array<T, N> ref_l, ref_b;
            ref_l.fill(0);
            ref_b.fill(0);
            reference_lanczos3<T, N>(img, w, h, x, y, ref_l.data());
            reference_bilinear<T, N>(img, w, h, x, y, ref_b.data());
            const auto fast = sample<T, N>(Kind::Lanczos3, img.data(), w, h, x, y);
            ASSERT_EQ(fast, (sample<T, N>(Kind::Lanczos3Clamped, img.data(), w, h, x, y))) << x << "," << y;
            ASSERT_EQ(fast, ref_l) << x << "," << y;
            ASSERT_EQ((sample<T, N>(Kind::Bilinear, img.data(), w, h, x, y)), ref_b) << x << "," << y;
            interior += x >= 2 && x < w - 3 && y >= 2 && y < h - 3;
        }
        if (w > 6 && h > 6) {
            EXPECT_GT(interior, 1000u);  // the fast path was exercised
        }
    }
}


// Positions the widest vector kernel takes in one step: four bilinear groups
// of up to four lanes.
constexpr std::size_t widest_step = 16;

// The run samplers against the per-pixel ones, pixel for pixel, on runs that
// mix every kind of position within one vector group: interior ones, the
// half-pixel margins, the last tap row and column (whose wide loads end the
// buffer), rejected, infinite and NaN ones. Each run starts at every offset
// modulo the size of the kernels' widest step, and untouched
// output pixels must stay untouched. Positions P are doubles, or floats (the
// remap's map entries, bilinear only), with the bounds' neighbours taken in P.
template <class T, int N, class P = double>
void runs_match_the_per_pixel_samplers(simd::Variant variant) {
    constexpr T untouched = 77;
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (auto [w, h] : {std::pair<std::size_t, std::size_t>{37, 29}, {2, 2}, {1, 5}, {6, 3}, {3, 8}, {0, 4}}) {
        const auto img = random_samples<T>(w * h * N, static_cast<unsigned>(w * 7 + h));
        std::mt19937_64 rng(w * 1000 + h);
        std::uniform_real_distribution<double> px(-0.7, w - 0.3), py(-0.7, h - 0.3);
        std::uniform_int_distribution<int> pick(0, 15);
        const double r = w - 0.5, b = h - 0.5, lx = w - 1.0, ly = h - 1.0;
        // The bounds of the clamp-free taps of both filters, on either side.
        const auto below = [](double v) { return static_cast<double>(std::nextafter(static_cast<P>(v), P{0})); };
        const double xs_special[] = {-0.5, -0.25, -0.0, 0.0, lx, below(lx), lx - 0.5, r, nan, inf,
                                     -inf, r + 1e-9, 2.0, below(2.0), lx - 2.0, below(lx - 2.0)};
        const double ys_special[] = {-0.5, -0.0, 0.0, ly, below(ly), ly - 1.0, ly - 0.5, b, nan, 1e300,
                                     2.0, below(2.0), ly - 2.0, below(ly - 2.0), ly - 3.0, below(ly - 3.0)};
        std::vector<P> xs, ys;
        for (int i = 0; i < 3000; ++i) {
            // Mostly positions the wide kernels take, with special ones mixed in.
            const int k = pick(rng);
            xs.push_back(static_cast<P>(k == 0 ? xs_special[i % std::size(xs_special)] : px(rng)));
            ys.push_back(static_cast<P>(k == 1   ? ys_special[i % std::size(ys_special)]
                                        : k == 2 ? std::floor(py(rng))
                                                 : py(rng)));
        }
        for (std::size_t start = 0; start < widest_step; ++start) {
            const std::size_t count = xs.size() - start - (start % 3);
            for (Kind kind : both_filters) {
                if (kind != Kind::Bilinear && sizeof(P) != sizeof(double)) continue;
                std::vector<T> expected(count * N, untouched), got(count * N, untouched);
                for (std::size_t i = 0; i < count; ++i) {
                    const auto v = sample<T, N>(kind, img.data(), w, h, xs[start + i], ys[start + i], untouched);
                    std::copy(v.begin(), v.end(), expected.begin() + i * N);
                }
                if (kind == Kind::Bilinear)
                    sample_bilinear_run<T, N>(variant, img.data(), w, h, std::ptrdiff_t(w * N), &xs[start], &ys[start], count, got.data());
                else if constexpr (sizeof(P) == sizeof(double))
                    sample_lanczos3_run<T, N>(variant, img.data(), w, h, std::ptrdiff_t(w * N), table(), &xs[start], &ys[start], count, got.data());
                for (std::size_t i = 0; i < count * N; ++i)
                    ASSERT_EQ(got[i], expected[i]) << w << "x" << h << " pixel " << i / N << " at " << xs[start + i / N]
                                                   << "," << ys[start + i / N];
            }
        }
    }
}


// Each position that lies on or next to a bound of the vector kernels (the
// clamp-free taps of either filter, the rows whose wide loads would pass the
// buffer's end) or on a half step of the Lanczos-3 table, placed in every lane
// of a run whose other positions the kernels take: the run gives the
// per-pixel samplers' result at every pixel. Positions P as above.
template <class T, int N, class P = double>
void runs_agree_at_the_kernel_bounds(simd::Variant variant) {
    constexpr T untouched = 77;
    const std::size_t w = 23, h = 19;
    const auto img = random_samples<T>(w * h * N, 31);
    std::vector<P> xs_edge, ys_edge;
    const auto near = [](P v) { return std::array<P, 5>{v - P(0.37), std::nextafter(v, P(-1)), v, std::nextafter(v, P(1e9)), v + P(0.37)}; };
    for (double bound : {0.0, 1.0, 2.0, w - 4.0, w - 3.0, w - 2.0, w - 1.0})
        for (P x : near(static_cast<P>(bound))) xs_edge.push_back(x);
    for (double bound : {0.0, 2.0, h - 5.0, h - 4.0, h - 3.0, h - 2.0, h - 1.0})
        for (P y : near(static_cast<P>(bound))) ys_edge.push_back(y);
    for (int r : {0, 1, 511, 1022, 1023}) {  // halves between table rows, and their neighbours
        const P half = static_cast<P>(9.0 + (r + 0.5) / 1024);
        for (P v : {std::nextafter(half, P(0)), half, std::nextafter(half, P(1e9))}) {
            xs_edge.push_back(v);
            ys_edge.push_back(v);
        }
    }
    for (Kind kind : both_filters)
        for (std::size_t e = 0; e < xs_edge.size() + ys_edge.size(); ++e)
            for (std::size_t lane = 0; lane < widest_step; ++lane) {
                if (kind != Kind::Bilinear && sizeof(P) != sizeof(double)) continue;
                std::vector<P> xs(widest_step + 3), ys(widest_step + 3);
                for (std::size_t i = 0; i < xs.size(); ++i) {
                    xs[i] = static_cast<P>(5.25 + 0.7 * i);
                    ys[i] = static_cast<P>(6.5 + 0.3 * i);
                }
                if (e < xs_edge.size())
                    xs[lane] = xs_edge[e];
                else
                    ys[lane] = ys_edge[e - xs_edge.size()];
                std::vector<T> got(xs.size() * N, untouched), expected(xs.size() * N, untouched);
                for (std::size_t i = 0; i < xs.size(); ++i) {
                    const auto v = sample<T, N>(kind, img.data(), w, h, xs[i], ys[i], untouched);
                    std::copy(v.begin(), v.end(), expected.begin() + i * N);
                }
                if (kind == Kind::Bilinear)
                    sample_bilinear_run<T, N>(variant, img.data(), w, h, std::ptrdiff_t(w * N), xs.data(), ys.data(), xs.size(), got.data());
                else if constexpr (sizeof(P) == sizeof(double))
                    sample_lanczos3_run<T, N>(variant, img.data(), w, h, std::ptrdiff_t(w * N), table(), xs.data(), ys.data(), xs.size(), got.data());
                ASSERT_EQ(got, expected) << "lane " << lane << " at " << xs[lane] << "," << ys[lane];
            }
}

// Every vector variant the processor runs, for the four instances.
class SamplerRuns : public ::testing::TestWithParam<simd::Variant> {};

TEST_P(SamplerRuns, MatchThePerPixelSamplers) {
    TESSARIN_RUN_VARIANT(GetParam());
    runs_match_the_per_pixel_samplers<std::uint8_t, 1>(GetParam());
    runs_match_the_per_pixel_samplers<std::uint8_t, 3>(GetParam());
    runs_match_the_per_pixel_samplers<std::uint16_t, 1>(GetParam());
    runs_match_the_per_pixel_samplers<std::uint16_t, 3>(GetParam());
    runs_match_the_per_pixel_samplers<std::uint8_t, 1, float>(GetParam());
    runs_match_the_per_pixel_samplers<std::uint8_t, 3, float>(GetParam());
    runs_match_the_per_pixel_samplers<std::uint16_t, 1, float>(GetParam());
    runs_match_the_per_pixel_samplers<std::uint16_t, 3, float>(GetParam());
}

TEST_P(SamplerRuns, AgreeAtTheKernelBounds) {
    TESSARIN_RUN_VARIANT(GetParam());
    runs_agree_at_the_kernel_bounds<std::uint8_t, 1>(GetParam());
    runs_agree_at_the_kernel_bounds<std::uint8_t, 3>(GetParam());
    runs_agree_at_the_kernel_bounds<std::uint16_t, 1>(GetParam());
    runs_agree_at_the_kernel_bounds<std::uint16_t, 3>(GetParam());
    runs_agree_at_the_kernel_bounds<std::uint8_t, 1, float>(GetParam());
    runs_agree_at_the_kernel_bounds<std::uint8_t, 3, float>(GetParam());
    runs_agree_at_the_kernel_bounds<std::uint16_t, 1, float>(GetParam());
    runs_agree_at_the_kernel_bounds<std::uint16_t, 3, float>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Variants, SamplerRuns, tessarin::testing::every_variant, tessarin::testing::variant_name);

}  // namespace
}  // namespace tessarin::warp
