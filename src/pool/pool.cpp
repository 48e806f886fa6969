#include "pool/pool.hpp"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "pool/platform.hpp"
#include "pool/testing.hpp"

namespace tessarin::pool {
namespace {

struct Piece {
    std::size_t begin;
    std::size_t end;
};

// One call of run_rows. It lives on the caller's stack; the caller leaves only
// after every claimed piece has reported back, and pieces are claimed under
// the pool's lock while the job is still queued, so no worker touches a job
// that is gone.
struct Job {
    RowFn fn;
    void* ctx;
    std::vector<Piece> pieces;
    std::size_t next = 0;  // guarded by the pool's lock

    std::mutex done_mutex;
    std::condition_variable done_cv;
    std::size_t finished = 0;  // guarded by done_mutex
    std::exception_ptr error;  // the first failure, guarded by done_mutex

    void run_piece(std::size_t i) noexcept {
        bool skip;
        {
            std::lock_guard<std::mutex> lock(done_mutex);
            skip = error != nullptr;
        }
        std::exception_ptr failure;
        if (!skip) {
            try {
                fn(ctx, pieces[i].begin, pieces[i].end);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        std::lock_guard<std::mutex> lock(done_mutex);
        if (failure && !error) error = failure;
        if (++finished == pieces.size()) done_cv.notify_all();
    }
};

void halve(std::vector<Piece>& out, std::size_t begin, std::size_t end, std::size_t grain) {
    if (end - begin <= grain) {
        out.push_back({begin, end});
        return;
    }
    std::size_t mid = begin + (end - begin) / 2;
    halve(out, begin, mid, grain);
    halve(out, mid, end, grain);
}

class Pool {
public:
    explicit Pool(std::size_t n) {
        threads_.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            try {
                threads_.emplace_back([this] { work(); });
            } catch (...) {
                break;  // fewer workers; the calling threads still do all the work
            }
        }
    }

    ~Pool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        for (auto& t : threads_) t.join();
    }

    std::size_t size() const { return threads_.size(); }

    bool is_worker(std::thread::id id) const {
        for (const auto& t : threads_)
            if (t.get_id() == id) return true;
        return false;
    }

    // Lets the workers end on their own without anyone joining them; the
    // pool itself must then never be freed.
    void abandon() noexcept {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        for (auto& t : threads_) t.detach();
    }

    void run(Job& job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(&job);
        }
        cv_.notify_all();
        // The caller works on its own job too, so a loop always progresses
        // even when every worker is busy with other callers' loops.
        for (;;) {
            std::size_t i = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!claim(job, i)) break;
            }
            job.run_piece(i);
        }
        std::unique_lock<std::mutex> lock(job.done_mutex);
        job.done_cv.wait(lock, [&] { return job.finished == job.pieces.size(); });
    }

private:
    // Takes the next piece of `job`; dequeues the job with its last piece.
    // Called with mutex_ held.
    bool claim(Job& job, std::size_t& i) {
        if (job.next >= job.pieces.size()) return false;
        i = job.next++;
        if (job.next == job.pieces.size()) {
            for (auto it = queue_.begin(); it != queue_.end(); ++it) {
                if (*it == &job) {
                    queue_.erase(it);
                    break;
                }
            }
        }
        return true;
    }

    void work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            cv_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            Job* job = queue_.front();
            std::size_t i = 0;
            claim(*job, i);
            lock.unlock();
            job->run_piece(i);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Job*> queue_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// Frees a pool nothing refers to any more. A thread cannot join itself, so
// when the last reference goes on one of the pool's own workers (a row that
// replaced the pool while a loop of its own was still using it), a new
// thread joins the workers once that row is over; failing that, the pool is
// left to end by itself and never freed.
void release(Pool* pool) noexcept {
    if (!pool->is_worker(std::this_thread::get_id())) {
        delete pool;
        return;
    }
    try {
        std::thread([pool] { delete pool; }).detach();
    } catch (...) {
        pool->abandon();
    }
}

// The pool and the size it is (or will be) built with. The pool is made on
// first use. A child process after fork() has none of the parent's threads:
// it abandons the inherited pool without touching it and builds its own.
std::mutex g_mutex;
std::shared_ptr<Pool> g_pool;
std::size_t g_requested = 0;  // 0: one worker per processor
std::once_flag g_atfork_once;

void before_fork() { g_mutex.lock(); }
void after_fork_parent() { g_mutex.unlock(); }
void after_fork_child() {
    // Leak the inherited pool: its threads do not exist here, so it can be
    // neither joined nor destroyed.
    if (g_pool) new std::shared_ptr<Pool>(std::move(g_pool));
    g_pool.reset();
    g_mutex.unlock();
}

std::size_t target_size() { return g_requested != 0 ? g_requested : platform::processors(); }

// Called with g_mutex held.
std::shared_ptr<Pool> current_locked() {
    if (!g_pool) g_pool = std::shared_ptr<Pool>(new Pool(target_size()), release);
    return g_pool;
}

void watch_fork() {
    std::call_once(g_atfork_once, [] { platform::at_fork(before_fork, after_fork_parent, after_fork_child); });
}

std::shared_ptr<Pool> current() {
    watch_fork();
    std::lock_guard<std::mutex> lock(g_mutex);
    return current_locked();
}

// A hand-off to the workers and the wait for them cost 10-20 us on a 2-core
// EPYC (a bilinear 64 x 64 RGB warp took 31-35 us shared, 22 us alone), so
// sharing a loop between two threads pays from about twice that on: some
// 2^18 taps, a bilinear RGB warp of 114 x 114 pixels. On a busy machine
// bench/bench_small.py finds the two equal near 128 x 128 and sharing 15%
// faster at 192 x 192.
constexpr std::size_t default_inline_work = std::size_t{1} << 18;
std::atomic<std::size_t> g_inline_work{default_inline_work};

// rows * row_cost, saturated.
std::size_t work_of(std::size_t rows, std::size_t row_cost) {
    if (row_cost != 0 && rows > static_cast<std::size_t>(-1) / row_cost) return static_cast<std::size_t>(-1);
    return rows * row_cost;
}

}  // namespace

std::size_t inline_work() { return g_inline_work.load(std::memory_order_relaxed); }

std::size_t set_inline_work(std::size_t taps) { return g_inline_work.exchange(taps); }

void run_rows(std::size_t rows, std::size_t row_cost, RowFn fn, void* ctx) {
    if (rows == 0) return;
    if (rows == 1 || (row_cost != 0 && work_of(rows, row_cost) < inline_work())) {
        fn(ctx, 0, rows);
        return;
    }
    std::shared_ptr<Pool> pool = current();
    std::size_t threads = pool->size() + 1;
    if (pool->size() == 0) {
        fn(ctx, 0, rows);
        return;
    }
    // About four pieces per thread balance uneven rows without much locking.
    std::size_t grain = (rows + 4 * threads - 1) / (4 * threads);
    Job job;
    job.fn = fn;
    job.ctx = ctx;
    job.pieces.reserve(8 * threads);
    halve(job.pieces, 0, rows, grain);
    pool->run(job);
    if (job.error) std::rethrow_exception(job.error);
}

std::size_t workers() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_pool ? g_pool->size() : target_size();
}

void set_workers(std::size_t n) {
    watch_fork();
    std::shared_ptr<Pool> old;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_requested = n;
        old = std::move(g_pool);
        g_pool.reset();
    }
    // `old` is released here, or by the last loop still running on it.
}

}  // namespace tessarin::pool
