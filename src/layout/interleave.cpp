#include "layout/interleave.hpp"

#include <cstring>

namespace tessarin::layout {

namespace interleave_detail {

void one_by_one(const char* const* runs, std::size_t begin, std::size_t end, std::size_t bytes, char* out) {
    for (std::size_t x = begin; x < end; ++x)
        for (std::size_t k = 0; k < 3; ++k) std::memcpy(out + (x * 3 + k) * bytes, runs[k] + x * bytes, bytes);
}

namespace {

template <std::size_t S>
void runs_scalar(const char* const* runs, std::size_t n, char* out) {
    one_by_one(runs, 0, n, S, out);
}

}  // namespace
}  // namespace interleave_detail

bool interleaves_in_vectors(std::size_t bytes, simd::Variant v) {
    return (bytes == 1 || bytes == 2) && simd::pick<InterleaveKernels>(v).in_vectors;
}

void interleave3(const char* const* runs, std::size_t n, std::size_t bytes, char* out, simd::Variant v) {
    const InterleaveKernels& k = simd::pick<InterleaveKernels>(v);
    if (bytes == 1)
        k.bytes1(runs, n, out);
    else if (bytes == 2)
        k.bytes2(runs, n, out);
    else
        interleave_detail::one_by_one(runs, 0, n, bytes, out);
}

}  // namespace tessarin::layout

TESSARIN_DEFINE_KERNELS(tessarin::layout::InterleaveKernels, Scalar,
                        {tessarin::layout::interleave_detail::runs_scalar<1>,
                         tessarin::layout::interleave_detail::runs_scalar<2>, false})
