#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "image_fixtures.hpp"
#include "pool/testing.hpp"
#include "sample/pages.hpp"
#include "simd/dispatch.hpp"
#include "warp/remap.hpp"
#include "warp/samplers.hpp"
#include "warp/warp.hpp"

namespace tessarin::warp {
namespace {

using sample::Buffer;
using sample::SizeMismatch;
using testing::Instance;
using testing::random_samples;

constexpr std::array<double, 9> identity = {1, 0, 0, 0, 1, 0, 0, 0, 1};
constexpr Filter both_filters[] = {Filter::Bilinear, Filter::Lanczos3};
constexpr std::size_t word_max = std::numeric_limits<std::size_t>::max();

template <class T>
std::vector<T> contents(sample::Result<Buffer<T>>&& r) {
    if (auto* e = std::get_if<SizeMismatch>(&r)) {
        ADD_FAILURE() << "unexpected " << *e;
        return {};
    }
    auto& b = std::get<Buffer<T>>(r);
    return std::vector<T>(b.data(), b.data() + b.size());
}

template <class T>
SizeMismatch mismatch(sample::Result<Buffer<T>>&& r) {
    if (auto* e = std::get_if<SizeMismatch>(&r)) return *e;
    ADD_FAILURE() << "expected a SizeMismatch";
    return {};
}

// Output pixel by output pixel, straight from the formulas, with nothing
// hoisted out of the pixel loop.
template <class T>
std::vector<T> reference_warp(const std::vector<T>& src, std::size_t w, std::size_t h, std::size_t ow,
                              std::size_t oh, const std::array<double, 9>& m, double scale, double off_x,
                              double off_y, Filter filter) {
    const auto table = lanczos3_table();
    std::vector<T> out(ow * oh * 3);
    for (std::size_t y = 0; y < oh; ++y)
        for (std::size_t x = 0; x < ow; ++x) {
            const double X = x / scale + off_x, Y = y / scale + off_y;
            const double wh = m[6] * X + (m[7] * Y + m[8]);
            if (wh == 0.0) continue;
            const double sx = (m[0] * X + (m[1] * Y + m[2])) / wh;
            const double sy = (m[3] * X + (m[4] * Y + m[5])) / wh;
            T* px = &out[(y * ow + x) * 3];
            if (filter == Filter::Lanczos3)
                sample_lanczos3<T, 3>(src.data(), w, h, std::ptrdiff_t(w * 3), table, sx, sy, px);
            else
                sample_bilinear<T, 3>(src.data(), w, h, std::ptrdiff_t(w * 3), sx, sy, px);
        }
    return out;
}

// --------------------------------------------------------------- size checks

TEST(WarpSizes, SourceLengthIsCheckedWithoutWrapping) {
    const std::vector<std::uint8_t> src(10);
    std::span<const std::uint8_t> s(src);
    EXPECT_EQ(mismatch(warp_rgb(s, 2, 2, 4, 4, identity, 1, 0, 0, Filter::Bilinear)), (SizeMismatch{12, 10}));
    EXPECT_EQ(mismatch(warp_rgb(s.first(0), 1, 1, 4, 4, identity, 1, 0, 0, Filter::Lanczos3)), (SizeMismatch{3, 0}));
    // 2^63 * 2 * 3 wraps to 0 in a machine word; an empty buffer must not pass.
    const std::size_t half = std::size_t{1} << 63;
    EXPECT_EQ(mismatch(warp_rgb(s.first(0), half, 2, 4, 4, identity, 1, 0, 0, Filter::Bilinear)),
              (SizeMismatch{word_max, 0}));
}

TEST(RemapSizes, ChecksSourceThenMapXThenMapY) {
    struct Case {
        std::size_t src_len, map_x_len, map_y_len;
        SizeMismatch expected;
    };
    // 2 x 3 source with 3 channels (18 samples), 4 x 5 maps (20 values).
    const Case cases[] = {
        {17, 19, 21, {18, 17}},  // the source is reported first
        {18, 19, 21, {20, 19}},  // then map_x
        {18, 20, 21, {20, 21}},  // then map_y, against the pixel count
        {18, 20, 0, {20, 0}},
        {0, 20, 20, {18, 0}},
    };
    const std::vector<std::uint16_t> src(32);
    const std::vector<float> map(32);
    std::span<const std::uint16_t> s(src);
    std::span<const float> m(map);
    for (const auto& c : cases)
        EXPECT_EQ(mismatch(remap<std::uint16_t, 3>(s.first(c.src_len), 2, 3, m.first(c.map_x_len),
                                                   m.first(c.map_y_len), 4, 5, Filter::Bilinear)),
                  c.expected);
    // A map size whose pixel count overflows cannot be matched by any map.
    const std::size_t big = std::size_t{1} << 33;
    EXPECT_EQ(mismatch(remap<std::uint16_t, 3>(s.first(18), 2, 3, m.first(0), m.first(0), big, big, Filter::Bilinear)),
              (SizeMismatch{word_max, 0}));
}

TEST(WarpSizes, OverflowingOutputIsRefused) {
    const std::vector<std::uint8_t> src8(3);
    const std::vector<std::uint16_t> src16(3);
    const std::size_t quarter = std::size_t{1} << 62;
    // The sample count overflows; for 16-bit samples the byte count does too.
    EXPECT_THROW(warp_rgb<std::uint8_t>(src8, 1, 1, word_max / 2, 2, identity, 1, 0, 0, Filter::Bilinear),
                 std::overflow_error);
    EXPECT_THROW(warp_rgb<std::uint8_t>(src8, 1, 1, quarter, 2, identity, 1, 0, 0, Filter::Lanczos3),
                 std::overflow_error);
    EXPECT_THROW(warp_rgb<std::uint16_t>(src16, 1, 1, word_max / 3, 1, identity, 1, 0, 0, Filter::Bilinear),
                 std::overflow_error);
    // 3 * 2^62 bytes fit a word but no address space.
    EXPECT_THROW(warp_rgb<std::uint8_t>(src8, 1, 1, quarter, 1, identity, 1, 0, 0, Filter::Bilinear),
                 std::bad_alloc);
}

// ------------------------------------------------------------------ warp_rgb

template <class T>
class Warp : public ::testing::Test {
protected:
    std::size_t w = 13, h = 9;
    std::vector<T> img = random_samples<T>(w * h * 3, 42);

    std::vector<T> run(std::size_t ow, std::size_t oh, const std::array<double, 9>& m, double scale, double off_x,
                       double off_y, Filter filter) {
        return contents(warp_rgb<T>(img, w, h, ow, oh, m, scale, off_x, off_y, filter));
    }
    std::array<T, 3> src_px(std::size_t x, std::size_t y) const {
        const T* p = &img[(y * w + x) * 3];
        return {p[0], p[1], p[2]};
    }
    static std::array<T, 3> out_px(const std::vector<T>& out, std::size_t ow, std::size_t x, std::size_t y) {
        const T* p = &out[(y * ow + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

using SampleTypes = ::testing::Types<std::uint8_t, std::uint16_t>;
TYPED_TEST_SUITE(Warp, SampleTypes);

TYPED_TEST(Warp, IdentityReproducesTheSource) {
    for (Filter f : both_filters) EXPECT_EQ(this->run(this->w, this->h, identity, 1, 0, 0, f), this->img);
}

TYPED_TEST(Warp, ScaleAndOffsetPlaceTheGrid) {
    const auto half = this->run(20, 12, identity, 2, 0, 0, Filter::Bilinear);
    for (std::size_t y = 0; y < 12; y += 2)
        for (std::size_t x = 0; x < 20; x += 2)
            EXPECT_EQ(this->out_px(half, 20, x, y), this->src_px(x / 2, y / 2)) << x << "," << y;
    // Output pixel (1, 0) lies halfway between source pixels (0, 0) and (1, 0).
    for (int c = 0; c < 3; ++c) {
        const unsigned sum = unsigned(this->img[c]) + this->img[3 + c];
        EXPECT_EQ(half[3 + c], (sum + 1) / 2) << c;
    }
    for (Filter f : both_filters) {
        const auto shifted = this->run(3, this->h, identity, 1, 10, 0, f);
        for (std::size_t y = 0; y < this->h; ++y)
            for (std::size_t x = 0; x < 3; ++x) EXPECT_EQ(this->out_px(shifted, 3, x, y), this->src_px(10 + x, y));
    }
}

TYPED_TEST(Warp, ZeroWSkipsThePixelAndNegativeWDividesThrough) {
    const std::vector<TypeParam> black(this->w * this->h * 3, 0);
    const double nz = -0.0;
    for (Filter f : both_filters) {
        EXPECT_EQ(this->run(this->w, this->h, {1, 0, 0, 0, 1, 0, 0, 0, 0}, 1, 0, 0, f), black);
        // Every w is -0 here, and 0 / -0 would be a NaN that Lanczos-3 samples.
        EXPECT_EQ(this->run(this->w, this->h, {1, 0, 0, 0, 1, 0, nz, nz, nz}, 1, 0, 0, f), black);
        EXPECT_EQ(this->run(this->w, this->h, {-1, 0, 0, 0, -1, 0, 0, 0, -1}, 1, 0, 0, f), this->img);
    }
}

TYPED_TEST(Warp, LargerOutputPadsWithZero) {
    const std::size_t ow = this->w + 4, oh = this->h + 3;
    for (Filter f : both_filters) {
        const auto out = this->run(ow, oh, identity, 1, 0, 0, f);
        for (std::size_t y = 0; y < oh; ++y)
            for (std::size_t x = 0; x < ow; ++x) {
                const auto expected =
                    x < this->w && y < this->h ? this->src_px(x, y) : std::array<TypeParam, 3>{0, 0, 0};
                ASSERT_EQ(this->out_px(out, ow, x, y), expected) << x << "," << y;
            }
    }
}

// A perspective matrix whose w changes sign inside the output (and is exactly
// zero on one column): the driver's hoisted row and column terms and its
// vector samplers give the same bits as the formula evaluated pixel by pixel.
// The larger source puts whole runs of positions in its interior, where the
// vector samplers take groups of pixels.
TYPED_TEST(Warp, MatchesThePerPixelFormula) {
    // w = x / (16 scale) - 2: exactly 0 on column 32 at scale 1.
    const std::array<double, 9> m = {0.9, 0.13, 1.7, -0.08, 1.1, -0.6, 0.0625, 0.0, -2.0};
    // Mostly inside a 67 x 41 source, with w = 0 nowhere.
    const std::array<double, 9> inside = {0.2, 0.01, 3.0, -0.005, 0.6, 2.5, 0.0003, -0.0002, 1.0};
    const auto big = random_samples<TypeParam>(67 * 41 * 3, 8);
    for (Filter f : both_filters)
        for (double scale : {1.0, 0.7, 3.0}) {
            // 300 columns: longer than a run of positions worked out at once.
            const auto ref = reference_warp(this->img, this->w, this->h, 300, 9, m, scale, 0.0, 0.5, f);
            const auto ref_big = reference_warp(big, 67, 41, 300, 60, inside, scale, 0.0, 0.5, f);
            // The positions and the samplers of every variant.
            for (const auto v : simd::supported()) {
                const simd::Forced forced(v);
                ASSERT_EQ(this->run(300, 9, m, scale, 0.0, 0.5, f), ref) << scale << " " << simd::name(v);
                ASSERT_EQ(contents(warp_rgb<TypeParam>(big, 67, 41, 300, 60, inside, scale, 0.0, 0.5, f)), ref_big)
                    << scale << " " << simd::name(v);
            }
        }
    // Wider than the block of columns whose terms are made together, with a
    // short last block: the terms of every block start from its own column.
    const std::array<double, 9> across = {0.0065, 0.01, -3.0, -0.0002, 0.6, 2.5, 0.00002, -0.0002, 1.0};
    for (Filter f : both_filters) {
        const std::size_t ow = 2 * 4096 + 77;
        const auto ref = reference_warp(big, 67, 41, ow, 3, across, 0.9, -40.0, 0.5, f);
        ASSERT_EQ(contents(warp_rgb<TypeParam>(big, 67, 41, ow, 3, across, 0.9, -40.0, 0.5, f)), ref);
    }
}

TYPED_TEST(Warp, EmptyOutputs) {
    for (Filter f : both_filters)
        for (auto [ow, oh] : {std::pair<std::size_t, std::size_t>{0, 5}, {5, 0}, {0, 0}, {0, word_max}})
            EXPECT_TRUE(this->run(ow, oh, identity, 1, 0, 0, f).empty());
    // An empty source gives a black output of the requested size.
    const std::vector<TypeParam> none;
    const auto out = contents(warp_rgb<TypeParam>(none, 0, 4, 3, 2, identity, 1, 0, 0, Filter::Lanczos3));
    EXPECT_EQ(out, std::vector<TypeParam>(18, 0));
}

// --------------------------------------------------------------------- remap

// Maps of out_w x out_h positions spread over a w x h source and a pixel or
// two beyond its border on every side.
std::pair<std::vector<float>, std::vector<float>> random_maps(std::size_t out_w, std::size_t out_h, std::size_t w,
                                                              std::size_t h, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> px(-2.0f, w + 1.0f), py(-2.0f, h + 1.0f);
    std::vector<float> mx(out_w * out_h), my(out_w * out_h);
    for (std::size_t i = 0; i < mx.size(); ++i) {
        mx[i] = px(rng);
        my[i] = py(rng);
    }
    return {mx, my};
}


template <class I>
class Remap : public ::testing::Test {
protected:
    using T = typename I::Sample;
    static constexpr int N = I::channels;
    std::size_t w = 9, h = 7;
    std::vector<T> img = random_samples<T>(w * h * N, 7);

    std::vector<T> run(const std::vector<float>& mx, const std::vector<float>& my, std::size_t ow, std::size_t oh,
                       Filter f) {
        return contents(remap<T, N>(img, w, h, mx, my, ow, oh, f));
    }
    std::vector<T> src_px(std::size_t x, std::size_t y) const {
        return {img.begin() + (y * w + x) * N, img.begin() + (y * w + x + 1) * N};
    }
    static std::vector<T> out_px(const std::vector<T>& out, std::size_t i) {
        return {out.begin() + i * N, out.begin() + (i + 1) * N};
    }
    // Maps of the source's size holding (x + dx, y).
    std::pair<std::vector<float>, std::vector<float>> grid(float dx) const {
        std::vector<float> mx, my;
        for (std::size_t y = 0; y < h; ++y)
            for (std::size_t x = 0; x < w; ++x) {
                mx.push_back(float(x) + dx);
                my.push_back(float(y));
            }
        return {mx, my};
    }
};

using AllInstances = ::testing::Types<Instance<std::uint8_t, 1>, Instance<std::uint8_t, 3>,
                                      Instance<std::uint16_t, 1>, Instance<std::uint16_t, 3>>;
TYPED_TEST_SUITE(Remap, AllInstances);

TYPED_TEST(Remap, IdentityMapsReproduceTheSource) {
    const auto [mx, my] = this->grid(0.0f);
    for (Filter f : both_filters) EXPECT_EQ(this->run(mx, my, this->w, this->h, f), this->img);
}

TYPED_TEST(Remap, HalfAPixelRightGivesTheRoundedUpMean) {
    constexpr int N = TestFixture::N;
    const auto [mx, my] = this->grid(0.5f);
    const auto out = this->run(mx, my, this->w, this->h, Filter::Bilinear);
    for (std::size_t y = 0; y < this->h; ++y)
        for (std::size_t x = 0; x < this->w; ++x) {
            const auto a = this->src_px(x, y);
            const auto b = this->src_px(std::min(x + 1, this->w - 1), y);
            for (int c = 0; c < N; ++c)
                ASSERT_EQ(out[(y * this->w + x) * N + c], (unsigned(a[c]) + b[c] + 1) / 2) << x << "," << y;
        }
}

// One map entry per row of the table, sampled in a 1 x 7 output.
TYPED_TEST(Remap, UnusablePositions) {
    using T = typename TestFixture::T;
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<T> zero(TestFixture::N, 0);
    struct Case {
        float x, y;
        Filter filter;
        std::vector<T> expected;
    };
    const Case cases[] = {
        {-0.5f, 2.0f, Filter::Bilinear, this->src_px(0, 2)},
        {-0.51f, 2.0f, Filter::Bilinear, zero},
        {inf, 2.0f, Filter::Lanczos3, zero},
        {-inf, 2.0f, Filter::Bilinear, zero},
        {3.0f, float(this->h) - 0.49f, Filter::Lanczos3, zero},
        {nan, 3.0f, Filter::Bilinear, zero},
        {nan, 3.0f, Filter::Lanczos3, this->src_px(0, 3)},
    };
    for (const auto& c : cases) {
        const auto out = this->run({c.x}, {c.y}, 1, 1, c.filter);
        EXPECT_EQ(out, c.expected) << c.x << "," << c.y;
    }
}

TYPED_TEST(Remap, MapsLargerThanTheSource) {
    const std::size_t ow = 2 * this->w, oh = 2 * this->h;
    std::vector<float> mx, my;
    for (std::size_t y = 0; y < oh; ++y)
        for (std::size_t x = 0; x < ow; ++x) {
            mx.push_back(float(x));
            my.push_back(float(y));
        }
    for (Filter f : both_filters) {
        const auto out = this->run(mx, my, ow, oh, f);
        for (std::size_t y = 0; y < oh; ++y)
            for (std::size_t x = 0; x < ow; ++x) {
                const auto expected = x < this->w && y < this->h ? this->src_px(x, y)
                                                                 : std::vector<typename TestFixture::T>(TestFixture::N);
                ASSERT_EQ(this->out_px(out, y * ow + x), expected) << x << "," << y;
            }
    }
}

// Random maps over the source and its surroundings, with NaN and infinite
// entries: every output pixel is what the sampler gives for its position.
// The 53 x 37 source has an interior wide enough for groups of positions
// that the vector samplers take whole.
TYPED_TEST(Remap, EveryPixelIsTheSampleAtItsMapEntry) {
    using T = typename TestFixture::T;
    constexpr int N = TestFixture::N;
    const std::size_t ow = 300, oh = 5;  // rows longer than a run of positions
    const auto table = lanczos3_table();
    for (auto [w, h] : {std::pair<std::size_t, std::size_t>{this->w, this->h}, {53, 37}}) {
        const auto img = random_samples<T>(w * h * N, static_cast<unsigned>(w));
        std::mt19937 rng(11);
        std::uniform_real_distribution<float> px(-3.0f, w + 2.0f), py(-3.0f, h + 2.0f);
        const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                  -0.5f, float(w) - 0.5f, 2.0f};
        std::vector<float> mx(ow * oh), my(ow * oh);
        for (std::size_t i = 0; i < mx.size(); ++i) {
            mx[i] = i % 17 == 3 ? specials[i % 5] : px(rng);
            my[i] = i % 23 == 4 ? specials[(i + 2) % 5] : py(rng);
        }
        for (Filter f : both_filters) {
            std::vector<T> expected(ow * oh * N);
            for (std::size_t i = 0; i < mx.size(); ++i) {
                if (f == Filter::Lanczos3)
                    sample_lanczos3<T, N>(img.data(), w, h, std::ptrdiff_t(w * N), table, mx[i], my[i],
                                          &expected[i * N]);
                else
                    sample_bilinear<T, N>(img.data(), w, h, std::ptrdiff_t(w * N), mx[i], my[i], &expected[i * N]);
            }
            // The widening and the samplers of every variant.
            for (const auto v : simd::supported()) {
                const simd::Forced forced(v);
                EXPECT_EQ(contents(remap<T, N>(img, w, h, mx, my, ow, oh, f)), expected) << w << " " << simd::name(v);
            }
        }
    }
}

// Maps read where they lie, in the layouts of flipped, transposed, Fortran
// order, reversed and broadcast arrays, give the bits of their row-major
// copies. The sizes leave partial blocks of rows, runs and vector tiles.
TYPED_TEST(Remap, MapViewsInAnyLayoutEqualRowMajorMaps) {
    using T = typename TestFixture::T;
    constexpr int N = TestFixture::N;
    // Pieces of more than one block of rows come with one worker only.
    const std::size_t w = 41, h = 23, ow = 263, oh = 290;
    const auto img = random_samples<T>(w * h * N, 5);
    const auto [mx, my] = random_maps(ow, oh, w, h, 13);
    // Storage for entry (y, x) of `m` at storage[at(y, x)], and the view of it.
    struct Stored {
        std::vector<float> storage;
        MapView view;
    };
    using Place = std::ptrdiff_t (*)(std::size_t, std::size_t, std::size_t, std::size_t);
    const std::pair<const char*, Place> layouts[] = {
        {"rows flipped", [](std::size_t y, std::size_t x, std::size_t w, std::size_t h) {
             return std::ptrdiff_t((h - 1 - y) * w + x); }},
        {"columns reversed", [](std::size_t y, std::size_t x, std::size_t w, std::size_t) {
             return std::ptrdiff_t(y * w + (w - 1 - x)); }},
        {"fortran", [](std::size_t y, std::size_t x, std::size_t, std::size_t h) {
             return std::ptrdiff_t(x * h + y); }},
        {"fortran, both reversed", [](std::size_t y, std::size_t x, std::size_t w, std::size_t h) {
             return std::ptrdiff_t((w - 1 - x) * h + (h - 1 - y)); }},
        {"columns two apart", [](std::size_t y, std::size_t x, std::size_t w, std::size_t) {
             return std::ptrdiff_t(y * 2 * w + 2 * x); }},
    };
    auto store = [&](const std::vector<float>& m, Place place) {
        Stored s{std::vector<float>(2 * ow * oh), {}};
        for (std::size_t y = 0; y < oh; ++y)
            for (std::size_t x = 0; x < ow; ++x) s.storage[place(y, x, ow, oh)] = m[y * ow + x];
        const std::ptrdiff_t origin = place(0, 0, ow, oh);
        s.view = {s.storage.data() + origin, place(1, 0, ow, oh) - origin, place(0, 1, ow, oh) - origin};
        return s;
    };
    for (Filter f : both_filters) {
        const auto expected = contents(remap<T, N>(img, w, h, mx, my, ow, oh, f));
        for (auto [name, place] : layouts) {
            const Stored sx = store(mx, place), sy = store(my, place);
            for (std::size_t workers : {1, 3}) {
                pool::set_workers(workers);
                EXPECT_EQ(contents(remap<T, N>(img, w, h, sx.view, sy.view, ow, oh, f)), expected) << name;
                // One map in place beside a row-major one.
                const MapView plain{my.data(), std::ptrdiff_t(ow), 1};
                EXPECT_EQ(contents(remap<T, N>(img, w, h, sx.view, plain, ow, oh, f)), expected) << name;
            }
        }
        // Every row the same entries: a broadcast map's rows share storage.
        const MapView first_row_x{mx.data(), 0, 1}, first_row_y{my.data(), 0, 1};
        std::vector<float> bx(ow * oh), by(ow * oh);
        for (std::size_t i = 0; i < bx.size(); ++i) {
            bx[i] = mx[i % ow];
            by[i] = my[i % ow];
        }
        EXPECT_EQ(contents(remap<T, N>(img, w, h, first_row_x, first_row_y, ow, oh, f)),
                  contents(remap<T, N>(img, w, h, bx, by, ow, oh, f)));
    }
    pool::set_workers(0);
}

// A source read where it lies gives the bits of its contiguous copy, in every
// variant: rows stored bottom up, and rows of a crop of wider rows. Each
// buffer ends at the image's last byte in memory (row 0 when bottom up), so
// the sanitiser builds catch a load past it.
TYPED_TEST(Remap, ImageViewsEqualContiguousImages) {
    using T = typename TestFixture::T;
    constexpr int N = TestFixture::N;
    const std::size_t w = 41, h = 23, ow = 67, oh = 45, row = w * N, pad = 5 * N;
    const auto img = random_samples<T>(w * h * N, 8);
    const auto [mx, my] = random_maps(ow, oh, w, h, 14);
    const std::array<double, 9> m = {0.9, 0.12, -2.0, -0.07, 1.1, -1.5, 0.002, -0.001, 1.0};
    std::vector<T> bottom_up(w * h * N), wide((h - 1) * (row + pad) + pad + row);
    for (std::size_t y = 0; y < h; ++y) {
        std::copy_n(img.begin() + y * row, row, bottom_up.begin() + (h - 1 - y) * row);
        std::copy_n(img.begin() + y * row, row, wide.begin() + y * (row + pad) + pad);
    }
    const std::pair<const char*, ImageView<T>> views[] = {
        {"bottom up", {bottom_up.data() + (h - 1) * row, -std::ptrdiff_t(row)}},
        {"crop", {wide.data() + pad, std::ptrdiff_t(row + pad)}},
    };
    for (const auto v : simd::supported()) {
        const simd::Forced forced(v);
        for (Filter f : both_filters) {
            const auto expected = contents(remap<T, N>(img, w, h, mx, my, ow, oh, f));
            const MapView vx{mx.data(), std::ptrdiff_t(ow), 1}, vy{my.data(), std::ptrdiff_t(ow), 1};
            for (const auto& [name, view] : views) {
                EXPECT_EQ(contents(remap<T, N>(view, w, h, vx, vy, ow, oh, f)), expected) << name << " "
                                                                                         << simd::name(v);
                if constexpr (N == 3) {
                    EXPECT_EQ(contents(warp_rgb<T>(view, w, h, ow, oh, m, 1.4, -3, -2, f)),
                              contents(warp_rgb<T>(img, w, h, ow, oh, m, 1.4, -3, -2, f)))
                        << name << " " << simd::name(v);
                }
            }
        }
    }
}

// The drivers clear each output row just before sampling it, so pixels that
// no sampler writes are 0 even in storage that held other bytes: the heap
// usually hands back the block freed just before, here filled with 0xAB.
TYPED_TEST(Remap, RejectedPixelsAreZeroInReusedStorage) {
    using T = typename TestFixture::T;
    constexpr int N = TestFixture::N;
    const std::size_t ow = 300, oh = 40, count = ow * oh * N;
    const std::vector<float> outside(ow * oh, -7.0f);
    for (Filter f : both_filters) {
        for (const bool by_warp : {false, true}) {
            if (by_warp && N != 3) continue;
            void* dirty = sample::allocate_pages(count * sizeof(T), sample::Fill::any);
            std::memset(dirty, 0xAB, count * sizeof(T));
            sample::free_pages(dirty);
            // A matrix whose third row is 0 sends every pixel to infinity.
            const std::array<double, 9> nowhere = {1, 0, 0, 0, 1, 0, 0, 0, 0};
            const auto out = by_warp ? contents(warp_rgb<T>(this->img, this->w, this->h, ow, oh, nowhere, 1, 0, 0, f))
                                     : this->run(outside, outside, ow, oh, f);
            EXPECT_EQ(out, std::vector<T>(count, 0)) << (by_warp ? "warp" : "remap");
        }
    }
}

TYPED_TEST(Remap, EmptyMaps) {
    for (Filter f : both_filters)
        for (auto [ow, oh] : {std::pair<std::size_t, std::size_t>{5, 0}, {0, 3}, {0, 0}})
            EXPECT_TRUE(this->run({}, {}, ow, oh, f).empty());
}

// -------------------------------------------------------- the worker pool

// Rows may be shared out among any number of workers: the result is the same.
class WorkerCounts : public ::testing::TestWithParam<std::size_t> {
protected:
    static constexpr std::size_t w = 37, h = 29, ow = 45, oh = 61;

    struct Outputs {
        std::vector<std::uint8_t> warp_bilinear, warp_lanczos, gray;
        std::vector<std::uint16_t> rgb;
    };

    static Outputs compute() {
        const auto img8 = random_samples<std::uint8_t>(w * h * 3, 3);
        const auto gray8 = random_samples<std::uint8_t>(w * h, 4);
        const auto img16 = random_samples<std::uint16_t>(w * h * 3, 5);
        const auto [mx, my] = random_maps(ow, oh, w, h, 6);
        const std::array<double, 9> m = {0.8, 0.1, 2.0, -0.05, 0.9, 1.0, 0.001, 0.002, 1.0};
        return {contents(warp_rgb<std::uint8_t>(img8, w, h, ow, oh, m, 1.3, -1, 0.5, Filter::Bilinear)),
                contents(warp_rgb<std::uint8_t>(img8, w, h, ow, oh, m, 1.3, -1, 0.5, Filter::Lanczos3)),
                contents(remap<std::uint8_t, 1>(gray8, w, h, mx, my, ow, oh, Filter::Bilinear)),
                contents(remap<std::uint16_t, 3>(img16, w, h, mx, my, ow, oh, Filter::Lanczos3))};
    }

    static void TearDownTestSuite() { pool::set_workers(0); }
};

// Every loop on the calling thread, or every loop shared among one worker
// and the caller, or among GetParam() workers: the same output.
TEST_P(WorkerCounts, GiveTheSameOutput) {
    pool::set_workers(1);
    const std::size_t before = pool::set_inline_work(std::numeric_limits<std::size_t>::max());
    const Outputs alone = compute();
    pool::set_inline_work(0);
    const Outputs one = compute();
    pool::set_workers(GetParam());
    const Outputs many = compute();
    pool::set_inline_work(before);
    for (const Outputs* o : {&one, &many}) {
        EXPECT_EQ(alone.warp_bilinear, o->warp_bilinear);
        EXPECT_EQ(alone.warp_lanczos, o->warp_lanczos);
        EXPECT_EQ(alone.gray, o->gray);
        EXPECT_EQ(alone.rgb, o->rgb);
    }
    EXPECT_FALSE(alone.rgb.empty());
}

INSTANTIATE_TEST_SUITE_P(Pool, WorkerCounts, ::testing::Values(1, 2, 7));

}  // namespace
}  // namespace tessarin::warp
