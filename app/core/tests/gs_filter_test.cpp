// Print files that Ghostscript's PCL drivers make from one page, through the filter.
#include "pclfilter.h"
#include "text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

namespace {

const std::uint8_t *Bytes(const std::string &s) {
    return reinterpret_cast<const std::uint8_t *>(s.data());
}

class GhostscriptFiles : public testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/velmar-gsprn-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr) << "no temporary folder";
        dir_ = dir;
        ASSERT_EQ(std::system("gs --version >/dev/null 2>&1"), 0)
            << "Ghostscript (gs) is not installed";
    }
    void TearDown() override {
        if (!dir_.empty())
            std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    std::string Make(const std::string &device) {
        const std::string out = dir_ + "/" + device + ".prn";
        const std::string command =
            "timeout 120 gs -q -dSAFER -dBATCH -dNOPAUSE -r100 -sPAPERSIZE=a4 -sDEVICE=" + device +
            " -sOutputFile='" + out + "' '" FILTER_PAGE "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream in(out, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        EXPECT_GT(bytes.str().size(), 100u) << device << " made no print file";
        return bytes.str();
    }
    std::string dir_;
};

using Fields = std::tuple<int, std::string, int, std::string, int, std::string>;

// The lines of a file as their fields (continuations become commands of their own).
std::vector<Fields> FieldsOf(const std::string &file) {
    std::vector<Fields> out;
    MacroParserState state;
    for (std::size_t at = 0; at < file.size();) {
        const CMacroLine l = CutMacroLine(Bytes(file) + at, Bytes(file) + file.size(), state);
        at += l.length;
        if (l.kind == MacroLineKind::Pjl || l.kind == MacroLineKind::Uel)
            continue;
        out.emplace_back(static_cast<int>(l.kind), l.prefix, l.sign,
                         l.noValue ? "" : FormatTrimmedFloat(l.value), l.terminator,
                         std::string(l.payload.begin(), l.payload.end()));
    }
    return out;
}

MacroFlags Only(std::initializer_list<int> set) {
    MacroFlags f{};
    for (int k : set)
        f[static_cast<std::size_t>(k)] = 1;
    return f;
}

std::string Piece(const std::string &file, const MacroFlags &flags) {
    MacroReader r = ReadMacroLines(Bytes(file), file.size(), flags);
    std::vector<MacroPiece> pieces = SplitMacroLines(r, "x.bin");
    EXPECT_EQ(pieces.size(), 1u);
    return pieces.empty() ? "" : pieces[0].bytes;
}

const std::string kPush = "\033&p0S\033*p0P", kPop = "\033&p0S\033*p1P";

std::string Body(const std::string &piece) {
    EXPECT_EQ(piece.substr(0, kPush.size()), kPush);
    EXPECT_GE(piece.size(), kPush.size() + kPop.size());
    EXPECT_EQ(piece.substr(piece.size() - kPop.size()), kPop);
    return piece.substr(kPush.size(), piece.size() - kPush.size() - kPop.size());
}

std::size_t Count(const std::vector<Fields> &lines, const char *prefix, char terminator) {
    std::size_t n = 0;
    for (const Fields &f : lines)
        n += std::get<1>(f) == prefix && std::get<4>(f) == terminator;
    return n;
}

TEST_F(GhostscriptFiles, LaserJetWithPjlFiltersToItsCommands) {
    const std::string prn = Make("ljet4pjl");
    ASSERT_NE(prn.find("@PJL"), std::string::npos);
    const std::vector<Fields> input = FieldsOf(prn);
    const std::string body = Body(Piece(prn, MacroFlags{}));
    EXPECT_EQ(body.find("@PJL"), std::string::npos);
    const std::vector<Fields> output = FieldsOf(body);
    EXPECT_EQ(output, input); // every raster payload among them, byte for byte
    EXPECT_GT(Count(input, "\x1b*b", 'W'), 10u);

    const std::vector<Fields> noReset = FieldsOf(Body(Piece(prn, Only({1}))));
    EXPECT_GT(Count(input,
                    "\x1b"
                    "E",
                    0),
              0u);
    EXPECT_EQ(Count(noReset,
                    "\x1b"
                    "E",
                    0),
              0u);
    EXPECT_EQ(noReset.size(), input.size() - Count(input,
                                                   "\x1b"
                                                   "E",
                                                   0));
    const std::vector<Fields> noPaper = FieldsOf(Body(Piece(prn, Only({2}))));
    EXPECT_GT(Count(input, "\x1b&l", 'A'), 0u);
    EXPECT_EQ(Count(noPaper, "\x1b&l", 'A'), 0u);
    EXPECT_EQ(noPaper.size(), input.size() - Count(input, "\x1b&l", 'A'));
}

TEST_F(GhostscriptFiles, ColourLaserJetConfigurationWithoutSetUp) {
    const std::string prn = Make("cljet5c");
    ASSERT_NE(prn.find(std::string("\x1b*v6W\x00\x03", 7)), std::string::npos);
    const std::string piece = Piece(prn, Only({19}));
    const std::vector<Fields> output = FieldsOf(Body(piece));
    EXPECT_EQ(Count(output, "\x1b*v", 'W'), 0u);
    EXPECT_EQ(piece.find("\x1b*v255a"), std::string::npos);
    EXPECT_EQ(piece.find("\x1b*v0a0b0c"), std::string::npos);
    const std::vector<Fields> input = FieldsOf(prn);
    EXPECT_GT(Count(input, "\x1b*t", 'J'), 0u);
    EXPECT_EQ(Count(FieldsOf(Body(Piece(prn, Only({22})))), "\x1b*t", 'J'), 0u);
    EXPECT_EQ(FieldsOf(Body(Piece(prn, MacroFlags{}))), input);
}

TEST_F(GhostscriptFiles, PclXlAfterPjlIsBounded) {
    const std::string prn = Make("lj5gray");
    for (const MacroFlags &flags : {MacroFlags{}, Only({0, 1, 19, 26, 27})}) {
        MacroReader r = ReadMacroLines(Bytes(prn), prn.size(), flags);
        EXPECT_LE(r.total, prn.size());
        std::size_t total = 0;
        for (const MacroPiece &p : SplitMacroLines(r, "x.bin"))
            total += p.bytes.size();
        EXPECT_LE(total, 4 * prn.size() + 1000);
    }
}

} // namespace
