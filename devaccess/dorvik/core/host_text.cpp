#include "host_text.h"

namespace dorvik {

namespace {
constexpr std::size_t kMaxPartLength = 15; // a part was held in a 16-byte field
}

std::optional<std::array<std::uint8_t, 4>> ParseHostText(std::string_view text) {
    std::array<std::uint8_t, 4> bytes{};
    std::size_t part = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        const std::string_view digits = text.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (part == bytes.size() || digits.size() > kMaxPartLength)
            return std::nullopt;
        unsigned value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (value > 255)
                return std::nullopt;
        }
        bytes[part++] = static_cast<std::uint8_t>(value);
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    if (part != bytes.size())
        return std::nullopt;
    return bytes;
}

} // namespace dorvik
