// Region growing and rectangle fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "detector/types.hpp"

namespace tessarin::detector {

// The sum S of a region's unit vectors; the region angle is atan2(Sy, Sx).
struct RegionSum {
    double sx, sy;
    double angle() const;
};

// Empties `region`, grows it from `seed` (first entry), marks its pixels used
// and returns the sum of its unit vectors, whose angle() is the region angle
// in radians: a caller that needs the angle of only some regions skips the
// atan2 for the others.
RegionSum grow_region_sum(std::uint32_t seed, std::span<const Px> field, std::span<std::uint8_t> used,
                          std::vector<std::uint32_t>& region, double tolerance, std::size_t width,
                          std::size_t height);

// The rectangle of a non-empty region.
Rect region_to_rect(std::span<const std::uint32_t> region, std::span<const Px> field,
                    std::size_t width, double angle, double p);

// A region's pixels as the fit reads them, in list order: column, row and
// weight (the gradient norm), widened to doubles once. Refinement fits the
// same region again after each few pixels it drops; from these the fit reads
// three arrays instead of dividing each index by the width and gathering its
// norm from the field on every pass.
class RegionPoints {
public:
    // The points of `region`, entry for entry.
    void assign(std::span<const std::uint32_t> region, std::span<const Px> field, std::size_t width);
    std::size_t size() const { return x_.size(); }
    double x(std::size_t k) const { return x_[k]; }
    double y(std::size_t k) const { return y_[k]; }
    double w(std::size_t k) const { return w_[k]; }
    // Moves the last point into position k and drops the last, as the region
    // list drops its entry k.
    void remove(std::size_t k) {
        x_[k] = x_.back();
        y_[k] = y_.back();
        w_[k] = w_.back();
        x_.pop_back();
        y_.pop_back();
        w_.pop_back();
    }

private:
    std::vector<double> x_, y_, w_;
};

// region_to_rect of the region whose points these are, to the bit: both run
// one definition of the fit over the same values in the same order.
Rect points_to_rect(const RegionPoints& points, double angle, double p);

}  // namespace tessarin::detector
