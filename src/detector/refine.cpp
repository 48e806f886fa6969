// Refinement of sparse regions and the local search for a better rectangle.
#include "detector/refine.hpp"
#include "detector/testing.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "detector/angles.hpp"
#include "detector/nfa.hpp"
#include "detector/region.hpp"

namespace tessarin::detector {
namespace {

constexpr double min_density = 0.7;
constexpr double radius_factor = 0.75;
constexpr int trials_per_phase = static_cast<int>(tolerance_trials);

// 0.5^j for the whole j = 1 to 5 of a phase: exact powers of two, the same
// values pow gives, without calling it.
double halvings(double j) {
    static constexpr double table[trials_per_phase + 1] = {1.0, 0.5, 0.25, 0.125, 0.0625, 0.03125};
    return j >= 0.0 && j <= trials_per_phase && j == static_cast<int>(j) ? table[static_cast<int>(j)]
                                                                           : std::pow(0.5, j);
}

// Pixels per unit of rectangle area, the area taken as at least 1.
double density(std::size_t count, const Rect& r) {
    const double len = std::hypot(r.x2 - r.x1, r.y2 - r.y1);
    return static_cast<double>(count) / std::max(len * r.width, 1.0);
}

bool dense_enough(std::size_t count, const Rect& r) { return density(count, r) >= min_density; }

// Distance between a pixel and the seed, hypot of the integer coordinate
// differences, as far as comparisons with a radius go. The square of the
// distance is an exact integer, so its square root is the correctly rounded
// distance, within a few units in the last place of hypot's value: a radius
// farther than 2^-44 relative from it is on the same side of both, and only a
// closer one asks hypot itself.
struct PixelDistance {
    PixelGrid grid;
    std::int64_t sx, sy;

    PixelDistance(std::uint32_t seed, std::size_t width) : grid(width) {
        const auto [x, y] = grid.xy(seed);
        sx = static_cast<std::int64_t>(x);
        sy = static_cast<std::int64_t>(y);
    }

    double exact(std::int64_t dx, std::int64_t dy) const {
        return std::hypot(static_cast<double>(dx), static_cast<double>(dy));
    }

    // -1, 0 or +1 as the distance of pixel i is below, equal to or above r
    // (0 also when either is NaN, which answers false to both tests below).
    int compare(std::uint32_t i, double r) const {
        const auto [x, y] = grid.xy(i);
        return compare_at(static_cast<std::int64_t>(x), static_cast<std::int64_t>(y), r);
    }

    // The same for the pixel at column x, row y.
    int compare_at(std::int64_t x, std::int64_t y, double r) const {
        const std::int64_t dx = x - sx, dy = y - sy;
        double d;
        const std::int64_t limit = std::int64_t{1} << 25;  // squares stay below 2^52
        if (dx > -limit && dx < limit && dy > -limit && dy < limit) {
            const double s = std::sqrt(static_cast<double>(dx * dx + dy * dy));
            const double margin = s * 0x1p-44;
            if (s < r - margin) return -1;
            if (s > r + margin) return 1;
            d = exact(dx, dy);
        } else {
            d = exact(dx, dy);
        }
        return d < r ? -1 : d > r ? 1 : 0;
    }

    bool closer_than(std::uint32_t i, double r) const { return compare(i, r) < 0; }
};

double direction_of(const Px& px) {
    return std::atan2(static_cast<double>(px.uy), static_cast<double>(px.ux));
}

// Twice the standard deviation of the level-line angles, taken relative to the
// seed's, of the region pixels closer to the seed than the rectangle is wide.
double tolerance_near_seed(std::span<const std::uint32_t> region, std::span<const Px> field, const Rect& r,
                           std::size_t width) {
    const PixelDistance dist(region[0], width);
    const double seed_angle = direction_of(field[region[0]]);
    double sum = 0.0, sum_sq = 0.0, count = 0.0;
    for (std::uint32_t i : region) {
        if (!dist.closer_than(i, r.width)) continue;
        const double e = wrap_angle(direction_of(field[i]) - seed_angle);
        sum += e;
        sum_sq += e * e;
        count += 1.0;
    }
    const double mean = sum / count;
    return 2.0 * std::sqrt(std::max(sum_sq / count - mean * mean, 0.0));
}

// Drops, by moving the last entry into their place, the pixels farther than
// `radius` from the seed and frees their marks; `points` (the region's, entry
// for entry) drops the same entries in the same way. The seed stays first.
void drop_beyond(std::vector<std::uint32_t>& region, RegionPoints& points, std::span<std::uint8_t> used,
                 const PixelDistance& dist, double radius) {
    std::size_t k = 0;
    while (k < region.size()) {
        const auto x = static_cast<std::int64_t>(points.x(k)), y = static_cast<std::int64_t>(points.y(k));
        if (dist.compare_at(x, y, radius) > 0) {
            used[region[k]] = 0;
            region[k] = region.back();
            region.pop_back();
            points.remove(k);
        } else {
            ++k;
        }
    }
}

// One search phase of improve_rect: scores the trials made from `start` by
// `make(j, trial)` for j = 1..5 (stopping at the first one `make` refuses) and
// keeps a trial only when it scores strictly better than the best so far.
struct Search {
    Rect& rect;
    std::span<const Px> field;
    std::size_t width, height;
    float grad_threshold;
    double log_nt;
    double best;

    double score(const Rect& r) const { return rect_log_nfa(r, field, width, height, grad_threshold, log_nt); }

    template <class Make>
    void phase(Make make) {
        const Rect start = rect;
        for (int j = 1; j <= trials_per_phase; ++j) {
            Rect trial = start;
            if (!make(static_cast<double>(j), trial)) return;
            const double s = score(trial);
            if (s > best) {
                best = s;
                rect = trial;
            }
        }
    }

    // Halve p (and the angle tolerance with it) j times. The five trials share
    // the rectangle's geometry, so one counting pass gives all their counts;
    // each is then scored and kept exactly as phase() would.
    void finer_precision() {
        const Rect start = rect;
        std::array<Rect, tolerance_trials> trials;
        std::array<double, tolerance_trials> precs;
        for (std::size_t j = 0; j < tolerance_trials; ++j) {
            trials[j] = start;
            trials[j].p = start.p * halvings(static_cast<double>(j + 1));
            trials[j].prec = pi * trials[j].p;
            precs[j] = trials[j].prec;
        }
        std::array<std::size_t, tolerance_trials> k;
        const std::size_t n = count_aligned_tolerances(start, precs, field, width, height, grad_threshold, k);
        for (std::size_t j = 0; j < tolerance_trials; ++j) {
            const double s = binomial_log_nfa(n, k[j], trials[j].p, log_nt);
            if (s > best) {
                best = s;
                rect = trials[j];
            }
        }
    }

    void narrower() {
        const double w0 = rect.width;
        phase([w0](double j, Rect& t) {
            const double w = w0 - 0.5 * j;
            if (!(w >= 0.5)) return false;
            t.width = w;
            return true;
        });
    }

    // Keep one long side in place and bring the other in by 0.5 per trial: the
    // centre line moves by (step_x, step_y) and the width drops by 0.5.
    void move_side(double step_x, double step_y) {
        const double w0 = rect.width;
        phase([w0, step_x, step_y](double j, Rect& t) {
            const double w = w0 - 0.5 * j;
            if (!(w >= 0.5)) return false;
            t.x1 = t.x1 + j * step_x;
            t.y1 = t.y1 + j * step_y;
            t.x2 = t.x2 + j * step_x;
            t.y2 = t.y2 + j * step_y;
            t.width = w;
            return true;
        });
    }
};

}  // namespace

bool refine(std::vector<std::uint32_t>& region, double& angle_slot, Rect& rect, std::span<std::uint8_t> used,
            std::span<const Px> field, std::size_t min_region_size, std::size_t width, std::size_t height) {
    RegionPoints points;
    return refine(region, angle_slot, rect, used, field, min_region_size, width, height, points);
}

bool refine(std::vector<std::uint32_t>& region, double& angle_slot, Rect& rect, std::span<std::uint8_t> used,
            std::span<const Px> field, std::size_t min_region_size, std::size_t width, std::size_t height,
            RegionPoints& points) {
    if (region.empty()) return false;
    if (dense_enough(region.size(), rect)) return true;

    // Regrow from the seed with a tolerance that fits the directions around it.
    const std::uint32_t seed = region[0];
    const double tolerance = tolerance_near_seed(region, field, rect, width);
    for (std::uint32_t i : region) used[i] = 0;
    const double angle = grow_region_sum(seed, field, used, region, tolerance, width, height).angle();
    angle_slot = angle;
    if (region.size() < min_region_size) return false;
    // From here on the region is fitted again after every shrink: from its
    // points, which give region_to_rect's bits.
    points.assign(region, field, width);
    rect = points_to_rect(points, angle, rect.p);
    if (dense_enough(region.size(), rect)) return true;

    // Still too sparse: shrink around the seed until dense enough or too small.
    const PixelDistance dist(region[0], width);
    const double sx = static_cast<double>(dist.sx), sy = static_cast<double>(dist.sy);
    const double to_first = std::hypot(sx - rect.x1, sy - rect.y1), to_second = std::hypot(sx - rect.x2, sy - rect.y2);
    // A radius that is not a finite number never drops a pixel, so the loop
    // below would not end; such end points come only from unusable weights.
    if (!std::isfinite(to_first) || !std::isfinite(to_second)) return false;
    double radius = std::max(to_first, to_second);
    while (true) {
        radius = radius * radius_factor;
        drop_beyond(region, points, used, dist, radius);
        if (region.size() < min_region_size) return false;
        rect = points_to_rect(points, angle, rect.p);
        if (dense_enough(region.size(), rect)) return true;
    }
}

double improve_rect(Rect& rect, std::span<const Px> field, std::size_t width, std::size_t height,
                    float grad_threshold, double log_nt) {
    Search search{rect, field, width, height, grad_threshold, log_nt, 0.0};
    search.best = search.score(rect);
    if (search.best > 0.0) return search.best;

    search.finer_precision();
    if (search.best > 0.0) return search.best;

    search.narrower();
    if (search.best > 0.0) return search.best;

    search.move_side(0.25 * -rect.dy, 0.25 * rect.dx);
    if (search.best > 0.0) return search.best;

    search.move_side(0.25 * rect.dy, 0.25 * -rect.dx);
    if (search.best > 0.0) return search.best;

    search.finer_precision();
    return search.best;
}

}  // namespace tessarin::detector
