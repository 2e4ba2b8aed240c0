// The administrator password file's codec and the login check.
#include "password.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr double kPi = 3.1415926535;

bool AllBlanks(std::string_view text) {
    for (char c : text)
        if (c != ' ')
            return false;
    return true;
}

} // namespace

std::array<unsigned char, kPasswordFileSize> EncodePassword(std::string_view password) {
    std::array<unsigned char, kPasswordFileSize> out{};
    for (std::size_t i = 0; i < kPasswordLength; ++i) {
        const char c = i < password.size() ? password[i] : ' ';
        const double x = std::tan(static_cast<signed char>(c) * kPi / 180);
        std::uint64_t bits = 0;
        std::memcpy(&bits, &x, sizeof bits);
        for (std::size_t b = 0; b < 8; ++b)
            out[i * 8 + b] = static_cast<unsigned char>(bits >> (8 * b));
    }
    return out;
}

bool DecodePassword(const unsigned char *bytes, std::size_t size, char out[kPasswordLength + 1]) {
    out[0] = '\0';
    if (!bytes || size != kPasswordFileSize)
        return false;
    char decoded[kPasswordLength + 1] = {};
    for (std::size_t i = 0; i < kPasswordLength; ++i) {
        std::uint64_t bits = 0;
        for (std::size_t b = 0; b < 8; ++b)
            bits |= static_cast<std::uint64_t>(bytes[i * 8 + b]) << (8 * b);
        double x = 0;
        std::memcpy(&x, &bits, sizeof x);
        if (!std::isfinite(x))
            return false;
        double y = std::atan(x) * 180 / kPi;
        if (y < 0)
            y += 180;
        // Rounding to the nearest degree absorbs a last-place difference of tan.
        const int c = static_cast<int>(std::floor(y + 0.5)); // 0..180
        decoded[i] = static_cast<char>(static_cast<unsigned char>(c));
    }
    std::memcpy(out, decoded, sizeof decoded);
    return true;
}

PasswordEntry ClassifyPasswordEntry(std::string_view typed) {
    if (typed.size() > kPasswordLength)
        return PasswordEntry::kTooLong;
    if (typed.size() < kPasswordLength || AllBlanks(typed))
        return PasswordEntry::kIncomplete;
    return PasswordEntry::kComplete;
}

bool PasswordMatches(std::string_view typed, const char *stored) {
    if (!stored || typed.size() != kPasswordLength)
        return false;
    // Whole strings: the stored terminator must stand where the typed text ends.
    for (std::size_t i = 0; i < kPasswordLength; ++i)
        if (stored[i] == '\0' || stored[i] != typed[i])
            return false;
    return stored[kPasswordLength] == '\0';
}

bool IsSavablePassword(std::string_view password) {
    if (password.size() != kPasswordLength || AllBlanks(password))
        return false;
    for (char c : password)
        if (static_cast<unsigned char>(c) >= 0x80 || c == '\0')
            return false;
    return true;
}
