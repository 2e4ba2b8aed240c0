// The PCL print-file filter: a print file cut into single commands and text runs, the lines
// the filter flags keep, and the macro pieces written from them. No Windows header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// 28 flags, as PFilters.dat holds them: nonzero drops (0 to 25), brackets with cursor
// push/pop (26) or splits at macro control commands (27).
using MacroFlags = std::array<std::int32_t, 28>;
inline constexpr std::size_t kFlagPushPop = 26;
inline constexpr std::size_t kFlagSplit = 27;
inline constexpr std::size_t kFlagConfigureImage = 19;

enum class MacroLineKind { Text, Command, Pjl, Uel };

// One command or text run of a print file.
struct CMacroLine {
    MacroLineKind kind = MacroLineKind::Text;
    int keep = 1;
    std::uint32_t length = 0;          // bytes taken in the file
    std::string prefix;                // ESC and up to three characters ("@PJL", "" for text)
    int sign = 2;                      // 0 '+', 1 '-', 2 none
    double value = 0;                  // magnitude (exact for every capped integer)
    std::uint32_t count = 0;           // the integer part, capped
    std::uint8_t terminator = 0;       // upper-cased; 0 for none
    std::vector<std::uint8_t> payload; // data bytes, text, or the raw PJL/UEL line
    int noValue = 1;

    // The integer value with its sign.
    std::int64_t SignedCount() const {
        return sign == 1 ? -static_cast<std::int64_t>(count) : count;
    }
    bool Is(const char *pfx, char term) const {
        return prefix == pfx && terminator == static_cast<std::uint8_t>(term);
    }
};

// Carried from one line to the next within one file.
struct MacroParserState {
    bool moreFollow = false; // the last command ended with a lower-case terminator
    std::string prefix;      // and had this prefix
    bool pjl = false;
};

// The prefix at `at` (an ESC): ESC and at most three characters. Returns its length.
std::size_t ParseCommandPrefix(const std::uint8_t *at, const std::uint8_t *end,
                               std::string &prefix);
// Sign, value, terminator and data after the prefix; returns the bytes read (from `at`).
std::size_t ParseEscape(CMacroLine &line, const std::uint8_t *at, const std::uint8_t *end,
                        MacroParserState &state);
// One line from `at` (before `end`); it takes at least one byte.
CMacroLine CutMacroLine(const std::uint8_t *at, const std::uint8_t *end, MacroParserState &state);
// The filter's verdict for the line under the flags.
bool KeepLine(const CMacroLine &line, const MacroFlags &flags);
// The line as written back to a piece.
std::string WriteEscape(const CMacroLine &line);

// A configure image data command (kind 1) or a palette control ID command (kind 0).
struct PaletteRecord {
    std::size_t line = 0; // index among the kept lines
    int rgb = 0;          // first data byte is 0
    int encoding = 0;
    int bits = 0;
    std::int64_t paletteId = 0;
    int kind = 0;
    bool already = false; // the palette ID was already among the records
};

struct MacroReader {
    MacroFlags flags{};
    std::vector<CMacroLine> lines; // kept lines
    std::uint64_t total = 0;       // their length
    std::int64_t paletteId = 0;
    std::vector<PaletteRecord> palettes;
};

// Cuts the data into lines with a fresh parser state and keeps those the flags pass.
MacroReader ReadMacroLines(const std::uint8_t *data, std::size_t size, const MacroFlags &flags);

struct MacroPiece {
    std::string name; // the first piece's given name, then "M%d.bin" or "F%d.bin"
    std::string bytes;
};

// The palette set-up for a dropped configuration command.
std::string PaletteSetupString(int rgb, int bits);
std::string PushPrologue(const MacroReader &reader);
std::string PopEpilogue(const MacroReader &reader);
// The pieces to save, in order; the lines and palette records are used up.
std::vector<MacroPiece> SplitMacroLines(MacroReader &reader, const std::string &firstName);
