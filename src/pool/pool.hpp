// The process-wide worker pool that runs the per-row loops.
//
// One pool serves every caller thread. A loop's row range is divided by
// recursive halving into pieces; workers and the calling thread claim pieces
// until none is left, and the caller returns only when every row is done.
// Each piece must write only its own rows, so no result depends on how many
// workers there are or in which order pieces finish.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

namespace tessarin::pool {

using RowFn = void (*)(void* ctx, std::size_t begin, std::size_t end);

// Runs fn(ctx, begin, end) over disjoint ranges covering [0, rows) and blocks
// until all are done. The first exception thrown by a piece is rethrown here
// once every started piece has finished; pieces not yet started are skipped.
void run_rows(std::size_t rows, RowFn fn, void* ctx);

// body(begin, end) for disjoint ranges covering [0, rows).
template <class F>
void parallel_for(std::size_t rows, F&& body) {
    using Body = std::remove_reference_t<F>;
    run_rows(
        rows,
        [](void* ctx, std::size_t begin, std::size_t end) { (*static_cast<Body*>(ctx))(begin, end); },
        const_cast<void*>(static_cast<const void*>(&body)));
}

}  // namespace tessarin::pool
