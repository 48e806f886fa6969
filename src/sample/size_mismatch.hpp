// The error every native entry point returns when a buffer's length is not
// the length its sizes call for, the small result type that carries it, and
// the product of sizes those lengths come from.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <variant>

namespace tessarin::sample {

struct SizeMismatch {
    std::size_t expected;  // the length the sizes call for
    std::size_t got;       // the buffer's actual length

    friend bool operator==(const SizeMismatch&, const SizeMismatch&) = default;
};

// Debug text: the type's name, then both fields, `expected` first.
std::string to_string(const SizeMismatch& e);
std::ostream& operator<<(std::ostream& os, const SizeMismatch& e);

// Either the value a native entry point produced or the mismatch it found.
template <class T>
using Result = std::variant<T, SizeMismatch>;

// The product of `sizes`, multiplied left to right, or nothing when a partial
// product does not fit a machine word.
constexpr std::optional<std::size_t> checked_product(std::initializer_list<std::size_t> sizes) {
    std::size_t product = 1;
    for (std::size_t s : sizes) {
        if (s != 0 && product > std::numeric_limits<std::size_t>::max() / s) return std::nullopt;
        product *= s;
    }
    return product;
}

// The product of `sizes`, or the largest word when it overflows: no buffer can
// have that length, so a length check against it always fails.
constexpr std::size_t saturating_product(std::initializer_list<std::size_t> sizes) {
    return checked_product(sizes).value_or(std::numeric_limits<std::size_t>::max());
}

}  // namespace tessarin::sample
