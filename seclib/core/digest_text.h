// Byte layouts of the authentication strings and the stored RC2 format: no crypto here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "result_alloc.h"

namespace marfel {

// Two lower-case hexadecimal digits per byte, in a zero-terminated block of 2 * length + 1;
// `*length` becomes 2 * length. nullptr for a NULL input or length pointer.
void *BinaryToHex(const void *bytes, std::uint64_t *length, const ResultAllocator &alloc);

// Writes 2 * length hexadecimal digits to `out` (no terminator).
void WriteHex(const void *bytes, std::size_t length, char *out);

inline constexpr std::size_t kHmacBlock = 64;

struct HmacPads {
    std::array<unsigned char, kHmacBlock> inner; // key XOR 0x36, zero-extended
    std::array<unsigned char, kHmacBlock> outer; // key XOR 0x5C
};

// `keyLength` must be at most kHmacBlock (longer keys are hashed first by the caller).
HmacPads MakeHmacPads(const void *key, std::size_t keyLength);

// Stored RC2 data: 4-byte little-endian blob length N, the key blob, the ciphertext.
struct Rc2Layout {
    std::uint32_t blobLength;
    std::uint32_t cipherOffset;
    std::uint32_t cipherLength;
};

// Checks the layout of `length` bytes without reading past them: at least 4 bytes, N no more
// than what follows, and a ciphertext that is a non-zero multiple of 8 bytes.
std::optional<Rc2Layout> ParseRc2Layout(const void *data, std::uint32_t length);

inline constexpr std::uint32_t kRc2Block = 8;

} // namespace marfel
