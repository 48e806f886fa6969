// Angles in radians, as the stages of the detector share them.
#pragma once

#include <cmath>
#include <numbers>

namespace tessarin::detector {

inline constexpr double pi = std::numbers::pi;
inline constexpr double two_pi = 2.0 * std::numbers::pi;
inline constexpr double pi_over_8 = std::numbers::pi / 8.0;
static_assert(pi_over_8 == 0.39269908169872414);

// The angle tolerance the pipeline grows every region with. Region growing
// keeps its cosine ready, so the two are one constant.
inline constexpr double angle_tolerance = pi_over_8;

// `e` reduced by whole turns into (-pi, pi]. The difference of two atan2
// results needs at most one turn; a value that is not finite, or farther off
// than four turns, is returned as it is.
inline double wrap_angle(double e) {
    if (std::isfinite(e) && std::fabs(e) < 4.0 * two_pi) {
        while (e <= -pi) e += two_pi;
        while (e > pi) e -= two_pi;
    }
    return e;
}

}  // namespace tessarin::detector
