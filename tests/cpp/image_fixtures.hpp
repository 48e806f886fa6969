// Random test images shared by the resampling tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace tessarin::testing {

template <class T>
std::vector<T> random_samples(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<unsigned> dist(0, std::numeric_limits<T>::max());
    std::vector<T> v(count);
    for (auto& s : v) s = static_cast<T>(dist(rng));
    return v;
}

// One (element type, channel count) instance of the samplers and drivers.
template <class T, int N>
struct Instance {
    using Sample = T;
    static constexpr int channels = N;
};

}  // namespace tessarin::testing
