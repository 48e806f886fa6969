// The text form's numbers: the digits of printf's "%.1f" in the "C" locale,
// and the same text whatever locale the process sets.
#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "python/repr_text.hpp"

namespace {

using tessarin::python::append_number;

std::string text_of(double v) {
    std::string s;
    append_number(s, v);
    return s;
}

// printf's digits, taken while the "C" locale is in force.
std::string printf_text(double v) {
    char buf[400];
    const int n = std::snprintf(buf, sizeof buf, "%.1f", v);
    return std::string(buf, static_cast<std::size_t>(n));
}

// Values around every rounding boundary the formatter has: integers and the
// 2^53 limit where the integer path starts, exact ties, tenths, the smallest
// normal and subnormal numbers, the largest double, both zeros.
std::vector<double> spread() {
    std::vector<double> v{0.0,     -0.0,    0.05,   -0.04,   0.25,    0.35,    0.45,   1.5,     2.5,
                          0.95,    9.95,    99.95,  1e20,    123.456, 1e-300,  5e-324, 2.2250738585072014e-308,
                          0.5e-1,  1e15,    1e16,   1e22,    1e23,    0.15,    1e-1,   std::numeric_limits<double>::max()};
    for (int e = -70; e <= 70; ++e) {
        const double p = std::ldexp(1.0, e);
        for (double d : {p, std::nextafter(p, 0.0), std::nextafter(p, 2 * p), p * 10.0, p * 0.1, p * 3.0 + 0.05})
            v.push_back(d);
    }
    const double big = std::ldexp(1.0, 53);
    for (double d : {big - 1, big, big + 2, std::nextafter(big, 0.0), big * 3})
        v.push_back(d);
    const std::size_t n = v.size();
    for (std::size_t i = 0; i < n; ++i) v.push_back(-v[i]);
    return v;
}

TEST(NumberText, MatchesPrintfInTheCLocale) {
    std::setlocale(LC_ALL, "C");
    for (double v : spread()) EXPECT_EQ(text_of(v), printf_text(v)) << std::hexfloat << v;
    // Random bit patterns over the whole range, and random small values
    // (where the rounding of the tenths decides the last digit).
    std::mt19937_64 rng(20261210);
    for (int i = 0; i < 20000; ++i) {
        const double any = std::bit_cast<double>(rng());
        if (std::isfinite(any)) {
            EXPECT_EQ(text_of(any), printf_text(any)) << std::hexfloat << any;
        }
        const double small = std::ldexp(static_cast<double>(rng() >> 11), -static_cast<int>(rng() % 60));
        EXPECT_EQ(text_of(small), printf_text(small)) << std::hexfloat << small;
    }
    EXPECT_EQ(text_of(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(text_of(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(text_of(-std::numeric_limits<double>::infinity()), "-inf");
}

// A locale whose decimal point is a comma leaves the text alone.
TEST(NumberText, IgnoresADecimalCommaLocale) {
    const char* found = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE", "German_Germany.1252"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            found = name;
            break;
        }
    }
    if (found == nullptr) GTEST_SKIP() << "no locale with a decimal comma is installed";
    const bool comma = *std::localeconv()->decimal_point == ',';
    tessarin::detector::Segment s{46.5, 15.5, 16.5, 15.5, 1.0, 0.125, 3.0};
    const std::string text = tessarin::python::segment_text(s);
    const std::string big = text_of(1e20);
    const std::string tie = text_of(-20.25);
    std::setlocale(LC_ALL, "C");
    if (!comma) GTEST_SKIP() << found << " does not use a decimal comma";
    EXPECT_EQ(text, "Segment((46.5, 15.5)-(16.5, 15.5), width=1.0)");
    EXPECT_EQ(big, "100000000000000000000.0");
    EXPECT_EQ(tie, "-20.2");
}

}  // namespace
