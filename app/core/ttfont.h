// TrueType fonts (.TTF): the facts the printer's 112-byte font header is made of, read
// with every access bounded by its table, the header itself and the typeface counter's
// rule. No Windows header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "truetype.h"

inline constexpr std::size_t kTrueTypeHeaderSize = 112;
inline constexpr std::size_t kPcltSize = 54;
inline constexpr int kFirstTypeface = 3000;
inline constexpr int kLastTypeface = 4095;

// True when no cmap encoding record is (platform 3, encoding 1).
bool IsBoundFont(const TrueTypeTable &cmap);
// The subtable of the (3,1) record, else of the last platform-3 record; absent when there
// is none or it starts outside the cmap. Its length is its own length field, cut to the
// cmap's end.
TrueTypeTable FindUnicodeCmap(const TrueTypeTable &cmap);
// Glyph index of a code by a format 4 subtable; 0 for another format, an unmapped code or
// a glyph-array entry outside the subtable.
std::uint16_t MapCharToGlyph(const TrueTypeTable &subtable, std::uint16_t code);

struct CharacterMapScan {
    std::uint16_t space = 0, x = 0, h = 0; // glyphs of 32, 120 and 72
    std::uint32_t count = 0;               // characters the segments before 0xFFFF cover
};
// A subtable that is absent, not format 4, or whose arrays do not fit gives all zero.
CharacterMapScan ScanCharacterMap(const TrueTypeTable &subtable);

// PCL style word: posture 1 for a nonzero post.italicAngle, plus the width part of the
// PANOSE proportion (OS/2 byte 35): 5 24, 6 4, 7 28, 8 8.
int ComputeStyleWord(std::int32_t italicAngle, std::uint8_t panoseProportion);
// PCL serif style of the PANOSE serif style (OS/2 byte 33).
int ComputeSerifStyle(std::uint8_t panoseSerif);

// What the header is built from. Empty when the font lacks head, hhea, OS/2, hmtx, loca,
// glyf, post or name, or one of them is too short for its fixed fields.
struct TrueTypeFacts {
    std::size_t fileSize = 0;
    bool bound = false;
    bool hasPclt = false;
    std::array<std::uint8_t, kPcltSize> pclt{};
    std::int16_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    std::uint16_t unitsPerEm = 0;
    bool fixedPitch = false;
    std::int16_t underlinePosition = 0, underlineThickness = 0;
    std::uint16_t spaceAdvance = 0;
    std::uint16_t xHeight = 0, capHeight = 0; // glyph heights of 'x' and 'H'
    std::uint16_t lastCharIndex = 0;
    std::uint32_t characterCount = 0;
    int style = 0;
    int serifStyle = 0;
    std::string fullName; // name id 4
    std::uint16_t pcltSymbolSet() const {
        return static_cast<std::uint16_t>(pclt[18] << 8 | pclt[19]);
    }
};
std::optional<TrueTypeFacts> ReadTrueTypeFacts(const std::uint8_t *font, std::size_t length);

// Font type of header byte 13: unbound 11; bound with last index up to 127 0, else 1
// below 193 characters, else 2.
int TrueTypeFontType(const TrueTypeFacts &facts);

// The 112-byte header; `typeface` is used only when the font has no PCLT table.
std::array<std::uint8_t, kTrueTypeHeaderSize> BuildTrueTypeHeader(const TrueTypeFacts &facts,
                                                                  int typeface);

// The typeface counter: the number to use now (a stored value outside 3000..4095 counts as
// 3000) and, in next, the value to keep (3000 after 4095).
int TakeTypefaceNumber(int stored, int &next);
