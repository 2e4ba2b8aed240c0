// PCL bitmapped soft fonts (.SFP): conversion to the printer's stored font layout (a 76-byte
// header, a character table and character blocks, big-endian), the descriptor's property
// values and its font selection text. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr std::size_t kStoredFontHeaderSize = 76;
inline constexpr std::size_t kMinFontDescriptor = 64;    // through the font name
inline constexpr std::size_t kResolutionDescriptor = 68; // with the X and Y resolution
inline constexpr int kMaxCompressedWidth = 2080;         // pixels of a 260-byte row

// The font descriptor of an .SFP file: the payload of its first ESC )s#W, after any ESC E
// and ESC *c#D. `size` is the payload's length in the file (the declared value, clamped to
// the bytes there); `next` is the offset of the first ESC after the payload (or the end).
struct FontDescriptor {
    const std::uint8_t *d = nullptr;
    std::size_t size = 0;
    std::size_t next = 0;
};

// The descriptor; empty when the file starts otherwise or its payload is under 64 bytes.
std::optional<FontDescriptor> FindFontDescriptor(const std::uint8_t *file, std::size_t size);

// One converted character: its code (1..255) and its block (12-byte header and raster).
struct CharacterBlock {
    int code = 0;
    std::vector<std::uint8_t> block;
};

// The characters after the descriptor, in the order of the file; a code defined again
// replaces the earlier definition (which is dropped). Malformed characters are left out; a
// negative or out-of-file data size ends the walk.
std::vector<CharacterBlock> ConvertCharacters(const std::uint8_t *file, std::size_t size,
                                              std::size_t start);

// The raster of a class-2 (compressed) character from its data (descriptor included):
// width and height as in the descriptor. Empty when wider than 2080 pixels or the data
// ends before the last row; runs are clipped to the row and repeats to the height.
std::optional<std::vector<std::uint8_t>> DecompressCharacter(const std::uint8_t *data,
                                                             std::size_t size);

// The character table: one 8-byte entry per character in ascending code order (code,
// block size, offset of the block from byte 0 of the stored font).
std::vector<std::uint8_t> PackCharacterTable(const std::vector<CharacterBlock> &chars);

// The 76-byte header of the stored font for `count` characters and total size n.
std::vector<std::uint8_t> BuildStoredFontHeader(const FontDescriptor &desc, std::size_t count,
                                                std::uint32_t n);

// The whole stored font; empty when the file has no usable descriptor or the font would
// pass 32 bits.
std::optional<std::vector<std::uint8_t>> ConvertSoftFont(const std::uint8_t *file,
                                                         std::size_t size);

// The 16-byte font name: its trailing blanks removed when the 16th byte is a blank.
std::string GetFontName(const FontDescriptor &desc);

// The values of the descriptor's property rows.
struct SoftFontRows {
    std::string name;
    int format = 0;
    bool showResolution = false;
    int xResolution = 0, yResolution = 0;
    int fontType = 0;
    int symbolSet = 0;
    int spacing = 0;    // 0 fixed, else proportional
    std::string pitch;  // characters per inch, trimmed; "0" for pitch 0
    std::string height; // points, trimmed
    int style = 0;
    int strokeWeight = 0; // signed
    int typeface = 0;
};
SoftFontRows GetSoftFontRows(const FontDescriptor &desc);

// The PCL font selection text of the descriptor:
// ESC ( <set><letter> ESC (s <spacing>p <pitch>h <height>v <style>s <weight>b <typeface>T.
std::string BuildFontSelection(const FontDescriptor &desc);
