#include "stream.h"
#include "truetype.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(DownloadStream, HeaderJoinsVolumeAndFolderAndNamesTheSize) {
    EXPECT_EQ(BuildDownloadHeader("1:", "\\common\\demo", "START.DMO", 1000),
              "\x1b%-12345X@PJL FSDOWNLOAD FORMAT:BINARY SIZE=1000 "
              "NAME=\"1:\\common\\demo\\START.DMO\"\r\n");
    const std::string part(259, 'v');
    EXPECT_EQ(BuildDownloadHeader(part, part, part, 4294967295u).size(),
              9 + 35 + 10 + 7 + 3 * 259 + 1 + 3);
}

TEST(DownloadStream, GrowthDoublesAndRefusesToWrap) {
    EXPECT_EQ(GrowCapacity(260, 0, 300), 520u);
    EXPECT_EQ(GrowCapacity(260, 200, 60), 260u);
    EXPECT_EQ(GrowCapacity(260, 200, 61), 520u);
    EXPECT_EQ(GrowCapacity(260, 0, 2000), 2080u);
    EXPECT_FALSE(GrowCapacity(0x80000000u, 0x80000000u, 0x80000000u).has_value());
    EXPECT_FALSE(GrowCapacity(260, 0, 0xFFFFFFFFu).has_value());
}

TEST(DownloadStream, PclValueOfADataBearingEscape) {
    struct Case {
        std::string bytes;
        std::size_t offset;
        std::uint32_t count;
    } cases[] = {
        {"\x1b)s64W" + std::string(64, 'd') + "abc\x1b(s", 6, 67},
        {"\x1b)s64W" + std::string(64, 'd') + "abc", 6, 67}, // ends without ESC
        {"\x1b)s64W" + std::string(10, 'd'), 6, 10},         // payload past the end: clamped
        {"\x1b)s-5W" + std::string(3, 'd'), 6, 3},           // negative counts as 0
        {"\x1b)sW" + std::string(3, 'd'), 4, 0},             // no digits
        {"\x1b)s", 4, 0},                                    // cut after the prefix
        {"\x1b)s99999999999W", 15, 0},                       // huge, nothing behind
        {"\x1b*c5W12345\x1b", 5, 5},
    };
    for (const Case &c : cases) {
        std::uint32_t count = 12345;
        const auto *p = reinterpret_cast<const std::uint8_t *>(c.bytes.data());
        EXPECT_EQ(ParsePclValue(p, p + c.bytes.size(), count), c.offset) << c.bytes.size();
        EXPECT_EQ(count, c.count) << c.bytes.size();
    }
}

TEST(DownloadStream, FontTypeCodes) {
    const int in[] = {0, 1, 2, 3, 4, 10, 11, 12, 255, -1};
    const int out[] = {0, 1, 2, 4, 2, 10, 11, 2, 2, 2};
    for (std::size_t i = 0; i < std::size(in); ++i)
        EXPECT_EQ(MapFontType(in[i]), out[i]) << in[i];
}

namespace {

void Put16(std::vector<std::uint8_t> &v, std::size_t at, std::uint16_t x) {
    v[at] = static_cast<std::uint8_t>(x >> 8);
    v[at + 1] = static_cast<std::uint8_t>(x);
}
void Put32(std::vector<std::uint8_t> &v, std::size_t at, std::uint32_t x) {
    Put16(v, at, static_cast<std::uint16_t>(x >> 16));
    Put16(v, at + 2, static_cast<std::uint16_t>(x));
}

// A font with one 'name' table holding records (platform, encoding, id, text).
std::vector<std::uint8_t>
FontWithNames(const std::vector<std::tuple<int, int, int, std::string>> &records) {
    std::vector<std::uint8_t> names(6 + 12 * records.size());
    Put16(names, 2, static_cast<std::uint16_t>(records.size()));
    Put16(names, 4, static_cast<std::uint16_t>(names.size()));
    std::vector<std::uint8_t> strings;
    for (std::size_t i = 0; i < records.size(); ++i) {
        auto [platform, encoding, id, text] = records[i];
        const std::size_t rec = 6 + 12 * i;
        Put16(names, rec, static_cast<std::uint16_t>(platform));
        Put16(names, rec + 2, static_cast<std::uint16_t>(encoding));
        Put16(names, rec + 6, static_cast<std::uint16_t>(id));
        Put16(names, rec + 8, static_cast<std::uint16_t>(text.size() * 2));
        Put16(names, rec + 10, static_cast<std::uint16_t>(strings.size()));
        for (char c : text) {
            strings.push_back(0);
            strings.push_back(static_cast<std::uint8_t>(c));
        }
    }
    names.insert(names.end(), strings.begin(), strings.end());
    std::vector<std::uint8_t> font(12 + 16);
    Put16(font, 4, 1);
    font[12] = 'n', font[13] = 'a', font[14] = 'm', font[15] = 'e';
    Put32(font, 20, static_cast<std::uint32_t>(font.size()));
    Put32(font, 24, static_cast<std::uint32_t>(names.size()));
    font.insert(font.end(), names.begin(), names.end());
    return font;
}

} // namespace

TEST(TrueType, TablesAndNamesAreLookedUpInsideTheFont) {
    auto font = FontWithNames(
        {{1, 0, 4, "Mac"}, {3, 0, 4, "Symbolic"}, {3, 1, 4, "Unicode"}, {3, 0, 1, "Family"}});
    TrueTypeTable names = FindTrueTypeTable("name", font.data(), font.size());
    ASSERT_NE(names.data, nullptr);
    EXPECT_EQ(GetTrueTypeName(names, 4), "Unicode");
    EXPECT_EQ(GetTrueTypeName(names, 1), "Family");
    EXPECT_EQ(GetTrueTypeName(names, 6), "");
    EXPECT_EQ(FindTrueTypeTable("head", font.data(), font.size()).data, nullptr);

    auto longName = FontWithNames({{3, 1, 4, std::string(400, 'L')}});
    EXPECT_EQ(
        GetTrueTypeName(FindTrueTypeTable("name", longName.data(), longName.size()), 4).size(),
        259u);

    // Every truncation of the font: the table is absent or the name comes out whole or empty.
    for (std::size_t n = 0; n < font.size(); ++n) {
        TrueTypeTable t = FindTrueTypeTable("name", font.data(), n);
        if (t.data) {
            ASSERT_LE(static_cast<std::size_t>(t.data - font.data()) + t.length, n);
            std::string name = GetTrueTypeName(t, 4);
            ASSERT_TRUE(name.empty() || name == "Unicode" || name == "Symbolic") << n;
        }
    }
    // A table count and offsets that lie.
    auto liar = font;
    Put16(liar, 4, 5000);
    liar[12] = 'x';
    EXPECT_EQ(FindTrueTypeTable("name", liar.data(), liar.size()).data, nullptr);
    auto farOffset = font;
    Put32(farOffset, 20, 0xFFFFFFF0u);
    EXPECT_EQ(FindTrueTypeTable("name", farOffset.data(), farOffset.size()).data, nullptr);
}

TEST(DownloadStream, DeleteFirstHeaderAndTheTargetsItRefuses) {
    EXPECT_EQ(BuildDeleteFirstHeader("0:", "\\fonts", "*_7", "Courier_7", 1234),
              "\x1b%-12345X@PJL QUVWILDFSDELETE NAME=\"0:\\fonts\\*_7\"\r\n"
              "@PJL FSDOWNLOAD FORMAT:BINARY SIZE=1234 NAME=\"0:\\fonts\\Courier_7\"\r\n");
    struct Case {
        const char *volume, *folder, *name, *id;
        bool safe;
    } cases[] = {
        {"0:", "\\fonts", "Courier_7", "7", true},
        {"0:", "\\fonts", "Courier_123456789", "123456789", true},
        {"0:", "", "Courier_7", "7", true},
        {"0:", "\\fonts", "Courier_", "", false},
        {"0:", "\\fonts", "Courier_*", "*", false},
        {"0:", "\\fonts", "Courier_1a", "1a", false},
        {"0:", "\\fonts", "Courier_1234567890", "1234567890", false},
        {"0:", "\\fonts", "Courier_-1", "-1", false},
        {"0:", "\\fo\"nts", "Courier_7", "7", false},
        {"0:", "\\fo*", "Courier_7", "7", false},
        {"0?", "\\fonts", "Courier_7", "7", false},
        {"0:", "\\fonts\r\n@PJL FSINIT", "Courier_7", "7", false},
        {"0:", "\\fonts", "Cour\"ier_7", "7", false},
        {"0:", "\\fonts", "Cour\tier_7", "7", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(IsSafeFontTarget(c.volume, c.folder, c.name, c.id), c.safe)
            << c.volume << c.folder << "\\" << c.name << " id " << c.id;
}
