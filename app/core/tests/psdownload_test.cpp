#include "psdownload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::uint8_t *U(const std::string &s) {
    return reinterpret_cast<const std::uint8_t *>(s.data());
}

std::string Segment(int type, const std::string &bytes, std::uint32_t declared) {
    std::string s = {'\x80',
                     static_cast<char>(type),
                     static_cast<char>(declared & 0xFF),
                     static_cast<char>(declared >> 8 & 0xFF),
                     static_cast<char>(declared >> 16 & 0xFF),
                     static_cast<char>(declared >> 24)};
    return s + bytes;
}
std::string Segment(int type, const std::string &bytes) {
    return Segment(type, bytes, static_cast<std::uint32_t>(bytes.size()));
}

std::string HexOf(const std::string &bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes)
        out += std::string{hex[c >> 4], hex[c & 15]};
    return out;
}

std::string Walk(const std::string &pfb) {
    return WalkPfbSegments(U(pfb), pfb.size());
}

const std::string kEnter = "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\r\n";

} // namespace

TEST(PfbWalk, HexLinesCountDigitsAcrossSegments) {
    const std::string b100(100, '\xab');
    const std::string d200 = HexOf(b100);
    EXPECT_EQ(Walk(Segment(2, b100)),
              d200.substr(0, 78) + "\r\n" + d200.substr(78, 78) + "\r\n" + d200.substr(156) + "\r");
    // 200 digits, then 20 more: the line of 44 goes on to 78 after 34 of the second.
    const std::string b20(20, '\x01');
    const std::string d20 = HexOf(b20);
    EXPECT_EQ(Walk(Segment(2, b100) + Segment(2, b20)),
              d200.substr(0, 78) + "\r\n" + d200.substr(78, 78) + "\r\n" + d200.substr(156) + "\r" +
                  d20.substr(0, 34) + "\r\n" + d20.substr(34) + "\r");
}

TEST(PfbWalk, TextSegmentsAndTheWalksEnd) {
    const std::string text = "%!PS-AdobeFont-1.0: X\r/x 1 def\r";
    struct Case {
        const char *what;
        std::string pfb;
        std::string walked;
    } cases[] = {
        {"text unchanged", Segment(1, text) + Segment(1, "more"), text + "more"},
        {"type 3 ends", Segment(1, "a") + std::string("\x80\x03", 2) + Segment(1, "b"), "a"},
        {"length past the end is cut", Segment(1, "abc", 1000) + Segment(1, "zzz"),
         "abc" + Segment(1, "zzz")},
        {"binary past the end is cut", Segment(2, "\x12\x34", 0xFFFFFFFFu), "1234\r"},
        {"short header", Segment(1, "a") + std::string("\x80\x01\x05\x00", 4), "a"},
        {"header of two bytes", std::string("\x80\x01", 2), ""},
        {"stray byte", Segment(1, "a") + "x" + Segment(1, "b"), "a"},
        {"unknown type", Segment(1, "a") + Segment(7, "b"), "a"},
        {"empty", "", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Walk(c.pfb), c.walked) << c.what;
}

TEST(PostScriptFont, WholeStreamOfAPfbAndOfAFnt) {
    const std::string pfb =
        Segment(1, "%!PS-AdobeFont-1.0: T\r") + Segment(2, "\x01\xff") + std::string("\x80\x03", 2);
    auto stream =
        BuildPostScriptFontStream(U(pfb), pfb.size(), "%disk0%", "Tiny", "<F1>\r\n", "<F3>\r\n");
    ASSERT_TRUE(stream);
    EXPECT_EQ(*stream, kEnter +
                           "<F1>\r\n/WriteTarget (%disk0%fonts/Tiny) (w) file def\r\nWriteInfo\r\n"
                           "%!PS-AdobeFont-1.0: T\r01ff\r<F3>\r\n\x04");

    const std::string fnt = "%!PS-AdobeFont-1.0: T\n/x 1 def\n";
    stream = BuildPostScriptFontStream(U(fnt), fnt.size(), "0:", "T", "<F1>", "");
    ASSERT_TRUE(stream);
    EXPECT_EQ(*stream,
              kEnter + "<F1>/WriteTarget (0:fonts/T) (w) file def\r\nWriteInfo\r\n" + fnt + "\x04");
}

TEST(PostScriptFont, FilesThatGiveNoStream) {
    const std::string marker = kPostScriptEndMarker;
    struct Case {
        const char *what;
        std::string file;
        std::string f3;
    } cases[] = {
        {"no comment", "/x 1 def\n", "F3"},
        {"comment only in the PFB header", std::string("\x80\x01%!PS-Adobe", 12), "F3"},
        {"empty", "", "F3"},
        {"holds the UEL", "%!PS-Adobe\n\x1b%-12345X@PJL\n", "F3"},
        {"holds the marker", "%!PS-Adobe\n" + marker + "\n", "F3"},
        {"PFB without its piece", Segment(1, "%!PS-Adobe-3.0"), ""},
    };
    for (const Case &c : cases)
        EXPECT_FALSE(BuildPostScriptFontStream(U(c.file), c.file.size(), "0:", "F", "F1", c.f3))
            << c.what;
    const std::string fnt = "%!PS-Adobe\n";
    EXPECT_FALSE(BuildPostScriptFontStream(U(fnt), fnt.size(), "0:", "F", "", "F3"))
        << "no first piece";
}

TEST(PostScriptString, EscapesParenthesesBackslashAndOtherBytes) {
    EXPECT_EQ(EscapePostScriptString("%disk0%"), "%disk0%");
    EXPECT_EQ(EscapePostScriptString("a)b(c\\d"), "a\\)b\\(c\\\\d");
    EXPECT_EQ(EscapePostScriptString(std::string("\t\x7f\xff\x01", 4)), "\\011\\177\\377\\001");
    const std::string fnt = "%!PS-Adobe\n";
    const auto stream = BuildPostScriptFontStream(U(fnt), fnt.size(), "a)b", "n\\", "F1", "");
    ASSERT_TRUE(stream);
    EXPECT_NE(stream->find("/WriteTarget (a\\)bfonts/n\\\\) (w) file def"), std::string::npos);
}

TEST(BoundingBoxComment, Cases) {
    const BoundingBox fallback{0, 0, 940, 3402};
    struct Case {
        const char *what;
        std::string eps;
        BoundingBox box;
    } cases[] = {
        {"plain",
         "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 100 100 300 200\n",
         {100, 100, 300, 200}},
        {"no comment", "%!PS\n", fallback},
        {"atend with trailer",
         "%%BoundingBox: (atend)\nx\n%%Trailer\n%%BoundingBox: 1 2 3\n%%BoundingBox: 5 6 7 8\n",
         {5, 6, 7, 8}},
        {"atend, last one short",
         "%%BoundingBox: (atend)\n%%BoundingBox: 5 6 7 8\n%%BoundingBox: 1 2\n",
         {5, 6, 7, 8}},
        {"atend without trailer", "%%BoundingBox: (atend)\n", fallback},
        {"three numbers", "%%BoundingBox: 1 2 3\n", fallback},
        {"negatives", "%%BoundingBox: -10 -20 30 +40\n", {-10, -20, 30, 40}},
        {"past 32 bits", "%%BoundingBox: 99999999999 1 2 3\n", fallback},
        {"32-bit edges",
         "%%BoundingBox: -2147483648 0 2147483647 1\n",
         {-2147483647 - 1, 0, 2147483647, 1}},
        {"fraction ends the integers", "%%BoundingBox: 10.5 1 2 3\n", fallback},
        {"only the first counts", "%%BoundingBox: 1 2\n%%BoundingBox: 5 6 7 8\n", fallback},
        {"at the data's end", "%%BoundingBox:", fallback},
        {"across a NUL", std::string("%%BoundingBox: 1 2\0 3 4\n", 24), fallback},
        {"after a NUL", std::string("\0%%BoundingBox: 1 2 3 4\n", 24), {1, 2, 3, 4}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FindBoundingBox(U(c.eps), c.eps.size()), c.box) << c.what;
}

TEST(PostScriptForm, WholeStreamInItsTenSteps) {
    const PostScriptPieces p = {"<1>", "<2>", "<3>", "<4>", "<5>", "<6>", "<7>"};
    const std::string eps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 100 100 300 200\n";
    const auto stream = BuildPostScriptFormStream(U(eps), eps.size(), "%disk0%", "Box", p);
    ASSERT_TRUE(stream);
    EXPECT_EQ(
        *stream,
        kEnter +
            "<1>/WriteTarget (%disk0%File/EPSF/Box) (w) file def %*** Update for each EPSF***\r\n"
            "<2>" +
            eps +
            "<3>"
            "<1>/WriteTarget (%disk0%Resource/Form/Box) (w) file def %*** Update for each "
            "EPSF***\r\n"
            "<4>      /BBox [ 100 100 300 200] def %*** Update for each EPSF***\r\n"
            "<5>      (%disk0%File/EPSF/Box) run %*** Update for each EPSF***\r\n"
            "<6>/Box %*** Update for each Form***\r\n"
            "<7>(%disk0%Resource/Form/Box) run %*** Update for each Form***\r\n"
            "\x1b%-12345X");
    EXPECT_TRUE(IsDemoFolder("\\common\\demo"));
    EXPECT_FALSE(IsDemoFolder("\\Common\\demo"));
    EXPECT_FALSE(IsDemoFolder("\\common\\demo\\"));
}

TEST(PostScriptForm, RefusedNamesDataAndPieces) {
    const PostScriptPieces p = {"1", "2", "3", "4", "5", "6", "7"};
    const std::string eps = "%!PS-Adobe-3.0 EPSF-3.0\n";
    for (const std::string name : {"", "a\tb", "a b", "a/b", "a(b", "a)b", "a<b", "a>b", "a[b",
                                   "a]b", "a{b", "a}b", "a%b", "a\x7f", "a\xe9"})
        EXPECT_FALSE(BuildPostScriptFormStream(U(eps), eps.size(), "0:", name, p)) << name;
    EXPECT_TRUE(BuildPostScriptFormStream(U(eps), eps.size(), "0:", "Form-1_x.eps", p));
    // A name literal past the interpreter's limit stops the program half-way.
    EXPECT_TRUE(BuildPostScriptFormStream(U(eps), eps.size(), "0:", std::string(127, 'n'), p));
    EXPECT_FALSE(BuildPostScriptFormStream(U(eps), eps.size(), "0:", std::string(128, 'n'), p));
    const std::string withUel = eps + "\x1b%-12345X";
    EXPECT_FALSE(BuildPostScriptFormStream(U(withUel), withUel.size(), "0:", "F", p));
    const std::string withMarker = eps + kPostScriptEndMarker;
    EXPECT_FALSE(BuildPostScriptFormStream(U(withMarker), withMarker.size(), "0:", "F", p));
    for (std::size_t i = 0; i < p.size(); ++i) {
        PostScriptPieces missing = p;
        missing[i].clear();
        EXPECT_FALSE(BuildPostScriptFormStream(U(eps), eps.size(), "0:", "F", missing)) << i;
    }
    EXPECT_FALSE(BuildPostScriptFormStream(U(eps), 0, "0:", "F", p));
    const auto escaped = BuildPostScriptFormStream(U(eps), eps.size(), "a)b\\", "F", p);
    ASSERT_TRUE(escaped);
    EXPECT_NE(escaped->find("(a\\)b\\\\Resource/Form/F) run"), std::string::npos);
}

TEST(MacroAndProfile, Streams) {
    const std::string data("MAC\0RO", 6);
    auto macro = BuildMacroStream(U(data), data.size(), "0:", "\\pcl\\macros", "12", "12");
    ASSERT_TRUE(macro);
    EXPECT_EQ(*macro, "\x1b%-12345X@PJL QUVWILDFSDELETE NAME=\"0:\\pcl\\macros\\12::*\"\r\n"
                      "@PJL FSDOWNLOAD FORMAT:BINARY SIZE=6 NAME=\"0:\\pcl\\macros\\12\"\r\n" +
                          data + "\x1b%-12345X");
    auto profile =
        BuildProfileStream(U(data), data.size(), "0:", "\\x", "ink1001bst1200ppr", "1001");
    ASSERT_TRUE(profile);
    EXPECT_EQ(
        *profile,
        "\x1b%-12345X@PJL QUVWILDFSDELETE NAME=\"1:\\common\\smaps_env\\color\\ink1001b*\"\r\n"
        "@PJL QUVWILDFSDELETE NAME=\"1:\\common\\smaps_env\\color\\ink1001c*\"\r\n"
        "\x1b%-12345X@PJL FSDOWNLOAD FORMAT:BINARY SIZE=6 NAME=\"0:\\x\\ink1001bst1200ppr\"\r\n" +
            data + "\x1b%-12345X");
    const std::string none;
    EXPECT_TRUE(BuildProfileStream(U(none), 0, "1:", "\\c", "ink1", "1"));
}

TEST(MacroAndProfile, TargetsThatCouldWidenTheDelete) {
    const std::string data = "d";
    struct Case {
        const char *what, *volume, *folder, *name, *id;
        bool macro, profile;
    } cases[] = {
        {"good", "0:", "\\pcl\\macros", "12", "12", true, true},
        {"empty ID", "0:", "\\m", "n", "", false, false},
        {"wild ID", "0:", "\\m", "n", "1*", false, false},
        {"star ID", "0:", "\\m", "n", "*", false, false},
        {"letters", "0:", "\\m", "n", "12a", false, false},
        {"ten digits", "0:", "\\m", "n", "1234567890", false, false},
        {"ID 0: a profile without its number", "0:", "\\m", "n", "000", true, false},
        {"wild folder", "0:", "\\m*", "n", "1", false, true},
        {"wild volume", "?:", "\\m", "n", "1", false, true},
        {"quote in name", "0:", "\\m", "n\"", "1", false, false},
        {"control in folder", "0:", "\\m\r\n@PJL", "n", "1", false, false},
        {"control in volume", "0\t", "\\m", "n", "1", false, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(BuildMacroStream(U(data), 1, c.volume, c.folder, c.name, c.id).has_value(),
                  c.macro)
            << c.what;
        EXPECT_EQ(BuildProfileStream(U(data), 1, c.volume, c.folder, c.name, c.id).has_value(),
                  c.profile)
            << c.what;
    }
}

TEST(ProfileName, RowsOfTheName) {
    struct Case {
        std::string name;
        ProfileRows rows;
    } cases[] = {
        {"ink1001bst1200ppr", {1, 10129, 10131, 10134}},
        {"ink1002clstv1200tra", {2, 10130, 10132, 10135}},
        {"ink999bstxxxppr", {0, 10129, 10133, 10134}},
        {"ink", {0, 10130, 10133, 10135}},
        {"ink1001", {1, 10130, 10133, 10135}},
        {"ink1001bs", {1, 10130, 10133, 10135}},
        {"inkx", {0, 10130, 10133, 10135}},
        {"", {0, 10130, 10133, 10135}},
        {"in", {0, 10130, 10133, 10135}},
        {"ink123456789012345bst1200ppr", {123456789 - 1000, 10129, 10131, 10134}},
        {"ink1000bst", {0, 10129, 10133, 10135}},
        {"ink2000abcd600ppr", {1000, 10130, 10133, 10134}},
    };
    for (const Case &c : cases) {
        const ProfileRows r = DecodeProfileName(c.name);
        EXPECT_EQ(r.userProfile, c.rows.userProfile) << c.name;
        EXPECT_EQ(r.screen, c.rows.screen) << c.name;
        EXPECT_EQ(r.resolution, c.rows.resolution) << c.name;
        EXPECT_EQ(r.media, c.rows.media) << c.name;
    }
}

TEST(ProfileName, DescriptionIsAtMost32BytesUpToANul) {
    const std::string padded = std::string("Gray\0\0\0\0", 8) + std::string(24, '\0') + "rest";
    EXPECT_EQ(ProfileDescription(U(padded), padded.size()), "Gray");
    const std::string cut = "little cms Relative L*a*b* identity profile";
    EXPECT_EQ(ProfileDescription(U(cut), cut.size()), "little cms Relative L*a*b* ident");
    EXPECT_EQ(ProfileDescription(U(cut), 6), "little");
    EXPECT_EQ(ProfileDescription(nullptr, 0), "");
}

namespace {

// The bytes in a heap block of exactly their size, so that a read past the end is caught
// under the address sanitizer.
class Exact {
  public:
    explicit Exact(const std::string &bytes)
        : data_(new std::uint8_t[bytes.size() + !bytes.size()]), size_(bytes.size()) {
        std::copy(bytes.begin(), bytes.end(), data_.get());
    }
    const std::uint8_t *data() const { return data_.get(); }
    std::size_t size() const { return size_; }

  private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_;
};

std::size_t Count(const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string Noise(std::size_t n, unsigned seed) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        out += static_cast<char>(seed >> 16);
    }
    return out;
}

} // namespace

// Every cut of the files and names a hand-edited project can point at: each builder reads
// within the bytes, and what it builds is one whole program (the UEL only where the stream
// puts it) or nothing.
TEST(BadInput, CutAndGarbageFilesAreReadWithinTheirBytes) {
    const std::string nimbus = [] {
        std::ifstream in("/usr/share/fonts/X11/Type1/NimbusSans-Regular.pfb", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    ASSERT_FALSE(nimbus.empty()) << "fonts-urw-base35 is not installed";
    const std::string pfb = Segment(1, "%!PS-AdobeFont-1.0: T\r") +
                            Segment(2, std::string(90, '\xa5')) + Segment(1, "cleartomark\r") +
                            std::string("\x80\x03", 2);
    const std::string eps =
        "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: (atend)\nx\n%%BoundingBox: 100 100 300 200\n";
    const std::string nuls = std::string("%!PS-Adobe\0\0%%BoundingBox: 1 2 3 4\0", 35);
    const std::string profile =
        "little cms Relative L*a*b* identity profile" + std::string(4, '\0');
    struct Case {
        const char *what;
        std::string bytes;
        std::size_t step; // cut lengths 0, step, 2 step, ... and the whole
    } cases[] = {
        {"small PFB", pfb, 1},
        {"URW PFB", nimbus, 997},
        {"PFB-like garbage", "\x80\x02\xff\xff\xff\x7f" + Noise(200, 7), 13},
        {"garbage", Noise(300, 1), 7},
        {"EPS with atend", eps, 1},
        {"EPS with NULs", nuls, 1},
        {"no comments", "0 0 moveto 1 1 lineto stroke\n", 3},
        {"profile", profile, 1},
        {"UEL at the end", "%!PS-Adobe\n\x1b%-12345X", 1},
        {"marker at the end", std::string("%!PS-Adobe\n") + kPostScriptEndMarker, 1},
    };
    const PostScriptPieces pieces = {"<1>", "<2>", "<3>", "<4>", "<5>", "<6>", "<7>"};
    const std::string uel = "\x1b%-12345X";
    for (const Case &c : cases) {
        for (std::size_t cut = 0;; cut = std::min(cut + c.step, c.bytes.size())) {
            SCOPED_TRACE(std::string(c.what) + " cut at " + std::to_string(cut));
            const Exact file(c.bytes.substr(0, cut));
            const std::string walked = WalkPfbSegments(file.data(), file.size());
            EXPECT_LE(walked.size(), 3 * file.size());
            if (const auto font = BuildPostScriptFontStream(file.data(), file.size(), "a)b", "F",
                                                            "<F1>", "<F3>")) {
                EXPECT_EQ(Count(*font, uel), 1u);
                EXPECT_EQ(Count(*font, kPostScriptEndMarker), 0u);
                EXPECT_EQ(font->back(), '\x04');
            }
            FindBoundingBox(file.data(), file.size());
            if (const auto form =
                    BuildPostScriptFormStream(file.data(), file.size(), "%disk0%", "F", pieces)) {
                EXPECT_EQ(Count(*form, uel), 2u);
                EXPECT_EQ(form->compare(form->size() - uel.size(), uel.size(), uel), 0);
                EXPECT_NE(form->find("<2>" + c.bytes.substr(0, cut) + "<3>"), std::string::npos);
            }
            EXPECT_LE(ProfileDescription(file.data(), file.size()).size(),
                      std::min<std::size_t>(32, cut));
            DecodeProfileName(("ink1002clstv1200tra" + c.bytes).substr(0, cut));
            if (cut == c.bytes.size())
                break;
        }
    }
    // Names and IDs of 300 characters give a whole stream or none.
    const std::string data = "d", longText(300, '9');
    EXPECT_FALSE(BuildMacroStream(U(data), 1, "0:", "\\pcl\\macros", longText, longText));
    EXPECT_FALSE(BuildProfileStream(U(data), 1, "1:", "\\c", longText, longText));
    const auto macro = BuildMacroStream(U(data), 1, "0:", "\\other", longText, "1");
    ASSERT_TRUE(macro);
    EXPECT_NE(macro->find("NAME=\"0:\\other\\" + longText + "\"\r\n"), std::string::npos);
    EXPECT_FALSE(BuildPostScriptFormStream(U(eps), eps.size(), "0:", longText, pieces));
    const ProfileRows rows = DecodeProfileName("ink" + longText);
    EXPECT_EQ(rows.userProfile, 999999999 - 1000);
    EXPECT_EQ(rows.screen, 10130);
}
