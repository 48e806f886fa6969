// The layout copies' kernel families: every variant's table against the
// scalar one, byte for byte, around the vector width and with odd tails; and
// the byte lane concepts, which must refuse a lane type missing an operation.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "layout/interleave.hpp"
#include "layout/row_shuffle.hpp"
#include "layout/transpose.hpp"
#include "simd/bytes.hpp"
#include "simd/dispatch.hpp"
#include "variants.hpp"

namespace {

using tessarin::simd::Variant;

// A lane type of plain bytes, with every operation but the shuffles, and
// types that lack one operation each: the concepts must tell them apart.
struct PlainBytes {
    using V = std::array<unsigned char, 16>;
    static constexpr std::size_t bytes = 16;
    static V load(const void* p) {
        V v;
        std::memcpy(v.data(), p, 16);
        return v;
    }
    static void store(void* p, V a) { std::memcpy(p, a.data(), 16); }
    template <std::size_t S>
    static V zip_low(V a, V b) { return zip<S>(a, b, 0); }
    template <std::size_t S>
    static V zip_high(V a, V b) { return zip<S>(a, b, 8 / S); }
    template <std::size_t S>
    static V zip(V a, V b, std::size_t from) {
        V r;
        for (std::size_t i = 0; i < 8 / S; ++i) {
            std::memcpy(r.data() + 2 * i * S, a.data() + (from + i) * S, S);
            std::memcpy(r.data() + (2 * i + 1) * S, b.data() + (from + i) * S, S);
        }
        return r;
    }
};

struct PlainShuffleBytes : PlainBytes {
    static V shuffle(V a, V m) {
        V r;
        for (std::size_t j = 0; j < 16; ++j) r[j] = a[m[j]];
        return r;
    }
    template <std::size_t S>
    static void store3(void* p, V a, V b, V c) {
        const V* v[3] = {&a, &b, &c};
        for (std::size_t i = 0; i < 16 / S; ++i)
            for (std::size_t k = 0; k < 3; ++k) std::memcpy(static_cast<char*>(p) + (3 * i + k) * S, v[k]->data() + i * S, S);
    }
};

struct NoStore3 : PlainBytes {
    static V shuffle(V a, V) { return a; }
};

struct LoadsAndStoresOnly {
    using V = std::array<unsigned char, 16>;
    static constexpr std::size_t bytes = 16;
    static V load(const void*) { return {}; }
    static void store(void*, V) {}
};

static_assert(tessarin::simd::ByteLanes<PlainBytes>);
static_assert(!tessarin::simd::ByteShuffleLanes<PlainBytes>, "no shuffle");
static_assert(tessarin::simd::ByteShuffleLanes<PlainShuffleBytes>);
static_assert(!tessarin::simd::ByteShuffleLanes<NoStore3>, "no interleaving store");
static_assert(!tessarin::simd::ByteLanes<LoadsAndStoresOnly>, "no zips");

std::vector<char> pattern(std::size_t size, unsigned seed) {
    std::vector<char> v(size);
    for (std::size_t i = 0; i < size; ++i) v[i] = static_cast<char>(i * 131 + i / 7 + seed * 29 + 3);
    return v;
}

class ByteKernels : public ::testing::TestWithParam<Variant> {};

// Columns at unrelated, unaligned places (one of them reversed in position
// order) into output rows wider than the block, with a guard around it:
// every element size, column counts and row counts below, at and past a
// tile's side and its double, and the width of a copy's block (its own path).
template <std::size_t S>
void check_columns(Variant v) {
    using tessarin::layout::TransposeKernels;
    const auto got_kernel = tessarin::simd::pick<TransposeKernels>(v).columns_of<S>();
    const auto want_kernel = tessarin::simd::pick<TransposeKernels>(Variant::Scalar).columns_of<S>();
    constexpr std::size_t n = 16 / S;
    const std::vector<char> src = pattern(64 * 1024, S);
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, n - 1, n, n + 1, 2 * n + 1,
                                     TransposeKernels::block_columns})
        for (const std::size_t rows : {std::size_t{0}, std::size_t{1}, n - 1, n, n + 1, 2 * n + 3, std::size_t{37}}) {
            std::vector<std::ptrdiff_t> offsets(count);
            for (std::size_t q = 0; q < count; ++q)
                offsets[q] = static_cast<std::ptrdiff_t>(((count - q) * 997) % 4000 + (q & 1) * 3) - 500;
            const char* first = src.data() + 600;
            const std::size_t row_bytes = count * S + 7;
            std::vector<char> got(rows * row_bytes + 2, 'g'), want(got);
            got_kernel(first, offsets.data(), count, rows, got.data() + 1, row_bytes);
            want_kernel(first, offsets.data(), count, rows, want.data() + 1, row_bytes);
            EXPECT_EQ(got, want) << S << "-byte elements, " << count << " columns, " << rows << " rows";
        }
}

TEST_P(ByteKernels, TransposeColumnsMatchTheElementLoop) {
    TESSARIN_RUN_VARIANT(GetParam());
    check_columns<1>(GetParam());
    check_columns<2>(GetParam());
    check_columns<4>(GetParam());
    check_columns<8>(GetParam());
}

// Masks of every kind a row takes (reversed pixels of 1 to 4 bytes, swapped
// channels, bytes repeated) over runs of windows moving either way, the
// output windows apart, adjacent or overlapping.
TEST_P(ByteKernels, RowShuffleWindowsMatchTheByteLoop) {
    TESSARIN_RUN_VARIANT(GetParam());
    using tessarin::layout::RowShuffleKernels;
    const auto got_kernel = tessarin::simd::pick<RowShuffleKernels>(GetParam()).windows;
    const auto want_kernel = tessarin::simd::pick<RowShuffleKernels>(Variant::Scalar).windows;
    std::vector<std::array<unsigned char, 16>> masks(4);
    for (std::size_t j = 0; j < 16; ++j) {
        masks[0][j] = static_cast<unsigned char>(15 - j);
        masks[1][j] = static_cast<unsigned char>((15 - j / 4) * 4 % 16 + j % 4);
        masks[2][j] = static_cast<unsigned char>(j < 15 ? (j / 3) * 3 + 2 - j % 3 : 15);
        masks[3][j] = static_cast<unsigned char>((j * 7) % 5);
    }
    const std::vector<char> src = pattern(4096, 5);
    for (const auto& mask : masks)
        for (const std::ptrdiff_t in_step : {16, 12, -15, -16})
            for (const std::ptrdiff_t out_step : {16, 12, 15, 20})
                for (const std::ptrdiff_t count : {0, 1, 2, 7}) {
                    std::vector<char> got(200, 'g'), want(got);
                    got_kernel(src.data() + 2000, in_step, mask.data(), got.data() + 3, out_step, count);
                    want_kernel(src.data() + 2000, in_step, mask.data(), want.data() + 3, out_step, count);
                    EXPECT_EQ(got, want) << "steps " << in_step << " " << out_step << " count " << count;
                }
}

// Runs at unrelated, unaligned places, lengths below, at and past a step of
// 16 bytes, 1- and 2-byte elements.
TEST_P(ByteKernels, InterleaveMatchesTheElementLoop) {
    TESSARIN_RUN_VARIANT(GetParam());
    using tessarin::layout::InterleaveKernels;
    const InterleaveKernels& got_kernels = tessarin::simd::pick<InterleaveKernels>(GetParam());
    const InterleaveKernels& want_kernels = tessarin::simd::pick<InterleaveKernels>(Variant::Scalar);
    const std::vector<char> src = pattern(4096, 9);
    const char* runs[3] = {src.data() + 1001, src.data() + 3, src.data() + 2050};
    for (const std::size_t bytes : {1, 2})
        for (const std::size_t n : {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 100}) {
            const auto got_kernel = bytes == 1 ? got_kernels.bytes1 : got_kernels.bytes2;
            const auto want_kernel = bytes == 1 ? want_kernels.bytes1 : want_kernels.bytes2;
            std::vector<char> got(3 * n * bytes + 2, 'g'), want(got);
            got_kernel(runs, n, got.data() + 1);
            want_kernel(runs, n, want.data() + 1);
            EXPECT_EQ(got, want) << bytes << "-byte elements, n " << n;
        }
}

INSTANTIATE_TEST_SUITE_P(Variants, ByteKernels, tessarin::testing::every_variant, tessarin::testing::variant_name);

}  // namespace
