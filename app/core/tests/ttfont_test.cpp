#include "ttfont.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "font_fixtures.h"

using namespace fixtures;

namespace {

std::optional<TrueTypeFacts> Facts(const std::string &font) {
    return ReadTrueTypeFacts(reinterpret_cast<const std::uint8_t *>(font.data()), font.size());
}

std::string Header(const TrueTypeFacts &facts, int typeface) {
    const auto h = BuildTrueTypeHeader(facts, typeface);
    return std::string(h.begin(), h.end());
}

TrueTypeTable Table(const std::string &bytes) {
    return {reinterpret_cast<const std::uint8_t *>(bytes.data()),
            static_cast<std::uint32_t>(bytes.size())};
}

std::string Pclt(std::size_t size) {
    std::string p(54, '\0');
    Put32(p, 0, 0x00010000);
    Put16(p, 8, 0x0258);  // pitch
    Put16(p, 10, 0x1111); // xHeight
    Put16(p, 12, 0x0002); // style
    Put16(p, 14, 0x1004); // typeFamily
    Put16(p, 16, 0x2222); // capHeight
    Put16(p, 18, 277);    // symbolSet
    p.replace(20, 16, "PcltFace        ");
    p.replace(36, 8, "\x01\x02\x03\x04\x05\x06\x07\x08");
    p[50] = static_cast<char>(0xFE);
    p[52] = static_cast<char>(0x80);
    p.resize(size);
    return p;
}

std::string DejaVu(const char *file) {
#ifdef _WIN32
    const std::string path = std::string("Z:\\usr\\share\\fonts\\truetype\\dejavu\\") + file;
#else
    const std::string path = std::string("/usr/share/fonts/truetype/dejavu/") + file;
#endif
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace

TEST(TrueTypeFont, HeaderOfAnUnboundFontWithoutPclt) {
    const std::string font = TrueTypeBytes({});
    const auto facts = Facts(font);
    ASSERT_TRUE(facts);
    EXPECT_FALSE(facts->bound);
    EXPECT_FALSE(facts->hasPclt);
    std::string expected(112, '\0');
    Put32(expected, 0, 0xF3);
    Put32(expected, 4, static_cast<std::uint32_t>(112 + font.size()));
    Put16(expected, 10, 0x40);
    expected[13] = 11;
    expected[16] = static_cast<char>(0xF3);
    Put16(expected, 22, 2000); // xMax - xMin
    Put16(expected, 24, 2000); // yMax - yMin
    expected[27] = 1;          // proportional
    Put16(expected, 28, 500);  // advance of the space glyph (1)
    Put16(expected, 32, 500);  // height of 'x'
    Put16(expected, 34, 0);    // upright, no width part
    Put16(expected, 36, 3017); // the typeface number given
    expected[38] = 64;         // PANOSE serif 11
    expected[39] = 2;
    Put16(expected, 46, 3);   // characters
    Put16(expected, 50, 700); // height of 'H'
    expected.replace(58, 8, "\xFF\xFF\xFF\xFF\0\0\0\x06", 8);
    Put16(expected, 66, 0xFFB5); // underline position -75
    Put16(expected, 68, 50);
    Put16(expected, 70, 2048);
    expected[72] = 1;
    Put16(expected, 74, 0x10);
    expected.replace(76, 16, std::string("Tiny Regular\0   ", 16));
    expected.replace(92, 2, "CC");
    Put32(expected, 94, 8);
    expected.replace(98, 8, "\xFF\xFF\xFF\xFF\0\0\0\x06", 8);
    Put16(expected, 106, 0xFFFF);
    EXPECT_EQ(Header(*facts, 3017), expected);
}

TEST(TrueTypeFont, HeaderFieldsByFont) {
    auto bound = [](TrueType t) {
        t.cmapRecords = {{3, 0}};
        return t;
    };
    TrueType last126 = bound({});
    last126.lastCharIndex = 126;
    TrueType chars250 = bound({});
    chars250.segments = {{32, 281, 0}};
    TrueType chars100 = bound({});
    chars100.segments = {{32, 131, 0}};
    TrueType italic;
    italic.italicAngle = -12;
    italic.proportion = 7;
    TrueType pastMetrics;
    pastMetrics.advances = {500, 600};
    pastMetrics.segments = {{32, 32, 0xFFFF - 27}}; // space is glyph 4
    TrueType noMetrics;
    noMetrics.advances = {};
    TrueType emptyX;
    emptyX.emptyX = true;
    TrueType noName4;
    noName4.names = {{1, "Tiny"}};
    TrueType longName;
    longName.names = {{4, "A Name Of Twenty Chars"}};
    TrueType fixed;
    fixed.fixedPitch = true;
    TrueType overlapping;
    overlapping.segments = {{0, 0xFFFE, 0}, {0, 0xFFFE, 0}};
    TrueType noCmap;
    noCmap.without = {"cmap"};
    TrueType otherPlatform3 = bound({});
    otherPlatform3.cmapRecords = {{3, 10}, {1, 0}};
    struct Case {
        const char *what;
        TrueType font;
        std::size_t at;
        std::string bytes;
    };
    const Case cases[] = {
        {"(3,1): unbound", {}, 0, std::string("\0\0\0\xF3", 4)},
        {"(3,0): bound", bound({}), 0, std::string("\0\0\0\xF4", 4)},
        {"bound, last index 126: type 0", last126, 13, std::string("\0", 1)},
        {"bound, 255 and 250 characters: type 2", chars250, 13, "\x02"},
        {"bound, 255 and 100 characters: type 1", chars100, 13, "\x01"},
        {"unbound: type 11", {}, 13, "\x0B"},
        {"italic -12, proportion 7: style 29", italic, 34, std::string("\0\x1D", 2)},
        {"space past the metrics: the last advance", pastMetrics, 28, std::string("\x02\x58", 2)},
        {"no metrics", noMetrics, 28, std::string("\0\0", 2)},
        {"empty 'x'", emptyX, 32, std::string("\0\0", 2)},
        {"no name id 4", noName4, 76, std::string("\0", 1) + std::string(15, ' ')},
        {"a long name id 4", longName, 76, "A Name Of Twenty"},
        {"fixed pitch", fixed, 27, std::string("\0", 1)},
        {"overlapping segments: count capped", overlapping, 46, "\xFF\xFF"},
        {"no cmap: bound, count 0", noCmap, 0, std::string("\0\0\0\xF4", 4)},
        {"no cmap: no glyphs", noCmap, 32, std::string("\0\0\0\0", 4)},
        {"last platform-3 record", otherPlatform3, 46, std::string("\0\x03", 2)},
    };
    for (const Case &c : cases) {
        const auto facts = Facts(TrueTypeBytes(c.font));
        ASSERT_TRUE(facts) << c.what;
        EXPECT_EQ(Header(*facts, 3000).substr(c.at, c.bytes.size()), c.bytes) << c.what;
    }
}

TEST(TrueTypeFont, PcltFieldsComeFromThePcltTable) {
    TrueType t;
    t.cmapRecords = {{3, 0}};
    t.pclt = Pclt(54);
    const auto facts = Facts(TrueTypeBytes(t));
    ASSERT_TRUE(facts);
    EXPECT_TRUE(facts->hasPclt);
    EXPECT_EQ(facts->pcltSymbolSet(), 277);
    const std::string h = Header(*facts, 3999);
    EXPECT_EQ(Get16(h, 18), 277u);
    EXPECT_EQ(static_cast<std::uint8_t>(h[26]), 0xFE);
    EXPECT_EQ(Get16(h, 28), 0x0258u);
    EXPECT_EQ(Get16(h, 32), 0x1111u);
    EXPECT_EQ(Get16(h, 34), 0x0002u);
    EXPECT_EQ(Get16(h, 36), 0x1004u) << "the typeface number is not used";
    EXPECT_EQ(static_cast<std::uint8_t>(h[38]), 0x80);
    EXPECT_EQ(Get16(h, 50), 0x2222u);
    EXPECT_EQ(h.substr(58, 8), "\x01\x02\x03\x04\x05\x06\x07\x08");
    EXPECT_EQ(h.substr(98, 8), "\x01\x02\x03\x04\x05\x06\x07\x08");
    EXPECT_EQ(h.substr(76, 16), "PcltFace        ");

    t.pclt = Pclt(40); // too short: absent
    const auto shortPclt = Facts(TrueTypeBytes(t));
    ASSERT_TRUE(shortPclt);
    EXPECT_FALSE(shortPclt->hasPclt);
    EXPECT_EQ(Get16(Header(*shortPclt, 3999), 36), 3999u);
}

TEST(TrueTypeFont, StylesAndSerifs) {
    const int serif[18] = {64, 64,  132, 132, 64, 64, 64, 130, 65,
                           75, 131, 64,  64,  64, 72, 65, 0,   0};
    for (int v = 0; v < 18; ++v)
        EXPECT_EQ(ComputeSerifStyle(static_cast<std::uint8_t>(v)), serif[v]) << v;
    EXPECT_EQ(ComputeSerifStyle(255), 0);
    const struct {
        std::int32_t angle;
        int proportion, style;
    } styles[] = {{0, 0, 0}, {1, 0, 1}, {0, 5, 24}, {0, 6, 4}, {-12 * 65536, 7, 29},
                  {0, 8, 8}, {0, 9, 0}};
    for (const auto &s : styles)
        EXPECT_EQ(ComputeStyleWord(s.angle, static_cast<std::uint8_t>(s.proportion)), s.style);
}

TEST(TrueTypeFont, Format4Lookups) {
    // Segment 65..67 through the glyph array [10, 0, 12] with delta 5; 70..71 with a range
    // offset past the subtable; no 0xFFFF segment.
    std::string sub(16 + 8 * 2 + 6, '\0');
    Put16(sub, 0, 4);
    Put16(sub, 2, static_cast<unsigned>(sub.size()));
    Put16(sub, 6, 4);
    Put16(sub, 14, 67);
    Put16(sub, 16, 71);
    Put16(sub, 20, 65);
    Put16(sub, 22, 70);
    Put16(sub, 24, 5);
    Put16(sub, 28, 4);      // idRangeOffset of segment 0: from its word to the array
    Put16(sub, 30, 0x4000); // far outside
    Put16(sub, 32, 10);
    Put16(sub, 34, 0);
    Put16(sub, 36, 12);
    const TrueTypeTable t = Table(sub);
    const std::pair<unsigned, unsigned> lookups[] = {{64, 0}, {65, 15}, {66, 0}, {67, 17},
                                                     {68, 0}, {70, 0},  {72, 0}};
    for (auto [code, glyph] : lookups)
        EXPECT_EQ(MapCharToGlyph(t, static_cast<std::uint16_t>(code)), glyph) << code;
    EXPECT_EQ(ScanCharacterMap(t).count, 5u) << "the walk ends at segCount";
    Put16(sub, 6, 400); // arrays that do not fit
    EXPECT_EQ(ScanCharacterMap(Table(sub)).count, 0u);
    EXPECT_EQ(MapCharToGlyph(Table(sub), 65), 0u);
    Put16(sub, 0, 6);
    EXPECT_EQ(MapCharToGlyph(Table(sub), 65), 0u) << "another format";
}

TEST(TrueTypeFont, FontsMissingOrCuttingATableAreRefused) {
    for (const char *tag : {"head", "hhea", "OS/2", "hmtx", "loca", "glyf", "post", "name"}) {
        TrueType t;
        t.without = {tag};
        EXPECT_FALSE(Facts(TrueTypeBytes(t))) << tag;
    }
    const std::string font = TrueTypeBytes({});
    for (std::size_t n = 0; n < font.size(); ++n)
        EXPECT_FALSE(Facts(font.substr(0, n))) << "cut to " << n;
    std::string pastEnd = font;
    Put32(pastEnd, 12 + 16 * 3 + 8, static_cast<std::uint32_t>(font.size() - 10)); // head's offset
    EXPECT_FALSE(Facts(pastEnd));
    std::string shortHead = font;
    Put32(shortHead, 12 + 16 * 3 + 12, 40);
    EXPECT_FALSE(Facts(shortHead)) << "head too short for its fields";
}

TEST(TrueTypeFont, DejaVuFonts) {
    struct Case {
        const char *file;
        bool fixed;
    } cases[] = {
        {"DejaVuSans.ttf", false}, {"DejaVuSansMono.ttf", true}, {"DejaVuSerif.ttf", false}};
    for (const Case &c : cases) {
        const std::string font = DejaVu(c.file);
        ASSERT_FALSE(font.empty()) << c.file << " (fonts-dejavu-core) not found";
        const auto facts = Facts(font);
        ASSERT_TRUE(facts) << c.file;
        EXPECT_FALSE(facts->bound) << c.file;
        EXPECT_FALSE(facts->hasPclt) << c.file;
        const std::string h = Header(*facts, 3000);
        EXPECT_EQ(h.substr(0, 4), std::string("\0\0\0\xF3", 4)) << c.file;
        EXPECT_EQ(h[13], 11) << c.file;
        EXPECT_EQ(h[27], c.fixed ? 0 : 1) << c.file;
        EXPECT_EQ(Get32(h, 4), 112 + font.size()) << c.file;
        EXPECT_GT(Get16(h, 32), 0u) << c.file << ": x height";
        EXPECT_GT(Get16(h, 50), Get16(h, 32)) << c.file << ": cap height above x height";
    }
    const auto sans = Facts(DejaVu("DejaVuSans.ttf"));
    ASSERT_TRUE(sans);
    EXPECT_EQ(sans->characterCount, 5452u);
    EXPECT_EQ(sans->fullName, "DejaVu Sans");
}

TEST(TrueTypeFont, TypefaceCounter) {
    const struct {
        int stored, used, next;
    } cases[] = {{3000, 3000, 3001},  {3017, 3017, 3018}, {4094, 4094, 4095}, {4095, 4095, 3000},
                 {99999, 3000, 3001}, {2999, 3000, 3001}, {-1, 3000, 3001}};
    for (const auto &c : cases) {
        int next = 0;
        EXPECT_EQ(TakeTypefaceNumber(c.stored, next), c.used) << c.stored;
        EXPECT_EQ(next, c.next) << c.stored;
    }
}
