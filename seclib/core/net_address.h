// Numeric address text of the socket helpers.
#pragma once

#include <cstdint>

namespace marfel {

enum class AddressFamily { kIpv4, kIpv6 };

// IPv4 as four decimal numbers joined by "."; IPv6 as eight lower-case hexadecimal groups
// without leading zeros, the first run of zero groups (even a single one) written as "::", and
// "%" and the decimal scope id after an fe80 address with a non-zero scope. `*length` becomes
// the text length + 1 in both cases; the text (no zero byte) is copied only when `*length`
// was at least that. Returns 0 copied, 1 only the need stored, 2 a NULL argument.
int FormatNumericAddress(AddressFamily family, const unsigned char *address, std::uint32_t scopeId,
                         char *out, unsigned *length);

// The decimal number after the first "%" of the text, or -1 when there is none.
long ParseScopeId(const char *text);

} // namespace marfel
