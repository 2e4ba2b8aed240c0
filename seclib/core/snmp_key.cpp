#include "snmp_key.h"

#include <cstring>

namespace marfel {
namespace {

unsigned NibbleOf(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return 0;
}

constexpr int kRedraws = 16;

} // namespace

std::size_t HexToBinary(const char *text, std::size_t length, unsigned char *out,
                        std::size_t size) {
    if (!text || !out || length == 0 || length % 2 != 0 || length / 2 > size)
        return 0;
    for (std::size_t i = 0; i < length / 2; ++i)
        out[i] = static_cast<unsigned char>(NibbleOf(text[2 * i]) << 4 | NibbleOf(text[2 * i + 1]));
    return length / 2;
}

std::size_t HexToBinary(const char *text, unsigned char *out, std::size_t size) {
    return text ? HexToBinary(text, std::strlen(text), out, size) : 0;
}

std::uint32_t NextSaltValue(std::uint32_t (*draw)(void *state), void *state,
                            std::uint32_t previous) {
    std::uint32_t value = previous;
    for (int i = 0; i < kRedraws && value == previous; ++i)
        value = (draw(state) & 0x7FFFu) & 0x7FFFFFFEu;
    if (value == previous)
        value = (previous ^ 2u) & 0x7FFEu;
    return value;
}

void WriteSalt(std::uint32_t engineBoots, std::uint32_t value, unsigned char *salt) {
    for (int i = 0; i < 4; ++i) {
        salt[i] = static_cast<unsigned char>(engineBoots >> (24 - 8 * i));
        salt[4 + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
    }
}

} // namespace marfel
