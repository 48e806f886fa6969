// Scoring of candidate rectangles: count the pixels inside a rectangle and the
// aligned ones among them, then take the binomial tail of that count under the
// background model of independent pixel directions.
#include "detector/saturate.hpp"
#include "detector/nfa.hpp"
#include "detector/testing.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tessarin::detector {
namespace {

constexpr double ln_10 = 2.302585092994046;

// Everything the pixel walk needs from a rectangle, computed once per call.
struct Frame {
    double cx, cy;  // centre
    double hl, hw;  // half-length, half-width
    double dx, dy;  // direction
    std::size_t x_lo, x_hi, y_lo, y_hi;  // clamped bounding box, inclusive
    float cp;       // cosine of the angle tolerance
    float fx, fy;   // direction in 32-bit floats
    float grad_threshold;
    bool empty;     // the clamped box holds no pixel
};

Frame frame_of(const Rect& r, std::size_t width, std::size_t height, float grad_threshold) {
    Frame f{};
    f.cx = (r.x1 + r.x2) * 0.5;
    f.cy = (r.y1 + r.y2) * 0.5;
    const double len = std::hypot(r.x2 - r.x1, r.y2 - r.y1);
    f.hl = len * 0.5;
    f.hw = r.width * 0.5;
    f.dx = r.dx;
    f.dy = r.dy;
    const double ex = f.hl * std::fabs(r.dx) + f.hw * std::fabs(r.dy);
    const double ey = f.hl * std::fabs(r.dy) + f.hw * std::fabs(r.dx);
    if (width == 0 || height == 0) {
        f.empty = true;
        return f;
    }
    f.x_lo = saturating_word(std::floor(f.cx - ex));
    f.x_hi = std::min(saturating_word(std::ceil(f.cx + ex)), width - 1);
    f.y_lo = saturating_word(std::floor(f.cy - ey));
    f.y_hi = std::min(saturating_word(std::ceil(f.cy + ey)), height - 1);
    f.empty = f.y_lo > f.y_hi || f.x_lo > f.x_hi;
    f.cp = static_cast<float>(std::cos(r.prec));
    f.fx = static_cast<float>(r.dx);
    f.fy = static_cast<float>(r.dy);
    f.grad_threshold = grad_threshold;
    return f;
}

// The alignment test, in 32-bit float arithmetic.
bool is_aligned(const Frame& f, const Px& px) {
    return px.norm > f.grad_threshold && px.ux * f.fx + px.uy * f.fy >= f.cp;
}

// The aligned counts of M tolerances that share one rectangle: the alignment
// test of each, with the same norm test and the same 32-bit dot product, so
// count j is what the test with cp[j] alone gives.
template <std::size_t M>
struct Tally {
    float cp[M];
    std::size_t k[M] = {};

    void add(const Frame& f, const Px& px, bool inside) {
        const bool strong = inside & (px.norm > f.grad_threshold);
        const float dot = px.ux * f.fx + px.uy * f.fy;
        for (std::size_t j = 0; j < M; ++j) k[j] += static_cast<std::size_t>(strong & (dot >= cp[j]));
    }
};

template <std::size_t M>
Tally<M> single(const Frame& f) {
    static_assert(M == 1);
    Tally<M> t;
    t.cp[0] = f.cp;
    return t;
}

template <std::size_t M>
void aligned_in_run(const Frame& f, const Px* row, std::size_t a, std::size_t b, Tally<M>& t) {
    if constexpr (M == 1) {
        std::size_t k = 0;
        for (std::size_t x = a; x <= b; ++x) k += is_aligned(f, row[x]) ? 1 : 0;
        t.k[0] += k;
    } else {
        for (std::size_t x = a; x <= b; ++x) t.add(f, row[x], true);
    }
}

// The inside test on one pixel, offsets from the centre in doubles. Points on
// the boundary are inside.
bool is_inside(const Frame& f, double rx, double ry) {
    const double along = f.dx * rx + f.dy * ry;
    if (std::fabs(along) > f.hl) return false;
    const double across = f.dx * ry - f.dy * rx;
    return !(std::fabs(across) > f.hw);
}

// Smallest x in [lo, hi] where `holds` is true, or hi + 1, for a predicate that
// is false up to some point and true from there on. Gallops out from `guess`,
// then bisects, so a guess near the answer costs a handful of evaluations.
template <class Pred>
std::int64_t first_true(std::int64_t lo, std::int64_t hi, double guess, Pred holds) {
    std::int64_t g = lo;
    if (guess > static_cast<double>(lo)) g = guess < static_cast<double>(hi) ? static_cast<std::int64_t>(guess) : hi;
    std::int64_t f, t;  // holds(f) is false (or f == lo - 1), holds(t) is true (or t == hi + 1)
    std::int64_t step = 1;
    if (holds(g)) {
        t = g;
        f = g - 1;
        while (f >= lo && holds(f)) {
            t = f;
            step *= 2;
            f = t - step;
        }
        if (f < lo) f = lo - 1;
    } else {
        f = g;
        t = g + 1;
        while (t <= hi && !holds(t)) {
            f = t;
            step *= 2;
            t = f + step;
        }
        if (t > hi) t = hi + 1;
    }
    while (t - f > 1) {
        const std::int64_t m = f + (t - f) / 2;
        if (holds(m))
            t = m;
        else
            f = m;
    }
    return t;
}

// Inclusive run [start, end] of x in [lo, hi] where -h <= v(x) <= h, compared
// exactly as the inside test compares |v| with h. v must be monotone in x
// (non-decreasing when `rising`); `at_minus` and `at_plus` estimate where v
// crosses -h and +h.
struct Run {
    std::int64_t start, end;
};

template <class Value>
Run band(std::int64_t lo, std::int64_t hi, bool rising, Value v, double h, double at_minus, double at_plus) {
    if (rising)
        return {first_true(lo, hi, at_minus, [&](std::int64_t x) { return !(v(x) < -h); }),
                first_true(lo, hi, at_plus, [&](std::int64_t x) { return v(x) > h; }) - 1};
    return {first_true(lo, hi, at_plus, [&](std::int64_t x) { return !(v(x) > h); }),
            first_true(lo, hi, at_minus, [&](std::int64_t x) { return v(x) < -h; }) - 1};
}

// Boxes at most this wide are walked pixel by pixel; the run search only pays
// off on wider ones.
constexpr std::size_t narrow_box = 12;

// Per row, `along` = dx * rx + dy * ry and `across` = dx * ry - dy * rx are
// monotone in x: x - cx, the product with a fixed dx or dy and the sum with a
// fixed row term are each a correctly rounded monotone operation. So the inside
// pixels of a row form one run, the intersection of the runs where |along| <=
// hl and |across| <= hw, and its ends can be searched for with the exact test.
// This needs along and across to be free of NaN, which holds for a finite
// centre and a direction of at most unit length.
bool runs_apply(const Frame& f) {
    return std::isfinite(f.cx) && std::isfinite(f.cy) && std::fabs(f.dx) <= 1.0 && std::fabs(f.dy) <= 1.0 &&
           f.x_hi - f.x_lo >= narrow_box;
}

template <std::size_t M>
std::size_t count_by_runs(const Frame& f, std::span<const Px> field, std::size_t width, Tally<M>& t) {
    std::size_t n = 0;
    const auto lo = static_cast<std::int64_t>(f.x_lo);
    const auto hi = static_cast<std::int64_t>(f.x_hi);
    const double inv_dx = 1.0 / f.dx, inv_dy = 1.0 / f.dy;  // estimates only
    for (std::size_t y = f.y_lo; y <= f.y_hi; ++y) {
        const double ry = static_cast<double>(y) - f.cy;
        const double along_row = f.dy * ry;
        const double across_row = f.dx * ry;
        auto along = [&](std::int64_t x) { return f.dx * (static_cast<double>(x) - f.cx) + along_row; };
        auto across = [&](std::int64_t x) { return across_row - f.dy * (static_cast<double>(x) - f.cx); };
        const Run a = band(lo, hi, f.dx >= 0.0, along, f.hl, f.cx + (-f.hl - along_row) * inv_dx,
                           f.cx + (f.hl - along_row) * inv_dx);
        if (a.start > a.end) continue;
        const Run b = band(a.start, a.end, f.dy < 0.0, across, f.hw, f.cx + (across_row + f.hw) * inv_dy,
                           f.cx + (across_row - f.hw) * inv_dy);
        if (b.start > b.end) continue;
        n += static_cast<std::size_t>(b.end - b.start + 1);
        aligned_in_run(f, field.data() + y * width, static_cast<std::size_t>(b.start), static_cast<std::size_t>(b.end),
                       t);
    }
    return n;
}

AlignedCount count_in_box(const Frame& f, std::span<const Px> field, std::size_t width) {
    AlignedCount c;
    for (std::size_t y = f.y_lo; y <= f.y_hi; ++y) {
        const double ry = static_cast<double>(y) - f.cy;
        const Px* row = field.data() + y * width;
        for (std::size_t x = f.x_lo; x <= f.x_hi; ++x) {
            if (!is_inside(f, static_cast<double>(x) - f.cx, ry)) continue;
            ++c.n;
            c.k += is_aligned(f, row[x]) ? 1 : 0;
        }
    }
    return c;
}

// count_in_box for the narrow boxes the run search leaves alone, without a
// branch per pixel: whether a pixel is inside, and whether it is aligned, are
// unpredictable there. Each pixel takes the same arithmetic as is_inside and
// is_aligned (the row terms dy * ry and dx * ry are the same products,
// computed once per row).
template <std::size_t M>
std::size_t count_in_narrow_box(const Frame& f, std::span<const Px> field, std::size_t width, Tally<M>& t) {
    std::size_t n = 0;
    for (std::size_t y = f.y_lo; y <= f.y_hi; ++y) {
        const double ry = static_cast<double>(y) - f.cy;
        const double along_row = f.dy * ry, across_row = f.dx * ry;
        const Px* row = field.data() + y * width;
        for (std::size_t x = f.x_lo; x <= f.x_hi; ++x) {
            const double rx = static_cast<double>(x) - f.cx;
            const double along = f.dx * rx + along_row;
            const double across = across_row - f.dy * rx;
            const bool inside = !(std::fabs(along) > f.hl) & !(std::fabs(across) > f.hw);
            n += static_cast<std::size_t>(inside);
            t.add(f, row[x], inside);
        }
    }
    return n;
}

// Pixels inside the frame's rectangle, the aligned ones tallied into t.
template <std::size_t M>
std::size_t count_into(const Frame& f, std::span<const Px> field, std::size_t width, Tally<M>& t) {
    if (f.empty) return 0;
    return runs_apply(f) ? count_by_runs(f, field, width, t) : count_in_narrow_box(f, field, width, t);
}

// base^e by square-and-multiply, the exponent taken as a 32-bit integer; a
// negative exponent gives the reciprocal.
double power(double base, std::int32_t e) {
    std::uint32_t u = e < 0 ? 0u - static_cast<std::uint32_t>(e) : static_cast<std::uint32_t>(e);
    double r = 1.0;
    while (true) {
        if (u & 1u) r *= base;
        u >>= 1;
        if (u == 0) break;
        base *= base;
    }
    return e < 0 ? 1.0 / r : r;
}

}  // namespace

AlignedCount count_aligned(const Rect& rect, std::span<const Px> field, std::size_t width, std::size_t height,
                           float grad_threshold) {
    const Frame f = frame_of(rect, width, height, grad_threshold);
    Tally<1> t = single<1>(f);
    const std::size_t n = count_into(f, field, width, t);
    return AlignedCount{n, t.k[0]};
}

std::size_t count_aligned_tolerances(const Rect& rect, std::span<const double, tolerance_trials> precs,
                                     std::span<const Px> field, std::size_t width, std::size_t height,
                                     float grad_threshold, std::span<std::size_t, tolerance_trials> k) {
    const Frame f = frame_of(rect, width, height, grad_threshold);
    Tally<tolerance_trials> t;
    for (std::size_t j = 0; j < tolerance_trials; ++j) t.cp[j] = static_cast<float>(std::cos(precs[j]));
    const std::size_t n = count_into(f, field, width, t);
    for (std::size_t j = 0; j < tolerance_trials; ++j) k[j] = t.k[j];
    return n;
}

AlignedCount count_aligned_in_box(const Rect& rect, std::span<const Px> field, std::size_t width,
                                  std::size_t height, float grad_threshold) {
    const Frame f = frame_of(rect, width, height, grad_threshold);
    if (f.empty) return {};
    return count_in_box(f, field, width);
}

double binomial_log_nfa(std::size_t n, std::size_t k, double p, double log_nt) {
    if (k == 0) return -log_nt;
    const double dn = static_cast<double>(n), dk = static_cast<double>(k);
    if (k == n) return -log_nt - dk * std::log10(p);

    const double log1 = log_gamma_whole(n + 1) - log_gamma_whole(k + 1) - log_gamma_whole(n - k + 1) +
                        dk * std::log(p) + static_cast<double>(n - k) * std::log(1.0 - p);
    double term = std::exp(log1);
    if (term == 0.0) {
        // The first term underflows; when k is above the mean it dominates the
        // tail and its logarithm alone is the score.
        if (dk > dn * p) return log1 / -ln_10 - log_nt;
        return -log_nt;
    }

    double tail = term;
    const double q = p / (1.0 - p);
    for (std::size_t i = k + 1; i <= n; ++i) {
        const double r = static_cast<double>(n - i + 1) / static_cast<double>(i);
        const double mult = q * r;
        term = term * mult;
        tail = tail + term;
        if (r < 1.0) {
            // From here on the terms shrink at least geometrically by mult:
            // stop once that bound on the rest is under a tenth of the score.
            const double err = term * ((1.0 - power(mult, static_cast<std::int32_t>(n - i + 1))) / (1.0 - mult) - 1.0);
            if (err < 0.1 * std::fabs(-std::log10(tail) - log_nt) * tail) break;
        }
    }
    return -std::log10(tail) - log_nt;
}

double rect_log_nfa(const Rect& rect, std::span<const Px> field, std::size_t width, std::size_t height,
                    float grad_threshold, double log_nt) {
    const AlignedCount c = count_aligned(rect, field, width, height, grad_threshold);
    return binomial_log_nfa(c.n, c.k, rect.p, log_nt);
}

namespace {

// log_gamma at 1, 2, ..., made once per process on first use (a function-local
// static: the first caller fills it, concurrent first callers wait for it;
// nothing that waits holds the interpreter, which the detector never holds).
struct WholeLogGamma {
    double at[whole_log_gamma_size];
    WholeLogGamma() {
        at[0] = 0.0;  // unused: the arguments start at 1
        for (std::size_t n = 1; n < whole_log_gamma_size; ++n) at[n] = log_gamma(static_cast<double>(n));
    }
};

}  // namespace

double log_gamma_whole(std::size_t n) {
    if (n != 0 && n < whole_log_gamma_size) {
        static const WholeLogGamma table;
        return table.at[n];
    }
    return log_gamma(static_cast<double>(n));
}

double log_gamma(double x) {
    // The arguments that occur are whole numbers; for those up to 400 every
    // power x^j (j <= 6) is an integer below 2^53, so repeated products give it
    // exactly, as pow does, without pow's cost.
    const bool small_whole = x >= 0.0 && x <= 400.0 && x == std::floor(x);
    if (x >= 15.0) {
        // The large-argument approximation (Stirling's series in closed form).
        const double x6 = small_whole ? x * x * x * x * x * x : std::pow(x, 6.0);
        return 0.918938533204673 + (x - 0.5) * std::log(x) - x +
               0.5 * x * std::log(x * std::sinh(1.0 / x) + 1.0 / (810.0 * x6));
    }
    // Lanczos approximation.
    static constexpr double q[7] = {75122.633153,  80916.6278952, 36308.2951477, 8687.24529705,
                                    1168.92649479, 83.8676043424, 2.50662827511};
    double a = (x + 0.5) * std::log(x + 5.5) - (x + 5.5);
    double b = 0.0;
    double xj = 1.0;  // x^j
    for (int j = 0; j < 7; ++j) {
        a -= std::log(x + static_cast<double>(j));
        b += q[j] * (small_whole ? xj : std::pow(x, static_cast<double>(j)));
        xj *= x;
    }
    return a + std::log(b);
}

}  // namespace tessarin::detector
