// A request for the cache line that holds an address, ahead of its use.
#pragma once

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <xmmintrin.h>
#endif

namespace tessarin::simd {

// A cache-line request the compiler may not drop (it does drop plain
// prefetches whose only use sits behind a test). Only a hint: it never
// faults, and where no instruction is known it does nothing.
inline void fetch(const void* p) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#elif defined(__GNUC__)
    __builtin_prefetch(p);
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
    _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
#else
    (void)p;  // no portable prefetch: callers only run a little slower
#endif
}

}  // namespace tessarin::simd
