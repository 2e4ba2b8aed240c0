// PostScript font and form downloads, macro and colour-profile streams, and the profile
// rows decoded from a profile's download name. Pieces and bytes come as arguments; each
// builder gives the stream's bytes or nothing when no sound stream can be made. No Windows
// header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Ends the data a stored-file copy reads (PSFORMF3.DAT and the end of PSFORMF7.DAT hold it).
inline constexpr char kPostScriptEndMarker[] = "%VelmarStoredDataEndsHere%";

// A PostScript string's inner text: '(' ')' '\' escaped, bytes outside 0x20-0x7E as \ooo.
std::string EscapePostScriptString(const std::string &text);
// Longest name a PostScript interpreter need accept.
inline constexpr std::size_t kMaxPostScriptName = 127;
// True when the name can stand as a "/name" literal: 1 to kMaxPostScriptName bytes in
// 0x21-0x7E, none of ()<>[]{}/%.
bool IsPostScriptNameSafe(const std::string &name);
// True when neither the UEL nor the end marker occurs in the bytes.
bool IsSafePostScriptData(const std::uint8_t *data, std::size_t length);

// The PFB segments as the printer's interpreter reads them: text segments unchanged,
// binary ones as lower-case hex, CR LF after every 78 digits (counted across segments), CR
// after each binary segment. Type 3, a byte that is no segment start, a short header or the
// end of the data ends the walk; a length past the end is cut to the bytes there.
std::string WalkPfbSegments(const std::uint8_t *data, std::size_t length);

// The font stream; nothing for a file without "%!PS-Adobe" (searched from byte 6 in a PFB),
// one holding the UEL or the end marker, or an empty piece (f3 only for a PFB).
std::optional<std::string> BuildPostScriptFontStream(const std::uint8_t *data, std::size_t length,
                                                     const std::string &volume,
                                                     const std::string &name, const std::string &f1,
                                                     const std::string &f3);
inline bool IsPfbFile(const std::uint8_t *data, std::size_t length) {
    return length > 0 && data[0] == 0x80;
}

struct BoundingBox {
    int left = 0, bottom = 0, right = 940, top = 3402;
    bool operator==(const BoundingBox &o) const {
        return left == o.left && bottom == o.bottom && right == o.right && top == o.top;
    }
};
// The four integers after the first "%%BoundingBox:", read as "%d%d%d%d" would (white
// space skipped, a fraction ends them, a value past 32 bits stops them); after "(atend)"
// the last such comment with four integers; else 0 0 940 3402.
BoundingBox FindBoundingBox(const std::uint8_t *data, std::size_t length);

// True when the form row goes the generic FSDOWNLOAD way (folder exactly "\common\demo").
bool IsDemoFolder(const std::string &folder);

// PSFORMF1.DAT to PSFORMF7.DAT, in order.
using PostScriptPieces = std::array<std::string, 7>;

// The form stream (ten steps); nothing for an unsafe form name, data holding the UEL or the
// marker, or an empty piece.
std::optional<std::string> BuildPostScriptFormStream(const std::uint8_t *data, std::size_t length,
                                                     const std::string &volume,
                                                     const std::string &name,
                                                     const PostScriptPieces &pieces);

// An ID of 1 to 9 decimal digits and no '"' or byte below 0x20 in any of the texts.
bool IsSafeProfileTarget(const std::string &volume, const std::string &folder,
                         const std::string &name, const std::string &id);

// Macro or demo page: delete "<volume><folder>\<id>::*", store, UEL. Nothing when the
// target fails IsSafeFontTarget or the stream would pass 32 bits.
std::optional<std::string> BuildMacroStream(const std::uint8_t *data, std::size_t length,
                                            const std::string &volume, const std::string &folder,
                                            const std::string &name, const std::string &id);
// Colour profile: UEL, wild deletes of ink<id>b* and ink<id>c* on 1:\common\smaps_env\color,
// UEL, store, UEL. Nothing when the target fails IsSafeProfileTarget or the ID is 0 (the
// row of a profile whose name holds no number).
std::optional<std::string> BuildProfileStream(const std::uint8_t *data, std::size_t length,
                                              const std::string &volume, const std::string &folder,
                                              const std::string &name, const std::string &id);

// The profile rows of a download name; the codes are the string numbers of the values.
struct ProfileRows {
    int userProfile = 0; // number minus 1000, 0 up to 1000
    int screen = 0;      // 10129 or 10130
    int resolution = 0;  // 10131, 10132 or 10133
    int media = 0;       // 10134 or 10135
};
ProfileRows DecodeProfileName(const std::string &name);
// The description row: at most 32 bytes of the .OP1 file, up to a NUL.
std::string ProfileDescription(const std::uint8_t *data, std::size_t length);
