// Base64 with the RFC 2045 alphabet and "=" fill.
#pragma once

#include <cstdint>
#include <optional>

#include "result_alloc.h"

namespace marfel {

class CBase64 {
  public:
    enum Mode { kNoBreaks = 1, kLineBreaks = 2 };

    virtual ~CBase64() = default;

    // Characters that Encode writes for `length` bytes: 4 per started group of 3, and in mode 2
    // one CR LF per started block of 60 bytes. nullopt when that exceeds `limit`.
    static std::optional<std::uint64_t> EncodedSize(std::uint64_t length, int mode,
                                                    std::uint64_t limit);

    // Block that Decode allocates for `length` characters: 3 bytes per started group of 4.
    static std::uint64_t DecodeCapacity(std::uint64_t length);

    // Encodes `*length` bytes; on success `*length` = characters written. nullptr (and `*length`
    // untouched) for an empty input, a result above `limit` or a failed allocation.
    void *Encode(const void *data, std::uint64_t *length, int mode, std::uint64_t limit,
                 const ResultAllocator &alloc) const;

    // Decodes `*length` characters, skipping any that are neither alphabet nor "="; a group whose
    // first or second value is "=" ends decoding, as does a "=" in the third or fourth place
    // after the bytes before it. Positions past the end count as "=". On success `*length` =
    // bytes written (possibly 0).
    void *Decode(const char *text, std::uint64_t *length, std::uint64_t limit,
                 const ResultAllocator &alloc) const;
};

} // namespace marfel
