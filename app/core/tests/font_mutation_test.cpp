// Every font converter over seeded mutations of the fixtures, natively under the
// sanitizers: any over-read, overflow or hang shows here.
#include "softfont.h"
#include "stream.h"
#include "ttfont.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "font_fixtures.h"
#include "suite_pattern.h"

using namespace fixtures;

namespace {

constexpr int kMutations = 400;

// A mutation of `bytes` by the seed: bytes overwritten, a cut, or a run inserted.
std::string Mutate(const std::string &bytes, unsigned seed) {
    const std::string noise = suite::Pattern(64, seed);
    auto at = [&](int i) {
        return bytes.empty() ? 0
                             : static_cast<std::size_t>(static_cast<unsigned char>(noise[i]) << 8 |
                                                        static_cast<unsigned char>(noise[i + 1])) %
                                   bytes.size();
    };
    std::string out = bytes;
    switch (static_cast<unsigned char>(noise[0]) % 4) {
    case 0: // a few bytes overwritten
        for (int i = 0; i < 8 && !out.empty(); ++i)
            out[at(2 + 2 * i)] = noise[40 + i];
        break;
    case 1: // cut
        out.resize(at(2));
        break;
    case 2: // a run of noise inserted
        out.insert(at(2), noise.substr(20, static_cast<unsigned char>(noise[4]) % 40));
        break;
    default: // one 16-bit field set to an extreme
        if (out.size() >= 2) {
            const std::size_t i = std::min(at(2), out.size() - 2);
            Put16(out, i, (static_cast<unsigned char>(noise[5]) & 1) ? 0xFFFF : 0x8000);
        }
        break;
    }
    return out;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The fonts the fixture scripts made: the first field of each line of cases.txt names
// <case><ext> in the folder (TrueType lines name their file in the second field).
std::vector<std::string> ScriptFixtures(const std::string &folder, const std::string &ext) {
    std::vector<std::string> fonts;
    std::ifstream cases(std::string(SUITE_FONT_FIXTURES) + "/" + folder + "/cases.txt");
    for (std::string line; std::getline(cases, line);) {
        std::string file = line.substr(0, line.find('\t')) + ext;
        if (const std::size_t tab = line.find('\t'); tab != std::string::npos)
            file = line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
        const std::string path =
            file[0] == '/' ? file : std::string(SUITE_FONT_FIXTURES) + "/" + folder + "/" + file;
        fonts.push_back(ReadFile(path));
        EXPECT_FALSE(fonts.back().empty()) << path;
    }
    EXPECT_FALSE(fonts.empty()) << "no fixtures in " << folder;
    return fonts;
}

std::vector<std::string> SoftFonts() {
    Descriptor d68;
    d68.size = 68;
    Character plain;
    plain.data = "\xAA\x55";
    Character compressed;
    compressed.cls = 2;
    compressed.code = 66;
    compressed.width = 20;
    compressed.height = 4;
    compressed.data = std::string("\x01\x03\x05\x02\x0A\x00\x00\x14", 8);
    std::vector<std::string> fonts = ScriptFixtures("softfonts", ".sfp");
    fonts.push_back(SoftFont({}, {plain, compressed}));
    fonts.push_back(SoftFont(d68, {compressed, plain},
                             "\x1b"
                             "E",
                             "\x1b*c5F"));
    return fonts;
}

std::vector<std::string> TrueTypeFonts() {
    TrueType bound;
    bound.cmapRecords = {{3, 0}};
    bound.pclt = std::string(54, '\x11');
    std::vector<std::string> fonts = ScriptFixtures("truetype", ".ttf");
    fonts.push_back(TrueTypeBytes({}));
    fonts.push_back(TrueTypeBytes(bound));
    return fonts;
}

} // namespace

TEST(FontMutations, SoftFontsConvertOrAreRefused) {
    unsigned seed = 1;
    for (const std::string &font : SoftFonts()) {
        for (int i = 0; i < kMutations; ++i) {
            const std::string m = Mutate(font, seed++);
            const auto *p = reinterpret_cast<const std::uint8_t *>(m.data());
            if (const auto stored = ConvertSoftFont(p, m.size())) {
                ASSERT_GE(stored->size(), kStoredFontHeaderSize);
                const auto desc = FindFontDescriptor(p, m.size());
                ASSERT_TRUE(desc);
                BuildFontSelection(*desc);
                GetSoftFontRows(*desc);
            }
        }
    }
}

TEST(FontMutations, TrueTypeFontsGiveAHeaderOrAreRefused) {
    unsigned seed = 100000;
    for (const std::string &font : TrueTypeFonts()) {
        for (int i = 0; i < kMutations; ++i) {
            const std::string m = Mutate(font, seed++);
            const auto *p = reinterpret_cast<const std::uint8_t *>(m.data());
            if (const auto facts = ReadTrueTypeFacts(p, m.size()))
                BuildTrueTypeHeader(*facts, 3000);
            const TrueTypeTable cmap = FindTrueTypeTable("cmap", p, m.size());
            IsBoundFont(cmap);
            const TrueTypeTable sub = FindUnicodeCmap(cmap);
            ScanCharacterMap(sub);
            for (unsigned code : {0u, 32u, 65u, 0xFFFFu})
                MapCharToGlyph(sub, static_cast<std::uint16_t>(code));
        }
    }
}
