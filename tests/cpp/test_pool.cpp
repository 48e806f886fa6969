#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "pool/pool.hpp"
#include "pool/testing.hpp"

namespace pool = tessarin::pool;

namespace {

// Restores the default pool size after each test.
class PoolTest : public ::testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override { pool::set_workers(GetParam()); }
    void TearDown() override { pool::set_workers(0); }
};

// A row result that depends only on the row, so any division must agree.
std::vector<std::uint64_t> fill_rows(std::size_t rows) {
    std::vector<std::uint64_t> out(rows, 0);
    pool::parallel_for(rows, [&](std::size_t begin, std::size_t end) {
        for (std::size_t r = begin; r < end; ++r) out[r] = r * 2654435761u + 17;
    });
    return out;
}

}  // namespace

TEST_P(PoolTest, VisitsEveryRowExactlyOnce) {
    for (std::size_t rows : {0u, 1u, 2u, 3u, 7u, 64u, 1000u, 4099u}) {
        std::vector<std::atomic<int>> visits(rows);
        pool::parallel_for(rows, [&](std::size_t begin, std::size_t end) {
            ASSERT_LE(begin, end);
            ASSERT_LE(end, rows);
            for (std::size_t r = begin; r < end; ++r) visits[r].fetch_add(1);
        });
        for (std::size_t r = 0; r < rows; ++r) ASSERT_EQ(visits[r].load(), 1) << "rows " << rows << " row " << r;
    }
}

TEST_P(PoolTest, ConcurrentCallersEachFinishTheirOwnLoop) {
    constexpr int callers = 8;
    std::vector<std::thread> threads;
    std::vector<int> ok(callers, 0);
    const auto expected = fill_rows(777);
    for (int t = 0; t < callers; ++t) {
        threads.emplace_back([&, t] {
            bool all = true;
            for (int round = 0; round < 50; ++round) all = all && fill_rows(777) == expected;
            ok[t] = all ? 1 : 0;
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < callers; ++t) EXPECT_EQ(ok[t], 1) << "caller " << t;
}

TEST_P(PoolTest, ThrowingRowReachesTheCaller) {
    std::atomic<int> after{0};
    EXPECT_THROW(pool::parallel_for(500,
                                    [&](std::size_t begin, std::size_t end) {
                                        for (std::size_t r = begin; r < end; ++r)
                                            if (r == 321) throw std::bad_alloc();
                                        after.fetch_add(1);
                                    }),
                 std::bad_alloc);
    // The pool stays usable after a failed loop.
    EXPECT_EQ(fill_rows(100).size(), 100u);
}

INSTANTIATE_TEST_SUITE_P(Workers, PoolTest, ::testing::Values(1, 2, 7));

TEST(Pool, ResultsDoNotDependOnWorkerCount) {
    std::vector<std::vector<std::uint64_t>> results;
    for (std::size_t n : {1u, 2u, 7u}) {
        pool::set_workers(n);
        EXPECT_EQ(pool::workers(), n);
        results.push_back(fill_rows(1234));
    }
    pool::set_workers(0);
    EXPECT_GE(pool::workers(), 1u);
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
}

// Rows that replace the pool they run on, from a nested loop as well: the
// replaced pool must be released by a thread other than its own workers (a
// worker that joined itself would end the process), and every row still
// runs exactly once.
TEST(Pool, RowsMayReplaceThePoolTheyRunOn) {
    constexpr std::size_t outer = 48, inner = 9;
    std::vector<std::atomic<int>> visits(outer * inner);
    auto loop = [&] {
        pool::parallel_for(outer, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r) {
                pool::set_workers(1 + r % 3);
                pool::parallel_for(inner, [&](std::size_t b, std::size_t e) {
                    for (std::size_t i = b; i < e; ++i) {
                        if (i == 4) pool::set_workers(2);
                        visits[r * inner + i].fetch_add(1);
                    }
                });
            }
        });
    };
    pool::set_workers(3);
    std::thread other(loop);
    loop();
    other.join();
    pool::set_workers(0);
    for (std::size_t i = 0; i < visits.size(); ++i) ASSERT_EQ(visits[i].load(), 2) << "row " << i / inner;
}

// A loop whose work is below the threshold runs as one range on the calling
// thread; above it, or with a cost of 0 (unknown), it is shared out. The
// pool's own loops prove that the results do not change either way.
TEST(Pool, SmallWorkStaysOnTheCallingThread) {
    pool::set_workers(2);
    const std::size_t before = pool::set_inline_work(1000);
    struct Range {
        std::size_t begin, end;
        std::thread::id thread;
    };
    auto ranges_of = [](std::size_t rows, std::size_t cost) {
        std::vector<Range> seen;
        std::mutex m;
        pool::parallel_for(rows, cost, [&](std::size_t begin, std::size_t end) {
            std::lock_guard<std::mutex> lock(m);
            seen.push_back({begin, end, std::this_thread::get_id()});
        });
        return seen;
    };
    const auto small = ranges_of(99, 10);  // 990 taps
    ASSERT_EQ(small.size(), 1u);
    EXPECT_EQ(small[0].begin, 0u);
    EXPECT_EQ(small[0].end, 99u);
    EXPECT_EQ(small[0].thread, std::this_thread::get_id());
    EXPECT_GT(ranges_of(100, 10).size(), 1u);  // 1000 taps
    EXPECT_GT(ranges_of(99, 0).size(), 1u);
    // A product that would wrap to a small number saturates instead.
    EXPECT_GT(ranges_of(4, std::numeric_limits<std::size_t>::max() / 2 + 1).size(), 1u);
    pool::set_inline_work(before);
    pool::set_workers(0);
}
