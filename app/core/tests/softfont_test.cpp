#include "softfont.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "font_fixtures.h"

using namespace fixtures;

namespace {

std::optional<std::string> Convert(const std::string &sfp) {
    auto out = ConvertSoftFont(reinterpret_cast<const std::uint8_t *>(sfp.data()), sfp.size());
    if (!out)
        return std::nullopt;
    return std::string(out->begin(), out->end());
}

// Checks a stored font's structure and returns its characters in block order as
// (code, raster), each code once.
std::vector<std::pair<int, std::string>> CheckStored(const std::string &font) {
    std::vector<std::pair<int, std::string>> chars;
    EXPECT_GE(font.size(), kStoredFontHeaderSize);
    if (font.size() < kStoredFontHeaderSize)
        return chars;
    EXPECT_EQ(Get32(font, 0), 0xF0u);
    EXPECT_EQ(Get32(font, 4), font.size()) << "n is the stored font's size";
    const unsigned count = Get16(font, 46);
    EXPECT_GE(font.size(), 76 + 8 * count);
    std::vector<std::pair<std::uint32_t, int>> byOffset;
    std::size_t blocks = 0;
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t e = 76 + 8 * i;
        const unsigned code = Get16(font, e), size = Get16(font, e + 2);
        const std::uint32_t offset = Get32(font, e + 4);
        if (i > 0) {
            EXPECT_LT(Get16(font, e - 8), code) << "table sorted, codes once";
        }
        EXPECT_GE(code, 1u);
        EXPECT_LE(code, 255u);
        EXPECT_GE(offset, 76 + 8 * count);
        EXPECT_LE(offset + size, font.size());
        if (offset + size > font.size() || size < 12)
            return chars;
        const unsigned w = Get16(font, offset + 6), h = Get16(font, offset + 8);
        EXPECT_EQ(size, 12 + (w + 7) / 8 * h) << "block of character " << code;
        byOffset.push_back({offset, static_cast<int>(i)});
        blocks += size;
    }
    EXPECT_EQ(font.size(), 76 + 8 * count + blocks) << "blocks fill the font";
    std::sort(byOffset.begin(), byOffset.end());
    for (auto [offset, i] : byOffset) {
        const std::size_t e = 76 + 8 * static_cast<std::size_t>(i);
        chars.push_back(
            {static_cast<int>(Get16(font, e)), font.substr(offset + 12, Get16(font, e + 2) - 12)});
    }
    return chars;
}

Character Plain(int code, std::string raster, int width = 8, int height = 2) {
    Character c;
    c.code = code;
    c.width = width;
    c.height = height;
    c.data = std::move(raster);
    return c;
}

Character Compressed(int code, int width, int height, std::string rows) {
    Character c = Plain(code, std::move(rows), width, height);
    c.cls = 2;
    return c;
}

} // namespace

TEST(SoftFont, StoredHeaderCarriesTheDescriptor) {
    const auto font = Convert(SoftFont({}, {Plain(65, "\xAA\x55")}));
    ASSERT_TRUE(font);
    const std::string expected =
        std::string("\0\0\0\xF0", 4) + std::string(4, '\0') +
        std::string("\0\0\0\x30\0\x01\0\0\xF0\0\x01\x15\0\x28\0\x1E\0\x32\xFD\x01"
                    "\0\x78\0\xC8\0\x1C\x01\x02\0\x03\x40\x02\0\xFB\0\x20\0\x7F"
                    "\0\x01\0\0\0\x24\x03\0\x01\x2C\x01\x2C\0\x10",
                    52) +
        "Courier         ";
    std::string header = font->substr(0, 76);
    Put32(header, 4, 0);
    EXPECT_EQ(header, expected);
    EXPECT_EQ(Get32(*font, 4), 76u + 8 + 12 + 2);
}

TEST(SoftFont, DescriptorSizesResolutionAndNamePadding) {
    struct Case {
        const char *what;
        Descriptor d;
        unsigned xRes, yRes;
        std::string name;
    };
    Descriptor d68;
    d68.size = 68;
    Descriptor blank;
    blank.namePad = ' ';
    Descriptor d68Other; // declares 68 in d[0..1]? only when the payload has 68 bytes
    d68Other.size = 70;
    Descriptor full;
    full.name = "ABCDEFGHIJKLMNOP";
    const Case cases[] = {
        {"64 bytes: 300 x 300", {}, 300, 300, "Courier         "},
        {"68 bytes: its own", d68, 600, 600, "Courier         "},
        {"70 bytes, size field 70: 300", d68Other, 300, 300, "Courier         "},
        {"blank padded", blank, 300, 300, "Courier         "},
        {"16 characters", full, 300, 300, "ABCDEFGHIJKLMNOP"},
    };
    for (const Case &c : cases) {
        const auto font = Convert(SoftFont(c.d, {}));
        ASSERT_TRUE(font) << c.what;
        EXPECT_EQ(Get16(*font, 54), c.xRes) << c.what;
        EXPECT_EQ(Get16(*font, 56), c.yRes) << c.what;
        EXPECT_EQ(font->substr(60, 16), c.name) << c.what;
        EXPECT_EQ(font->size(), 76u) << c.what << ": header only";
        CheckStored(*font);
    }
}

TEST(SoftFont, CharactersKeptAndLeftOut) {
    using Kept = std::vector<std::pair<int, std::string>>;
    Character noCode = Plain(0, "\x11\x22");
    noCode.withCode = false;
    Character size10 = Plain(70, "\x11\x22");
    size10.size = 10;
    Character negative = Plain(66, "\x11\x22");
    negative.size = -5;
    Character pastEnd = Plain(66, "\x11\x22");
    pastEnd.size = 1000;
    Character class3 = Plain(70, "\x11\x22");
    class3.cls = 3;
    const std::string tooBig(2048 / 8 * 300, '\x5A');
    struct Case {
        const char *what;
        std::vector<Character> chars;
        Kept kept;
        std::string before = "", after = "";
    };
    const Case cases[] = {
        {"order 65, 33: blocks stay, table sorts",
         {Plain(65, "\xAA\x55"), Plain(33, "\x0F\xF0")},
         {{65, "\xAA\x55"}, {33, "\x0F\xF0"}}},
        {"class 2, repeat 2: three rows",
         {Compressed(65, 8, 3, std::string("\x02\x02\x03\x03", 4))},
         {{65, "\x38\x38\x38"}}},
        {"runs across bytes",
         {Compressed(65, 12, 1, std::string("\x00\x06\x04\x02", 4))},
         {{65, "\x03\xC0"}}},
        {"runs past the width are clipped",
         {Compressed(65, 8, 1, std::string("\x00\x02\xC8", 3))},
         {{65, "\x3F"}}},
        {"repeats past the height are clipped",
         {Compressed(65, 8, 2, std::string("\x05\x00\x08", 3))},
         {{65, "\xFF\xFF"}}},
        {"zero width", {Compressed(65, 0, 2, std::string("\x00\x00", 2))}, {{65, ""}}},
        {"early end",
         {Compressed(65, 8, 3, std::string("\x00\x08", 2)), Plain(66, "\x11\x22")},
         {{66, "\x11\x22"}}},
        {"wider than 2080",
         {Compressed(65, 2081, 1, std::string("\x00\xFF\xFF", 3)), Plain(66, "\x11\x22")},
         {{66, "\x11\x22"}}},
        {"code 65 twice: the last wins",
         {Plain(65, "\xAA\x55"), Plain(66, "\x11\x22"), Plain(65, "\x0F\xF0")},
         {{66, "\x11\x22"}, {65, "\x0F\xF0"}}},
        {"codes 0, 300 and -1",
         {Plain(0, "\xAA\x55"), Plain(300, "\xAA\x55"), Plain(-1, "\xAA\x55"),
          Plain(66, "\x11\x22")},
         {{66, "\x11\x22"}}},
        {"class-1 size 10", {size10, Plain(66, "\x11\x22")}, {{66, "\x11\x22"}}},
        {"short raster", {Plain(65, "\xAA"), Plain(66, "\x11\x22")}, {{66, "\x11\x22"}}},
        {"longer raster is cut", {Plain(65, "\xAA\x55\x99")}, {{65, "\xAA\x55"}}},
        {"class 3", {class3, Plain(66, "\x11\x22")}, {{66, "\x11\x22"}}},
        {"block over 0xFFFF",
         {Plain(65, tooBig, 2048, 300), Plain(66, "\x11\x22")},
         {{66, "\x11\x22"}}},
        {"a character escape without a code",
         {Plain(65, "\xAA\x55"), noCode, Plain(66, "\x11\x22")},
         {{65, "\xAA\x55"}, {66, "\x11\x22"}}},
        {"negative size ends the walk",
         {Plain(65, "\xAA\x55"), negative, Plain(67, "\x11\x22")},
         {{65, "\xAA\x55"}}},
        {"size past the end ends the walk", {Plain(65, "\xAA\x55"), pastEnd}, {{65, "\xAA\x55"}}},
        {"leading ESC E ESC *c5D, trailing ESC *c5F",
         {Plain(65, "\xAA\x55")},
         {{65, "\xAA\x55"}},
         "\x1b"
         "E\x1b*c5D",
         "\x1b*c5F"},
        {"bytes between escapes", {Plain(65, "\xAA\x55")}, {{65, "\xAA\x55"}}, "", "\r\n"},
        {"header only", {}, {}},
    };
    for (const Case &c : cases) {
        const auto font = Convert(SoftFont({}, c.chars, c.before, c.after));
        ASSERT_TRUE(font) << c.what;
        EXPECT_EQ(CheckStored(*font), c.kept) << c.what;
        EXPECT_EQ(Get16(*font, 46), c.kept.size()) << c.what;
    }
}

TEST(SoftFont, FilesWithoutAUsableDescriptorAreRefused) {
    Descriptor d40;
    d40.size = 40;
    Descriptor clamped; // declares 64, the file holds 50
    const std::string cut = SoftFont(clamped, {}).substr(0, 6 + 50);
    Descriptor negative;
    negative.declared = 0;
    const std::string cases[] = {
        "",
        SoftFont(d40, {}),
        cut,
        "\x1b*c65E" + SoftFont({}, {}), // another escape first
        "X" + SoftFont({}, {}),         // not an escape
        "\x1b)s",
        "\x1b)s-64W" + std::string(64, 'd'),
    };
    for (const std::string &sfp : cases)
        EXPECT_FALSE(Convert(sfp)) << sfp.size();
}

TEST(SoftFont, PropertyValuesAndFontSelection) {
    struct Case {
        const char *what;
        Descriptor d;
        std::string pitch, height;
        bool resolution;
        std::string selection;
    };
    Descriptor pitch0;
    pitch0.pitch = 0;
    Descriptor extended;
    extended.pitch = 100;
    extended.pitchExtended = 128; // 100.5 quarter dots
    extended.height = 48;
    extended.heightExtended = 128; // 48.5
    Descriptor format20;
    format20.format = 20;
    Descriptor format20at68 = format20;
    format20at68.size = 68;
    const Case cases[] = {
        {"pitch 120, height 200", {}, "10", "12", false, "\x1b(8U\x1b(s1p10h12v258s-3b3T"},
        {"pitch 0", pitch0, "0", "12", false, "\x1b(8U\x1b(s1p0h12v258s-3b3T"},
        {"extended", extended, "11.94", "2.91", false, "\x1b(8U\x1b(s1p11.94h2.91v258s-3b3T"},
        {"format 20, 64 bytes", format20, "10", "12", false, "\x1b(8U\x1b(s1p10h12v258s-3b3T"},
        {"format 20, 68 bytes", format20at68, "10", "12", true, "\x1b(8U\x1b(s1p10h12v258s-3b3T"},
    };
    for (const Case &c : cases) {
        const std::string sfp = SoftFont(c.d, {});
        const auto desc =
            FindFontDescriptor(reinterpret_cast<const std::uint8_t *>(sfp.data()), sfp.size());
        ASSERT_TRUE(desc) << c.what;
        const SoftFontRows rows = GetSoftFontRows(*desc);
        EXPECT_EQ(rows.pitch, c.pitch) << c.what;
        EXPECT_EQ(rows.height, c.height) << c.what;
        EXPECT_EQ(rows.showResolution, c.resolution) << c.what;
        EXPECT_EQ(rows.name, "Courier") << c.what;
        EXPECT_EQ(rows.style, 258) << c.what;
        EXPECT_EQ(rows.strokeWeight, -3) << c.what;
        EXPECT_EQ(rows.typeface, 3) << c.what;
        EXPECT_EQ(rows.symbolSet, 277) << c.what;
        EXPECT_EQ(BuildFontSelection(*desc), c.selection) << c.what;
    }
}
