// Quoted-printable with the library's own set of escaped bytes and its soft line breaks.
#pragma once

#include <cstdint>
#include <optional>

#include "result_alloc.h"

namespace marfel {

class CQuoPrint {
  public:
    enum Mode { kNoBreaks = 1, kSoftBreaks = 2 };

    virtual ~CQuoPrint() = default;

    // Whether Encode writes the byte as "=" and two upper-case hexadecimal digits.
    static bool IsEscaped(unsigned char byte);

    // Exact output size of Encode, or nullopt when it exceeds `limit`.
    static std::optional<std::uint64_t> EncodedSize(const void *data, std::uint64_t length,
                                                    int mode, std::uint64_t limit);

    // Mode 2 puts "=" CR LF before input bytes 25, 50, ... and after the last one.
    void *Encode(const void *data, std::uint64_t *length, int mode, std::uint64_t limit,
                 const ResultAllocator &alloc) const;

    // Output size of Decode, or nullopt for malformed text: "=" followed by anything but two
    // upper-case hexadecimal digits or a line break, or too near the end for two digits.
    // "=" CR LF, "=" LF, and "=" CR at the end or before another character are soft breaks.
    static std::optional<std::uint64_t> DecodedSize(const char *text, std::uint64_t length);

    void *Decode(const char *text, std::uint64_t *length, std::uint64_t limit,
                 const ResultAllocator &alloc) const;
};

} // namespace marfel
