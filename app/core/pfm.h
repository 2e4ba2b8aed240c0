// Font metrics of PCL bitmapped soft fonts: one printer font metrics image (little-endian)
// per font from its kept lines, and the cartridge metrics package of such images.
// No Windows header.
#pragma once

#include "pclfilter.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the typeface module provides.
class TypefaceSource {
  public:
    virtual ~TypefaceSource() = default;
    // The typeface's name and family code; an empty name when the module has none.
    virtual std::string TypefaceName(int typeface, int &family) = 0;
    // A string of the module (301-305) or of the application (10106-10108); none when absent.
    virtual std::optional<std::string> String(int id) = 0;
    // The 256 bytes of the type-257 resource of that id; null when it is missing.
    virtual const std::uint8_t *TranslationTable(int resourceId) = 0;
};

inline constexpr std::size_t kPfmHeaderSize = 117;
inline constexpr std::size_t kPfmExtensionSize = 30;
inline constexpr std::size_t kPfmDriverInfoSize = 22;
inline constexpr std::size_t kPfmExtTextMetricSize = 52;
inline constexpr char kPfmDeviceName[] = "QUV PRINTER";

struct SymbolSetMap {
    int translation = 16;
    int charSet = 0;
    int nameId = 0; // 0: none
};
// The mapping of a descriptor's symbol set value (number * 32 + letter - 64).
SymbolSetMap MapSymbolSet(int symbolSet, int fontType);
// The type-257 resource id for a translation table number.
int TranslationResourceId(int tableNumber);
// The PFM weight of a signed stroke weight; 0 outside -7..7.
int MapStrokeWeight(int strokeWeight);

// The font descriptor: the first kept ESC )s#W line with 64 bytes or more; null if none.
const CMacroLine *FindDescriptorLine(const std::vector<CMacroLine> &lines);

// The PFM image of the font whose kept lines these are; none without a descriptor.
std::optional<std::vector<std::uint8_t>> BuildPfmImage(const std::vector<CMacroLine> &lines,
                                                       TypefaceSource &source);

// The package: 20-byte header and title "Wyr", then the images in order; empty for none.
std::vector<std::uint8_t> PackPcm(const std::vector<std::vector<std::uint8_t>> &images);
