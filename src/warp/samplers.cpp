#include "warp/samplers.hpp"
#include "warp/samplers_wide.hpp"

#include <cmath>
#include <numbers>

namespace tessarin::warp {
namespace {

constexpr double pi = std::numbers::pi;

// The windowed sinc: 1 at 0, 0 from distance 3 on.
double lanczos3(double d) {
    if (d == 0.0) return 1.0;
    if (std::abs(d) >= 3.0) return 0.0;
    const double a = d * pi;
    const double b = a / 3.0;
    return (std::sin(a) / a) * (std::sin(b) / b);
}

}  // namespace

Lanczos3Table lanczos3_table() {
    Lanczos3Table table(lanczos3_rows);
    for (std::size_t r = 0; r < lanczos3_rows; ++r) {
        const double t = static_cast<double>(r) * 0.0009765625;
        // Entry k is the kernel at the distance t + 2 - k from its tap.
        const double raw[6] = {lanczos3(t + 2.0), lanczos3(t + 1.0), lanczos3(t),
                               lanczos3(t - 1.0), lanczos3(t - 2.0), lanczos3(t - 3.0)};
        double sum = 0.0;
        for (double w : raw) sum = sum + w;
        for (int k = 0; k < 6; ++k) table[r][k] = raw[k] / sum;
    }
    return table;
}

}  // namespace tessarin::warp

// The scalar runs: the per-pixel samplers themselves.
TESSARIN_DEFINE_KERNELS(tessarin::warp::detail::SamplerKernels, Scalar,
                        tessarin::warp::detail::pixel_sampler_kernels<tessarin::warp::detail::PortableLanczos3>())
