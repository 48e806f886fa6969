#include "pool/platform.hpp"

#include <thread>

#if defined(__linux__)
#include <sched.h>
#include <sys/sysinfo.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#elif defined(__APPLE__)
#include <sys/sysctl.h>
#include <unistd.h>
#elif defined(_WIN32)
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // processor groups: Windows 7 and later
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#endif

namespace tessarin::pool::platform {
namespace {

std::size_t fallback() {
    unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

#if defined(__linux__)

// Processors in the affinity mask; the mask grows until the kernel's fits.
std::size_t affinity() {
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr) break;
        const std::size_t bytes = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(bytes, set);
        const int rc = sched_getaffinity(0, bytes, set);
        const int n = rc == 0 ? CPU_COUNT_S(bytes, set) : 0;
        const bool too_small = rc != 0 && errno == EINVAL;
        CPU_FREE(set);
        if (n > 0) return static_cast<std::size_t>(n);
        if (!too_small) break;
    }
    return fallback();
}

// Whole processors of a quota of `quota` microseconds per `period`
// microseconds, rounded up; 0 when the numbers are no limit.
std::size_t quota_processors(double quota, double period) {
    if (!(quota > 0.0) || !(period > 0.0)) return 0;
    const double n = std::ceil(quota / period);
    return n < 1.0 ? 1 : n > 1e6 ? 0 : static_cast<std::size_t>(n);
}

// The tightest CPU quota on the way from this process's cgroup to the root
// of the hierarchy (the kernel enforces every level), 0 when there is none.
std::size_t cgroup_quota() {
    std::ifstream self("/proc/self/cgroup");
    std::string line;
    std::size_t best = 0;
    auto take = [&best](std::size_t n) {
        if (n != 0 && (best == 0 || n < best)) best = n;
    };
    while (std::getline(self, line)) {
        // hierarchy-id:controllers:path
        const auto a = line.find(':');
        const auto b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        std::string path = line.substr(b + 1);
        std::string mount;
        bool v2 = controllers.empty();
        if (v2) {
            mount = "/sys/fs/cgroup";
        } else {
            std::stringstream list(controllers);
            std::string c;
            bool cpu = false;
            while (std::getline(list, c, ',')) cpu = cpu || c == "cpu";
            if (!cpu) continue;
            mount = "/sys/fs/cgroup/" + controllers;
            if (!std::ifstream(mount + "/cpu.cfs_quota_us")) mount = "/sys/fs/cgroup/cpu";
        }
        for (;;) {
            const std::string dir = mount + (path == "/" ? "" : path);
            if (v2) {
                // "max 100000" or "<quota> <period>"
                std::ifstream f(dir + "/cpu.max");
                std::string q;
                double period = 0.0;
                if (f >> q >> period && q != "max") take(quota_processors(std::strtod(q.c_str(), nullptr), period));
            } else {
                std::ifstream fq(dir + "/cpu.cfs_quota_us"), fp(dir + "/cpu.cfs_period_us");
                double quota = 0.0, period = 0.0;
                if (fq >> quota && fp >> period) take(quota_processors(quota, period));
            }
            if (path.empty() || path == "/") break;
            const auto slash = path.find_last_of('/');
            path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
        }
    }
    return best;
}

#endif

}  // namespace

std::size_t processors() {
#if defined(__linux__)
    const std::size_t n = affinity();
    const std::size_t quota = cgroup_quota();
    return quota != 0 && quota < n ? quota : n;
#elif defined(__APPLE__)
    int n = 0;
    std::size_t size = sizeof(n);
    if (sysctlbyname("hw.activecpu", &n, &size, nullptr, 0) == 0 && n > 0) return static_cast<std::size_t>(n);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::size_t>(online) : fallback();
#elif defined(_WIN32)
    // A process that spans processor groups has an affinity mask for its
    // first group only; it may use every active processor.
    if (GetActiveProcessorGroupCount() <= 1) {
        DWORD_PTR process = 0, system = 0;
        if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
            std::size_t n = 0;
            for (; process != 0; process &= process - 1) ++n;
            return n;
        }
    }
    const DWORD n = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return n > 0 ? static_cast<std::size_t>(n) : fallback();
#else
    return fallback();
#endif
}

std::uint64_t memory_bytes() {
#if defined(__linux__)
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return 0;
    return (static_cast<std::uint64_t>(info.totalram) + info.totalswap) * info.mem_unit;
#else
    return 0;
#endif
}

void at_fork(void (*prepare)(), void (*parent)(), void (*child)()) {
#if defined(__unix__) || defined(__APPLE__)
    pthread_atfork(prepare, parent, child);
#else
    (void)prepare;
    (void)parent;
    (void)child;
#endif
}

}  // namespace tessarin::pool::platform
