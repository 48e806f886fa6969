#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "layout/interleave.hpp"
#include "layout/row_shuffle.hpp"
#include "layout/transpose.hpp"
#include "simd/dispatch.hpp"

namespace {

// Every element of a tile lands where the plain element-by-element copy puts
// it, for each element size and variant, with columns at unrelated
// addresses and output rows wider than the tile.
template <std::size_t S>
void check_tile(tessarin::simd::Variant v) {
    constexpr std::size_t n = tessarin::layout::tile_lanes<S>;
    constexpr std::size_t row_bytes = 3 * n * S + 5;
    std::vector<std::uint8_t> src(n * 97 + n * S);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i * 131 + 7);
    const char* base = reinterpret_cast<const char*>(src.data());
    const char* cols[n];
    std::ptrdiff_t offsets[n];
    for (std::size_t q = 0; q < n; ++q) {
        cols[q] = base + (q * 61) % (n * 97) + (q & 1);
        offsets[q] = cols[q] - base;
    }
    std::vector<char> got(n * row_bytes + 1, 0), want(n * row_bytes + 1, 0);
    tessarin::simd::pick<tessarin::layout::TransposeKernels>(v).columns_of<S>()(base, offsets, n, n, got.data() + 1,
                                                                               row_bytes);
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t q = 0; q < n; ++q)
            for (std::size_t b = 0; b < S; ++b) want[1 + j * row_bytes + q * S + b] = cols[q][j * S + b];
    EXPECT_EQ(got, want) << S << "-byte elements, " << tessarin::simd::name(v);
}

TEST(TransposeTile, MovesEachElementToItsTransposedPlace) {
    for (const tessarin::simd::Variant v : tessarin::simd::supported()) {
        check_tile<1>(v);
        check_tile<2>(v);
        check_tile<4>(v);
        check_tile<8>(v);
    }
}

// A shuffled row equals the element-by-element copy for every arrangement of
// one contiguous run (pixels and channels each forward or reversed), element
// size and row length, in every variant, and reads nothing outside the row:
// the row is a buffer of exactly its own bytes (the sanitiser builds check).
TEST(RowShuffle, CopiesRowsInAnyOrderOfOneRun) {
    for (const auto v : tessarin::simd::supported()) {
        std::size_t shuffled = 0;
        for (const std::size_t bytes : {1, 2, 4, 8})
            for (const std::size_t channels : {1, 3, 4})
                for (const int pixel_sign : {1, -1})
                    for (const int channel_sign : {1, -1})
                        for (const std::size_t n : {1, 2, 5, 6, 16, 17, 101, 1000}) {
                            const auto s = static_cast<std::ptrdiff_t>(bytes);
                            const auto c = static_cast<std::ptrdiff_t>(channels);
                            const std::ptrdiff_t sx = pixel_sign * c * s, sc = channel_sign * s;
                            const tessarin::layout::RowShuffle shuffle(sx, sc, channels, bytes, v);
                            if (!shuffle.usable()) continue;
                            ++shuffled;
                            std::vector<char> mem(n * channels * bytes);
                            for (std::size_t i = 0; i < mem.size(); ++i) mem[i] = static_cast<char>(i * 37 + 11);
                            // Pixel 0's channel 0 sits where the strides say.
                            const std::ptrdiff_t origin = (pixel_sign < 0 ? static_cast<std::ptrdiff_t>(n - 1) * -sx : 0) +
                                                          (channel_sign < 0 ? (c - 1) * s : 0);
                            const char* row = mem.data() + origin;
                            std::vector<char> got(mem.size()), want(mem.size());
                            shuffle.copy(row, n, got.data());
                            for (std::size_t x = 0; x < n; ++x)
                                for (std::size_t k = 0; k < channels; ++k)
                                    std::memcpy(want.data() + (x * channels + k) * bytes,
                                                row + static_cast<std::ptrdiff_t>(x) * sx +
                                                    static_cast<std::ptrdiff_t>(k) * sc,
                                                bytes);
                            EXPECT_EQ(got, want) << tessarin::simd::name(v) << " bytes " << bytes << " channels "
                                                 << channels << " signs " << pixel_sign << channel_sign << " n " << n;
                        }
        if (v == tessarin::simd::Variant::Avx2 || v == tessarin::simd::Variant::Neon) {
            EXPECT_GT(shuffled, 0u);
        }
    }
}

// Interleaved runs equal the element-by-element copy for every element size
// and run length, in every variant, reading nothing outside the runs: each
// run is a buffer of exactly its own bytes (the sanitiser builds check).
TEST(Interleave, PutsThreeRunsSideBySide) {
    for (const auto v : tessarin::simd::supported())
        for (const std::size_t bytes : {1, 2, 4})
            for (const std::size_t n : {0, 1, 7, 8, 15, 16, 17, 33, 100}) {
                std::vector<std::vector<char>> runs(3, std::vector<char>(n * bytes));
                for (std::size_t k = 0; k < 3; ++k)
                    for (std::size_t i = 0; i < n * bytes; ++i) runs[k][i] = static_cast<char>(i * 29 + k * 101 + 3);
                const char* at[3] = {runs[0].data(), runs[1].data(), runs[2].data()};
                std::vector<char> got(3 * n * bytes), want(3 * n * bytes);
                tessarin::layout::interleave3(at, n, bytes, got.data(), v);
                for (std::size_t x = 0; x < n; ++x)
                    for (std::size_t k = 0; k < 3; ++k)
                        std::memcpy(want.data() + (x * 3 + k) * bytes, at[k] + x * bytes, bytes);
                EXPECT_EQ(got, want) << tessarin::simd::name(v) << " bytes " << bytes << " n " << n;
            }
}

}  // namespace
