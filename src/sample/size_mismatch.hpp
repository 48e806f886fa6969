// The error every native entry point returns when a buffer's length is not
// the length its sizes call for, and the small result type that carries it.
#pragma once

#include <cstddef>
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

}  // namespace tessarin::sample
