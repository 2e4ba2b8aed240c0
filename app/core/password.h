// The administrator password file's codec and the login check. Every administrator
// password is exactly 8 characters; the file holds one little-endian double per character.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

constexpr std::size_t kPasswordLength = 8;
constexpr std::size_t kPasswordFileSize = 64;

// The file's bytes for `password`: blank-padded or cut to 8 characters, each character c
// (signed 8-bit) as tan(c * 3.1415926535 / 180).
std::array<unsigned char, kPasswordFileSize> EncodePassword(std::string_view password);

// The password of a file's bytes into `out` (9 bytes, NUL-terminated). False, with `out`
// empty, for any size but 64 or a value that is not finite. Characters 0-127 come back as
// encoded; one of 0x80 and up comes back as 180 plus its signed value.
bool DecodePassword(const unsigned char *bytes, std::size_t size, char out[kPasswordLength + 1]);

// What a login field does with its text.
enum class PasswordEntry {
    kTooLong,    // more than 8 characters: cut to 8 and put back
    kIncomplete, // fewer than 8, empty or 8 blanks: nothing yet
    kComplete,   // 8 characters to compare
};
PasswordEntry ClassifyPasswordEntry(std::string_view typed);

// True when `typed` is 8 characters equal to the whole stored string (terminator
// included: a stored password shorter than 8 matches nothing).
bool PasswordMatches(std::string_view typed, const char *stored);

// True for a password that can be saved: exactly 8 characters, not 8 blanks, none of
// 0x80 and up (those would not read back as typed).
bool IsSavablePassword(std::string_view password);
