// gorwin as velmar reads it: an x64 process loads the 32-bit module as a data file and
// takes typeface names, symbol-set suffixes and translation tables from it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "module_access.h"
#include "suite_paths.h"

namespace {

using restest::kEnglishUk;
using restest::RawString;
using restest::ResourceBytes;

class Gorwin : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        const std::string path = suite::BinPath("gorwin.dll");
        module_ = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << path << ": error " << GetLastError();
    }
    static void TearDownTestSuite() {
        if (module_)
            FreeLibrary(module_);
        module_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(module_, nullptr); }

    static HMODULE module_;
};
HMODULE Gorwin::module_ = nullptr;

// The application's reader: string 1000 + (typeface AND 0xFFF); the first character gives
// the family, the name is what follows the first two characters.
struct Typeface {
    std::string name;
    int family;
};

Typeface LoadTypefaceName(HMODULE module, unsigned typeface) {
    char text[260] = {};
    const int n = LoadStringA(module, 1000 + (typeface & 0xFFF), text, sizeof text);
    if (n <= 0)
        return {"", 0};
    int family = 0;
    switch (std::toupper(static_cast<unsigned char>(text[0]))) {
    case 'D':
        family = 0x50;
        break;
    case 'M':
        family = 0x30;
        break;
    case 'R':
        family = 0x10;
        break;
    case 'S':
        family = 0x40;
        break;
    case 'W':
        family = 0x20;
        break;
    }
    return {n > 2 ? std::string(text + 2, n - 2) : "", family};
}

TEST_F(Gorwin, TypefaceNamesAndFamilies) {
    const struct {
        unsigned typeface;
        const char *name;
        int family;
    } cases[] = {
        {0, "LinePrinter", 0x30},  {3, "Courier", 0x30}, {0x1003, "Courier", 0x30},
        {4, "Helv", 0x20},         {5, "Tms Rmn", 0x10}, {7, "Script", 0x40},
        {49, "HP-GL Drafting", 0}, {493, "i Medium", 0}, {701, "Solemnis", 0x50},
        {2730, "Wingdings", 0x50}, {28, "", 0},          {4009, ":  ECMA-94 Latin 1", 0},
    };
    for (const auto &c : cases) {
        const Typeface got = LoadTypefaceName(module_, c.typeface);
        EXPECT_EQ(got.name, c.name) << "typeface " << c.typeface;
        EXPECT_EQ(got.family, c.family) << "typeface " << c.typeface;
    }
}

TEST_F(Gorwin, TypefaceStringsAreExactlyTheListedIds) {
    const std::pair<unsigned, unsigned> ranges[] = {
        {1000, 1027}, {1029, 1085}, {1087, 1087}, {1089, 1094}, {1097, 1097},
        {1101, 1127}, {1136, 1139}, {1152, 1254}, {1256, 1353}, {1357, 1514},
        {1516, 1563}, {1565, 1682}, {1684, 1686}, {1693, 1693}, {1699, 1699},
        {1701, 1701}, {1704, 1704}, {1706, 1706}, {1708, 1708}, {1712, 1713},
        {1719, 1719}, {1725, 1725}, {1930, 1930}, {2030, 2030}, {3730, 3730},
    };
    auto listed = [&](unsigned id) {
        for (const auto &[first, last] : ranges)
            if (id >= first && id <= last)
                return true;
        return false;
    };
    std::map<char, int> letters;
    std::map<unsigned, std::string> zeroPrefixed, unprefixed;
    int count = 0;
    for (unsigned id = 1000; id <= 3730; ++id) {
        const auto text = RawString(module_, id, kEnglishUk);
        EXPECT_EQ(text.has_value(), listed(id)) << "string " << id;
        if (!text)
            continue;
        ++count;
        if (text->size() > 2 && (*text)[1] == ',' &&
            std::string("DRWSM").find((*text)[0]) != std::string::npos)
            ++letters[(*text)[0]];
        else if (text->rfind("0,", 0) == 0)
            zeroPrefixed[id] = *text;
        else
            unprefixed[id] = *text;
    }
    EXPECT_EQ(count, 665);
    EXPECT_EQ(letters,
              (std::map<char, int>{{'D', 398}, {'R', 110}, {'W', 56}, {'S', 52}, {'M', 43}}));
    EXPECT_EQ(zeroPrefixed, (std::map<unsigned, std::string>{{1049, "0,HP-GL Drafting"},
                                                             {1050, "0,HP-GL Spline"},
                                                             {1256, "0,Bar Codes"},
                                                             {1360, "0,MICR"}}));
    EXPECT_EQ(unprefixed,
              (std::map<unsigned, std::string>{{1493, "Kai Medium"}, {1675, "Uncle Sam"}}));

    const std::pair<unsigned, const char *> telling[] = {
        {1000, "M,LinePrinter"}, {1003, "M,Courier"},  {1004, "W,Helv"},      {1005, "R,Tms Rmn"},
        {1007, "S,Script"},      {1701, "D,Solemnis"}, {3730, "D,Wingdings"},
    };
    for (const auto &[id, want] : telling)
        EXPECT_EQ(RawString(module_, id, kEnglishUk), want) << id;
}

TEST_F(Gorwin, SymbolSetSuffixesAndNames) {
    const std::pair<unsigned, const char *> exact[] = {
        {301, " (Math8)"},   {302, " (PI Font)"},    {303, " (LineDraw)"},
        {304, " (PC Line)"}, {305, " (US Legal)"},   {5009, "E1:  ECMA-94 Latin 1"},
        {5014, "PC:  PC-8"}, {5018, "R8:  Roman-8"}, {5020, "US:  ASCII"},
    };
    for (const auto &[id, want] : exact) {
        EXPECT_EQ(RawString(module_, id, kEnglishUk), want) << id;
        char text[64] = {};
        LoadStringA(module_, id, text, sizeof text);
        EXPECT_STREQ(text, want) << "LoadString " << id;
    }
    for (unsigned id = 5001; id <= 5023; ++id) {
        const auto text = RawString(module_, id, kEnglishUk);
        ASSERT_TRUE(text) << id;
        ASSERT_GT(text->size(), 5u) << id;
        EXPECT_EQ(text->substr(2, 3), ":  ") << id;
    }
    EXPECT_FALSE(RawString(module_, 5000, kEnglishUk));
    EXPECT_FALSE(RawString(module_, 5024, kEnglishUk));
}

// ---- translation tables ------------------------------------------------------------------

struct Table {
    std::vector<std::uint8_t> bytes;
    // Entry for Windows code c (0x80-0xFF): {printer code, overstrike}.
    std::pair<int, int> at(int c) const {
        const std::size_t i = 2 * static_cast<std::size_t>(c - 0x80);
        return {bytes.at(i), bytes.at(i + 1)};
    }
};

Table LoadTable(HMODULE module, WORD id) {
    const auto bytes = ResourceBytes(module, MAKEINTRESOURCEA(257), id, kEnglishUk);
    return {std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

// The application's choice of table by the font's translation type.
WORD TableForTranslation(int type) {
    switch (type) {
    case 1:
        return 2;
    case 2:
    case 3:
    case 17:
        return 4;
    case 4:
        return 1;
    case 18:
        return 5;
    case 19:
        return 6;
    default:
        return 3;
    }
}

TEST_F(Gorwin, TablesHaveTheirSizes) {
    const std::pair<WORD, std::size_t> sizes[] = {{1, 256}, {2, 256}, {3, 256},
                                                  {4, 256}, {5, 256}, {6, 512}};
    for (const auto &[id, size] : sizes)
        EXPECT_EQ(LoadTable(module_, id).bytes.size(), size) << id;
    EXPECT_TRUE(LoadTable(module_, 7).bytes.empty());
}

TEST_F(Gorwin, EveryTranslationTypeFindsItsTable) {
    const std::pair<int, WORD> map[] = {{1, 2},  {2, 4},  {3, 4}, {17, 4}, {4, 1},
                                        {18, 5}, {19, 6}, {0, 3}, {5, 3},  {255, 3}};
    for (const auto &[type, table] : map) {
        EXPECT_EQ(TableForTranslation(type), table) << type;
        EXPECT_FALSE(LoadTable(module_, TableForTranslation(type)).bytes.empty()) << type;
    }
}

TEST_F(Gorwin, RuleTablesHoldTheirRules) {
    const Table none = LoadTable(module_, 3), identity = LoadTable(module_, 4),
                latin = LoadTable(module_, 5), offset = LoadTable(module_, 6);
    ASSERT_EQ(none.bytes.size(), 256u);
    ASSERT_EQ(identity.bytes.size(), 256u);
    ASSERT_EQ(latin.bytes.size(), 256u);
    ASSERT_EQ(offset.bytes.size(), 512u);
    for (int c = 0x80; c <= 0xFF; ++c) {
        EXPECT_EQ(none.at(c), std::make_pair(0x7F, 0)) << c;
        EXPECT_EQ(identity.at(c), std::make_pair(c, 0)) << c;
        const int latinCode = c >= 0xA0 ? c : c == 0x91 ? 0x60 : c == 0x92 ? 0x27 : 0x7F;
        EXPECT_EQ(latin.at(c), std::make_pair(latinCode, 0)) << c;
        EXPECT_EQ(offset.at(c), std::make_pair(c < 0xA0 ? 0xFF : c - 0xA0, 0)) << c;
    }
    for (std::size_t i = 256; i < 512; ++i)
        EXPECT_EQ(offset.bytes[i], 0) << i;
}

TEST_F(Gorwin, AsciiAndRoman8TablesHoldTheGivenRows) {
    const Table ascii = LoadTable(module_, 1), roman8 = LoadTable(module_, 2);
    ASSERT_EQ(ascii.bytes.size(), 256u);
    ASSERT_EQ(roman8.bytes.size(), 256u);
    const std::pair<int, std::pair<int, int>> asciiRows[] = {
        {0xE9, {'e', 0x27}}, {0xE4, {'a', 0x22}}, {0xE7, {'c', 0x2C}},
        {0xC0, {'A', 0}},    {0x91, {0x60, 0}},   {0x92, {0x27, 0}},
    };
    for (const auto &[c, want] : asciiRows)
        EXPECT_EQ(ascii.at(c), want) << c;
    const std::pair<int, std::pair<int, int>> roman8Rows[] = {
        {0xC0, {0xA1, 0}}, {0xC9, {0xDC, 0}},   {0xE9, {0xC5, 0}},  {0xFC, {0xCF, 0}},
        {0xDF, {0xDE, 0}}, {0xDD, {'Y', 0xA8}}, {0xF7, {'-', ':'}}, {0xFD, {'y', 0xA8}},
    };
    for (const auto &[c, want] : roman8Rows)
        EXPECT_EQ(roman8.at(c), want) << c;
    for (int c = 0x80; c < 0xA0; ++c) {
        const int want = c == 0x91 ? 0x60 : c == 0x92 ? 0x27 : 0x7F;
        EXPECT_EQ(roman8.at(c), std::make_pair(want, 0)) << c;
    }
    // Every code is 7-bit in the ASCII table.
    for (int c = 0x80; c <= 0xFF; ++c)
        EXPECT_LE(ascii.at(c).first, 0x7F) << c;
}

// ---- module shape -----------------------------------------------------------------------

TEST_F(Gorwin, PlainLoadFailsInAnX64Process) {
    HMODULE code = LoadLibraryA(suite::BinPath("gorwin.dll").c_str());
    const DWORD error = GetLastError();
    if (code)
        FreeLibrary(code);
    EXPECT_EQ(code, nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
}

TEST_F(Gorwin, FileIsPE32WithEntryPointZero) {
    std::ifstream file(suite::BinPath("gorwin.dll"), std::ios::binary);
    ASSERT_TRUE(file);
    const std::vector<char> data{std::istreambuf_iterator<char>(file), {}};
    ASSERT_GE(data.size(), sizeof(IMAGE_DOS_HEADER));
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, data.data(), sizeof dos);
    ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
    ASSERT_GE(data.size(), static_cast<std::size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS32));
    IMAGE_NT_HEADERS32 nt;
    std::memcpy(&nt, data.data() + dos.e_lfanew, sizeof nt);
    EXPECT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(nt.OptionalHeader.AddressOfEntryPoint, 0u);
    EXPECT_TRUE(nt.FileHeader.Characteristics & IMAGE_FILE_DLL);
}

} // namespace
