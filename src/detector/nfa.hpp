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

// log_gamma(n) for a whole n >= 1, bit for bit; the n below
// whole_log_gamma_size come from a table made once per process.
inline constexpr std::size_t whole_log_gamma_size = std::size_t{1} << 14;
double log_gamma_whole(std::size_t n);

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

// The trials of a finer angle tolerance: one rectangle scored with several
// tolerances `precs` (radians). Returns n, the pixels inside, and writes into
// k[j] the count of aligned pixels that count_aligned gives for the rectangle
// with prec = precs[j]; one pass over the pixels serves all of them.
inline constexpr std::size_t tolerance_trials = 5;
std::size_t count_aligned_tolerances(const Rect& rect, std::span<const double, tolerance_trials> precs,
                                     std::span<const Px> field, std::size_t width, std::size_t height,
                                     float grad_threshold, std::span<std::size_t, tolerance_trials> k);

// -log10(NT * B(n, k, p)) with log_nt = log10(NT), B the binomial tail; the
// series stops early once its remainder is provably small.
double binomial_log_nfa(std::size_t n, std::size_t k, double p, double log_nt);

}  // namespace tessarin::detector
