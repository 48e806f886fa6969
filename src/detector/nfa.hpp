// Validation of rectangles by their number of false alarms.
#pragma once

#include <cstddef>
#include <span>

#include "detector/types.hpp"

namespace tessarin::detector {

// The rectangle's log10 NFA score; above 0 means meaningful.
double rect_log_nfa(const Rect& rect, std::span<const Px> field, std::size_t width,
                    std::size_t height, float grad_threshold, double log_nt);

// ln(Gamma(x)) for x > 0.
double log_gamma(double x);

// The two halves of rect_log_nfa, exposed so that each can be checked alone.

// Pixels inside a rectangle (n) and, among them, those aligned with it (k).
struct AlignedCount {
    std::size_t n = 0;
    std::size_t k = 0;
    friend bool operator==(const AlignedCount&, const AlignedCount&) = default;
};

// The counts rect_log_nfa scores: each row is searched for the run of pixels
// that pass the inside test instead of testing the whole bounding box.
AlignedCount count_aligned(const Rect& rect, std::span<const Px> field, std::size_t width,
                           std::size_t height, float grad_threshold);

// -log10(NT * B(n, k, p)) with log_nt = log10(NT), B the binomial tail; the
// series stops early once its remainder is provably small.
double binomial_log_nfa(std::size_t n, std::size_t k, double p, double log_nt);

}  // namespace tessarin::detector
