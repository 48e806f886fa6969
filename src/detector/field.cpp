// Level-line field and seed ordering.
//
// The gradient of pixel (x, y) comes from the 2 × 2 block whose top-left
// sample is (x, y); its norm is the math library's hypot, and the direction is
// the unit gradient turned by +90 degrees. Rounding to 32-bit floats happens
// only when the record is written. block_record below is the definition; the
// vector variants (field_row.hpp) fall back on it pixel by pixel.
#include "detector/testing.hpp"
#include "detector/field.hpp"

#include <array>
#include <cmath>
#include <algorithm>
#include <limits>
#include <memory>

#include "pool/pool.hpp"
#include "sample/size_mismatch.hpp"


namespace tessarin::detector {
namespace field_detail {

// A norm that is zero, NaN, or infinite once rounded to 32 bits leaves the
// record all zero: such a pixel has no direction and never seeds or joins a
// region (an infinite norm would give NaN directions that pass every
// tolerance test).
Px block_record(const double* top, const double* bottom, std::size_t x) {
    const double i00 = top[x], i10 = top[x + 1], i01 = bottom[x], i11 = bottom[x + 1];
    const double gx = (((i10 + i11) - i00) - i01) * 0.5;
    const double gy = (((i01 + i11) - i00) - i10) * 0.5;
    if (gx == 0.0 && gy == 0.0) return Px{};  // hypot(±0, ±0) is +0
    const double n = std::hypot(gx, gy);
    const float norm = static_cast<float>(n);
    if (!(n > 0.0) || !std::isfinite(norm)) return Px{};
    return Px{norm, static_cast<float>(-gy / n), static_cast<float>(gx / n)};
}

}  // namespace field_detail

namespace {

void field_rows_scalar(const double* image, Px* field, std::size_t width, std::size_t begin, std::size_t end) {
    for (std::size_t y = begin; y < end; ++y) {
        const double* top = image + y * width;
        for (std::size_t x = 0; x + 1 < width; ++x) field[y * width + x] = field_detail::block_record(top, top + width, x);
    }
}

}  // namespace

}  // namespace tessarin::detector

TESSARIN_DEFINE_KERNELS(tessarin::detector::field_detail::FieldKernels, Scalar,
                        {tessarin::detector::field_rows_scalar})

namespace tessarin::detector {

namespace {

// Bin of a seed's norm relative to the maximum, in 32-bit arithmetic:
// truncated toward zero, negative and NaN quotients giving 0, at most 1023.
std::size_t norm_bin(float norm, float max_norm) {
    float q = (norm / max_norm) * 1023.0f;
    if (!(q > 0.0f)) return 0;
    if (q >= 1023.0f) return 1023;
    return static_cast<std::size_t>(q);
}

constexpr std::uint32_t bins = 1024;

// norm_bin for a seed, or `bins` for a pixel that is no seed, without
// branches: the seed test is unpredictable and a pixel in three or so is one.
// Field norms are never NaN or negative and never above the maximum, so the
// quotient lies in [0, 1023] and the truncation alone gives the bin.
inline std::uint32_t seed_bin(float norm, float max_norm, float threshold) {
    const float q = (norm / max_norm) * 1023.0f;
    const auto b = std::min(static_cast<std::uint32_t>(q), bins - 1);
    const std::uint32_t seed = 0u - static_cast<std::uint32_t>(norm > threshold);  // all ones or zero
    return (b & seed) | (bins & ~seed);
}

}  // namespace

// The maximum of a set does not depend on the order it is taken in (NaN is
// never taken, and +0 stays ahead of an equal -0 from any start of +0), so
// four running maxima break the dependency chain of a single one, and the
// range of a field is that of its rows' ranges.
NormRange norm_range(std::span<const Px> field) {
    float m[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    bool plain[4] = {true, true, true, true};
    const std::size_t count = field.size();
    std::size_t i = 0;
    auto take = [&](std::size_t j, float v) {
        m[j] = v > m[j] ? v : m[j];
        plain[j] &= v >= 0.0f && v <= std::numeric_limits<float>::max();  // false for NaN
    };
    for (; i + 4 <= count; i += 4)
        for (std::size_t j = 0; j < 4; ++j) take(j, field[i + j].norm);
    for (; i < count; ++i) take(0, field[i].norm);
    NormRange r{m[0], plain[0]};
    for (std::size_t j = 1; j < 4; ++j) {
        r.max = m[j] > r.max ? m[j] : r.max;
        r.plain &= plain[j];
    }
    return r;
}

namespace {

NormRange widest(NormRange a, NormRange b) { return NormRange{b.max > a.max ? b.max : a.max, a.plain && b.plain}; }

}  // namespace

std::vector<Px> level_line_field(const double* image, std::size_t width, std::size_t height) {
    std::vector<Px> field(width * height);
    level_line_field_into(image, width, height, field.data());
    return field;
}

NormRange level_line_field_into(const double* image, std::size_t width, std::size_t height, Px* field) {
    if (width < 2 || height < 2) {
        std::fill(field, field + width * height, Px{});
        return NormRange{0.0f, true};
    }
    std::vector<NormRange> row_range(height);
    // One item per row; the storage is not zero-filled, so every record is
    // written, the zero ones too. The last row has no block below it and the
    // last column none to its right.
    const auto rows = simd::pick<field_detail::FieldKernels>(simd::chosen()).rows;
    // A record (a hypot and two divisions) costs about as much as 16 taps.
    pool::parallel_for(height, sample::saturating_product({width, 16}), [&](std::size_t begin, std::size_t end) {
        const std::size_t blocks_end = std::min(end, height - 1);
        if (begin < blocks_end) rows(image, field, width, begin, blocks_end);
        for (std::size_t y = begin; y < end; ++y) {
            Px* out = field + y * width;
            if (y + 1 == height)
                std::fill(out, out + width, Px{});
            else
                out[width - 1] = Px{};
            row_range[y] = norm_range(std::span<const Px>(out, width));
        }
    });
    NormRange r{0.0f, true};
    for (const NormRange& row : row_range) r = widest(r, row);
    return r;
}

std::vector<std::uint32_t> seeds_by_norm(std::span<const Px> field, float threshold) {
    return seeds_by_norm(field, threshold, nullptr);
}

std::vector<std::uint32_t> seeds_by_norm(std::span<const Px> field, float threshold, std::uint8_t* marks) {
    return seeds_by_norm(field, threshold, marks, norm_range(field));
}

std::vector<std::uint32_t> seeds_by_norm(std::span<const Px> field, float threshold, std::uint8_t* marks,
                                         NormRange range) {
    std::vector<std::uint32_t> seeds;
    // Plain variables, not a structured binding: lambdas below capture them.
    const float max_norm = range.max;
    const bool plain = range.plain;
    auto mark = [&](std::size_t i) {
        if (marks != nullptr) marks[i] = field[i].norm <= threshold ? 1 : 0;
    };
    if (!(max_norm > 0.0f)) {
        for (std::size_t i = 0; i < field.size(); ++i) mark(i);
        return seeds;
    }
    // A field with other norms than level_line_field makes (hand-made ones)
    // takes the general bin computation.
    auto bin_of = [&](const Px& p) -> std::uint32_t {
        if (plain) return seed_bin(p.norm, max_norm, threshold);
        return p.norm > threshold ? static_cast<std::uint32_t>(norm_bin(p.norm, max_norm)) : bins;
    };

    // Every pixel's bin first (`bins` for a pixel that is no seed), a pass
    // without dependencies between pixels that the compiler vectorises; then
    // the seeds in ascending index order with their bins, gathered in place
    // (entry n <= i is written after entry i is read) without a branch per
    // pixel (a pixel in three or so is a seed, unpredictably). The scratch
    // is not zero-filled: only the part that is written is read.
    const std::size_t count = field.size();
    std::unique_ptr<std::uint16_t[]> found_bin(new std::uint16_t[count]);
    if (plain) {
        for (std::size_t i = 0; i < count; ++i)
            found_bin[i] = static_cast<std::uint16_t>(seed_bin(field[i].norm, max_norm, threshold));
    } else {
        for (std::size_t i = 0; i < count; ++i) found_bin[i] = static_cast<std::uint16_t>(bin_of(field[i]));
    }
    std::unique_ptr<std::uint32_t[]> found(new std::uint32_t[count]);
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t b = found_bin[i];
        found[n] = static_cast<std::uint32_t>(i);
        found_bin[n] = b;
        n += static_cast<std::size_t>(b != bins);
    }
    if (marks != nullptr)
        for (std::size_t i = 0; i < count; ++i) mark(i);

    // A counting sort: the 1024 bins inside one list, strongest bin first,
    // each keeping ascending indices.
    std::array<std::size_t, bins> start{};
    for (std::size_t j = 0; j < n; ++j) ++start[found_bin[j]];
    std::size_t total = 0;
    for (std::size_t b = bins; b-- > 0;) {
        std::size_t c = start[b];
        start[b] = total;
        total += c;
    }
    seeds.resize(n);
    for (std::size_t j = 0; j < n; ++j) seeds[start[found_bin[j]]++] = found[j];
    return seeds;
}

}  // namespace tessarin::detector
