// The transposing copy's scalar table: the element loop, which every other
// variant's tiles must match byte for byte.
#include "layout/transpose.hpp"
#include "layout/transpose_tile.hpp"

namespace tessarin::layout::transpose_detail {
namespace {

template <std::size_t S>
void columns_scalar(const char* first, const std::ptrdiff_t* offsets, std::size_t count, std::size_t rows, char* out,
                    std::size_t row_bytes) {
    elements<S>(first, offsets, 0, count, 0, rows, out, row_bytes);
}

}  // namespace
}  // namespace tessarin::layout::transpose_detail

TESSARIN_DEFINE_KERNELS(tessarin::layout::TransposeKernels, Scalar,
                        {{tessarin::layout::transpose_detail::columns_scalar<1>,
                          tessarin::layout::transpose_detail::columns_scalar<2>,
                          tessarin::layout::transpose_detail::columns_scalar<4>,
                          tessarin::layout::transpose_detail::columns_scalar<8>}})
