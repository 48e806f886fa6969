#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sample/transpose.hpp"

namespace {

// Every element of a tile lands where the plain element-by-element copy puts
// it, for each element size, with columns at unrelated addresses and output
// rows wider than the tile.
template <std::size_t S>
void check_tile() {
    constexpr std::size_t n = tessarin::sample::tile_lanes<S>;
    constexpr std::size_t row_bytes = 3 * n * S + 5;
    std::vector<std::uint8_t> src(n * 97 + n * S);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i * 131 + 7);
    const char* cols[n];
    for (std::size_t q = 0; q < n; ++q)
        cols[q] = reinterpret_cast<const char*>(src.data()) + (q * 61) % (n * 97) + (q & 1);
    std::vector<char> got(n * row_bytes + 1, 0), want(n * row_bytes + 1, 0);
    tessarin::sample::transpose_tile<S>(cols, got.data() + 1, row_bytes);
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t q = 0; q < n; ++q)
            for (std::size_t b = 0; b < S; ++b) want[1 + j * row_bytes + q * S + b] = cols[q][j * S + b];
    EXPECT_EQ(got, want) << S << "-byte elements";
}

TEST(TransposeTile, MovesEachElementToItsTransposedPlace) {
    check_tile<1>();
    check_tile<2>();
    check_tile<4>();
    check_tile<8>();
}

}  // namespace
