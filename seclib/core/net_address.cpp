#include "net_address.h"

#include <cstdio>
#include <cstring>

namespace marfel {
namespace {

// "a.b.c.d" or the IPv6 text, zero-terminated, into `text` (room for 64 characters).
std::size_t Format(AddressFamily family, const unsigned char *a, std::uint32_t scopeId,
                   char *text) {
    if (family == AddressFamily::kIpv4)
        return static_cast<std::size_t>(
            std::snprintf(text, 64, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]));

    unsigned groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = static_cast<unsigned>(a[2 * i]) << 8 | a[2 * i + 1];
    // The first run of zero groups, however short.
    int runStart = -1, runLength = 0;
    for (int i = 0; i < 8; ++i) {
        if (groups[i] != 0)
            continue;
        runStart = i;
        while (i < 8 && groups[i] == 0)
            ++i;
        runLength = i - runStart;
        break;
    }
    std::size_t n = 0;
    for (int i = 0; i < 8;) {
        if (i == runStart) {
            text[n++] = ':';
            text[n++] = ':';
            text[n] = '\0';
            i += runLength;
            continue;
        }
        n += static_cast<std::size_t>(std::snprintf(text + n, 64 - n, "%x", groups[i]));
        ++i;
        if (i < 8 && i != runStart)
            text[n++] = ':';
        text[n] = '\0';
    }
    if (groups[0] == 0xfe80 && scopeId != 0)
        n += static_cast<std::size_t>(
            std::snprintf(text + n, 64 - n, "%%%lu", static_cast<unsigned long>(scopeId)));
    return n;
}

} // namespace

int FormatNumericAddress(AddressFamily family, const unsigned char *address, std::uint32_t scopeId,
                         char *out, unsigned *length) {
    if (!address || !length)
        return 2;
    char text[64] = {};
    const std::size_t n = Format(family, address, scopeId, text);
    const unsigned room = *length;
    *length = static_cast<unsigned>(n + 1);
    if (room < n + 1 || !out)
        return 1;
    std::memcpy(out, text, n);
    return 0;
}

long ParseScopeId(const char *text) {
    if (!text)
        return -1;
    const char *percent = std::strchr(text, '%');
    if (!percent)
        return -1;
    long value = 0;
    const char *p = percent + 1;
    if (*p < '0' || *p > '9')
        return -1;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value > 0x7FFFFFFF / 10)
            return -1;
        value = value * 10 + (*p - '0');
    }
    return value;
}

} // namespace marfel
