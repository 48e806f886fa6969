// What the worker pool needs from the operating system, behind one small
// interface so that the pool itself is standard C++.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessarin::pool::platform {

// Processors this process may actually use: on Linux the process's affinity
// mask, lowered to a cgroup CPU quota when one is set; on macOS the active
// processors; on Windows the processors in the process's affinity mask (all
// active ones when the process spans several processor groups). At least 1.
std::size_t processors();

// Bytes of memory the system can back for a process at most, where it grants
// allocations before their pages exist and ends a process that touches more
// than there is (Linux: the machine's RAM and swap); 0 where no such bound is
// known, the other systems failing an allocation they cannot back.
std::uint64_t memory_bytes();

// Registers handlers around fork(): `prepare` runs in the forking thread
// before the fork, `parent` and `child` after it in each process. Where the
// system has no fork() this does nothing.
void at_fork(void (*prepare)(), void (*parent)(), void (*child)());

}  // namespace tessarin::pool::platform
