// Fuzz target: the segment detector on arbitrary samples of each element
// type, arbitrary sizes (including ones whose product overflows) and arbitrary
// scales. It must return, never read outside the buffer, report a length
// that does not match its sizes as SizeMismatch, and give finite segments.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>
#include <stdexcept>
#include <variant>

#include "detector/detector.hpp"
#include "fuzz_input.hpp"

namespace {

using namespace tessarin;

template <class T>
void run(fuzz::Input& in, std::size_t width, std::size_t height, double scale) {
    const bool sane = fuzz::small_enough(width, height, 4096);
    std::size_t len = sane ? width * height : in.raw().ConsumeIntegralInRange<std::size_t>(0, 64);
    // Now and then a buffer one sample short or long.
    const int skew = in.raw().ConsumeIntegralInRange<int>(-1, 1) * (in.raw().ConsumeIntegral<std::uint8_t>() < 16);
    if (len > 0 || skew > 0) len += static_cast<std::size_t>(skew);
    const std::vector<T> px = in.samples<T>(len);

    auto result = detector::detect(std::span<const T>(px), width, height, scale);
    std::size_t count;
    const bool fits = !__builtin_mul_overflow(width, height, &count) && count == len;
    if (std::holds_alternative<sample::SizeMismatch>(result) == fits) std::abort();
    if (!fits) return;
    for (const auto& s : std::get<std::vector<detector::Segment>>(result))
        if (!std::isfinite(s.x1) || !std::isfinite(s.y1) || !std::isfinite(s.x2) || !std::isfinite(s.y2) ||
            !std::isfinite(s.width) || std::isnan(s.log_nfa) || !(s.log_nfa > 0.0))
            std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const int type = in.raw().ConsumeIntegralInRange<int>(0, 3);
    const std::size_t width = in.size(64);
    const std::size_t height = in.size(64);
    const double scale = in.real(0.04, 2.0);
    try {
        switch (type) {
            case 0: run<std::uint8_t>(in, width, height, scale); break;
            case 1: run<std::uint16_t>(in, width, height, scale); break;
            case 2: run<float>(in, width, height, scale); break;
            default: run<double>(in, width, height, scale); break;
        }
    } catch (const std::bad_alloc&) {
        // An allocation the machine cannot give is an honest outcome.
    }
    return 0;
}
