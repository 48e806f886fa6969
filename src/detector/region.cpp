// Region growing and rectangle fit.
#include "detector/region.hpp"
#include "detector/testing.hpp"

#include <cmath>

#include "detector/angles.hpp"
#include "simd/fetch.hpp"

namespace tessarin::detector {
namespace {

// The running state of a growing region: the sum S of its unit vectors and the
// least dot product a newcomer needs, T = hypot(Sx, Sy) * cos(tolerance).
//
// After each pixel taken, T is first only estimated, from sqrt(Sx² + Sy²),
// which is several times cheaper than hypot. The estimate and the hypot value
// are within a few units in the last place of each other (S is a sum of unit
// vectors: no overflow, and no underflow, its non-zero components being at
// least 2^-149), so a dot product farther than 2^-44 relative from the
// estimate is on the same side of both; only one closer than that makes T be
// computed exactly. The decisions, and so the region, are those of T itself.
struct Growth {
    double sx, sy;
    double cos_tol;
    double threshold;  // T, or its estimate while `exact` is false
    bool exact;

    // Whether T > d, the rejection test.
    bool below_threshold(double d) {
        if (!exact) {
            const double margin = std::fabs(threshold) * 0x1p-44 + 0x1p-1000;
            if (d < threshold - margin) return true;
            if (d > threshold + margin) return false;
            threshold = std::hypot(sx, sy) * cos_tol;
            exact = true;
        }
        return threshold > d;
    }

    // Takes pixel n into the region when its direction is within the
    // tolerance of the region's current direction.
    bool offer(std::size_t n, std::span<const Px> field, std::span<std::uint8_t> used,
               std::vector<std::uint32_t>& region) {
        if (used[n] != 0) return false;
        double vx = field[n].ux, vy = field[n].uy;
        double d = sx * vx + sy * vy;
        if (below_threshold(d)) return false;  // may still join later from another pixel
        used[n] = 1;
        region.push_back(static_cast<std::uint32_t>(n));
        sx += vx;
        sy += vy;
        threshold = std::sqrt(sx * sx + sy * sy) * cos_tol;
        exact = false;
        return true;
    }
};

// A pixel taken from the row above or below q reads, when its turn comes,
// the row beyond that one, which the region has not touched yet: the records
// of columns x - 2 .. x + 2 there (any taken pixel's window lies within
// them; 60 bytes, so at most two cache lines, both ends requested) and the
// marks around x are requested now, while the pixels queued before it are
// visited. Rows the region already reads are in the cache anyway.
inline void fetch_window_row(std::span<const Px> field, std::span<const std::uint8_t> used, std::size_t centre) {
    const std::size_t last = centre + 2 < field.size() ? centre + 2 : field.size() - 1;
    simd::fetch(field.data() + (centre >= 2 ? centre - 2 : 0));
    simd::fetch(reinterpret_cast<const char*>(field.data() + last + 1) - 1);
    simd::fetch(used.data() + centre);
}

// The cosine of the pipeline's tolerance, that of every first growth, is
// computed once.
double cos_of(double tolerance) {
    static const double cos_first = std::cos(angle_tolerance);
    return tolerance == angle_tolerance ? cos_first : std::cos(tolerance);
}

}  // namespace

double RegionSum::angle() const { return std::atan2(sy, sx); }

double grow_region(std::uint32_t seed, std::span<const Px> field, std::span<std::uint8_t> used,
                   std::vector<std::uint32_t>& region, double tolerance, std::size_t width,
                   std::size_t height) {
    return grow_region_sum(seed, field, used, region, tolerance, width, height).angle();
}

RegionSum grow_region_sum(std::uint32_t seed, std::span<const Px> field, std::span<std::uint8_t> used,
                          std::vector<std::uint32_t>& region, double tolerance, std::size_t width,
                          std::size_t height) {
    region.clear();
    region.push_back(seed);
    used[seed] = 1;
    const double c = cos_of(tolerance);
    // The seed's vector counts as unit length, so the first threshold is c.
    Growth g{field[seed].ux, field[seed].uy, c, c, true};

    const PixelGrid grid(width);
    // Breadth-first: the list grows while it is walked. The neighbours of a
    // pixel are visited row by row, left to right; S and the threshold change
    // with every pixel taken, so this order decides the region.
    for (std::size_t i = 0; i < region.size(); ++i) {
        const std::uint32_t q = region[i];
        const auto [x, y] = grid.xy(q);
        if (x >= 1 && y >= 1 && x + 1 < width && y + 1 < height) {
            const std::size_t up = q - width, down = q + width;
            bool took_up = g.offer(up - 1, field, used, region);
            took_up |= g.offer(up, field, used, region);
            took_up |= g.offer(up + 1, field, used, region);
            if (took_up && y >= 2) fetch_window_row(field, used, up - width);
            g.offer(q - 1, field, used, region);
            g.offer(q + 1, field, used, region);
            bool took_down = g.offer(down - 1, field, used, region);
            took_down |= g.offer(down, field, used, region);
            took_down |= g.offer(down + 1, field, used, region);
            if (took_down && y + 2 < height) fetch_window_row(field, used, down + width);
            continue;
        }
        // On the image frame: the 3 × 3 window clipped to the image. The
        // centre is in the region already, hence used, and is skipped.
        const std::size_t y0 = y > 0 ? y - 1 : 0, y1 = y + 1 < height ? y + 1 : y;
        const std::size_t x0 = x > 0 ? x - 1 : 0, x1 = x + 1 < width ? x + 1 : x;
        for (std::size_t ny = y0; ny <= y1; ++ny)
            for (std::size_t nx = x0; nx <= x1; ++nx) g.offer(ny * width + nx, field, used, region);
    }
    return RegionSum{g.sx, g.sy};
}

namespace {

struct Point {
    double x, y, w;
};

// The rectangle of the n points that point(k) gives, k = 0 .. n-1, in that
// order (the sums run in it).
template <class PointAt>
Rect fit(std::size_t n, PointAt point, double angle, double p) {
    // Weighted centroid, the gradient norms as weights.
    double sum_w = 0.0, sum_wx = 0.0, sum_wy = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const Point q = point(k);
        sum_w += q.w;
        sum_wx += q.w * q.x;
        sum_wy += q.w * q.y;
    }
    const double cx = sum_wx / sum_w, cy = sum_wy / sum_w;

    // Second moments about the centroid. m starts at +0 and each term is
    // subtracted as it comes, so a one-row region keeps m = +0 and its axis
    // comes out at theta = pi.
    double a = 0.0, b = 0.0, m = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const Point q = point(k);
        double ddx = q.x - cx;
        double ddy = q.y - cy;
        a = a + q.w * (ddy * ddy);
        b = b + q.w * (ddx * ddx);
        m = m - (q.w * ddx) * ddy;
    }

    // Principal axis: the eigenvector of the smaller eigenvalue, taken from
    // the better conditioned of the two rows.
    const double lambda = 0.5 * ((a + b) - std::sqrt((a - b) * (a - b) + 4.0 * (m * m)));
    double theta = std::fabs(a - lambda) > std::fabs(b - lambda) ? std::atan2(lambda - a, m)
                                                                   : std::atan2(m, lambda - b);

    // The axis is known only up to its sense; point it like the region's
    // level lines.
    const double e = wrap_angle(theta - angle);
    if (std::fabs(e) > pi_over_8) theta = theta + pi;
    const double dx = std::cos(theta), dy = std::sin(theta);

    // Extents along and across the axis through the centroid.
    double l_min = 0.0, l_max = 0.0, w_min = 0.0, w_max = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const Point q = point(k);
        double ddx = q.x - cx;
        double ddy = q.y - cy;
        double l = ddx * dx + ddy * dy;
        double t = ddy * dx - ddx * dy;
        if (l < l_min) l_min = l;
        if (l > l_max) l_max = l;
        if (t < w_min) w_min = t;
        if (t > w_max) w_max = t;
    }
    const double spread = w_max - w_min;

    Rect r;
    r.x1 = cx + l_min * dx;
    r.y1 = cy + l_min * dy;
    r.x2 = cx + l_max * dx;
    r.y2 = cy + l_max * dy;
    r.width = spread > 1.0 ? spread : 1.0;
    r.dx = dx;
    r.dy = dy;
    r.prec = pi_over_8;
    r.p = p;
    return r;
}

}  // namespace

Rect region_to_rect(std::span<const std::uint32_t> region, std::span<const Px> field,
                    std::size_t width, double angle, double p) {
    const PixelGrid grid(width);
    return fit(
        region.size(),
        [&](std::size_t k) {
            const std::uint32_t i = region[k];
            const auto [x, y] = grid.xy(i);
            return Point{static_cast<double>(x), static_cast<double>(y), static_cast<double>(field[i].norm)};
        },
        angle, p);
}

void RegionPoints::assign(std::span<const std::uint32_t> region, std::span<const Px> field, std::size_t width) {
    const PixelGrid grid(width);
    x_.resize(region.size());
    y_.resize(region.size());
    w_.resize(region.size());
    for (std::size_t k = 0; k < region.size(); ++k) {
        const std::uint32_t i = region[k];
        const auto [x, y] = grid.xy(i);
        x_[k] = static_cast<double>(x);
        y_[k] = static_cast<double>(y);
        w_[k] = static_cast<double>(field[i].norm);
    }
}

Rect points_to_rect(const RegionPoints& points, double angle, double p) {
    return fit(
        points.size(), [&](std::size_t k) { return Point{points.x(k), points.y(k), points.w(k)}; }, angle, p);
}

}  // namespace tessarin::detector
