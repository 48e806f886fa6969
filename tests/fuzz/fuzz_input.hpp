// Turns a fuzzer's bytes into the arguments of a call: small sizes most of the
// time, hostile ones (whose products overflow or cannot be allocated) now and
// then, and raw bit patterns for reals so NaN, infinities, subnormals and
// extremes all occur.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace tessarin::fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data, size) {}

    FuzzedDataProvider& raw() { return p_; }

    // A size up to `small`, or (one time in sixteen) one no buffer can have.
    std::size_t size(std::size_t small) {
        const std::uint8_t pick = p_.ConsumeIntegral<std::uint8_t>();
        if (pick < 240) return p_.ConsumeIntegralInRange<std::size_t>(0, small);
        static constexpr std::size_t hostile[] = {std::size_t{1} << 40, std::size_t{1} << 62,
                                                  std::numeric_limits<std::size_t>::max() / 3 + 1,
                                                  std::numeric_limits<std::size_t>::max()};
        return hostile[pick % 4];
    }

    // Any double: a raw bit pattern, or a plain value in [lo, hi].
    double real(double lo, double hi) {
        if (p_.ConsumeBool()) return bits<double, std::uint64_t>();
        return p_.ConsumeFloatingPointInRange<double>(lo, hi);
    }

    float real32(float lo, float hi) {
        if (p_.ConsumeIntegralInRange<int>(0, 7) == 0) return bits<float, std::uint32_t>();
        return p_.ConsumeFloatingPointInRange<float>(lo, hi);
    }

    // `count` samples from the remaining bytes (zero once they run out).
    template <class T>
    std::vector<T> samples(std::size_t count) {
        std::vector<T> v(count);
        for (auto& s : v) {
            if constexpr (std::is_floating_point_v<T>)
                s = p_.ConsumeBool() ? static_cast<T>(p_.ConsumeIntegral<std::uint8_t>())
                                     : bits<T, std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>>();
            else
                s = p_.ConsumeIntegral<T>();
        }
        return v;
    }

private:
    template <class F, class U>
    F bits() {
        const U u = p_.ConsumeIntegral<U>();
        F f;
        std::memcpy(&f, &u, sizeof f);
        return f;
    }

    FuzzedDataProvider p_;
};

// Sizes whose buffers are reasonable to make for real.
inline bool small_enough(std::size_t a, std::size_t b, std::size_t limit = 1 << 16) {
    return a <= limit && b <= limit && a * b <= limit;
}

}  // namespace tessarin::fuzz
