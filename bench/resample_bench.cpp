// Process CPU time of warp_rgb and remap on a 1920x1080 image with one worker,
// for every instance and both filters, with a checksum of each output so that
// two builds can be compared for identical results.
//
// Build against the core library of a C++ build tree and run:
//   g++ -std=c++20 -O3 -ffp-contract=off -Isrc bench/resample_bench.cpp build-cpp/libtessarin_core.a \
//       -lpthread -o build-cpp/resample_bench && ./build-cpp/resample_bench [repeats] [width height] [case]
// With a case name (e.g. warp_u8_bilinear) only that case runs, once, which
// suits an instruction count under callgrind.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "pool/testing.hpp"
#include "warp/remap.hpp"
#include "warp/warp.hpp"

using namespace tessarin;

namespace {

double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// A smooth pattern with some noise, in the range of T.
template <class T>
std::vector<T> image(std::size_t w, std::size_t h, int n) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> noise(-8.0, 8.0);
    const double top = std::numeric_limits<T>::max();
    std::vector<T> v(w * h * n);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x)
            for (int c = 0; c < n; ++c) {
                const double s = 0.5 + 0.45 * std::sin(x * 0.013 * (c + 1) + y * 0.021);
                v[(y * w + x) * n + c] = static_cast<T>(std::clamp(s * top + noise(rng) * top / 255, 0.0, top));
            }
    return v;
}

template <class T>
std::uint64_t checksum(const sample::Result<sample::Buffer<T>>& r) {
    const auto& b = std::get<sample::Buffer<T>>(r);
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < b.size(); ++i) h = (h ^ b.data()[i]) * 1099511628211ull;
    return h;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::size_t w = argc > 3 ? std::strtoul(argv[2], nullptr, 10) : 1920;
    const std::size_t h = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1080;
    const std::string only = argc > 4 ? argv[4] : "";
    pool::set_workers(1);

    const std::array<double, 9> m = {0.97, 0.035, 22.0, -0.025, 1.01, 14.0, 1.2e-5, -1.6e-5, 1.0};
    std::vector<float> mx(w * h), my(w * h);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            const double q = m[6] * x + (m[7] * y + m[8]);
            mx[y * w + x] = static_cast<float>((m[0] * x + (m[1] * y + m[2])) / q);
            my[y * w + x] = static_cast<float>((m[3] * x + (m[4] * y + m[5])) / q);
        }
    const auto rgb8 = image<std::uint8_t>(w, h, 3), gray8 = image<std::uint8_t>(w, h, 1);
    const auto rgb16 = image<std::uint16_t>(w, h, 3), gray16 = image<std::uint16_t>(w, h, 1);

    struct Case {
        std::string name;
        std::function<std::uint64_t()> run;
    };
    std::vector<Case> cases;
    for (auto f : {warp::Filter::Bilinear, warp::Filter::Lanczos3}) {
        const std::string fn = f == warp::Filter::Bilinear ? "bilinear" : "lanczos3";
        cases.push_back({"warp_u8_" + fn, [&, f] { return checksum(warp::warp_rgb<std::uint8_t>(rgb8, w, h, w, h, m, 1, 0, 0, f)); }});
        cases.push_back({"warp_u16_" + fn, [&, f] { return checksum(warp::warp_rgb<std::uint16_t>(rgb16, w, h, w, h, m, 1, 0, 0, f)); }});
        cases.push_back({"remap_rgb_u8_" + fn, [&, f] { return checksum(warp::remap<std::uint8_t, 3>(rgb8, w, h, mx, my, w, h, f)); }});
        cases.push_back({"remap_rgb_u16_" + fn, [&, f] { return checksum(warp::remap<std::uint16_t, 3>(rgb16, w, h, mx, my, w, h, f)); }});
        cases.push_back({"remap_gray_u8_" + fn, [&, f] { return checksum(warp::remap<std::uint8_t, 1>(gray8, w, h, mx, my, w, h, f)); }});
        cases.push_back({"remap_gray_u16_" + fn, [&, f] { return checksum(warp::remap<std::uint16_t, 1>(gray16, w, h, mx, my, w, h, f)); }});
    }
    for (auto& c : cases) {
        if (!only.empty() && c.name != only) continue;
        double best = 1e30;
        std::uint64_t sum = 0;
        for (int r = 0; r < (only.empty() ? repeats : 1); ++r) {
            const double t0 = cpu_seconds();
            sum = c.run();
            best = std::min(best, cpu_seconds() - t0);
        }
        std::printf("%-24s %8.2f ms cpu  %6.2f ns/px  checksum %016llx\n", c.name.c_str(), best * 1e3,
                    best * 1e9 / (w * h), static_cast<unsigned long long>(sum));
    }
}
