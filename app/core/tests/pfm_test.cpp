#include "pfm.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "font_fixtures.h"

using namespace fixtures;

namespace {

// The typeface module as a table.
class TableSource : public TypefaceSource {
  public:
    std::map<int, std::pair<std::string, int>> typefaces{{3, {"Courier", 0x30}}};
    std::map<int, std::string> strings{{301, " (Math8)"},
                                       {302, " (PI Font)"},
                                       {303, " (LineDraw)"},
                                       {304, " (PC Line)"},
                                       {305, " (US Legal)"}};
    std::map<int, std::array<std::uint8_t, 256>> tables;
    std::vector<int> typefacesAsked, tablesAsked;

    std::string TypefaceName(int typeface, int &family) override {
        typefacesAsked.push_back(typeface);
        auto it = typefaces.find(typeface);
        family = it == typefaces.end() ? 0 : it->second.second;
        return it == typefaces.end() ? "" : it->second.first;
    }
    std::optional<std::string> String(int id) override {
        auto it = strings.find(id);
        return it == strings.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    const std::uint8_t *TranslationTable(int id) override {
        tablesAsked.push_back(id);
        auto it = tables.find(id);
        return it == tables.end() ? nullptr : it->second.data();
    }
};

// A character with its metrics given: top offset, height, width, delta X (dots), orientation.
struct Glyph {
    int code;
    int top = 20, height = 20, left = 1, width = 10, deltaDots = 12;
    int orientation = 0;
};

std::string GlyphBytes(const Glyph &g) {
    std::string d(16, '\0');
    d[0] = 4;
    d[2] = 14;
    d[3] = 1;
    d[4] = static_cast<char>(g.orientation);
    Put16(d, 6, static_cast<unsigned>(g.left & 0xFFFF));
    Put16(d, 8, static_cast<unsigned>(g.top & 0xFFFF));
    Put16(d, 10, static_cast<unsigned>(g.width));
    Put16(d, 12, static_cast<unsigned>(g.height));
    Put16(d, 14, static_cast<unsigned>(4 * g.deltaDots));
    return "\x1b*c" + std::to_string(g.code) + "E\x1b(s16W" + d;
}

std::string Font(const Descriptor &f, const std::vector<Glyph> &glyphs,
                 const std::string &before = "") {
    std::string out = before + DescriptorBytes(f);
    for (const Glyph &g : glyphs)
        out += GlyphBytes(g);
    return out;
}

MacroFlags AllFlags() {
    MacroFlags f;
    f.fill(1);
    return f;
}

std::optional<std::vector<std::uint8_t>> Pfm(const std::string &font, TableSource &source) {
    MacroReader r = ReadMacroLines(reinterpret_cast<const std::uint8_t *>(font.data()), font.size(),
                                   AllFlags());
    return BuildPfmImage(r.lines, source);
}

unsigned W(const std::vector<std::uint8_t> &p, std::size_t at) {
    return p.at(at) | p.at(at + 1) << 8;
}
int SW(const std::vector<std::uint8_t> &p, std::size_t at) {
    return static_cast<std::int16_t>(W(p, at));
}
std::uint32_t D(const std::vector<std::uint8_t> &p, std::size_t at) {
    return W(p, at) | W(p, at + 2) << 16;
}
std::string Text(const std::vector<std::uint8_t> &p, std::size_t at) {
    std::string s;
    while (at < p.size() && p[at])
        s += static_cast<char>(p[at++]);
    return s;
}
std::size_t EtmAt(const std::vector<std::uint8_t> &p) {
    return D(p, W(p, 101) - 30 + 2);
}
std::size_t DriverInfoAt(const std::vector<std::uint8_t> &p) {
    return D(p, W(p, 101) - 30 + 22);
}

// Every offset of the image agrees with its layout.
void ExpectLayout(const std::vector<std::uint8_t> &p) {
    ASSERT_GE(p.size(), 224u);
    EXPECT_EQ(W(p, 0), 0x0100u);
    EXPECT_EQ(D(p, 2), p.size());
    EXPECT_EQ(W(p, 66), 128u);
    const std::uint32_t device = D(p, 101), face = D(p, 105);
    const std::size_t widthTable = device - 147;
    EXPECT_EQ(widthTable, W(p, 86) == 0 ? (p[96] - p[95] + 2) * 2u : 0u);
    EXPECT_EQ(W(p, device - 30), 30u);
    EXPECT_EQ(Text(p, device), "QUV PRINTER");
    EXPECT_EQ(face, device + 12);
    const std::size_t info = DriverInfoAt(p);
    EXPECT_EQ(info, face + Text(p, face).size() + 1);
    EXPECT_EQ(W(p, info), 22u);
    EXPECT_EQ(W(p, info + 2), 1u);
    EXPECT_EQ(EtmAt(p), info + 22);
    EXPECT_EQ(W(p, EtmAt(p)), 52u);
    const std::uint32_t escape = D(p, info + 8);
    EXPECT_EQ(escape, face + Text(p, face).size() + 75);
    EXPECT_EQ(p.size(), 224 + 11 + Text(p, face).size() + Text(p, escape).size() + widthTable);
}

TEST(PfmImage, FixedPitchFontHasNoWidthTable) {
    Descriptor f;
    f.spacing = 0;
    f.pitch = 120;
    TableSource source;
    auto pfm = Pfm(Font(f, {{65}, {66, 20, 20, 1, 10, 30}}), source);
    ASSERT_TRUE(pfm);
    ExpectLayout(*pfm);
    const auto &p = *pfm;
    EXPECT_EQ(W(p, 86), 30u); // pitch / 4
    EXPECT_EQ(D(p, 101), 147u);
    EXPECT_EQ(p[95], 32);
    EXPECT_EQ(p[96], 66);
    EXPECT_EQ(W(p, 93), 30u); // the widest
    EXPECT_EQ(W(p, 91), (30u + 12 + 30 + 2) / 3);
    EXPECT_EQ(Text(p, D(p, 105)), "Courier");
    EXPECT_EQ(p[90], 0x30);
    EXPECT_EQ(Text(p, D(p, DriverInfoAt(p) + 8)), "\x1b(8U\x1b(s0p10h12v258s-3b3T");
    // Memory estimate: ((sum + 7) / 8) * cell height + 63.
    EXPECT_EQ(D(p, DriverInfoAt(p) + 4), ((30u + 12 + 30 + 7) / 8) * 50 + 63);
}

TEST(PfmImage, ProportionalFontWidthTable) {
    Descriptor f;
    f.spacing = 1;
    f.pitch = 80;
    std::vector<Glyph> glyphs;
    for (int c = 33; c <= 126; ++c)
        glyphs.push_back({c, 20, 20, 1, 10, c % 7 + 5});
    TableSource source;
    source.tables[2].fill(0); // 8U's table, none of its bytes a code of the font
    auto pfm = Pfm(Font(f, glyphs), source);
    ASSERT_TRUE(pfm);
    ExpectLayout(*pfm);
    const auto &p = *pfm;
    EXPECT_EQ(source.tablesAsked, std::vector<int>{2});
    EXPECT_EQ(p[95], 32);
    EXPECT_EQ(p[96], 126);
    EXPECT_EQ(W(p, 86), 0u);
    EXPECT_EQ(D(p, 101), 147u + 96 * 2);
    EXPECT_EQ(W(p, 117), 20u); // entry 32: pitch / 4
    for (int c = 33; c <= 126; ++c)
        EXPECT_EQ(W(p, 117 + 2 * static_cast<std::size_t>(c - 32)),
                  static_cast<unsigned>(c % 7 + 5))
            << c;
    EXPECT_EQ(W(p, 117 + 2 * 95), 0u); // the entry after the last
}

TEST(PfmImage, TranslationTableWidensToTheUpperHalf) {
    Descriptor f;
    f.spacing = 1;
    TableSource source;
    auto &t = source.tables[2];
    t.fill(0);
    t[2 * 10] = 65;     // entry 138 from an even position
    t[2 * 20 + 1] = 66; // entry 148 from an odd position
    t[2 * 30] = 65;     // entry 158: even then odd, the odd one does not overwrite
    t[2 * 30 + 1] = 66;
    auto pfm = Pfm(Font(f, {{65, 20, 20, 1, 10, 7}, {66, 20, 20, 1, 10, 9}}), source);
    ASSERT_TRUE(pfm);
    ExpectLayout(*pfm);
    const auto &p = *pfm;
    EXPECT_EQ(p[95], 32);
    EXPECT_EQ(p[96], 158);
    auto width = [&](int c) { return W(p, 117 + 2 * static_cast<std::size_t>(c - 32)); };
    EXPECT_EQ(width(65), 7u);
    EXPECT_EQ(width(138), 7u);
    EXPECT_EQ(width(148), 9u);
    EXPECT_EQ(width(158), 7u);

    // A missing table: the mapping is skipped.
    TableSource none;
    auto plain = Pfm(Font(f, {{65, 20, 20, 1, 10, 7}}), none);
    ASSERT_TRUE(plain);
    EXPECT_EQ((*plain)[96], 65);
    // A fixed-pitch font widens its range but writes no table.
    f.spacing = 0;
    auto fixed = Pfm(Font(f, {{65, 20, 20, 1, 10, 7}, {66, 20, 20, 1, 10, 9}}), source);
    ASSERT_TRUE(fixed);
    ExpectLayout(*fixed);
    EXPECT_EQ((*fixed)[96], 158);
    EXPECT_EQ(D(*fixed, 101), 147u);
}

TEST(PfmImage, SymbolSetsWeightsAndTranslationIds) {
    struct Set {
        int value, fontType, table, charSet;
        const char *suffix;
    } sets[] = {{277, 1, 1, 0, ""},
                {369, 1, 18, 0, ""},
                {501, 1, 17, 181, " (PI Font)"},
                {529, 1, 19, 186, ""},
                {2, 1, 16, 182, " (LineDraw)"},
                {269, 1, 17, 180, " (Math8)"},
                {14, 1, 18, 0, ""},
                {21, 1, 4, 0, ""},
                {53, 1, 16, 185, " (US Legal)"},
                {145, 1, 16, 183, " (PC Line)"},
                {341, 1, 17, 0, ""},
                {341, 0, 16, 0, ""}};
    for (const Set &s : sets) {
        SCOPED_TRACE(s.value);
        const SymbolSetMap m = MapSymbolSet(s.value, s.fontType);
        EXPECT_EQ(m.translation, s.table);
        EXPECT_EQ(m.charSet, s.charSet);
        Descriptor f;
        f.symbolSet = s.value;
        f.fontType = s.fontType;
        f.strokeWeight = 0;
        f.style = 0;
        TableSource source;
        auto pfm = Pfm(Font(f, {}), source);
        ASSERT_TRUE(pfm);
        EXPECT_EQ((*pfm)[85], s.charSet);
        EXPECT_EQ(W(*pfm, DriverInfoAt(*pfm) + 12), static_cast<unsigned>(s.table));
        EXPECT_EQ(Text(*pfm, D(*pfm, 105)), std::string("Courier") + s.suffix);
        EXPECT_EQ(source.tablesAsked, std::vector<int>{TranslationResourceId(s.table)});
    }
    // 8M: resource 4.
    EXPECT_EQ(TranslationResourceId(MapSymbolSet(269, 1).translation), 4);
    const std::pair<int, int> ids[] = {{1, 2},  {2, 4},  {3, 4},  {17, 4}, {4, 1},
                                       {18, 5}, {19, 6}, {16, 3}, {0, 3}};
    for (auto [n, id] : ids)
        EXPECT_EQ(TranslationResourceId(n), id) << n;

    const int weights[] = {0,   100, 100, 200, 200, 300, 300, 400, 400,
                           500, 600, 700, 700, 800, 800, 900, 0};
    for (int w = -8; w <= 8; ++w)
        EXPECT_EQ(MapStrokeWeight(w), weights[w + 8]) << w;

    // Weight names and the italic text, when the module has them.
    struct Face {
        int weight, style;
        const char *face;
        unsigned pfmWeight;
    } faces[] = {{-3, 0, "Courier Light", 300},
                 {3, 1, "Courier Bold Italic", 700},
                 {0, 1, "Courier Italic", 400},
                 {1, 0, "Courier", 500}};
    for (const Face &c : faces) {
        Descriptor f;
        f.strokeWeight = c.weight;
        f.style = c.style;
        TableSource source;
        source.strings[10106] = " Italic";
        source.strings[10107] = " Light";
        source.strings[10108] = " Bold";
        auto pfm = Pfm(Font(f, {}), source);
        ASSERT_TRUE(pfm);
        EXPECT_EQ(Text(*pfm, D(*pfm, 105)), c.face);
        EXPECT_EQ(W(*pfm, 83), c.pfmWeight);
        EXPECT_EQ((*pfm)[80], c.style & 1);
        // Without those strings the face is the typeface name alone.
        TableSource bare;
        EXPECT_EQ(Text(*Pfm(Font(f, {}), bare), D(*Pfm(Font(f, {}), bare), 105)), "Courier");
    }
}

TEST(PfmImage, HeaderFieldsFromTheDescriptor) {
    Descriptor f;
    f.typeface = 0x1234; // LSB in d[25], MSB in d[26]
    f.height = 400;
    TableSource source;
    source.typefaces[0x1234] = {"Tall", 0x10};
    auto pfm = Pfm(Font(f, {}), source);
    ASSERT_TRUE(pfm);
    const auto &p = *pfm;
    EXPECT_EQ(source.typefacesAsked, std::vector<int>{0x1234});
    EXPECT_EQ(Text(p, D(p, 105)), "Tall");
    EXPECT_EQ(p[90], 0x11); // family | spacing
    EXPECT_EQ(W(p, 68), 400u * 72 / 1200);
    EXPECT_EQ(W(p, 70), 300u);
    EXPECT_EQ(W(p, 74), 40u);                 // baseline
    EXPECT_EQ(SW(p, 76), 50 - (400 + 2) / 4); // cell height - (height + 2) / 4
    EXPECT_EQ(SW(p, 78), 400 / 4 - 40);
    EXPECT_EQ(W(p, 88), 50u);
    EXPECT_EQ(p[97], 127 - 32);
    EXPECT_EQ(p[98], 0);
    const std::string copyright(reinterpret_cast<const char *>(p.data()) + 6, 60);
    EXPECT_FALSE(copyright.empty());
    EXPECT_EQ(copyright.back(), '\0');
}

TEST(PfmImage, ExtendedTextMetricsFromCharacters) {
    for (int orientation : {0, 1}) {
        SCOPED_TRACE(orientation);
        Descriptor f;
        // top, height, left, width; a rotated character gives left and width instead.
        auto g = [&](int code, int top, int height) {
            Glyph x{code};
            x.top = orientation ? 99 : top;
            x.height = orientation ? 99 : height;
            x.left = orientation ? top : 99;
            x.width = orientation ? height : 99;
            x.orientation = orientation;
            return x;
        };
        std::string font =
            Font(f, {g('-', 12, 3), g('_', -4, 2), g('d', 30, 31), g('p', 21, 30), g('x', 20, 21)});
        font[6 + 12] = static_cast<char>(orientation); // d[12], after "ESC )s64W"
        TableSource source;
        auto pfm = Pfm(font, source);
        ASSERT_TRUE(pfm);
        const auto &p = *pfm;
        const std::size_t e = EtmAt(p);
        auto etm = [&](int i) { return SW(p, e + 2 * static_cast<std::size_t>(i)); };
        const int cap = (200 + 2) / 4 + 40 - 50;
        const int expected[26] = {52,
                                  50 * 1440 / 300,
                                  orientation ? 2 : 1,
                                  50,
                                  50,
                                  50,
                                  50,
                                  cap,
                                  20,
                                  30,
                                  9,
                                  0,
                                  cap - 20,
                                  -9,
                                  50,
                                  50,
                                  -4,
                                  2,
                                  2 * 2 - 4,
                                  -4,
                                  2,
                                  2,
                                  12 - 3,
                                  3,
                                  0,
                                  0};
        for (int i = 0; i < 26; ++i)
            EXPECT_EQ(etm(i), expected[i]) << "field " << i;
    }
}

TEST(PfmImage, DescriptorAndCharacterFaults) {
    TableSource source;
    Descriptor f;
    // A font that starts with ESC *c#D and ESC E still finds its descriptor.
    EXPECT_TRUE(Pfm(Font(f, {{65}},
                         "\x1b*c5D\x1b"
                         "E"),
                    source));
    // No descriptor, a short one, only a character: no image.
    EXPECT_FALSE(Pfm("\x1b*c65E\x1b(s16W" + std::string(16, '\0'), source));
    Descriptor shortOne;
    shortOne.size = 40;
    EXPECT_FALSE(Pfm(Font(shortOne, {{65}}), source));
    EXPECT_FALSE(Pfm("", source));
    // A short descriptor before a good one: the good one is used.
    f.spacing = 0;
    auto pfm = Pfm(DescriptorBytes(shortOne) + Font(f, {{65}}), source);
    ASSERT_TRUE(pfm);
    EXPECT_EQ(W(*pfm, 86), 30u);
    // A code without a character after it, or a character under 16 bytes, is skipped.
    auto skipped = Pfm(DescriptorBytes(f) + "\x1b*c70E\x1b*c71E\x1b(s8W12345678\x1b*c72E", source);
    ASSERT_TRUE(skipped);
    EXPECT_EQ((*skipped)[96], 32);
    EXPECT_EQ(W(*skipped, 91), 30u); // the pitch alone
}

TEST(PcmPackage, ImagesBackToBackAfterTheHeader) {
    TableSource source;
    Descriptor a, b;
    a.spacing = 0;
    b.name = "Second";
    b.typeface = 4;
    source.typefaces[4] = {"Second", 0x10};
    const auto pa = *Pfm(Font(a, {{65}}), source);
    const auto pb = *Pfm(Font(b, {{65}, {66}}), source);
    const std::vector<std::uint8_t> pcm = PackPcm({pa, pb});
    ASSERT_EQ(pcm.size(), 20 + pa.size() + pb.size());
    EXPECT_EQ(W(pcm, 0), 0x0CACu);
    EXPECT_EQ(W(pcm, 2), 0x0310u);
    EXPECT_EQ(D(pcm, 4), pcm.size());
    EXPECT_EQ(D(pcm, 8), 16u);
    EXPECT_EQ(D(pcm, 12), 20u);
    EXPECT_EQ(std::string(pcm.begin() + 16, pcm.begin() + 20), std::string("Wyr", 4));
    EXPECT_TRUE(std::equal(pa.begin(), pa.end(), pcm.begin() + 20));
    EXPECT_TRUE(std::equal(pb.begin(), pb.end(),
                           pcm.begin() + 20 + static_cast<std::ptrdiff_t>(pa.size())));
    EXPECT_TRUE(PackPcm({}).empty());

#ifdef SUITE_PCM_DIR
    // For the checker: the package and what it should hold.
    std::ofstream(SUITE_PCM_DIR "/two.pcm", std::ios::binary)
        .write(reinterpret_cast<const char *>(pcm.data()),
               static_cast<std::streamsize>(pcm.size()));
    std::ofstream(SUITE_PCM_DIR "/two.expect") << "Courier|Second\n";
#endif
}

} // namespace
