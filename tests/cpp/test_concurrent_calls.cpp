// Many caller threads share the one worker pool: every call must give the
// result it gives alone, also while the pool is being replaced. Built with
// ThreadSanitizer in the hardening run, these tests are its data-race check
// of the pool and of the parallel loops (downscale, field, warp, remap).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <variant>
#include <vector>

#include "detector/testing.hpp"
#include "detector/detector.hpp"
#include "detector/field.hpp"
#include "image_fixtures.hpp"
#include "pool/testing.hpp"
#include "warp/remap.hpp"
#include "warp/warp.hpp"

namespace tessarin {
namespace {

using testing::random_samples;
using warp::Filter;

constexpr std::size_t w = 61, h = 47, ow = 53, oh = 39;

// A few bright bars on a noisy background: enough structure for segments.
std::vector<std::uint8_t> bars(std::size_t width, std::size_t height) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> noise(0, 6);
    std::vector<std::uint8_t> img(width * height);
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x) {
            const bool bar = (x / 9) % 2 == 0 || (y > height / 3 && y < height / 2);
            img[y * width + x] = static_cast<std::uint8_t>((bar ? 190 : 40) + noise(rng));
        }
    return img;
}

template <class T>
std::vector<T> contents(sample::Result<sample::Buffer<T>> r) {
    const auto& b = std::get<sample::Buffer<T>>(r);
    return std::vector<T>(b.data(), b.data() + b.size());
}

std::vector<double> flatten(const sample::Result<std::vector<detector::Segment>>& r) {
    std::vector<double> out;
    for (const auto& s : std::get<std::vector<detector::Segment>>(r))
        out.insert(out.end(), {s.x1, s.y1, s.x2, s.y2, s.width, s.precision, s.log_nfa});
    return out;
}

// Every parallel loop of the library, once.
struct Outputs {
    std::vector<std::uint8_t> warp_bilinear, warp_lanczos, gray;
    std::vector<std::uint16_t> rgb;
    std::vector<double> segments, segments_small;
    std::vector<float> field;

    bool operator==(const Outputs& o) const {
        // The field is compared bit for bit: NaN-free, but -0 and +0 differ.
        return warp_bilinear == o.warp_bilinear && warp_lanczos == o.warp_lanczos && gray == o.gray &&
               rgb == o.rgb && segments == o.segments && segments_small == o.segments_small &&
               field.size() == o.field.size() &&
               std::memcmp(field.data(), o.field.data(), field.size() * sizeof(float)) == 0;
    }
};

Outputs compute_all() {
    static const auto img8 = random_samples<std::uint8_t>(w * h * 3, 3);
    static const auto gray8 = random_samples<std::uint8_t>(w * h, 4);
    static const auto img16 = random_samples<std::uint16_t>(w * h * 3, 5);
    static const auto photo = bars(120, 90);
    static const auto maps = [] {
        std::mt19937 rng(6);
        std::uniform_real_distribution<float> px(-2.0f, w + 1.0f), py(-2.0f, h + 1.0f);
        std::array<std::vector<float>, 2> m{std::vector<float>(ow * oh), std::vector<float>(ow * oh)};
        for (std::size_t i = 0; i < ow * oh; ++i) {
            m[0][i] = px(rng);
            m[1][i] = py(rng);
        }
        return m;
    }();
    const std::array<double, 9> hm = {0.8, 0.1, 2.0, -0.05, 0.9, 1.0, 0.001, 0.002, 1.0};
    Outputs o;
    o.warp_bilinear = contents(warp::warp_rgb<std::uint8_t>(img8, w, h, ow, oh, hm, 1.3, -1, 0.5, Filter::Bilinear));
    o.warp_lanczos = contents(warp::warp_rgb<std::uint8_t>(img8, w, h, ow, oh, hm, 1.3, -1, 0.5, Filter::Lanczos3));
    o.gray = contents(warp::remap<std::uint8_t, 1>(gray8, w, h, maps[0], maps[1], ow, oh, Filter::Bilinear));
    o.rgb = contents(warp::remap<std::uint16_t, 3>(img16, w, h, maps[0], maps[1], ow, oh, Filter::Lanczos3));
    o.segments = flatten(detector::detect(std::span<const std::uint8_t>(photo), 120, 90, 1.0));
    o.segments_small = flatten(detector::detect(std::span<const std::uint8_t>(photo), 120, 90, 0.6));
    std::vector<double> wide(photo.begin(), photo.end());
    for (const detector::Px& p : detector::level_line_field(wide.data(), 120, 90))
        o.field.insert(o.field.end(), {p.norm, p.ux, p.uy});
    return o;
}

class ConcurrentCalls : public ::testing::TestWithParam<std::size_t> {
protected:
    void TearDown() override { pool::set_workers(0); }
};

TEST_P(ConcurrentCalls, AgreeWithACallMadeAlone) {
    pool::set_workers(1);
    const Outputs alone = compute_all();
    ASSERT_FALSE(alone.segments.empty());
    ASSERT_FALSE(alone.segments_small.empty());
    pool::set_workers(GetParam());

    constexpr int callers = 6, rounds = 3;
    std::vector<int> agreed(callers, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < callers; ++t)
        threads.emplace_back([&, t] {
            int n = 0;
            for (int r = 0; r < rounds; ++r) n += compute_all() == alone ? 1 : 0;
            agreed[t] = n;
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < callers; ++t) EXPECT_EQ(agreed[t], rounds) << "caller " << t;
}

TEST_P(ConcurrentCalls, SurviveThePoolBeingReplaced) {
    pool::set_workers(GetParam());
    const Outputs alone = compute_all();
    std::atomic<bool> stop{false};
    // Loops in flight finish on the pool they started on; new ones get the new pool.
    std::thread resizer([&] {
        for (std::size_t i = 0; !stop.load(); ++i) {
            pool::set_workers(1 + i % 3);
            std::this_thread::yield();
        }
    });
    constexpr int callers = 4;
    std::vector<int> agreed(callers, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < callers; ++t)
        threads.emplace_back([&, t] { agreed[t] = compute_all() == alone && compute_all() == alone ? 1 : 0; });
    for (auto& th : threads) th.join();
    stop = true;
    resizer.join();
    for (int t = 0; t < callers; ++t) EXPECT_EQ(agreed[t], 1) << "caller " << t;
}

INSTANTIATE_TEST_SUITE_P(Workers, ConcurrentCalls, ::testing::Values(2, 5));

}  // namespace
}  // namespace tessarin
