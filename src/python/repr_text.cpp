#include "python/repr_text.hpp"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessarin::python {
namespace {

// The digits are worked out from the double's bits here rather than by the C
// library's printf, whose decimal point is the locale's: a program that sets
// a locale with a decimal comma (as toolkits do) would otherwise change the
// text. Floating-point std::to_chars would do, but the C++ libraries of some
// supported systems lack it.

// Appends the decimal digits of v, with at least `width` digits.
void append_decimal(std::string& out, std::uint64_t v, std::size_t width = 1) {
    char digits[20];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0 || n < width);
    while (n > 0) out += digits[--n];
}

// Appends the decimal digits of m * 2^e (e >= 0), exactly.
void append_integer(std::string& out, std::uint64_t m, int e) {
    // Limbs of nine decimal digits, least significant first.
    constexpr std::uint32_t base = 1000000000;
    std::vector<std::uint32_t> limbs;
    for (; m != 0; m /= base) limbs.push_back(static_cast<std::uint32_t>(m % base));
    if (limbs.empty()) limbs.push_back(0);
    while (e > 0) {
        const int step = e < 29 ? e : 29;  // a limb times 2^29 stays below 2^59
        e -= step;
        std::uint64_t carry = 0;
        for (std::uint32_t& limb : limbs) {
            const std::uint64_t v = (static_cast<std::uint64_t>(limb) << step) + carry;
            limb = static_cast<std::uint32_t>(v % base);
            carry = v / base;
        }
        for (; carry != 0; carry /= base) limbs.push_back(static_cast<std::uint32_t>(carry % base));
    }
    append_decimal(out, limbs.back());
    for (std::size_t i = limbs.size() - 1; i-- > 0;) append_decimal(out, limbs[i], 9);
}

}  // namespace

// A finite double is m * 2^e with an integer m below 2^53. With e >= 0 it is
// an integer and its digits are exact. With e < 0, ten times it is
// 10m / 2^-e, 10m below 2^57: the quotient and the remainder of that division
// decide the rounding to tenths exactly (ties to even, as printf rounds).
void append_number(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-inf" : "inf";
        return;
    }
    const auto bits = std::bit_cast<std::uint64_t>(v);
    if (bits >> 63) out += '-';  // negative zero and values that round to zero too
    const auto biased = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    int e;
    if (biased == 0) {
        e = -1074;  // subnormal
    } else {
        m |= std::uint64_t{1} << 52;
        e = biased - 1075;
    }
    if (e >= 0) {
        append_integer(out, m, e);
        out += ".0";
        return;
    }
    const std::uint64_t tenfold = m * 10;
    const int shift = -e;
    std::uint64_t tenths = 0;
    if (shift < 64) {
        tenths = tenfold >> shift;
        const std::uint64_t rest = tenfold & ((std::uint64_t{1} << shift) - 1);
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (tenths & 1) != 0)) ++tenths;
    }
    // else: 10m < 2^57 lies below half of 2^shift, so the value rounds to 0.
    append_decimal(out, tenths / 10);
    out += '.';
    out += static_cast<char>('0' + tenths % 10);
}

std::string segment_text(const detector::Segment& s) {
    std::string text = "Segment((";
    append_number(text, s.x1);
    text += ", ";
    append_number(text, s.y1);
    text += ")-(";
    append_number(text, s.x2);
    text += ", ";
    append_number(text, s.y2);
    text += "), width=";
    append_number(text, s.width);
    text += ")";
    return text;
}

}  // namespace tessarin::python
