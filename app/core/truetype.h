// TrueType table and name lookups, bounded by the font's length. All numbers in a font
// are big-endian. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct TrueTypeTable {
    const std::uint8_t *data = nullptr; // null: absent
    std::uint32_t length = 0;
};

// The table with the 4-byte tag; absent when the directory or the table does not lie
// wholly inside the font's bytes.
TrueTypeTable FindTrueTypeTable(const char *tag, const std::uint8_t *font, std::size_t fontLength);

// A platform-3 name of the name table as 8-bit text (the low byte of each UTF-16 unit), at
// most 259 characters: the encoding-1 record wins at once, else the last platform-3 record
// with the id. Empty when there is none or it lies outside the table.
std::string GetTrueTypeName(const TrueTypeTable &names, std::uint16_t nameId);

std::uint16_t ReadBig16(const std::uint8_t *p);
std::uint32_t ReadBig32(const std::uint8_t *p);
