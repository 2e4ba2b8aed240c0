// Text and value arithmetic of the SNMPv3 key functions: hexadecimal keys and privacy salts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace marfel {

// Decodes `length` characters of hexadecimal text, two per byte, high half first; characters
// that are not hexadecimal digits count as 0. Returns the bytes written, or 0 for a NULL or
// empty text, an odd length, or more than `size` bytes (nothing is written then).
std::size_t HexToBinary(const char *text, std::size_t length, unsigned char *out, std::size_t size);

// The same for a zero-terminated text.
std::size_t HexToBinary(const char *text, unsigned char *out, std::size_t size);

inline constexpr std::size_t kSaltLength = 8;

// The salt's second half: a draw of 0 to 32767 made even, drawn again while it equals the
// previous value so that successive salts differ. `draw` gives the generator's next number.
// After a bounded number of equal draws the value is changed by hand.
std::uint32_t NextSaltValue(std::uint32_t (*draw)(void *state), void *state,
                            std::uint32_t previous);

// engineBoots then the value, each most significant byte first.
void WriteSalt(std::uint32_t engineBoots, std::uint32_t value, unsigned char *salt);

} // namespace marfel
