// Level-line field and seed ordering.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "detector/types.hpp"
#include "simd/dispatch.hpp"

namespace tessarin::detector {

// The largest norm of a field, NaN never winning (0 for a field without a
// positive norm), and whether every norm is finite and not negative, as in
// any field level_line_field makes.
struct NormRange {
    float max;
    bool plain;
};

NormRange norm_range(std::span<const Px> field);

// The level-line field of a width × height image (the last row and the last
// column all zero) into caller storage of width × height records, every one of
// which is written (the storage need not be initialised). Rows are computed on
// the worker pool; each worker also takes the norm range of the rows it wrote,
// while they are in its cache, and the result is norm_range of the whole field.
NormRange level_line_field_into(const double* image, std::size_t width, std::size_t height, Px* field);

// Indices of the pixels whose norm exceeds `threshold`, strongest bins first,
// for a field whose norm_range is `range`; also writes marks[i] = 1 where the
// norm is at most `threshold` and 0 elsewhere (the initial used marks), in
// the same pass over the field. marks holds field.size() bytes; it may be null.
std::vector<std::uint32_t> seeds_by_norm(std::span<const Px> field, float threshold, std::uint8_t* marks,
                                         NormRange range);

namespace field_detail {

// The record of the block whose top-left sample is top[x], with `bottom` the
// next image row, by the defining arithmetic (hypot).
Px block_record(const double* top, const double* bottom, std::size_t x);

// The field's row kernel, one table per variant (simd::pick): rows [begin,
// end) of the field of a width-wide image (width >= 2), writing records 0 to
// width - 2 of each row and leaving the last column to the caller. Every
// variant gives the records of block_record. The scalar table is the
// definition itself (field.cpp); the vector ones run field_row.hpp over their
// lane type (field_sse2.cpp, field_avx2.cpp, field_neon.cpp).
struct FieldKernels {
    void (*rows)(const double* image, Px* field, std::size_t width, std::size_t begin, std::size_t end);
};

}  // namespace field_detail

}  // namespace tessarin::detector

TESSARIN_DECLARE_KERNELS(tessarin::detector::field_detail::FieldKernels)
