#include "base64.h"

#include <cstddef>

namespace marfel {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint64_t kBytesPerLine = 60;
constexpr int kPad = 64;  // "=" and positions past the end
constexpr int kSkip = -1; // characters outside the alphabet

int ValueOf(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return kPad;
    return kSkip;
}

} // namespace

std::optional<std::uint64_t> CBase64::EncodedSize(std::uint64_t length, int mode, std::uint64_t limit) {
    // length < 2^32 in every caller, so none of this can wrap in 64 bits; the limit does the rest.
    if (length > (UINT64_MAX / 4) - 3) return std::nullopt;
    std::uint64_t size = (length + 2) / 3 * 4;
    if (mode == kLineBreaks) size += (length + kBytesPerLine - 1) / kBytesPerLine * 2;
    if (size > limit) return std::nullopt;
    return size;
}

std::uint64_t CBase64::DecodeCapacity(std::uint64_t length) { return length / 4 * 3 + (length % 4 ? 3 : 0); }

void *CBase64::Encode(const void *data, std::uint64_t *length, int mode, std::uint64_t limit,
                      const ResultAllocator &alloc) const {
    if (!data || !length || *length == 0) return nullptr;
    const std::uint64_t n = *length;
    const auto size = EncodedSize(n, mode, limit);
    if (!size) return nullptr;
    auto *out = static_cast<char *>(alloc.allocate(static_cast<std::size_t>(*size)));
    if (!out) return nullptr;

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
    if (!text || !length || *length == 0) return nullptr;
    const std::uint64_t n = *length;
    const std::uint64_t capacity = DecodeCapacity(n);
    if (capacity > limit) return nullptr;
    auto *out = static_cast<unsigned char *>(alloc.allocate(static_cast<std::size_t>(capacity)));
    if (!out) return nullptr;

    const auto *in = reinterpret_cast<const unsigned char *>(text);
    std::uint64_t r = 0, w = 0;
    // Next value of the text, "=" once it runs out.
    auto next = [&]() {
        while (r < n) {
            const int v = ValueOf(in[r++]);
            if (v != kSkip) return v;
        }
        return kPad;
    };
    for (;;) {
        const int v0 = next();
        if (v0 == kPad) break;
        const int v1 = next();
        if (v1 == kPad) break;
        // Each group consumed at least one character of its own, so w + 3 <= capacity.
        out[w++] = static_cast<unsigned char>((v0 << 2) | (v1 >> 4));
        const int v2 = next();
        if (v2 == kPad) break;
        out[w++] = static_cast<unsigned char>(((v1 & 15) << 4) | (v2 >> 2));
        const int v3 = next();
        if (v3 == kPad) break;
        out[w++] = static_cast<unsigned char>(((v2 & 3) << 6) | v3);
    }
    *length = w;
    return out;
}

} // namespace marfel
