// Entry points of the worker pool for tests and benchmarks only.
#pragma once

#include <cstddef>

namespace tessarin::pool {

// Number of worker threads the pool has or will start with.
std::size_t workers();

// Replaces the pool by one with n workers (0: one per processor this process
// may use). Meant for tests that compare results across pool sizes; loops
// already running finish on the old workers. May be called from anywhere,
// a row of a running loop included.
void set_workers(std::size_t n);

// Sets the work (in taps) below which loops run on the calling thread alone,
// and returns the previous value: 0 shares every loop among the workers, the
// largest word keeps every loop on its caller. For tests that compare the
// two paths, and benchmarks that find where they cross.
std::size_t set_inline_work(std::size_t taps);

}  // namespace tessarin::pool
