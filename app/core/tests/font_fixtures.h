// Small soft fonts and TrueType fonts made by the tests themselves.
#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fixtures {

inline void Put16(std::string &s, std::size_t at, unsigned x) {
    s[at] = static_cast<char>(x >> 8);
    s[at + 1] = static_cast<char>(x);
}
inline void Put32(std::string &s, std::size_t at, std::uint32_t x) {
    Put16(s, at, x >> 16);
    Put16(s, at + 2, x & 0xFFFF);
}
inline unsigned Get16(const std::string &s, std::size_t at) {
    return static_cast<unsigned>(static_cast<std::uint8_t>(s[at]) << 8 |
                                 static_cast<std::uint8_t>(s[at + 1]));
}
inline std::uint32_t Get32(const std::string &s, std::size_t at) {
    return Get16(s, at) << 16 | Get16(s, at + 2);
}

// ---- soft fonts ----

struct Descriptor {
    int size = 64;     // payload bytes and d[0..1]
    int declared = -1; // the W value when it differs from size
    int format = 0;
    int fontType = 1;
    int spacing = 1;
    int symbolSet = 277; // 8U
    int pitch = 120, pitchExtended = 0;
    int height = 200, heightExtended = 0;
    int style = 0x0102; // MSB in d[4], LSB in d[23]
    int strokeWeight = -3;
    int typeface = 3;
    std::string name = "Courier"; // up to 16 bytes, NUL padded
    char namePad = '\0';
    int xResolution = 600, yResolution = 600;
};

inline std::string DescriptorBytes(const Descriptor &f) {
    std::string d(std::max<std::size_t>(static_cast<std::size_t>(f.size), 68), '\0');
    Put16(d, 0, static_cast<unsigned>(f.size));
    d[2] = static_cast<char>(f.format);
    d[3] = static_cast<char>(f.fontType);
    d[4] = static_cast<char>(f.style >> 8);
    Put16(d, 6, 40);  // baseline
    Put16(d, 8, 30);  // cell width
    Put16(d, 10, 50); // cell height
    d[12] = 0;        // orientation
    d[13] = static_cast<char>(f.spacing);
    Put16(d, 14, static_cast<unsigned>(f.symbolSet));
    Put16(d, 16, static_cast<unsigned>(f.pitch));
    Put16(d, 18, static_cast<unsigned>(f.height));
    Put16(d, 20, 28); // x-height
    d[23] = static_cast<char>(f.style & 0xFF);
    d[24] = static_cast<char>(f.strokeWeight);
    d[25] = static_cast<char>(f.typeface & 0xFF);
    d[26] = static_cast<char>(f.typeface >> 8);
    d[27] = 64; // serif style
    d[28] = 2;  // quality
    d[30] = static_cast<char>(-5);
    d[31] = 3;
    Put16(d, 36, 32);
    Put16(d, 38, 127);
    d[40] = static_cast<char>(f.pitchExtended);
    d[41] = static_cast<char>(f.heightExtended);
    Put16(d, 42, 36);
    if (f.size >= 64) {
        std::string name = f.name.substr(0, 16);
        name.resize(16, f.namePad);
        d.replace(48, 16, name);
    }
    if (f.size >= 68) {
        Put16(d, 64, static_cast<unsigned>(f.xResolution));
        Put16(d, 66, static_cast<unsigned>(f.yResolution));
    }
    d.resize(static_cast<std::size_t>(f.size));
    const int declared = f.declared >= 0 ? f.declared : f.size;
    return "\x1b)s" + std::to_string(declared) + "W" + d;
}

struct Character {
    int code = 65;
    int cls = 1;
    int width = 8, height = 2;
    std::string data;           // raster (class 1) or compressed rows (class 2)
    long long size = LLONG_MIN; // the W value; LLONG_MIN: 16 + data
    bool withCode = true;
};

inline std::string CharacterBytes(const Character &c) {
    std::string d(16, '\0');
    d[0] = 4;
    d[2] = 14;
    d[3] = static_cast<char>(c.cls);
    Put16(d, 6, 1);                               // left offset
    Put16(d, 8, static_cast<unsigned>(c.height)); // top offset
    Put16(d, 10, static_cast<unsigned>(c.width));
    Put16(d, 12, static_cast<unsigned>(c.height));
    Put16(d, 14, static_cast<unsigned>(4 * c.width));
    const long long size =
        c.size != LLONG_MIN ? c.size : static_cast<long long>(16 + c.data.size());
    std::string out = c.withCode ? "\x1b*c" + std::to_string(c.code) + "E" : "";
    return out + "\x1b(s" + std::to_string(size) + "W" + d + c.data;
}

inline std::string SoftFont(const Descriptor &f, const std::vector<Character> &chars,
                            const std::string &before = "", const std::string &after = "") {
    std::string out = before + DescriptorBytes(f);
    for (const Character &c : chars)
        out += CharacterBytes(c);
    return out + after;
}

// ---- TrueType ----

// An sfnt from tables, directory sorted by tag, each table 4-byte aligned.
inline std::string Sfnt(const std::map<std::string, std::string> &tables) {
    std::string font(12 + 16 * tables.size(), '\0');
    Put32(font, 0, 0x00010000);
    Put16(font, 4, static_cast<unsigned>(tables.size()));
    std::size_t i = 0;
    for (const auto &[tag, bytes] : tables) {
        const std::size_t entry = 12 + 16 * i++;
        font.replace(entry, 4, tag);
        Put32(font, entry + 8, static_cast<std::uint32_t>(font.size()));
        Put32(font, entry + 12, static_cast<std::uint32_t>(bytes.size()));
        font += bytes;
        font.resize((font.size() + 3) & ~std::size_t{3}, '\0');
    }
    return font;
}

// A format 4 subtable: segments (start, end, delta), a final 0xFFFF segment added.
inline std::string Format4(std::vector<std::array<unsigned, 3>> segments) {
    segments.push_back({0xFFFF, 0xFFFF, 1});
    const std::size_t n = segments.size();
    std::string s(16 + 8 * n, '\0');
    Put16(s, 0, 4);
    Put16(s, 2, static_cast<unsigned>(s.size()));
    Put16(s, 6, static_cast<unsigned>(2 * n));
    for (std::size_t i = 0; i < n; ++i) {
        Put16(s, 14 + 2 * i, segments[i][1]);
        Put16(s, 16 + 2 * n + 2 * i, segments[i][0]);
        Put16(s, 16 + 4 * n + 2 * i, segments[i][2]);
    }
    return s;
}

// A cmap with one subtable under each (platform, encoding) record.
inline std::string Cmap(const std::vector<std::pair<unsigned, unsigned>> &records,
                        const std::string &sub) {
    std::string c(4 + 8 * records.size(), '\0');
    Put16(c, 2, static_cast<unsigned>(records.size()));
    for (std::size_t i = 0; i < records.size(); ++i) {
        Put16(c, 4 + 8 * i, records[i].first);
        Put16(c, 6 + 8 * i, records[i].second);
        Put32(c, 8 + 8 * i, static_cast<std::uint32_t>(c.size()));
    }
    return c + sub;
}

inline std::string NameTable(const std::vector<std::pair<unsigned, std::string>> &names) {
    std::string t(6 + 12 * names.size(), '\0');
    Put16(t, 2, static_cast<unsigned>(names.size()));
    Put16(t, 4, static_cast<unsigned>(t.size()));
    std::string strings;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::size_t rec = 6 + 12 * i;
        Put16(t, rec, 3);
        Put16(t, rec + 2, 1);
        Put16(t, rec + 4, 0x409);
        Put16(t, rec + 6, names[i].first);
        Put16(t, rec + 8, static_cast<unsigned>(2 * names[i].second.size()));
        Put16(t, rec + 10, static_cast<unsigned>(strings.size()));
        for (char ch : names[i].second) {
            strings += '\0';
            strings += ch;
        }
    }
    return t + strings;
}

// A small font: glyph 0 .notdef, 1 space, 2 'x' (height 500), 3 'H' (height 700), glyph
// metrics 400, 500, 600, 700; codes 32, 72 and 120 mapped.
struct TrueType {
    std::vector<std::pair<unsigned, unsigned>> cmapRecords{{0, 3}, {3, 1}};
    std::vector<std::array<unsigned, 3>> segments{
        {32, 32, 0xFFFF - 30}, {72, 72, 0xFFFF - 68}, {120, 120, 0xFFFF - 117}};
    std::vector<unsigned> advances{400, 500, 600, 700};
    std::vector<std::pair<unsigned, std::string>> names{
        {1, "Tiny"}, {2, "Regular"}, {4, "Tiny Regular"}, {6, "Tiny-Regular"}};
    int italicAngle = 0;
    int proportion = 3, serif = 11;
    unsigned lastCharIndex = 255;
    bool fixedPitch = false;
    bool emptyX = false;
    std::string pclt; // raw bytes of a PCLT table, or none
    std::vector<std::string> without;
};

inline std::string TrueTypeBytes(const TrueType &t) {
    std::map<std::string, std::string> tables;
    std::string head(54, '\0');
    Put32(head, 0, 0x00010000);
    Put32(head, 12, 0x5F0F3CF5);
    Put16(head, 18, 2048);
    Put16(head, 36, static_cast<unsigned>(-100 & 0xFFFF));
    Put16(head, 38, static_cast<unsigned>(-200 & 0xFFFF));
    Put16(head, 40, 1900);
    Put16(head, 42, 1800);
    Put16(head, 50, 1); // long loca offsets
    tables["head"] = head;
    std::string hhea(36, '\0');
    Put16(hhea, 34, static_cast<unsigned>(t.advances.size()));
    tables["hhea"] = hhea;
    std::string hmtx;
    for (unsigned a : t.advances) {
        hmtx += std::string(4, '\0');
        Put16(hmtx, hmtx.size() - 4, a);
    }
    tables["hmtx"] = hmtx;
    std::string os2(78, '\0');
    os2[33] = static_cast<char>(t.serif);
    os2[35] = static_cast<char>(t.proportion);
    Put16(os2, 66, t.lastCharIndex);
    tables["OS/2"] = os2;
    std::string post(32, '\0');
    Put32(post, 0, 0x00030000);
    Put32(post, 4, static_cast<std::uint32_t>(t.italicAngle * 65536));
    Put16(post, 8, static_cast<unsigned>(-75 & 0xFFFF));
    Put16(post, 10, 50);
    Put32(post, 12, t.fixedPitch ? 1 : 0);
    tables["post"] = post;
    // glyf: glyphs 0, 1 empty; 2 'x' 0..500 (or empty); 3 'H' -10..690.
    std::string glyf, loca(5 * 4, '\0');
    auto glyph = [&](int yMin, int yMax) {
        std::string g(12, '\0');
        Put16(g, 4, static_cast<unsigned>(yMin & 0xFFFF));
        Put16(g, 8, static_cast<unsigned>(yMax & 0xFFFF));
        glyf += g;
    };
    Put32(loca, 8, 0);
    if (!t.emptyX)
        glyph(0, 500);
    Put32(loca, 12, static_cast<std::uint32_t>(glyf.size()));
    glyph(-10, 690);
    Put32(loca, 16, static_cast<std::uint32_t>(glyf.size()));
    tables["glyf"] = glyf;
    tables["loca"] = loca;
    tables["name"] = NameTable(t.names);
    tables["cmap"] = Cmap(t.cmapRecords, Format4(t.segments));
    if (!t.pclt.empty())
        tables["PCLT"] = t.pclt;
    for (const std::string &tag : t.without)
        tables.erase(tag);
    return Sfnt(tables);
}

} // namespace fixtures
