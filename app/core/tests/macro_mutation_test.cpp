// The print-file filter and the metrics builder over seeded mutations of print files and
// soft fonts, natively under the sanitizers: 4 bytes of flag mask, then the file.
#include "pclfilter.h"
#include "pfm.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "suite_pattern.h"

namespace {

constexpr int kMutations = 300;

// Spellings that steer the cutter into its edges.
const char *const kTokens[] = {"\x1b",
                               "\x1b%-12345X",
                               "@PJL ENTER LANGUAGE=PCL\n",
                               "@PJL QUVWRITE DATA=HFFFFFF\n",
                               "@PJL QUVRESOURCEWRITE SIZE=99999\n",
                               "\x1b*b9999999999W",
                               "\x1b&l-5o",
                               "\x1b*v3W\x00\x01\xff",
                               "\x1b&f0X",
                               "\x1b&f1X",
                               "\x1b&f3X",
                               "\x1b&p7S",
                               "\x1b%1B",
                               "\x1b*c65E\x1b(s16W",
                               "99999999999999999999.99999999",
                               "\x0c"};

std::string Mutate(const std::string &bytes, unsigned seed) {
    const std::string noise = suite::Pattern(64, seed);
    auto u = [&](int i) { return static_cast<unsigned char>(noise[static_cast<std::size_t>(i)]); };
    auto at = [&](int i) {
        return bytes.empty() ? 0
                             : static_cast<std::size_t>(u(i) << 8 | u(i + 1)) % (bytes.size() + 1);
    };
    std::string out = bytes;
    switch (u(0) % 4) {
    case 0:
        for (int i = 0; i < 8 && !out.empty(); ++i)
            out[std::min(at(2 + 2 * i), out.size() - 1)] = noise[static_cast<std::size_t>(40 + i)];
        break;
    case 1:
        out.resize(at(2));
        break;
    case 2:
        out.insert(at(2), noise.substr(20, u(4) % 40));
        break;
    default: {
        const char *token = kTokens[u(5) % (sizeof kTokens / sizeof *kTokens)];
        const std::size_t n = u(5) % (sizeof kTokens / sizeof *kTokens) == 7
                                  ? 8
                                  : std::char_traits<char>::length(token);
        out.insert(at(2), std::string(token, n));
        break;
    }
    }
    return noise.substr(60, 4) + out;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> Fixtures(const std::string &folder, const std::string &ext) {
    std::vector<std::string> files;
    const std::string base = std::string(SUITE_MACRO_FIXTURES) + "/" + folder + "/";
    std::ifstream cases(base + "cases.txt");
    for (std::string line; std::getline(cases, line);)
        files.push_back(ReadFile(base + line.substr(0, line.find('\t')) + ext));
    EXPECT_GT(files.size(), 3u) << "no fixtures in " << base;
    return files;
}

class FixedSource : public TypefaceSource {
  public:
    FixedSource() {
        for (std::size_t i = 0; i < table.size(); ++i)
            table[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::string TypefaceName(int, int &family) override {
        family = 0x10;
        return "Face";
    }
    std::optional<std::string> String(int id) override { return " s" + std::to_string(id); }
    const std::uint8_t *TranslationTable(int id) override {
        return id == 3 ? nullptr : table.data();
    }
    std::array<std::uint8_t, 256> table{};
};

void RunOne(const std::string &input) {
    MacroFlags flags{};
    std::uint32_t mask = 0;
    for (int i = 0; i < 4; ++i)
        mask |= static_cast<std::uint32_t>(
                    static_cast<unsigned char>(input[static_cast<std::size_t>(i)]))
                << (8 * i);
    for (std::size_t k = 0; k < flags.size(); ++k)
        flags[k] = (mask >> k) & 1;
    const std::string file = input.substr(4);
    const auto *data = reinterpret_cast<const std::uint8_t *>(file.data());

    // The lines tile the file, each taking a byte or more.
    MacroParserState state;
    std::size_t covered = 0;
    while (covered < file.size()) {
        const CMacroLine line = CutMacroLine(data + covered, data + file.size(), state);
        ASSERT_GE(line.length, 1u);
        ASSERT_LE(line.length, file.size() - covered);
        covered += line.length;
    }

    MacroReader reader = ReadMacroLines(data, file.size(), flags);
    ASSERT_LE(reader.total, file.size());
    FixedSource source;
    if (const auto pfm = BuildPfmImage(reader.lines, source)) {
        ASSERT_GE(pfm->size(), 224u);
        ASSERT_EQ(PackPcm({*pfm}).size(), pfm->size() + 20);
    }
    std::size_t records = reader.palettes.size();
    const std::vector<MacroPiece> pieces = SplitMacroLines(reader, "first.bin");
    // Bounded: each line at most its bytes rewritten with trimmed values and an ID, each
    // record at most one 248-entry set-up, each piece its brackets.
    std::size_t total = 0;
    for (const MacroPiece &p : pieces)
        total += p.bytes.size();
    ASSERT_LE(total, 32 * file.size() + records * 4000 + (pieces.size() + 1) * (64 + 40 * records));
}

TEST(MacroMutations, PrintFilesAndFontsStayBounded) {
    std::vector<std::string> files = Fixtures("prn", ".prn");
    for (const std::string &font : Fixtures("softfonts", ".sfp"))
        files.push_back(font);
    unsigned seed = 7;
    for (const std::string &file : files) {
        RunOne(std::string(4, '\0') + file);
        RunOne(std::string(4, '\xff') + file);
        for (int i = 0; i < kMutations; ++i)
            RunOne(Mutate(file, seed++));
    }
}

} // namespace
