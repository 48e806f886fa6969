// Which vector instruction set a kernel runs with.
//
// A kernel family (the level-line field's row loop, the downscale's row sums,
// the samplers' runs) has a plain scalar definition and, beside it, vector
// variants that give the same bits: each lane keeps the scalar order of
// operations, products and sums stay separate instructions (no fused
// multiply-add is ever enabled), and lanes never combine.
//
// Use:
//   - A caller asks simd::chosen() once per call (not per run of pixels) and
//     hands the variant to the kernels it runs.
//   - simd::supported() lists what this processor runs, scalar first and the
//     widest last; tests run every kernel in each and compare with scalar.
//   - simd::Forced pins chosen() to one variant for its lifetime (tests and
//     benchmarks); it refuses variants the processor lacks.
//   - Code for an instruction set beyond the build's baseline is marked with
//     TESSARIN_TARGET_AVX2 (one function) or lies between
//     TESSARIN_BEGIN_AVX2 and TESSARIN_END_AVX2 (a whole variant file); both
//     expand to nothing where no marking is needed (MSVC, other processors).
//     Inside such a region include no header that is not already included
//     above it: a library template first instantiated there would be compiled
//     for AVX2 and could be the copy the linker keeps for every unit.
//   - TESSARIN_SIMD_X86 (SSE2 and AVX2 intrinsics, from simd/x86.hpp) and
//     TESSARIN_SIMD_NEON (from simd/neon.hpp) say which variants this build
//     has code for; TESSARIN_FOR_EACH_VARIANT lists them.
//
// Every kernel family goes through one mechanism, kernels<Family, V> and
// pick<Family> below:
//   - A family is a struct of function pointers (its table), declared in the
//     family's header together with TESSARIN_DECLARE_KERNELS(Family).
//   - The kernels are written once, over a lane type (simd/lanes.hpp,
//     simd/bytes.hpp), in a header of the family that holds no intrinsics.
//   - Each variant has one file per family, named for its instruction set
//     (name_scalar.cpp or the family's own .cpp for scalar, name_sse2.cpp,
//     name_avx2.cpp, name_neon.cpp), which instantiates the kernels over its
//     lane type and defines kernels<Family, V>. A family with no form for
//     an instruction set gives it another variant's table there
//     (TESSARIN_KERNELS_AS).
//   - A caller takes simd::chosen() once per call and pick<Family>(variant)
//     for its table.
// Intrinsics appear only in src/simd and in the files named for their
// instruction set. Adding an instruction set means adding it here (the
// Variant, the probe, TESSARIN_FOR_EACH_VARIANT, its lane types) and one file
// per family.
//
// Processor features are probed once per process: SSE2 is the x86-64
// baseline, AVX2 is used when the processor and the operating system support
// it; NEON is always present on aarch64.
#pragma once

#include <cstdint>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64)
#define TESSARIN_SIMD_X86 1
#elif defined(__aarch64__) || defined(_M_ARM64)
#define TESSARIN_SIMD_NEON 1
#endif

// X(arg, V) for each variant V this build has code for, scalar first.
#if defined(TESSARIN_SIMD_X86)
#define TESSARIN_FOR_EACH_VARIANT(X, arg) X(arg, Scalar) X(arg, Sse2) X(arg, Avx2)
#elif defined(TESSARIN_SIMD_NEON)
#define TESSARIN_FOR_EACH_VARIANT(X, arg) X(arg, Scalar) X(arg, Neon)
#else
#define TESSARIN_FOR_EACH_VARIANT(X, arg) X(arg, Scalar)
#endif

// GCC and clang (clang-cl too) compile intrinsics only in functions marked
// for their instruction set; MSVC allows them anywhere.
#if defined(TESSARIN_SIMD_X86) && (defined(__GNUC__) || defined(__clang__))
#define TESSARIN_TARGET_AVX2 __attribute__((target("avx2")))
#if defined(__clang__)
#define TESSARIN_BEGIN_AVX2 \
    _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define TESSARIN_END_AVX2 _Pragma("clang attribute pop")
#else
#define TESSARIN_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define TESSARIN_END_AVX2 _Pragma("GCC pop_options")
#endif
#else
#define TESSARIN_TARGET_AVX2
#define TESSARIN_BEGIN_AVX2
#define TESSARIN_END_AVX2
#endif

// Asks GCC and clang to unroll the loop that follows n times; other compilers
// choose for themselves.
#if defined(__GNUC__)
#define TESSARIN_PRAGMA(text) _Pragma(#text)
#define TESSARIN_UNROLL(n) TESSARIN_PRAGMA(GCC unroll n)
#else
#define TESSARIN_UNROLL(n)
#endif

// Inlines a kernel's body into its loop whatever the compiler's size
// heuristics say: a group kernel called per few pixels spends a noticeable
// share of its time in the call and in spilling its vectors otherwise.
#if defined(_MSC_VER) && !defined(__clang__)
#define TESSARIN_ALWAYS_INLINE __forceinline
#elif defined(__GNUC__)
#define TESSARIN_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define TESSARIN_ALWAYS_INLINE inline
#endif

namespace tessarin::simd {

enum class Variant : std::uint8_t { Scalar, Sse2, Avx2, Neon };

// "scalar", "sse2", "avx2", "neon".
const char* name(Variant v);

// The variants this processor runs, scalar first, each wider one after.
const std::vector<Variant>& supported();

// Whether this processor runs v.
bool runs(Variant v);

// The variant kernels use: the widest supported one, unless a Forced is alive.
Variant chosen();

// Pins chosen() to `v` while it lives, when the processor runs v (ok() says
// whether it did); restores the previous choice after. Not for concurrent
// use with other Forced objects; calls running meanwhile see either choice.
class Forced {
public:
    explicit Forced(Variant v);
    ~Forced();
    Forced(const Forced&) = delete;
    Forced& operator=(const Forced&) = delete;
    bool ok() const { return ok_; }

private:
    int previous_;
    bool ok_;
};

// The table of kernel family `Family` for variant V: defined (explicitly
// specialised) once per variant in the family's file for that instruction
// set, declared for every variant by TESSARIN_DECLARE_KERNELS.
template <class Family, Variant V>
const Family& kernels();

// The table of `Family` for variant v, which the processor must run (callers
// pass simd::chosen(), taken once per call).
template <class Family>
const Family& pick(Variant v) {
    switch (v) {
#define TESSARIN_PICK_CASE(F, V) \
    case Variant::V: return kernels<F, Variant::V>();
        TESSARIN_FOR_EACH_VARIANT(TESSARIN_PICK_CASE, Family)
#undef TESSARIN_PICK_CASE
    default: break;
    }
    return kernels<Family, Variant::Scalar>();
}

}  // namespace tessarin::simd

// Declares kernels<Family, V> for every variant of the build; use it at
// namespace scope, after the family's table type (a fully qualified name).
#define TESSARIN_DECLARE_KERNELS_ONE(Family, V) \
    template <>                                 \
    const Family& ::tessarin::simd::kernels<Family, ::tessarin::simd::Variant::V>();
#define TESSARIN_DECLARE_KERNELS(Family) TESSARIN_FOR_EACH_VARIANT(TESSARIN_DECLARE_KERNELS_ONE, Family)

// Defines kernels<Family, V> as the table `table` (an expression of type
// const Family& or a Family with static storage).
#define TESSARIN_DEFINE_KERNELS(Family, V, ...)                                         \
    template <>                                                                          \
    const Family& ::tessarin::simd::kernels<Family, ::tessarin::simd::Variant::V>() {   \
        static constexpr Family table = __VA_ARGS__;                                     \
        return table;                                                                    \
    }

// Defines variant V's table of `Family` as variant Other's, for a family with
// no form of its own for V's instruction set.
#define TESSARIN_KERNELS_AS(Family, V, Other)                                            \
    template <>                                                                          \
    const Family& ::tessarin::simd::kernels<Family, ::tessarin::simd::Variant::V>() {   \
        return ::tessarin::simd::kernels<Family, ::tessarin::simd::Variant::Other>();   \
    }
