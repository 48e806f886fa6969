#include "simd/dispatch.hpp"

#include <atomic>

#if defined(TESSARIN_SIMD_X86) && defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#include <immintrin.h>
#endif

namespace tessarin::simd {
namespace {

#if defined(TESSARIN_SIMD_X86)
// AVX2 needs the processor's instructions and an operating system that saves
// the 256-bit registers (XCR0 bits 1 and 2).
bool has_avx2() {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#elif defined(_MSC_VER)
    int r[4];
    __cpuid(r, 0);
    if (r[0] < 7) return false;
    __cpuid(r, 1);
    const bool osxsave = (r[2] & (1 << 27)) != 0, avx = (r[2] & (1 << 28)) != 0;
    if (!osxsave || !avx || (_xgetbv(0) & 6) != 6) return false;
    __cpuidex(r, 7, 0);
    return (r[1] & (1 << 5)) != 0;
#else
    return false;
#endif
}
#endif

std::vector<Variant> probe() {
    std::vector<Variant> v{Variant::Scalar};
#if defined(TESSARIN_SIMD_X86)
    v.push_back(Variant::Sse2);
    if (has_avx2()) v.push_back(Variant::Avx2);
#elif defined(TESSARIN_SIMD_NEON)
    v.push_back(Variant::Neon);
#endif
    return v;
}

constexpr int none = -1;
std::atomic<int> forced{none};

}  // namespace

const char* name(Variant v) {
    switch (v) {
    case Variant::Scalar: return "scalar";
    case Variant::Sse2: return "sse2";
    case Variant::Avx2: return "avx2";
    case Variant::Neon: return "neon";
    }
    return "unknown";
}

const std::vector<Variant>& supported() {
    static const std::vector<Variant> list = probe();
    return list;
}

bool runs(Variant v) {
    for (Variant s : supported())
        if (s == v) return true;
    return false;
}

Variant chosen() {
    static const Variant widest = supported().back();
    const int f = forced.load(std::memory_order_relaxed);
    return f == none ? widest : static_cast<Variant>(f);
}

Forced::Forced(Variant v) : previous_(forced.load(std::memory_order_relaxed)), ok_(runs(v)) {
    if (ok_) forced.store(static_cast<int>(v), std::memory_order_relaxed);
}

Forced::~Forced() {
    if (ok_) forced.store(previous_, std::memory_order_relaxed);
}

}  // namespace tessarin::simd
