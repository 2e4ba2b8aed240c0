#include "quoprint.h"

#include <cstddef>

namespace marfel {
namespace {

constexpr std::uint64_t kBytesPerLine = 25;
constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The one scanner behind both passes of Decode: counts when `out` is null, writes otherwise,
// so the write can never go past what the count allocated. nullopt for malformed text.
std::optional<std::uint64_t> Scan(const unsigned char *in, std::uint64_t n, unsigned char *out) {
    std::uint64_t r = 0, w = 0;
    while (r < n) {
        const unsigned char c = in[r];
        if (c != '=') {
            if (out)
                out[w] = c;
            ++w;
            ++r;
            continue;
        }
        const std::uint64_t left = n - r - 1; // characters after the "="
        if (left >= 1 && in[r + 1] == '\r') {
            r += 2;
            if (r < n && in[r] == '\n')
                ++r;
            continue;
        }
        if (left >= 1 && in[r + 1] == '\n') {
            r += 2;
            continue;
        }
        if (left < 2)
            return std::nullopt;
        const int hi = HexValue(in[r + 1]);
        const int lo = HexValue(in[r + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        if (out)
            out[w] = static_cast<unsigned char>((hi << 4) | lo);
        ++w;
        r += 3;
    }
    return w;
}

} // namespace

bool CQuoPrint::IsEscaped(unsigned char b) {
    return (b >= 9 && b <= 31) || b == '.' || b == '=' || b == '?' || b == '_' || b >= 126;
}

std::optional<std::uint64_t> CQuoPrint::EncodedSize(const void *data, std::uint64_t length,
                                                    int mode, std::uint64_t limit) {
    const auto *in = static_cast<const unsigned char *>(data);
    std::uint64_t size = 0;
    for (std::uint64_t i = 0; i < length; ++i)
        size += IsEscaped(in[i]) ? 3 : 1;
    if (mode == kSoftBreaks)
        size += (length + kBytesPerLine - 1) / kBytesPerLine * 3;
    if (size > limit)
        return std::nullopt;
    return size;
}

void *CQuoPrint::Encode(const void *data, std::uint64_t *length, int mode, std::uint64_t limit,
                        const ResultAllocator &alloc) const {
    if (!data || !length || *length == 0)
        return nullptr;
    const std::uint64_t n = *length;
    const auto size = EncodedSize(data, n, mode, limit);
    if (!size)
        return nullptr;
    auto *out = static_cast<char *>(alloc.allocate(static_cast<std::size_t>(*size)));
    if (!out)
        return nullptr;

    const auto *in = static_cast<const unsigned char *>(data);
    std::uint64_t w = 0;
    auto softBreak = [&]() {
        out[w++] = '=';
        out[w++] = '\r';
        out[w++] = '\n';
    };
    for (std::uint64_t i = 0; i < n; ++i) {
        if (mode == kSoftBreaks && i != 0 && i % kBytesPerLine == 0)
            softBreak();
        const unsigned char b = in[i];
        if (IsEscaped(b)) {
            out[w++] = '=';
            out[w++] = kHex[b >> 4];
            out[w++] = kHex[b & 15];
        } else {
            out[w++] = static_cast<char>(b);
        }
    }
    if (mode == kSoftBreaks)
        softBreak();
    *length = w;
    return out;
}

std::optional<std::uint64_t> CQuoPrint::DecodedSize(const char *text, std::uint64_t length) {
    return Scan(reinterpret_cast<const unsigned char *>(text), length, nullptr);
}

void *CQuoPrint::Decode(const char *text, std::uint64_t *length, std::uint64_t limit,
                        const ResultAllocator &alloc) const {
    if (!text || !length || *length == 0)
        return nullptr;
    const auto *in = reinterpret_cast<const unsigned char *>(text);
    const auto size = Scan(in, *length, nullptr);
    if (!size || *size > limit)
        return nullptr;
    auto *out = static_cast<unsigned char *>(alloc.allocate(static_cast<std::size_t>(*size)));
    if (!out)
        return nullptr;
    *length = *Scan(in, *length, out);
    return out;
}

} // namespace marfel
