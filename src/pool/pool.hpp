// The process-wide worker pool that runs the per-row loops.
//
// One pool serves every caller thread. A loop's row range is divided by
// recursive halving into pieces; workers and the calling thread claim pieces
// until none is left, and the caller returns only when every row is done.
// Each piece must write only its own rows, so no result depends on how many
// workers there are or in which order pieces finish.
//
// A loop whose whole work is small runs on the calling thread alone, without
// waking the pool (or making it): handing rows to the workers and waiting for
// them costs some ten microseconds, more than sharing a small loop saves.
// The work is counted in taps, one sample times one weight added up (a
// quarter of a nanosecond, give or take, in the vector loops); each loop
// states the cost of one of its rows.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

namespace tessarin::pool {

using RowFn = void (*)(void* ctx, std::size_t begin, std::size_t end);

// Runs fn(ctx, begin, end) over disjoint ranges covering [0, rows) and blocks
// until all are done. The first exception thrown by a piece is rethrown here
// once every started piece has finished; pieces not yet started are skipped.
// Loops of rows * row_cost taps below inline_work() run as one range on the
// calling thread; row_cost 0 (unknown) always shares the rows.
void run_rows(std::size_t rows, std::size_t row_cost, RowFn fn, void* ctx);

// Taps below which a loop runs on the calling thread.
std::size_t inline_work();

// body(begin, end) for disjoint ranges covering [0, rows), each row costing
// about row_cost taps.
template <class F>
void parallel_for(std::size_t rows, std::size_t row_cost, F&& body) {
    using Body = std::remove_reference_t<F>;
    run_rows(
        rows, row_cost,
        [](void* ctx, std::size_t begin, std::size_t end) { (*static_cast<Body*>(ctx))(begin, end); },
        const_cast<void*>(static_cast<const void*>(&body)));
}

// The same for rows of unknown cost: always shared among the workers.
template <class F>
void parallel_for(std::size_t rows, F&& body) {
    parallel_for(rows, 0, std::forward<F>(body));
}

}  // namespace tessarin::pool
