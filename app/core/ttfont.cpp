#include "ttfont.h"

#include <algorithm>
#include <cstdlib>

#include "stream.h"

namespace {

// Reads of fixed fields, each checked against its table.
std::uint16_t U16(const TrueTypeTable &t, std::size_t at) {
    return at + 2 <= t.length ? ReadBig16(t.data + at) : 0;
}
std::uint32_t U32(const TrueTypeTable &t, std::size_t at) {
    return at + 4 <= t.length ? ReadBig32(t.data + at) : 0;
}
std::uint8_t U8(const TrueTypeTable &t, std::size_t at) {
    return at < t.length ? t.data[at] : 0;
}

// The smallest tables whose fixed fields are read.
struct Required {
    const char *tag;
    std::uint32_t minLength;
};
constexpr Required kRequired[] = {
    {"head", 54}, {"hhea", 36}, {"OS/2", 68}, {"hmtx", 0},
    {"loca", 0},  {"glyf", 0},  {"post", 16}, {"name", 0},
};

// A segment array of a format 4 subtable: segCount and the four arrays' offsets.
struct Segments {
    std::size_t count = 0, end = 0, start = 0, delta = 0, rangeOffset = 0;
    bool ok = false;
};

Segments ReadSegments(const TrueTypeTable &sub) {
    Segments s;
    if (!sub.data || sub.length < 14 || U16(sub, 0) != 4)
        return s;
    s.count = U16(sub, 6) / 2;
    s.end = 14;
    s.start = 16 + 2 * s.count;
    s.delta = 16 + 4 * s.count;
    s.rangeOffset = 16 + 6 * s.count;
    s.ok = 16 + 8 * s.count <= sub.length;
    return s;
}

// yMax - yMin of a glyph's glyf header; 0 when the glyph is past loca's entries, empty, or
// its header lies outside glyf.
std::uint16_t GlyphHeight(const TrueTypeTable &loca, const TrueTypeTable &glyf, bool longOffsets,
                          std::uint16_t glyph) {
    const std::size_t entries = longOffsets ? loca.length / 4 : loca.length / 2;
    if (static_cast<std::size_t>(glyph) + 1 >= entries)
        return 0;
    auto offset = [&](std::size_t i) -> std::uint64_t {
        return longOffsets ? U32(loca, 4 * i) : 2u * U16(loca, 2 * i);
    };
    const std::uint64_t from = offset(glyph), to = offset(glyph + 1u);
    if (to <= from || from + 10 > glyf.length)
        return 0;
    const auto yMin = static_cast<std::int16_t>(U16(glyf, from + 4));
    const auto yMax = static_cast<std::int16_t>(U16(glyf, from + 8));
    return static_cast<std::uint16_t>(yMax - yMin);
}

void Put16(std::uint8_t *p, std::uint32_t x) {
    p[0] = static_cast<std::uint8_t>(x >> 8);
    p[1] = static_cast<std::uint8_t>(x);
}

} // namespace

bool IsBoundFont(const TrueTypeTable &cmap) {
    const std::size_t count = U16(cmap, 2);
    for (std::size_t i = 0; i < count && 4 + 8 * i + 8 <= cmap.length; ++i)
        if (U16(cmap, 4 + 8 * i) == 3 && U16(cmap, 4 + 8 * i + 2) == 1)
            return false;
    return true;
}

TrueTypeTable FindUnicodeCmap(const TrueTypeTable &cmap) {
    const std::size_t count = U16(cmap, 2);
    std::optional<std::uint32_t> chosen;
    for (std::size_t i = 0; i < count && 4 + 8 * i + 8 <= cmap.length; ++i) {
        const std::size_t rec = 4 + 8 * i;
        if (U16(cmap, rec) != 3)
            continue;
        chosen = U32(cmap, rec + 4);
        if (U16(cmap, rec + 2) == 1)
            break;
    }
    if (!chosen || *chosen >= cmap.length)
        return {};
    TrueTypeTable sub{cmap.data + *chosen, cmap.length - *chosen};
    if (sub.length >= 4 && U16(sub, 0) == 4)
        sub.length = std::min<std::uint32_t>(sub.length, U16(sub, 2));
    return sub;
}

std::uint16_t MapCharToGlyph(const TrueTypeTable &sub, std::uint16_t code) {
    const Segments s = ReadSegments(sub);
    if (!s.ok)
        return 0;
    for (std::size_t i = 0; i < s.count; ++i) {
        if (U16(sub, s.end + 2 * i) < code)
            continue;
        const std::uint16_t start = U16(sub, s.start + 2 * i);
        if (code < start)
            return 0;
        const std::uint16_t delta = U16(sub, s.delta + 2 * i);
        const std::size_t rangeAt = s.rangeOffset + 2 * i;
        const std::uint16_t range = U16(sub, rangeAt);
        if (range == 0)
            return static_cast<std::uint16_t>(code + delta);
        const std::size_t at = rangeAt + range + 2u * (code - start);
        if (at + 2 > sub.length)
            return 0;
        const std::uint16_t glyph = U16(sub, at);
        return glyph == 0 ? 0 : static_cast<std::uint16_t>(glyph + delta);
    }
    return 0;
}

CharacterMapScan ScanCharacterMap(const TrueTypeTable &sub) {
    CharacterMapScan scan;
    const Segments s = ReadSegments(sub);
    if (!s.ok)
        return scan;
    for (std::size_t i = 0; i < s.count; ++i) {
        const int end = U16(sub, s.end + 2 * i);
        if (end == 0xFFFF)
            break;
        const int start = U16(sub, s.start + 2 * i);
        scan.count += static_cast<std::uint32_t>(std::abs(end - start) + 1);
    }
    scan.space = MapCharToGlyph(sub, 32);
    scan.x = MapCharToGlyph(sub, 120);
    scan.h = MapCharToGlyph(sub, 72);
    return scan;
}

int ComputeStyleWord(std::int32_t italicAngle, std::uint8_t proportion) {
    int style = italicAngle != 0 ? 1 : 0;
    switch (proportion) {
    case 5:
        style += 24;
        break;
    case 6:
        style += 4;
        break;
    case 7:
        style += 28;
        break;
    case 8:
        style += 8;
        break;
    default:
        break;
    }
    return style;
}

int ComputeSerifStyle(std::uint8_t serif) {
    switch (serif) {
    case 2:
    case 3:
        return 132;
    case 7:
        return 130;
    case 8:
    case 15:
        return 65;
    case 9:
        return 75;
    case 10:
        return 131;
    case 14:
        return 72;
    default:
        return serif >= 16 ? 0 : 64;
    }
}

std::optional<TrueTypeFacts> ReadTrueTypeFacts(const std::uint8_t *font, std::size_t length) {
    TrueTypeTable t[std::size(kRequired)];
    for (std::size_t i = 0; i < std::size(kRequired); ++i) {
        t[i] = FindTrueTypeTable(kRequired[i].tag, font, length);
        if (!t[i].data || t[i].length < kRequired[i].minLength)
            return std::nullopt;
    }
    const TrueTypeTable &head = t[0], &hhea = t[1], &os2 = t[2], &hmtx = t[3], &loca = t[4],
                        &glyf = t[5], &post = t[6], &name = t[7];
    TrueTypeFacts f;
    f.fileSize = length;
    const TrueTypeTable cmap = FindTrueTypeTable("cmap", font, length);
    f.bound = IsBoundFont(cmap);
    const TrueTypeTable pclt = FindTrueTypeTable("PCLT", font, length);
    if (pclt.data && pclt.length >= kPcltSize) {
        f.hasPclt = true;
        std::copy(pclt.data, pclt.data + kPcltSize, f.pclt.begin());
    }
    f.xMin = static_cast<std::int16_t>(U16(head, 36));
    f.yMin = static_cast<std::int16_t>(U16(head, 38));
    f.xMax = static_cast<std::int16_t>(U16(head, 40));
    f.yMax = static_cast<std::int16_t>(U16(head, 42));
    f.unitsPerEm = U16(head, 18);
    const bool longOffsets = U16(head, 50) != 0;
    f.fixedPitch = U32(post, 12) != 0;
    f.underlinePosition = static_cast<std::int16_t>(U16(post, 8));
    f.underlineThickness = static_cast<std::int16_t>(U16(post, 10));
    const CharacterMapScan scan = ScanCharacterMap(FindUnicodeCmap(cmap));
    f.characterCount = scan.count;
    // A glyph past the metrics takes the last advance (the rest repeat it).
    const std::uint16_t metrics = U16(hhea, 34);
    if (metrics != 0)
        f.spaceAdvance = U16(hmtx, 4u * std::min<std::size_t>(scan.space, metrics - 1u));
    f.xHeight = GlyphHeight(loca, glyf, longOffsets, scan.x);
    f.capHeight = GlyphHeight(loca, glyf, longOffsets, scan.h);
    f.lastCharIndex = U16(os2, 66);
    f.style = ComputeStyleWord(static_cast<std::int32_t>(U32(post, 4)), U8(os2, 35));
    f.serifStyle = ComputeSerifStyle(U8(os2, 33));
    f.fullName = GetTrueTypeName(name, 4);
    return f;
}

int TrueTypeFontType(const TrueTypeFacts &f) {
    int type = 11;
    if (f.bound)
        type = f.lastCharIndex <= 127 ? 0 : f.characterCount < 193 ? 1 : 2;
    return MapFontType(type);
}

std::array<std::uint8_t, kTrueTypeHeaderSize> BuildTrueTypeHeader(const TrueTypeFacts &f,
                                                                  int typeface) {
    std::array<std::uint8_t, kTrueTypeHeaderSize> h{};
    const std::uint8_t kind = f.bound ? 0xF4 : 0xF3;
    const auto &p = f.pclt;
    auto pclt16 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(p[at] << 8 | p[at + 1]);
    };
    h[3] = kind;
    const std::uint64_t size = kTrueTypeHeaderSize + static_cast<std::uint64_t>(f.fileSize);
    Put16(&h[4], static_cast<std::uint32_t>(size >> 16));
    Put16(&h[6], static_cast<std::uint32_t>(size));
    Put16(&h[10], 0x40);
    h[13] = static_cast<std::uint8_t>(TrueTypeFontType(f));
    h[16] = kind;
    Put16(&h[18], f.hasPclt ? pclt16(18) : 0);
    Put16(&h[22], static_cast<std::uint16_t>(f.xMax - f.xMin));
    Put16(&h[24], static_cast<std::uint16_t>(f.yMax - f.yMin));
    h[26] = f.hasPclt ? p[50] : 0;
    h[27] = f.fixedPitch ? 0 : 1;
    Put16(&h[28], f.hasPclt ? pclt16(8) : f.spaceAdvance);
    Put16(&h[32], f.hasPclt ? pclt16(10) : f.xHeight);
    Put16(&h[34], f.hasPclt ? pclt16(12) : static_cast<std::uint32_t>(f.style));
    Put16(&h[36], f.hasPclt ? pclt16(14) : static_cast<std::uint32_t>(typeface));
    h[38] = f.hasPclt ? p[52] : static_cast<std::uint8_t>(f.serifStyle);
    h[39] = 2;
    Put16(&h[46], std::min<std::uint32_t>(f.characterCount, 0xFFFF));
    Put16(&h[50], f.hasPclt ? pclt16(16) : f.capHeight);
    static constexpr std::uint8_t kNoComplement[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 6};
    if (f.hasPclt)
        std::copy(p.begin() + 36, p.begin() + 44, h.begin() + 58);
    else
        std::copy(std::begin(kNoComplement), std::end(kNoComplement), h.begin() + 58);
    Put16(&h[66], static_cast<std::uint16_t>(f.underlinePosition));
    Put16(&h[68], static_cast<std::uint16_t>(f.underlineThickness));
    Put16(&h[70], f.unitsPerEm);
    h[72] = 1;
    Put16(&h[74], 0x10);
    if (f.hasPclt) {
        std::copy(p.begin() + 20, p.begin() + 36, h.begin() + 76);
    } else {
        std::string name = f.fullName.substr(0, 16);
        name += '\0';
        name.resize(16, ' ');
        std::copy(name.begin(), name.begin() + 16, h.begin() + 76);
    }
    h[92] = h[93] = 0x43; // "CC"
    h[97] = 8;
    std::copy(h.begin() + 58, h.begin() + 66, h.begin() + 98);
    h[106] = h[107] = 0xFF;
    return h;
}

int TakeTypefaceNumber(int stored, int &next) {
    const int value = stored >= kFirstTypeface && stored <= kLastTypeface ? stored : kFirstTypeface;
    next = value + 1 > kLastTypeface ? kFirstTypeface : value + 1;
    return value;
}
