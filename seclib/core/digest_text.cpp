#include "digest_text.h"

namespace marfel {

void WriteHex(const void *bytes, std::size_t length, char *out) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto *in = static_cast<const unsigned char *>(bytes);
    for (std::size_t i = 0; i < length; ++i) {
        out[2 * i] = kDigits[in[i] >> 4];
        out[2 * i + 1] = kDigits[in[i] & 15];
    }
}

void *BinaryToHex(const void *bytes, std::uint64_t *length, const ResultAllocator &alloc) {
    if (!bytes || !length || *length > (kUnsignedLimit - 1) / 2)
        return nullptr;
    const std::uint64_t n = *length;
    auto *out = static_cast<char *>(alloc.allocate(static_cast<std::size_t>(2 * n + 1)));
    if (!out)
        return nullptr;
    WriteHex(bytes, static_cast<std::size_t>(n), out);
    *length = 2 * n;
    return out;
}

HmacPads MakeHmacPads(const void *key, std::size_t keyLength) {
    HmacPads pads{};
    pads.inner.fill(0x36);
    pads.outer.fill(0x5C);
    const auto *k = static_cast<const unsigned char *>(key);
    for (std::size_t i = 0; i < keyLength && i < kHmacBlock; ++i) {
        pads.inner[i] ^= k[i];
        pads.outer[i] ^= k[i];
    }
    return pads;
}

std::optional<Rc2Layout> ParseRc2Layout(const void *data, std::uint32_t length) {
    if (!data || length < 4)
        return std::nullopt;
    const auto *p = static_cast<const unsigned char *>(data);
    const std::uint32_t n = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                            std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
    if (n > length - 4)
        return std::nullopt;
    const std::uint32_t cipher = length - 4 - n;
    if (cipher == 0 || cipher % kRc2Block != 0)
        return std::nullopt;
    return Rc2Layout{n, 4 + n, cipher};
}

} // namespace marfel
