#include "base64.h"

#include <cstddef>
#include <cstdint>

namespace marfel {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint64_t kBytesPerLine = 60;
constexpr int kPad = 64;  // "=" and positions past the end
constexpr int kSkip = -1; // characters outside the alphabet

// Value of every byte: 0..63 for the alphabet, kPad for "=", kSkip for the rest (stored as
// 0xFF). Beside it, for whole groups, each value already at its place in the group's 24 bits,
// and bit 24 set for every byte outside the alphabet, so one OR of four entries tells both.
struct ValueTable {
    unsigned char value[256];
    std::uint32_t placed[4][256];
    constexpr ValueTable() : value{}, placed{} {
        for (int c = 0; c < 256; ++c) {
            value[c] = static_cast<unsigned char>(kSkip);
            for (auto &at : placed)
                at[c] = 1u << 24;
        }
        for (int i = 0; i < 64; ++i) {
            const auto c = static_cast<unsigned char>(kAlphabet[i]);
            value[c] = static_cast<unsigned char>(i);
            for (int k = 0; k < 4; ++k)
                placed[k][c] = static_cast<std::uint32_t>(i) << (18 - 6 * k);
        }
        value[static_cast<unsigned char>('=')] = kPad;
    }
};
constexpr ValueTable kValues;

int ValueOf(unsigned char c) {
    const unsigned char v = kValues.value[c];
    return v == static_cast<unsigned char>(kSkip) ? kSkip : v;
}

} // namespace

std::optional<std::uint64_t> CBase64::EncodedSize(std::uint64_t length, int mode,
                                                  std::uint64_t limit) {
    // length < 2^32 in every caller, so none of this can wrap in 64 bits; the limit does the rest.
    if (length > (UINT64_MAX / 4) - 3)
        return std::nullopt;
    std::uint64_t size = (length + 2) / 3 * 4;
    if (mode == kLineBreaks)
        size += (length + kBytesPerLine - 1) / kBytesPerLine * 2;
    if (size > limit)
        return std::nullopt;
    return size;
}

std::uint64_t CBase64::DecodeCapacity(std::uint64_t length) {
    return length / 4 * 3 + (length % 4 ? 3 : 0);
}

void *CBase64::Encode(const void *data, std::uint64_t *length, int mode, std::uint64_t limit,
                      const ResultAllocator &alloc) const {
    if (!data || !length || *length == 0)
        return nullptr;
    const std::uint64_t n = *length;
    const auto size = EncodedSize(n, mode, limit);
    if (!size)
        return nullptr;
    auto *out = static_cast<char *>(alloc.allocate(static_cast<std::size_t>(*size)));
    if (!out)
        return nullptr;

    const auto *in = static_cast<const unsigned char *>(data);
    std::uint64_t w = 0;
    for (std::uint64_t i = 0; i < n; i += 3) {
        if (mode == kLineBreaks && i != 0 && i % kBytesPerLine == 0) {
            out[w++] = '\r';
            out[w++] = '\n';
        }
        const std::uint64_t left = n - i;
        const unsigned b0 = in[i];
        const unsigned b1 = left > 1 ? in[i + 1] : 0;
        const unsigned b2 = left > 2 ? in[i + 2] : 0;
        out[w++] = kAlphabet[b0 >> 2];
        out[w++] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        out[w++] = left > 1 ? kAlphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        out[w++] = left > 2 ? kAlphabet[b2 & 63] : '=';
    }
    if (mode == kLineBreaks) {
        out[w++] = '\r';
        out[w++] = '\n';
    }
    *length = w;
    return out;
}

void *CBase64::Decode(const char *text, std::uint64_t *length, std::uint64_t limit,
                      const ResultAllocator &alloc) const {
    if (!text || !length || *length == 0)
        return nullptr;
    const std::uint64_t n = *length;
    const std::uint64_t capacity = DecodeCapacity(n);
    if (capacity > limit)
        return nullptr;
    auto *out = static_cast<unsigned char *>(alloc.allocate(static_cast<std::size_t>(capacity)));
    if (!out)
        return nullptr;

    const auto *in = reinterpret_cast<const unsigned char *>(text);
    std::uint64_t r = 0, w = 0;
    // Next value of the text, "=" once it runs out.
    auto next = [&]() {
        while (r < n) {
            const int v = ValueOf(in[r++]);
            if (v != kSkip)
                return v;
        }
        return kPad;
    };
    const unsigned char *value = kValues.value;
    for (;;) {
        // Characters outside the alphabet before a group are skipped as next() would skip them.
        while (r < n && value[in[r]] == static_cast<unsigned char>(kSkip))
            ++r;
        // Groups of four alphabet characters (the usual case), one step each.
        while (n - r >= 4) {
            const std::uint32_t bits = kValues.placed[0][in[r]] | kValues.placed[1][in[r + 1]] |
                                       kValues.placed[2][in[r + 2]] | kValues.placed[3][in[r + 3]];
            if (bits >> 24)
                break;
            out[w] = static_cast<unsigned char>(bits >> 16);
            out[w + 1] = static_cast<unsigned char>(bits >> 8);
            out[w + 2] = static_cast<unsigned char>(bits);
            w += 3;
            r += 4;
        }
        if (n - r >= 4 && value[in[r]] == static_cast<unsigned char>(kSkip))
            continue; // a line break
        // A group with "=", a skipped character inside it, or the end of the text.
        const int v0 = next();
        if (v0 == kPad)
            break;
        const int v1 = next();
        if (v1 == kPad)
            break;
        // Each group consumed at least one character of its own, so w + 3 <= capacity.
        out[w++] = static_cast<unsigned char>((v0 << 2) | (v1 >> 4));
        const int v2 = next();
        if (v2 == kPad)
            break;
        out[w++] = static_cast<unsigned char>(((v1 & 15) << 4) | (v2 >> 2));
        const int v3 = next();
        if (v3 == kPad)
            break;
        out[w++] = static_cast<unsigned char>(((v2 & 3) << 6) | v3);
    }
    *length = w;
    return out;
}

} // namespace marfel
