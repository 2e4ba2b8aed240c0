#include "pclfilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::uint8_t *Bytes(const std::string &s) {
    return reinterpret_cast<const std::uint8_t *>(s.data());
}

std::vector<CMacroLine> CutAll(const std::string &s) {
    std::vector<CMacroLine> lines;
    MacroParserState state;
    for (std::size_t at = 0; at < s.size();) {
        lines.push_back(CutMacroLine(Bytes(s) + at, Bytes(s) + s.size(), state));
        EXPECT_GT(lines.back().length, 0u) << "at " << at;
        if (lines.back().length == 0)
            break;
        at += lines.back().length;
    }
    return lines;
}

MacroFlags NoFlags() {
    return MacroFlags{};
}
MacroFlags Flags(std::initializer_list<int> set) {
    MacroFlags f{};
    for (int k : set)
        f[static_cast<std::size_t>(k)] = 1;
    return f;
}

std::string Kept(const std::string &file, const MacroFlags &flags) {
    MacroReader r = ReadMacroLines(Bytes(file), file.size(), flags);
    std::string out;
    for (const CMacroLine &line : r.lines)
        out += WriteEscape(line);
    return out;
}

std::string Payload(const CMacroLine &l) {
    return std::string(l.payload.begin(), l.payload.end());
}

// One file's first line: prefix, sign, value, terminator, payload and the bytes taken.
TEST(MacroLineCut, CommandsAreCutIntoPrefixValueTerminatorAndData) {
    const std::string data64(64, 'd');
    struct Case {
        std::string input;
        std::string prefix;
        int sign;
        int noValue;
        double value;
        char terminator;
        std::string payload;
        std::uint32_t length;
    } cases[] = {
        {"\x1b&l1o2A", "\x1b&l", 2, 0, 1, 'O', "", 5},
        {"\x1b*c65E\x1b(s3W", "\x1b*c", 2, 0, 65, 'E', "", 6},
        {"\x1b&l-180u36Z", "\x1b&l", 1, 0, 180, 'U', "", 8},
        {"\x1b*p+1036Y", "\x1b*p", 0, 0, 1036, 'Y', "", 9},
        {"\x1b"
         "9",
         "\x1b", 2, 0, 9, 0, "", 2},
        {"\x1b"
         "E",
         "\x1b"
         "E",
         2, 1, 0, 0, "", 2},
        {"\x1b*rB", "\x1b*r", 2, 1, 0, 'B', "", 4},
        {"\x1b&d@", "\x1b&d", 2, 1, 0, '@', "", 4},
        {"\x1b*rC", "\x1b*r", 2, 1, 0, 'C', "", 4},
        {"\x1b(8U", "\x1b(", 2, 0, 8, 'U', "", 4},
        {"\x1b(s1Pxyz", "\x1b(s", 2, 0, 1, 'P', "", 5},
        {"\x1b)s64W" + data64 +
             "\x1b"
             "E",
         "\x1b)s", 2, 0, 64, 'W', data64, 70},
        {"\x1b%1Bhpgl;PA0,0\x1b%0A", "\x1b%", 2, 0, 1, 'B', "hpgl;PA0,0", 14},
        {"\x1b&p5Xhello", "\x1b&p", 2, 0, 5, 'X', "hello", 10},
        {"\x1b*b3V\x01\x02\x03+", "\x1b*b", 2, 0, 3, 'V', "\x01\x02\x03", 8},
        {"\x1b*b300W\x01\x02", "\x1b*b", 2, 0, 300, 'W', "\x01\x02", 9}, // cut by the end
        {"\x1b*b-5W\x01\x02", "\x1b*b", 1, 0, 5, 'W', "", 6},            // negative: no data
        {"\x1b&l1", "\x1b&l", 2, 0, 1, 0, "", 4}, // cut before its terminator
        {"\x1b(s16.67H", "\x1b(s", 2, 0, 16.67, 'H', "", 9},
        {"\x1b*c65E\x1b", "\x1b*c", 2, 0, 65, 'E', "", 6},
        {"\x1b&l1.5.5C", "\x1b&l", 2, 0, 1.5, 0, "", 6}, // a second '.' ends it
        {"\x1b&l99999999999999999999C", "\x1b&l", 2, 0, 999999999.0, 'C', "", 24},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input);
        const std::vector<CMacroLine> lines = CutAll(c.input);
        ASSERT_FALSE(lines.empty());
        const CMacroLine &l = lines[0];
        EXPECT_EQ(l.kind, MacroLineKind::Command);
        EXPECT_EQ(l.prefix, c.prefix);
        EXPECT_EQ(l.sign, c.sign);
        EXPECT_EQ(l.noValue, c.noValue);
        EXPECT_DOUBLE_EQ(l.value, c.value);
        EXPECT_EQ(l.terminator, static_cast<std::uint8_t>(c.terminator));
        EXPECT_EQ(Payload(l), c.payload);
        EXPECT_EQ(l.length, c.length);
    }
}

TEST(MacroLineCut, ContinuationsTextAndStrayBytes) {
    // A lower-case terminator: the next line continues the command with its prefix.
    std::vector<CMacroLine> l = CutAll("\x1b&l-180u36Z\x1b*b2m100W");
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[1].prefix, "\x1b&l");
    EXPECT_FLOAT_EQ(l[1].value, 36);
    EXPECT_EQ(l[1].terminator, 'Z');
    EXPECT_EQ(l[3].prefix, "\x1b*b");
    EXPECT_EQ(l[3].terminator, 'W');
    EXPECT_EQ(l[3].length, 4u); // 100 bytes asked, none there

    // ESC z has no terminator: the ESC after it starts the next line.
    l = CutAll("\x1bz\x1b"
               "E");
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].prefix, "\x1bz");
    EXPECT_EQ(l[0].terminator, 0);
    EXPECT_EQ(l[0].length, 2u);
    EXPECT_EQ(l[1].prefix, "\x1b"
                           "E");

    // Text runs end at ESC and form feed; a form feed is a line of its own.
    l = CutAll("Hello\x0c\x0cWorld\x1b"
               "E");
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(Payload(l[0]), "Hello");
    EXPECT_EQ(Payload(l[1]), "\x0c");
    EXPECT_EQ(Payload(l[2]), "\x0c");
    EXPECT_EQ(Payload(l[3]), "World");

    // A lone ESC, a control byte after a lower-case terminator, ESC at the end.
    l = CutAll("\x1b&l1o\r\n\x1b");
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(Payload(l[1]), "\r\n");
    EXPECT_EQ(l[2].prefix, "\x1b");
    EXPECT_EQ(l[2].length, 1u);
}

TEST(MacroLineWrite, ValuesAreWrittenBackTrimmed) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"\x1b&l1.50C", "\x1b&l1.5C"},
        {"\x1b&l0C", "\x1b&l0C"},
        {"\x1b&l5.3333C", "\x1b&l5.33C"},
        {"\x1b&l6.125C", "\x1b&l6.12C"},
        {"\x1b&l007C", "\x1b&l7C"},
        {"\x1b*p+10x-20Y", "\x1b*p+10X\x1b*p-20Y"},
        {"\x1b&d@\x1b*rC\x1b*rB\x1b"
         "E\x1b"
         "9",
         "\x1b&d@\x1b*rC\x1b*rB\x1b"
         "E\x1b"
         "9"},
        {"\x1b&l1", "\x1b&l1"}, // no terminator: none written
        {"\x1b(s1p12v0s3b4099T", "\x1b(s1P\x1b(s12V\x1b(s0S\x1b(s3B\x1b(s4099T"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(Kept(c.in, NoFlags()), c.out);
    }
    // Raster data with a NUL and an ESC in it.
    const std::string raster("\x1b*b3W\x00\x01\x1b", 8);
    EXPECT_EQ(Kept(raster, NoFlags()), raster);

    // ESC &l1o2A: flags 10 and 2 drop both; flag 2 alone keeps ESC &l1O as its own command.
    EXPECT_EQ(Kept("\x1b&l1o2A", Flags({10, 2})), "");
    EXPECT_EQ(Kept("\x1b&l1o2A", Flags({2})), "\x1b&l1O");
}

TEST(MacroFilter, EachFlagDropsExactlyItsCommand) {
    // One command per flag 0 to 25, in flag order.
    const std::vector<std::string> commands = {"\x0c",
                                               "\x1b"
                                               "E",
                                               "\x1b&l26A",
                                               "\x1b&l8C",
                                               "\x1b&l6D",
                                               "\x1b&l1E",
                                               "\x1b&l60F",
                                               "\x1b&l1G",
                                               "\x1b&l1H",
                                               "\x1b&l0L",
                                               "\x1b&l1O",
                                               "\x1b&l2S",
                                               "\x1b&l1T",
                                               "\x1b&l-3U",
                                               "\x1b&l2X",
                                               "\x1b&l4Z",
                                               "\x1b&a1G",
                                               "\x1b&a90P",
                                               "\x1b&l66P",
                                               std::string("\x1b*v6W\x00\x03\x08\x08\x08\x08", 11),
                                               "\x1b*i3Wabc",
                                               "\x1b*o2Wab",
                                               "\x1b*t4J",
                                               "\x1b&p2I",
                                               "\x1b&p1C",
                                               "\x1b&b19Wxxxxxxxxxxxxxxxxxxx"};
    ASSERT_EQ(commands.size(), 26u);
    std::string file;
    for (const std::string &c : commands)
        file += c + "t";
    for (int k = 0; k < 26; ++k) {
        SCOPED_TRACE(k);
        std::string expected;
        for (int j = 0; j < 26; ++j)
            expected += (j == k ? std::string() : commands[static_cast<std::size_t>(j)]) + "t";
        EXPECT_EQ(Kept(file, Flags({k})), expected);
    }
    // Flag 25 takes any terminator of ESC &b.
    EXPECT_EQ(Kept("\x1b&b1M\x1b&b0Xa", Flags({25})), "a");
    // ESC /l O, ESC &n W, PJL lines and the UEL always go.
    const std::string always =
        "\x1b/l1O\x1b&n5Wabcdeq\x1b%-12345X@PJL JOB\r\n@PJL ENTER LANGUAGE=PCL\r\nz";
    EXPECT_EQ(Kept(always, NoFlags()), "qz");
}

TEST(MacroFilter, PjlHeadersAndTheirDataAreSkipped) {
    struct Case {
        std::string file, kept;
    } cases[] = {
        {"\x1b%-12345X@PJL SET A=1\r\n@PJL ENTER LANGUAGE=PCL\r\n\x1b"
         "E",
         "\x1b"
         "E"},
        {"\x1b%-12345X@PJL\n@PJL ENTER LANGUAGE = PCL \n\x1b"
         "E",
         "\x1b"
         "E"},
        {"\x1b%-12345X@PJL enter Language=pcl\r\nT", "T"},
        // PCLXL is not PCL: the rest stays PJL, and its PJL lines go.
        {"\x1b%-12345X@PJL ENTER LANGUAGE=PCLXL\n@PJL X\nT", "T"},
        {"\x1b%-12345X@PJL QUVRESOURCEWRITE SIZE=5\n12345@PJL ENTER LANGUAGE=PCL\nT", "T"},
        {"\x1b%-12345X@PJL QUVWRITE DATA=H1F\n" + std::string(31, 'x') +
             "@PJL ENTER LANGUAGE=PCL\nT",
         "T"},
        {"\x1b%-12345X@PJL QUVRESOURCEWRITE SIZE=99999999999\nabc", ""},
        {"\x1b%-12345X@PJL QUVWRITE DATA=HFFFFFFFFFFFFFFFFFFFF\nabc", ""},
        {"@PJL outside PJL mode\n", "@PJL outside PJL mode\n"},
        {"\x1b%-12345X@PJL", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(Kept(c.file, NoFlags()), c.kept);
    }
}

TEST(MacroFilter, StateStartsAfreshForEachFile) {
    // A file ending on a lower-case terminator or in PJL mode does not reach into the next.
    ReadMacroLines(Bytes("\x1b&l1o"), 5, NoFlags());
    ReadMacroLines(Bytes("\x1b%-12345X"), 9, NoFlags());
    const std::string font = "\x1b)s3Wabc";
    MacroReader r = ReadMacroLines(Bytes(font), font.size(), NoFlags());
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].prefix, "\x1b)s");
    EXPECT_EQ(r.total, font.size());
    // No data at all.
    EXPECT_TRUE(ReadMacroLines(nullptr, 0, NoFlags()).lines.empty());
}

std::vector<MacroPiece> Split(const std::string &file, const MacroFlags &flags,
                              const std::string &first = "out.bin") {
    MacroReader r = ReadMacroLines(Bytes(file), file.size(), flags);
    return SplitMacroLines(r, first);
}

const std::string kPush = "\033&p0S\033*p0P";
const std::string kPop = "\033&p0S\033*p1P";

TEST(MacroSplit, OnePieceOrOnePerDefinition) {
    const std::string file = "\x1b&f5Y\x1b&f0XBODY\x1b&f1XREST";
    // Unsplit: one bracketed piece with every line.
    std::vector<MacroPiece> p = Split(file, NoFlags());
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].name, "out.bin");
    EXPECT_EQ(p[0].bytes, kPush + "\x1b&f5Y\x1b&f0XBODY\x1b&f1XREST" + kPop);
    p = Split(file, Flags({26}));
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].bytes,
              "\033&f0S" + kPush + "\x1b&f5Y\x1b&f0XBODY\x1b&f1XREST" + kPop + "\033&f1S");

    // Split: the empty first piece is not saved, M5.bin holds the definition, F0.bin the rest.
    for (bool push : {false, true}) {
        SCOPED_TRACE(push);
        p = Split(file, push ? Flags({27, 26}) : Flags({27}));
        ASSERT_EQ(p.size(), 2u);
        const std::string pro = (push ? "\033&f0S" : "") + kPush;
        const std::string epi = kPop + (push ? "\033&f1S" : "");
        EXPECT_EQ(p[0].name, "M5.bin");
        EXPECT_EQ(p[0].bytes, pro + "BODY" + epi);
        EXPECT_EQ(p[1].name, "F0.bin");
        EXPECT_EQ(p[1].bytes, pro + "REST" + epi);
    }

    // Text before the first definition stays in the first piece; F%d counts per split.
    p = Split("HEAD\x1b&f1Y\x1b&f0XA\x1b&f1XB\x1b&f2Y\x1b&f0XC\x1b&f1X", Flags({27}));
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].name, "out.bin");
    EXPECT_EQ(p[0].bytes, kPush + "HEAD" + kPop);
    EXPECT_EQ(p[1].name, "M1.bin");
    EXPECT_EQ(p[2].name, "F0.bin");
    EXPECT_EQ(p[3].name, "M2.bin");
    EXPECT_EQ(p[3].bytes, kPush + "C" + kPop);
    p = Split("\x1b&f0XA\x1b&f1XB", Flags({27}));
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1].name, "F0.bin");

    // Nothing at all: unsplit gives the brackets, split gives no piece.
    EXPECT_EQ(Split("", NoFlags()).at(0).bytes, kPush + kPop);
    EXPECT_TRUE(Split("", Flags({27})).empty());
}

TEST(MacroSplit, MacroCallsGetTheIdOfTheirPlace) {
    // Outside: the last ID given outside a definition; inside: the inner one.
    for (int v : {2, 3, 4, 8}) {
        SCOPED_TRACE(v);
        const std::string call = "\x1b&f" + std::to_string(v) + "X";
        const std::string file =
            "\x1b&f7Y" + call + "\x1b&f5Y\x1b&f0X\x1b&f9Y" + call + "\x1b&f1X" + call;
        std::vector<MacroPiece> p = Split(file, Flags({27}));
        ASSERT_EQ(p.size(), 3u);
        EXPECT_EQ(p[0].bytes, kPush + "\x1b&f7Y" + call + kPop);
        EXPECT_EQ(p[1].name, "M5.bin");
        EXPECT_EQ(p[1].bytes, kPush + "\x1b&f9Y" + call + kPop);
        EXPECT_EQ(p[2].bytes, kPush + "\x1b&f5Y" + call + kPop);
    }
    // 9 and 10 vanish, other values pass as written.
    std::vector<MacroPiece> p = Split("a\x1b&f9X\x1b&f10X\x1b&f6Xb", Flags({27}));
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].bytes, kPush + "a\x1b&f6Xb" + kPop);
}

TEST(MacroSplit, DroppedConfigurationsGetPaletteSetUp) {
    auto configure = [](int rgbByte, int encoding, int bits) {
        return std::string("\x1b*v6W") + static_cast<char>(rgbByte) + static_cast<char>(encoding) +
               static_cast<char>(bits) + std::string("\x08\x08\x08", 3);
    };
    std::string entries8to15;
    for (int i = 8; i <= 15; ++i)
        entries8to15 += "\033*v0a0b0c" + std::to_string(i) + "I";
    struct Case {
        std::string name, file;
        MacroFlags flags;
        std::string body;
    } cases[] = {
        {"4 bits indexed", "A" + configure(1, 1, 4) + "B", Flags({19}),
         "A" + PaletteSetupString(0, 3) + entries8to15 + "B"},
        {"4 bits RGB", configure(0, 0, 4) + "B", Flags({19}),
         PaletteSetupString(1, 4) + entries8to15 + "B"},
        {"kept", "A" + configure(1, 1, 4) + "B", NoFlags(), "A" + configure(1, 1, 4) + "B"},
        {"1 bit", configure(1, 1, 1) + "B", Flags({19}),
         std::string("\33*v255a255b255c0i0a0b0c1I") + "B"},
        {"2 bits RGB", configure(0, 1, 2) + "B", Flags({19}),
         std::string("\33*v255a255b255c0i0a255b255c1i255a0b255c2i0a0b0c3I") + "B"},
        {"2 bits", configure(1, 1, 2) + "B", Flags({19}),
         std::string("\33*v0a0b0c0i255a0b0c1i0a255b0c2i255a255b255c3I") + "B"},
        {"encoding 3", configure(0, 3, 8) + "B", Flags({19}), "B"},
        {"two in a row", configure(1, 1, 1) + configure(1, 1, 2) + "B", Flags({19}),
         std::string("\33*v255a255b255c0i0a0b0c1I") +
             "\33*v0a0b0c0i255a0b0c1i0a255b0c2i255a255b255c3IB"},
        {"at the end", "A" + configure(1, 1, 1), Flags({19}),
         std::string("A\33*v255a255b255c0i0a0b0c1I")},
        {"short data", std::string("\x1b*v2W\x00\x01", 7) + "B", Flags({19}), "B"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<MacroPiece> p = Split(c.file, c.flags);
        ASSERT_EQ(p.size(), 1u);
        EXPECT_EQ(p[0].bytes, kPush + c.body + kPop);
    }
    // 255 bits per index: capped at 8, entries 8 to 255.
    std::vector<MacroPiece> p = Split(configure(1, 1, 255), Flags({19}));
    ASSERT_EQ(p.size(), 1u);
    std::size_t count = 0;
    for (std::size_t at = p[0].bytes.find("\033*v0a0b0c"); at != std::string::npos;
         at = p[0].bytes.find("\033*v0a0b0c", at + 1))
        ++count;
    EXPECT_EQ(count, 248u + 1); // the 3-bit string starts with entry 0 = 0,0,0
}

TEST(MacroSplit, PaletteIdsAreBracketed) {
    // Nonzero IDs first recorded are pushed in order and popped in reverse.
    const std::string file = "\x1b&p3S\x1b&p3IA\x1b&p4S\x1b&p4I\x1b&p3S\x1b&p3IB";
    std::vector<MacroPiece> p = Split(file, NoFlags());
    ASSERT_EQ(p.size(), 1u);
    const std::string pro = "\033&p3S\033*p0P\033&p4S\033*p0P" + kPush;
    const std::string epi = kPop + "\033&p4S\033*p1P\033&p3S\033*p1P";
    EXPECT_EQ(p[0].bytes, pro + file + epi);
    // ID 0 and huge IDs.
    p = Split("\x1b&p0I\x1b&p99999999999S\x1b&p1IA", Flags({23}));
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].bytes, "\033&p999999999S\033*p0P" + kPush + "\x1b&p999999999SA" + kPop +
                              "\033&p999999999S\033*p1P");
}

} // namespace
