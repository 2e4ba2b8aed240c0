// Reproducible test bytes.
#pragma once

#include <cstddef>
#include <string>

namespace suite {

// size pseudo-random bytes; the same seed gives the same bytes.
inline std::string Pattern(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = static_cast<char>(seed >> 16);
    }
    return s;
}

} // namespace suite
