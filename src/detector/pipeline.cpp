#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "detector/angles.hpp"
#include "detector/saturate.hpp"
#include "detector/detector.hpp"
#include "detector/downscale.hpp"
#include "simd/fetch.hpp"
#include "detector/field.hpp"
#include "detector/nfa.hpp"
#include "detector/refine.hpp"
#include "detector/region.hpp"
#include "detector/testing.hpp"
#include "pool/platform.hpp"
#include "sample/pages.hpp"

namespace tessarin::detector {
namespace {

constexpr double start_p = 0.125;
constexpr double log10_11 = 1.0413926851582251;  // a run-time log10(11) is one ulp lower
constexpr double log10_8 = 0.9030899869919435;

// How many seeds ahead the seed loop fetches marks, and the field around
// seeds that are still free.
constexpr std::size_t mark_lead = 48;
constexpr std::size_t field_lead = 16;

// Asks for the cache lines that growing a region from pixel i reads first:
// the marks and records of its 3 × 3 window (both ends of each row, as a row
// of three records may straddle two lines).
inline void prefetch_neighbourhood(const Px* field, const std::uint8_t* used, std::size_t i, std::size_t w,
                                   std::size_t count) {
    if (i < w + 1 || i + w + 1 >= count) return;  // on the frame: rare, left to the cache
    for (std::size_t centre : {i - w, i, i + w}) {
        simd::fetch(used + centre);
        simd::fetch(field + centre - 1);
        simd::fetch(field + centre + 1);
    }
}

// Maps a double to an integer whose order is IEEE totalOrder.
std::int64_t total_order_key(double v) {
    auto bits = std::bit_cast<std::int64_t>(v);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

// Input samples as working values: doubles are read in place; other types
// are widened once into a buffer of their own, but only when the image is used
// at its own size (downscaling widens row by row as it reads).
template <class T>
class WorkingImage {
public:
    explicit WorkingImage(std::span<const T> pixels) : pixels_(pixels) {}

    // Storage that is fully written is not zero-filled first, here and below.
    sample::Pages downscaled(std::size_t width, std::size_t height, double scale) const {
        sample::Pages out(downscaled_size(width, scale) * downscaled_size(height, scale) * sizeof(double),
                          sample::Fill::any);
        downscale_into(pixels_.data(), width, height, scale, static_cast<double*>(out.data()));
        return out;
    }

    const double* full() {
        if constexpr (std::is_same_v<T, double>) {
            return pixels_.data();
        } else {
            const std::size_t count = pixels_.size();
            widened_ = sample::Pages(count * sizeof(double), sample::Fill::any);
            const T* src = pixels_.data();
            double* dst = static_cast<double*>(widened_.data());
            for (std::size_t i = 0; i < count; ++i) dst[i] = working_value(src[i]);
            return dst;
        }
    }

    // The widened image is read only until the field is made.
    void drop() { widened_.reset(); }

private:
    std::span<const T> pixels_;
    sample::Pages widened_;
};

// The field and the used marks live for the whole seed loop: one block holds
// both, the marks after the records (whose 12-byte size keeps them aligned).
struct FieldAndMarks {
    sample::Pages block;
    Px* field;
    std::uint8_t* used;

    explicit FieldAndMarks(std::size_t count)
        : block(count * (sizeof(Px) + 1), sample::Fill::any),
          field(static_cast<Px*>(block.data())),
          used(reinterpret_cast<std::uint8_t*>(field + count)) {}
};

template <class T>
std::vector<Segment> run(WorkingImage<T>& input, std::size_t width, std::size_t height, double scale) {
    std::vector<Segment> out;
    std::size_t w = width, h = height;
    if (scale < 1.0) {
        w = downscaled_size(width, scale);
        h = downscaled_size(height, scale);
        if (w < 3 || h < 3) return out;
    }
    // Both refusals come before any work or allocation.
    if (static_cast<std::uint64_t>(w) * h >= max_working_pixels)
        throw std::length_error("the working image has 2^32 pixels or more");
    // At its peak the detection holds the working image (8 bytes a pixel)
    // beside the field and its marks (13). Where the system would grant that
    // and end the process once it is touched, a detection that cannot fit is
    // refused as memory that cannot be had.
    const std::uint64_t limit = pool::platform::memory_bytes();
    if (limit != 0 && static_cast<std::uint64_t>(w) * h > limit / (sizeof(double) + sizeof(Px) + 1))
        throw std::bad_alloc();

    double inv_scale = 1.0;
    sample::Pages small;
    const double* image;
    if (scale < 1.0) {
        small = input.downscaled(width, height, scale);
        image = static_cast<const double*>(small.data());
        inv_scale = 1.0 / scale;
    } else {
        image = input.full();
    }

    const std::size_t count = w * h;
    FieldAndMarks buffers(count);
    const NormRange range = level_line_field_into(image, w, h, buffers.field);
    small.reset();  // the field is all that is read from here on
    input.drop();
    const std::span<const Px> field(buffers.field, count);
    const double nt = log_nt(w, h);
    const std::size_t min_size = min_region_size(nt);
    // The initial marks come from the same pass over the field as the seeds.
    std::vector<std::uint32_t> seeds = seeds_by_norm(field, grad_threshold, buffers.used, range);
    if (seeds.empty()) return out;
    const std::span<std::uint8_t> used(buffers.used, count);

    std::vector<std::uint32_t> region;
    RegionPoints points;
    Rect rect{};
    double angle_slot = 0.0;
    // Seeds come strongest first, scattered over the image, so each one's
    // mark and neighbourhood are usually far from the previous one's. Their
    // marks are fetched well ahead; the field around a seed that is still free
    // a little less far ahead, as growing it will read it.
    const std::size_t n_seeds = seeds.size();
    for (std::size_t si = 0; si < n_seeds; ++si) {
        if (si + mark_lead < n_seeds) simd::fetch(&used[seeds[si + mark_lead]]);
        if (si + field_lead < n_seeds) {
            const std::uint32_t ahead = seeds[si + field_lead];
            if (used[ahead] == 0) prefetch_neighbourhood(field.data(), used.data(), ahead, w, count);
        }
        const std::uint32_t s = seeds[si];
        if (used[s] != 0) continue;
        // Most regions stay too small to fit; only the others need an angle.
        const RegionSum sum = grow_region_sum(s, field, used, region, angle_tolerance, w, h);
        if (region.size() < min_size) continue;
        rect = region_to_rect(region, field, w, sum.angle(), start_p);
        if (!refine(region, angle_slot, rect, used, field, min_size, w, h, points)) continue;
        double log_nfa = improve_rect(rect, field, w, h, grad_threshold, nt);
        if (log_nfa <= 0.0) continue;
        out.push_back(Segment{(rect.x1 + 0.5) * inv_scale, (rect.y1 + 0.5) * inv_scale,
                              (rect.x2 + 0.5) * inv_scale, (rect.y2 + 0.5) * inv_scale,
                              rect.width * inv_scale, rect.p, log_nfa});
    }
    sort_longest_first(out);
    return out;
}

// Size checks shared by the four sample types; true when detection goes on.
bool checked(std::size_t len, std::size_t width, std::size_t height,
             sample::Result<std::vector<Segment>>& result) {
    const auto product = sample::checked_product({width, height});
    if (!product || len != *product) {
        result = sample::SizeMismatch{sample::saturating_product({width, height}), len};
        return false;
    }
    result = std::vector<Segment>{};
    return width >= 3 && height >= 3;
}

template <class T>
sample::Result<std::vector<Segment>> detect_samples(std::span<const T> pixels, std::size_t width,
                                                    std::size_t height, double scale) {
    sample::Result<std::vector<Segment>> result;
    if (!checked(pixels.size(), width, height, result)) return result;
    WorkingImage<T> input(pixels);
    result = run(input, width, height, scale);
    return result;
}

}  // namespace

double log_nt(std::size_t w, std::size_t h) {
    return (std::log10(static_cast<double>(w)) + std::log10(static_cast<double>(h))) * 2.5 + log10_11;
}

std::size_t min_region_size(double nt) { return saturating_word(std::ceil(nt / log10_8)); }

double segment_length(const Segment& s) { return std::hypot(s.x2 - s.x1, s.y2 - s.y1); }

void sort_longest_first(std::vector<Segment>& segments) {
    std::stable_sort(segments.begin(), segments.end(), [](const Segment& a, const Segment& b) {
        return total_order_key(segment_length(a)) > total_order_key(segment_length(b));
    });
}

sample::Result<std::vector<Segment>> detect(std::span<const std::uint8_t> pixels, std::size_t width,
                                            std::size_t height, double scale) {
    return detect_samples(pixels, width, height, scale);
}

sample::Result<std::vector<Segment>> detect(std::span<const std::uint16_t> pixels, std::size_t width,
                                            std::size_t height, double scale) {
    return detect_samples(pixels, width, height, scale);
}

sample::Result<std::vector<Segment>> detect(std::span<const float> pixels, std::size_t width,
                                            std::size_t height, double scale) {
    return detect_samples(pixels, width, height, scale);
}

sample::Result<std::vector<Segment>> detect(std::span<const double> pixels, std::size_t width,
                                            std::size_t height, double scale) {
    return detect_samples(pixels, width, height, scale);  // read in place, never copied
}

}  // namespace tessarin::detector
