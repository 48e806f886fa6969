// Process CPU time of warp_rgb and remap on a 1920x1080 image with one worker,
// for every instance and both filters, with a checksum of each output so that
// two builds can be compared for identical results.
//
// A target of the C++ build when configured with TESSARIN_BUILD_BENCHMARKS=ON;
// beside the native tests (scripts/test.sh builds into build/cpp):
//   cmake -S . -B build/cpp -G Ninja -DTESSARIN_BUILD_TESTS=ON -DTESSARIN_BUILD_BENCHMARKS=ON
//   cmake --build build/cpp --target resample_bench && ./build/cpp/resample_bench [repeats] [width height] [case]
// With a case name (e.g. warp_u8_bilinear) only that case runs, `repeats`
// times, with only its own inputs made: under callgrind the instruction
// count of 2 repeats less that of 1 is one call's. The case `divisions`
// times independent double divisions (4-lane vectors and scalars) and a
// chain of dependent integer additions (one cycle each), which gives the
// processor's division throughput in cycles.
#include <algorithm>
#include <array>
#include <cctype>
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

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "pool/pool.hpp"
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

// The CPU time of one call, its output freed, and the output's checksum
// taken outside the timing.
struct Timed {
    double seconds;
    std::uint64_t sum;
};

template <class Call>
Timed timed(Call call) {
    const double t0 = cpu_seconds();
    auto r = call();
    const double t = cpu_seconds() - t0;
    return {t, checksum(r)};
}

#if defined(__x86_64__)
// Eight independent chains of 4-lane divisions, so that the divider, not a
// chain's latency, limits the rate. Returns seconds per vector division.
[[gnu::target("avx2")]] double vector_division_seconds(long n) {
    __m256d a[8];
    for (int i = 0; i < 8; ++i) a[i] = _mm256_set1_pd(1.0 + i);
    const __m256d d = _mm256_set1_pd(1.0000001);
    const double t0 = cpu_seconds();
    for (long k = 0; k < n; ++k)
        for (int i = 0; i < 8; ++i) {
            a[i] = _mm256_div_pd(a[i], d);
            asm volatile("" : "+x"(a[i]));
        }
    const double t = cpu_seconds() - t0;
    double sink[4];
    _mm256_storeu_pd(sink, a[0]);
    if (sink[0] == 42.0) std::printf("!");
    return t / (8.0 * n);
}

double scalar_division_seconds(long n) {
    double a[8];
    for (int i = 0; i < 8; ++i) a[i] = 1.0 + i;
    const double d = 1.0000001;
    const double t0 = cpu_seconds();
    for (long k = 0; k < n; ++k)
        for (int i = 0; i < 8; ++i) {
            a[i] = a[i] / d;
            asm volatile("" : "+x"(a[i]));
        }
    const double t = cpu_seconds() - t0;
    if (a[0] == 42.0) std::printf("!");
    return t / (8.0 * n);
}

// Seconds per cycle: a chain of dependent additions, one per cycle.
double cycle_seconds(long n) {
    long v = 0;
    const double t0 = cpu_seconds();
    for (long k = 0; k < n; ++k) asm volatile("add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0" : "+r"(v));
    const double t = cpu_seconds() - t0;
    return t / (4.0 * n);  // the loop counter is a chain of its own, beside this one
}

void divisions() {
    double best_cycle = 1e9, best_v = 1e9, best_s = 1e9;
    for (int r = 0; r < 5; ++r) {
        best_cycle = std::min(best_cycle, cycle_seconds(200000000));
        best_v = std::min(best_v, vector_division_seconds(20000000));
        best_s = std::min(best_s, scalar_division_seconds(20000000));
    }
    std::printf("clock %.2f GHz (dependent additions); 4-lane division every %.2f cycles (%.2f per double); "
                "scalar division every %.2f cycles\n",
                1e-9 / best_cycle, best_v / best_cycle, best_v / best_cycle / 4, best_s / best_cycle);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 && std::isdigit(argv[1][0]) ? std::atoi(argv[1]) : 5;
    const std::size_t w = argc > 3 ? std::strtoul(argv[2], nullptr, 10) : 1920;
    const std::size_t h = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1080;
    const std::string only = argc > 4 ? argv[4] : argc == 2 && !std::isdigit(argv[1][0]) ? argv[1] : "";
#if defined(__x86_64__)
    if (only == "divisions") return divisions(), 0;
#endif
    pool::set_workers(1);

    const std::array<double, 9> m = {0.97, 0.035, 22.0, -0.025, 1.01, 14.0, 1.2e-5, -1.6e-5, 1.0};
    std::vector<float> mx(w * h), my(w * h);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            const double q = m[6] * x + (m[7] * y + m[8]);
            mx[y * w + x] = static_cast<float>((m[0] * x + (m[1] * y + m[2])) / q);
            my[y * w + x] = static_cast<float>((m[3] * x + (m[4] * y + m[5])) / q);
        }
    // Only the inputs of the cases that run are made.
    auto wanted = [&](const char* part) { return only.empty() || only.find(part) != std::string::npos; };
    const bool any_rgb = wanted("warp") || wanted("rgb");
    const auto rgb8 = any_rgb && wanted("u8") ? image<std::uint8_t>(w, h, 3) : std::vector<std::uint8_t>(w * h * 3);
    const auto gray8 = wanted("gray_u8") ? image<std::uint8_t>(w, h, 1) : std::vector<std::uint8_t>(w * h);
    const auto rgb16 = any_rgb && wanted("u16") ? image<std::uint16_t>(w, h, 3) : std::vector<std::uint16_t>(w * h * 3);
    const auto gray16 = wanted("gray_u16") ? image<std::uint16_t>(w, h, 1) : std::vector<std::uint16_t>(w * h);

    struct Case {
        std::string name;
        std::function<Timed()> run;
    };
    std::vector<Case> cases;
    for (auto f : {warp::Filter::Bilinear, warp::Filter::Lanczos3}) {
        const std::string fn = f == warp::Filter::Bilinear ? "bilinear" : "lanczos3";
        cases.push_back({"warp_u8_" + fn, [&, f] { return timed([&] { return warp::warp_rgb<std::uint8_t>(rgb8, w, h, w, h, m, 1, 0, 0, f); }); }});
        cases.push_back({"warp_u16_" + fn, [&, f] { return timed([&] { return warp::warp_rgb<std::uint16_t>(rgb16, w, h, w, h, m, 1, 0, 0, f); }); }});
        cases.push_back({"remap_rgb_u8_" + fn, [&, f] { return timed([&] { return warp::remap<std::uint8_t, 3>(rgb8, w, h, mx, my, w, h, f); }); }});
        cases.push_back({"remap_rgb_u16_" + fn, [&, f] { return timed([&] { return warp::remap<std::uint16_t, 3>(rgb16, w, h, mx, my, w, h, f); }); }});
        cases.push_back({"remap_gray_u8_" + fn, [&, f] { return timed([&] { return warp::remap<std::uint8_t, 1>(gray8, w, h, mx, my, w, h, f); }); }});
        cases.push_back({"remap_gray_u16_" + fn, [&, f] { return timed([&] { return warp::remap<std::uint16_t, 1>(gray16, w, h, mx, my, w, h, f); }); }});
    }
    for (auto& c : cases) {
        if (!only.empty() && c.name != only) continue;
        double best = 1e30;
        std::uint64_t sum = 0;
        for (int r = 0; r < (only.empty() || argc > 4 ? repeats : 1); ++r) {
            const Timed t = c.run();
            sum = t.sum;
            best = std::min(best, t.seconds);
        }
        std::printf("%-24s %8.2f ms cpu  %6.2f ns/px  checksum %016llx\n", c.name.c_str(), best * 1e3,
                    best * 1e9 / (w * h), static_cast<unsigned long long>(sum));
    }
}
