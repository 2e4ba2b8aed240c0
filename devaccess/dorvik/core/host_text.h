// The printer's address text: an IPv4 dotted quad of exactly four decimal parts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace dorvik {

// The four address bytes of a host text, in text order, or nothing when the text is not
// exactly four parts of digits only, each at most 255 and at most 15 characters long.
// An empty part counts as 0, so "1..2.3" is 1.0.2.3.
std::optional<std::array<std::uint8_t, 4>> ParseHostText(std::string_view text);

} // namespace dorvik
