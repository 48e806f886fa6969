#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "sample/buffer.hpp"
#include "sample/pages.hpp"

namespace {

using tessarin::sample::Fill;
using tessarin::sample::Pages;

// Heap blocks, mapped blocks, and mapped blocks large enough for huge pages.
class PagesSizes : public ::testing::TestWithParam<std::size_t> {};

TEST_P(PagesSizes, ZeroedWritableAlignedAndFreedBySelf) {
    const std::size_t bytes = GetParam();
    for (int round = 0; round < 3; ++round) {  // reused heap memory must be cleared too
        Pages z(bytes, Fill::zero);
        ASSERT_NE(z.data(), nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(z.data()) % 16, 0u);
        auto* p = static_cast<unsigned char*>(z.data());
        for (std::size_t i = 0; i < bytes; i += 4093) ASSERT_EQ(p[i], 0) << i;
        ASSERT_EQ(p[bytes - 1], 0);
        std::memset(p, 0xA5, bytes);  // the whole block is ours
        Pages any(bytes, Fill::any);
        std::memset(any.data(), 0x5A, bytes);
    }
    // Ownership handed over is freed by free_pages alone.
    Pages z(bytes, Fill::zero);
    tessarin::sample::free_pages(z.release());
    EXPECT_EQ(z.data(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PagesSizes,
                         ::testing::Values(std::size_t{1}, std::size_t{4096},
                                           std::size_t{5} << 20, tessarin::sample::mapped_from - 1,
                                           tessarin::sample::mapped_from, tessarin::sample::mapped_from + 4099));

TEST(Pages, SizesThatCannotBeHadThrowBadAlloc) {
    EXPECT_THROW(Pages(std::numeric_limits<std::size_t>::max(), Fill::any), std::bad_alloc);
    EXPECT_THROW(Pages(std::numeric_limits<std::size_t>::max() / 2 + 1, Fill::zero), std::bad_alloc);
    EXPECT_THROW(Pages(std::size_t{1} << 62, Fill::zero), std::bad_alloc);
}

TEST(Pages, BufferReleasesStorageThatFreePagesTakes) {
    auto b = tessarin::sample::Buffer<std::uint16_t>::zeroed(3 << 20);
    EXPECT_EQ(b[(3 << 20) - 1], 0);
    tessarin::sample::free_pages(b.release());
    EXPECT_TRUE(b.empty());
}

}  // namespace
