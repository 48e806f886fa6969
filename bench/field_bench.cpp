// Times the level-line field against a plain per-pixel hypot loop on one
// image, in every variant this processor runs, and checks that all give the
// same bits.
//
// A target of the C++ build when configured with TESSARIN_BUILD_BENCHMARKS=ON;
// beside the native tests (scripts/test.sh builds into build/cpp):
//   cmake -S . -B build/cpp -G Ninja -DTESSARIN_BUILD_TESTS=ON -DTESSARIN_BUILD_BENCHMARKS=ON
//   cmake --build build/cpp --target field_bench && ./build/cpp/field_bench 1920 1080
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "detector/testing.hpp"
#include "detector/field.hpp"
#include "simd/dispatch.hpp"

using tessarin::detector::Px;

namespace {

std::vector<Px> per_pixel(const std::vector<double>& img, std::size_t w, std::size_t h) {
    std::vector<Px> f(w * h);
    for (std::size_t y = 0; y + 1 < h; ++y) {
        for (std::size_t x = 0; x + 1 < w; ++x) {
            const double i00 = img[y * w + x], i10 = img[y * w + x + 1];
            const double i01 = img[(y + 1) * w + x], i11 = img[(y + 1) * w + x + 1];
            const double gx = (((i10 + i11) - i00) - i01) * 0.5, gy = (((i01 + i11) - i00) - i10) * 0.5;
            const double n = std::hypot(gx, gy);
            if (n > 0.0 && std::isfinite(static_cast<float>(n)))
                f[y * w + x] = Px{static_cast<float>(n), static_cast<float>(-gy / n), static_cast<float>(gx / n)};
        }
    }
    return f;
}

template <class F>
double best_ms(int runs, F&& f) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t w = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1920;
    const std::size_t h = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1080;
    std::mt19937_64 rng(1);
    std::vector<double> img(w * h);
    for (std::size_t y = 0; y < h; ++y)  // a smooth pattern with noise, as after the pre-filter
        for (std::size_t x = 0; x < w; ++x)
            img[y * w + x] = 100.0 * std::sin(0.05 * x) * std::cos(0.031 * y) + double(rng() % 1000) / 333.0;

    std::vector<Px> ref, fast;
    const double t_ref = best_ms(3, [&] { ref = per_pixel(img, w, h); });
    std::printf("%zu x %zu: per-pixel hypot %.2f ms\n", w, h, t_ref);
    bool all_same = true;
    for (tessarin::simd::Variant v : tessarin::simd::supported()) {
        const tessarin::simd::Forced forced(v);
        const double t_fast = best_ms(10, [&] { fast = tessarin::detector::level_line_field(img.data(), w, h); });
        const bool same = std::memcmp(ref.data(), fast.data(), ref.size() * sizeof(Px)) == 0;
        all_same = all_same && same;
        std::printf("  level_line_field, %-6s %.2f ms, identical: %s\n", tessarin::simd::name(v), t_fast,
                    same ? "yes" : "NO");
    }
    return all_same ? 0 : 1;
}
