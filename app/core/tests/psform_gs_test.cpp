// The font and form programs built from the shipped PSFORMFn.DAT pieces, run under
// Ghostscript with a temporary folder as the printer's volume: they store the font and the
// EPSF file, and a later job draws the stored form by findresource.
#include "psdownload.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

PostScriptPieces ShippedPieces() {
    PostScriptPieces pieces;
    for (std::size_t i = 0; i < pieces.size(); ++i)
        pieces[i] =
            ReadFile(std::string(PSFORMS_DIR) + "/PSFORMF" + std::to_string(i + 1) + ".DAT");
    return pieces;
}

const std::uint8_t *U(const std::string &s) {
    return reinterpret_cast<const std::uint8_t *>(s.data());
}

const std::string kEnter = "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\r\n";

// What the printer's interpreter reads: after the language switch, up to the trailing
// 0x04 or UEL.
std::string Job(const std::string &stream, const std::string &end) {
    EXPECT_EQ(stream.compare(0, kEnter.size(), kEnter), 0);
    EXPECT_EQ(stream.compare(stream.size() - end.size(), end.size(), end), 0);
    return stream.substr(kEnter.size(), stream.size() - kEnter.size() - end.size());
}

class StoredPrograms : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(std::system("gs --version >/dev/null 2>&1"), 0)
            << "Ghostscript (gs) is not installed";
        char dir[] = "/tmp/velmar-psform-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr) << "no temporary folder";
        dir_ = dir;
        ASSERT_EQ(std::system(("mkdir -p '" + dir_ + "/fonts' '" + dir_ + "/File/EPSF' '" + dir_ +
                               "/Resource/Form'")
                                  .c_str()),
                  0);
        for (const std::string &piece : pieces_)
            ASSERT_FALSE(piece.empty()) << "a PSFORMFn.DAT piece is missing in " << PSFORMS_DIR;
    }
    void TearDown() override {
        if (!dir_.empty())
            std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    // gs on the program; its exit code and, in out, stdout and stderr.
    int Run(const std::string &program, std::string &out,
            const std::string &options = " -dNODISPLAY") {
        std::ofstream(dir_ + "/job.ps", std::ios::binary) << program;
        const std::string command = "timeout 60 gs -q -dSAFER --permit-file-all='" + dir_ + "/'" +
                                    options + " -dBATCH -dNOPAUSE '" + dir_ + "/job.ps' >'" + dir_ +
                                    "/out' 2>&1";
        const int rc = std::system(command.c_str());
        out = ReadFile(dir_ + "/out");
        return rc;
    }
    std::string Volume() const { return dir_ + "/"; }
    std::string dir_;
    const PostScriptPieces pieces_ = ShippedPieces();
};

} // namespace

TEST(ShippedPieces, TheMarkerEndsTheCopies) {
    const PostScriptPieces pieces = ShippedPieces();
    const std::string marker = kPostScriptEndMarker;
    EXPECT_GE(marker.size(), 20u);
    // Hex lines of a font's binary segments cannot form it.
    EXPECT_NE(marker.find_first_not_of("0123456789abcdef\r\n"), std::string::npos);
    EXPECT_EQ(pieces[2], marker + "\n");
    ASSERT_GE(pieces[6].size(), marker.size() + 1);
    EXPECT_EQ(pieces[6].substr(pieces[6].size() - marker.size() - 1), marker + "\n");
    for (std::size_t i : {1u, 3u, 4u, 5u})
        EXPECT_EQ(pieces[i].find(marker), std::string::npos) << i + 1;
}

TEST_F(StoredPrograms, FontsAreStoredAndLoadWithTheirOwnWidths) {
    const std::string width =
        "/NimbusSans-Regular findfont 10 scalefont setfont (Hello) stringwidth pop ==\n";
    std::string original;
    ASSERT_EQ(Run(width, original), 0) << original;
    ASSERT_FALSE(original.empty());

    const std::string pfb = ReadFile("/usr/share/fonts/X11/Type1/NimbusSans-Regular.pfb");
    ASSERT_FALSE(pfb.empty()) << "fonts-urw-base35 is not installed";
    // The same font as plain text (hex eexec), the .FNT form: as the walk makes it, and as the
    // fixture script writes it (lines of 64 digits, LF).
    const std::string fnt = WalkPfbSegments(U(pfb), pfb.size());
    const std::string scriptFnt =
        ReadFile(std::string(PS_FIXTURES_DIR) + "/NimbusSans-Regular.fnt");
    ASSERT_FALSE(scriptFnt.empty()) << "make_psfixtures.py has not run into " << PS_FIXTURES_DIR;
    for (const std::string *file : {&pfb, &fnt, &scriptFnt}) {
        std::remove((dir_ + "/fonts/NimbusSans-Regular").c_str());
        const auto stream = BuildPostScriptFontStream(U(*file), file->size(), Volume(),
                                                      "NimbusSans-Regular", pieces_[0], pieces_[2]);
        ASSERT_TRUE(stream);
        std::string out;
        EXPECT_EQ(Run(Job(*stream, "\x04"), out), 0) << out;
        EXPECT_EQ(out.find("Error"), std::string::npos) << out;
        const std::string stored = ReadFile(dir_ + "/fonts/NimbusSans-Regular");
        ASSERT_FALSE(stored.empty());
        EXPECT_EQ(stored.compare(0, 10, "%!PS-Adobe"), 0) << "stored from its first byte";
        std::string loaded;
        EXPECT_EQ(Run("(" + dir_ + "/fonts/NimbusSans-Regular) run\n" + width, loaded), 0)
            << loaded;
        EXPECT_EQ(loaded, original);
    }
}

TEST_F(StoredPrograms, FormsAreStoredAndALaterJobDrawsThem) {
    const std::string eps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 100 100 300 200\n"
                            "0 0 1 setrgbcolor 100 100 200 100 rectfill showpage\n";
    const auto stream = BuildPostScriptFormStream(U(eps), eps.size(), Volume(), "BlueBox", pieces_);
    ASSERT_TRUE(stream);
    std::string out;
    EXPECT_EQ(Run(Job(*stream, "\x1b%-12345X"), out), 0) << out;
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    EXPECT_TRUE(ReadFile(dir_ + "/File/EPSF/BlueBox") == eps) << "the EPSF file byte for byte";

    std::string box;
    EXPECT_EQ(Run("/BlueBox /Form findresource execform showpage\n", box,
                  " -sGenericResourceDir='" + dir_ + "/Resource/' -sDEVICE=bbox"),
              0)
        << box;
    EXPECT_EQ(box.find("Error"), std::string::npos) << box;
    int l = 0, b = 0, r = 0, t = 0;
    const std::size_t at = box.find("%%BoundingBox:");
    ASSERT_NE(at, std::string::npos) << box;
    ASSERT_EQ(std::sscanf(box.c_str() + at, "%%%%BoundingBox: %d %d %d %d", &l, &b, &r, &t), 4)
        << box;
    EXPECT_LT(l, r);
    EXPECT_LT(b, t);
    EXPECT_GE(l, 99);
    EXPECT_GE(b, 99);
    EXPECT_LE(r, 301);
    EXPECT_LE(t, 201);
}
