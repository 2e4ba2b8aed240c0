#include "project.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

std::vector<ProjectEntry> Read(const std::string &text) {
    auto entries = ReadProjectText(text.data(), text.size());
    return entries ? *entries : std::vector<ProjectEntry>{};
}

std::string Section(int n, const std::string &source, const std::string &name = "N",
                    const std::string &id = "1") {
    return "[file" + std::to_string(n) + "]\r\nFileSourcePath=" + source + "\r\nFileName=" + name +
           "\r\nFileID=" + id + "\r\nFileTargetVolume=0:\r\nFileTargetPath=\\fonts\r\n\r\n";
}

} // namespace

TEST(ProjectText, WriterBytes) {
    EXPECT_EQ(WriteProjectText({}), "[FILES]\r\nCount=0\r\n\r\n");
    const std::vector<ProjectRow> rows = {
        {"C:\\f\\a.sfp", "Courier", "0", "0:", "\\fonts"},
        {"C:\\f\\b.hst", "b", "123456789012", "%disk0%", "/Resource/Form"},
    };
    EXPECT_EQ(WriteProjectText(rows),
              "[FILES]\r\nCount=2\r\n\r\n"
              "[file0]\r\nFileSourcePath=C:\\f\\a.sfp\r\nFileName=Courier\r\nFileID=0\r\n"
              "FileTargetVolume=0:\r\nFileTargetPath=\\fonts\r\n\r\n"
              "[file1]\r\nFileSourcePath=C:\\f\\b.hst\r\nFileName=b\r\nFileID=123456789\r\n"
              "FileTargetVolume=%disk0%\r\nFileTargetPath=/Resource/Form\r\n\r\n");
    // What is written reads back as it was (the ID as written).
    const auto back = Read(WriteProjectText(rows));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(*back[1].source, "C:\\f\\b.hst");
    EXPECT_EQ(*back[1].id, "123456789");
    EXPECT_EQ(*back[1].volume, "%disk0%");
    EXPECT_EQ(*back[1].folder, "/Resource/Form");
}

TEST(ProjectText, ReaderSectionsAndKeys) {
    const std::string head = "[FILES]\r\nCount=";
    struct Case {
        const char *what;
        std::string text;
        std::vector<std::string> sources; // of the entries read, in order; "-" for no key
    };
    const Case cases[] = {
        {"sections in reverse order",
         head + "2\r\n\r\n" + Section(1, "B") + Section(0, "A"),
         {"A", "B"}},
        {"Count above the sections",
         head + "5\r\n\r\n" + Section(0, "A") + Section(3, "D"),
         {"A", "D"}},
        {"Count below them", head + "1\r\n\r\n" + Section(0, "A") + Section(1, "B"), {"A"}},
        {"Count=0", head + "0\r\n\r\n" + Section(0, "A"), {}},
        {"negative Count", head + "-3\r\n\r\n" + Section(0, "A"), {}},
        {"a repeated section: the first wins",
         head + "1\r\n\r\n" + Section(0, "A") + Section(0, "B"),
         {"A"}},
        {"a section without a source key", head + "1\r\n\r\n[file0]\r\nFileName=x\r\n", {"-"}},
        {"a key text inside a path",
         head + "1\r\n\r\n[file0]\r\nFileSourcePath=C:\\FileName=x\\[file1]\r\nFileName=real\r\n",
         {"C:\\FileName=x\\[file1]"}},
        {"a header not at a line start", head + "2\r\n\r\nx[file0]\r\nFileSourcePath=A\r\n", {}},
        {"a header with a leading zero", head + "2\r\n\r\n[file01]\r\nFileSourcePath=A\r\n", {}},
        {"sections before the Count key", Section(0, "A") + head + "1\r\n", {}},
        {"a NUL ends the text",
         head + "2\r\n\r\n" + Section(0, "A") + "\0"s + Section(1, "B"),
         {"A"}},
        {"the last line without CR LF", head + "1\r\n\r\n[file0]\r\nFileSourcePath=A", {"A"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> sources;
        for (const auto &e : Read(c.text))
            sources.push_back(e.source ? *e.source : "-");
        EXPECT_EQ(sources, c.sources);
    }
    for (const std::string &bad :
         {""s, "\r\n"s, "[FILES]\r\n"s, "[FILES]\nCount=1\n\n[file0]\nFileSourcePath=A\n"s,
          std::string(4096, '\xFF')})
        EXPECT_FALSE(ReadProjectText(bad.data(), bad.size())) << bad.substr(0, 20);
    EXPECT_FALSE(ReadProjectText(nullptr, 0));
}

TEST(ProjectText, MissingKeysStayAbsentAndDoNotReachTheNextSection) {
    const auto entries = Read("[FILES]\r\nCount=2\r\n\r\n[file0]\r\nFileSourcePath=A\r\n\r\n" +
                              Section(1, "B", "Bee", "7"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_FALSE(entries[0].name);
    EXPECT_FALSE(entries[0].id);
    EXPECT_FALSE(entries[0].folder);
    EXPECT_EQ(*entries[1].name, "Bee");
    EXPECT_EQ(*entries[1].id, "7");
}

TEST(ProjectText, LongValuesAndAHugeCount) {
    const std::string longPath = "C:\\" + std::string(297, 'p');
    const auto entries =
        Read("[FILES]\r\nCount=1\r\n\r\n" + Section(0, longPath, std::string(300, 'n')));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].source->size(), 300u) << "a long source is kept whole";
    EXPECT_TRUE(entries[0].SourceUnusable());
    EXPECT_EQ(*entries[0].name, std::string(259, 'n'));
    EXPECT_FALSE(
        Read("[FILES]\r\nCount=1\r\n\r\n" + Section(0, std::string(259, 'p')))[0].SourceUnusable());

    const auto start = std::chrono::steady_clock::now();
    const auto huge =
        Read("[FILES]\r\nCount=2000000000\r\n\r\n" + Section(0, "A") + Section(7, "H"));
    const auto overflow =
        Read("[FILES]\r\nCount=" + std::string(40, '9') + "\r\n\r\n" + Section(0, "A"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_EQ(huge.size(), 2u);
    EXPECT_EQ(huge[1].number, 7);
    EXPECT_EQ(overflow.size(), 1u);
}

TEST(ProjectNaming, ExtensionsKindsAndTargets) {
    struct Case {
        const char *path;
        bool postScript;
        const char *converted;
        int kind;
        const char *folder, *volume;
    };
    const Case cases[] = {
        {"C:\\f\\a.sfp", false, "C:\\f\\a.sfp", 8, "\\fonts", "0:"},
        {"C:\\f\\a.SfP", false, "C:\\f\\a.SfP", 8, "\\fonts", "0:"},
        {"C:\\f\\a.TTF", false, "C:\\f\\a.TTF", 9, "\\fonts", "0:"},
        {"C:\\f\\a.pfb", false, "C:\\f\\a.pfb", 11, "/fonts", "%disk0%"},
        {"C:\\f\\a.Fnt", false, "C:\\f\\a.Fnt", 11, "/fonts", "%disk0%"},
        {"C:\\f\\a.hst", false, "C:\\f\\a.hst", 12, "/Resource/Form", "%disk0%"},
        {"C:\\f\\a.dmo", false, "C:\\f\\a.dmo", 10, "\\common\\demo", "1:"},
        {"C:\\f\\a.prn", true, "C:\\f\\a.HST", 12, "/Resource/Form", "%disk0%"},
        {"C:\\f\\a.PRN", false, "C:\\f\\a.BIN", 10, "\\pcl\\macros", "0:"},
        {"C:\\f\\a.icc", false, "C:\\f\\a.OP1", 13, "\\common\\smaps_env\\color", "1:"},
        {"C:\\f\\a.ICM", false, "C:\\f\\a.OP1", 13, "\\common\\smaps_env\\color", "1:"},
        {"C:\\f\\a.bin", false, "C:\\f\\a.bin", 10, "\\pcl\\macros", "0:"},
        {"C:\\f.prn\\noext", false, "C:\\f.prn\\noext", 10, "\\pcl\\macros", "0:"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        const std::string converted = ConvertedProjectPath(c.path, c.postScript);
        EXPECT_EQ(converted, c.converted);
        const ProjectTarget t = TargetForExtension(ExtensionOf(converted));
        EXPECT_EQ(t.kind, c.kind);
        EXPECT_STREQ(t.folder, c.folder);
        EXPECT_STREQ(t.volume, c.volume);
    }
}

TEST(ProjectNaming, TheSanitiser) {
    EXPECT_EQ(SanitiseName("a b%c(d)e/f<g>h[i]j\\k{l}m_n\"o"), "a-b-c-d-e-f-g-h-i-j-k-l-m-n-o");
    EXPECT_EQ(SanitiseName("line\r\nbreak\ttab\x01"), "line--break-tab-");
    EXPECT_EQ(SanitiseName("Keep.Me-9"), "Keep.Me-9");
    EXPECT_EQ(SanitiseName(std::string(300, 'x')), std::string(259, 'x'));
}

TEST(ProjectNaming, PostScriptFontNames) {
    auto name = [](const std::string &file) {
        return PostScriptFontName(reinterpret_cast<const std::uint8_t *>(file.data()), file.size());
    };
    const std::string pfbHead = "\x80\x01\x10\x00\x00\x00"s;
    struct Case {
        const char *what;
        std::string file, name;
    };
    const Case cases[] = {
        {"FontName in a PFB", pfbHead + "%!PS-AdobeFont-1.0: X\r/FontName /Nimbus-Sans def\r",
         "Nimbus-Sans"},
        {"FontName at CR LF", "%!PS-AdobeFont-1.0\r\n/FontName /Bold\r\n/x", "Bold"},
        {"FontName at a tab", "%!PS-AdobeFont-1.0\n/FontName /Tabbed\tdef", "Tabbed"},
        {"FontName at the end", "%!PS-AdobeFont-1.0\n/FontName /End", "End"},
        {"definefont", "%!\n/Type3Font fontdict definefont pop", "Type3Font"},
        {"definefont at a line break", "%!\n/Brk\r\ndict definefont", "Brk"},
        {"neither", "%!PS\nshowpage\n", ""},
        {"definefont without a slash", "definefont", ""},
        {"empty", "", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(name(c.file), c.name) << c.what;
    EXPECT_EQ(PostScriptFontName(nullptr, 10), "");
}

TEST(ProjectNaming, RowNamesAndIdsByKind) {
    EXPECT_EQ(ColourProfileText("C:\\maps\\ink1001bst1200ppr.icm\r\n"), "ink1001bst1200ppr.icm");
    EXPECT_EQ(ColourProfileText("  plain.icm  "), "plain.icm");
    EXPECT_EQ(InkId("ink1001bst1200ppr"), 1001u);
    EXPECT_EQ(InkId("none"), 0u);
    EXPECT_EQ(InkId("inkx"), 0u);
    EXPECT_EQ(InkId("ink12345678901"), 123456789u);
    struct Case {
        int kind;
        const char *name;
        const char *profile;
        const char *outName, *outId;
    };
    const Case cases[] = {
        {8, "Courier", "", "Courier", "3"},
        {9, "DejaVu-Sans", "", "DejaVu-Sans", "3"},
        {11, "Nimbus", "", "Nimbus", "3"},
        {10, "macro.bin", "", "3", "3"},
        {12, "form.v2.hst", "", "form", ""},
        {13, "ink1001bst1200ppr.icm", "ink1001bst1200ppr.icm", "ink1001bst1200ppr", "1001"},
        {13, "Missing File Name - Reconvert", "", "Missing File Name - Reconvert", "0"},
    };
    for (const Case &c : cases) {
        const NameAndId r = RowNameAndId(c.kind, c.name, 3, c.profile);
        EXPECT_EQ(r.name, c.outName) << c.kind << " " << c.name;
        EXPECT_EQ(r.id, c.outId) << c.kind << " " << c.name;
    }
}

TEST(ProjectRows, EditRules) {
    struct Case {
        std::string name, volume, folder;
        std::string outName, outVolume;
        bool renamed;
    };
    const Case cases[] = {
        {"my font", "0", "\\fonts", "my-font", "0:", false},
        {"start", "1:", "\\common\\demo", "START.DMO", "1:", true},
        {"page.dmo", "1:", "\\common\\demo", "PAGE.DMO", "1:", false},
        {"start", "1:", "\\Common\\Demo", "start", "1:", false},
        {"x", "%disk0%", "/fonts", "x", "%disk0%", false},
    };
    for (Case c : cases) {
        const bool renamed = ApplyEditRules(c.name, c.volume, c.folder);
        EXPECT_EQ(c.name, c.outName);
        EXPECT_EQ(c.volume, c.outVolume);
        EXPECT_EQ(renamed, c.renamed) << c.outName;
    }
}

TEST(ProjectRows, DuplicateIds) {
    using Rows = std::vector<IdRow>;
    using Pair = std::optional<std::pair<int, int>>;
    struct Case {
        const char *what;
        Rows rows;
        Pair found;
    };
    const Case cases[] = {
        {"two bitmapped fonts 5", {{8, "5"}, {8, "5"}}, std::make_pair(0, 1)},
        {"bitmapped and TrueType 5", {{8, "5"}, {9, "5"}}, std::make_pair(0, 1)},
        {"macro 5 beside font 5", {{10, "5"}, {8, "5"}}, std::nullopt},
        {"two macros 5", {{10, "5"}, {12, ""}, {10, "5"}}, std::make_pair(0, 2)},
        {"05 and 5", {{8, "05"}, {9, "5"}}, std::make_pair(0, 1)},
        {"x and 0", {{8, "x"}, {8, "0"}}, std::nullopt},
        {"0 and x", {{8, "0"}, {8, "x"}}, std::nullopt},
        {"empty IDs", {{8, ""}, {8, ""}}, std::nullopt},
        {"forms and profiles are never compared",
         {{11, "5"}, {11, "5"}, {13, "5"}, {13, "5"}},
         std::nullopt},
        {"ten characters read as nine",
         {{8, "1234567890"}, {8, "123456789"}},
         std::make_pair(0, 1)},
        {"the first pair", {{8, "1"}, {8, "2"}, {9, "2"}, {8, "1"}}, std::make_pair(0, 3)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FindDuplicateId(c.rows), c.found) << c.what;
}

TEST(ProjectRows, DownloadNamesAndPjlText) {
    struct Case {
        int kind;
        const char *name, *id, *folder, *out;
    };
    const Case cases[] = {
        {8, "Courier", "7", "\\fonts", "Courier_7"},
        {9, "DejaVu-Sans", "12", "\\fonts", "DejaVu-Sans_12"},
        {10, "1", "12", "\\pcl\\macros", "12"},
        {10, "3", "3", "\\common\\demo", "3.DMO"},
        {10, "start.dmo", "3", "\\common\\demo", "START.DMO"},
        {10, "a.DMO.bak", "3", "\\common\\demo", "A.DMO.BAK"},
        {10, "m", "4", "\\other", "m"},
        {12, "form", "", "/Resource/Form", "form"},
        {13, "ink", "1", "\\common\\smaps_env\\color", "ink"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DownloadName(c.kind, c.name, c.id, c.folder), c.out) << c.kind << " " << c.name;
    EXPECT_TRUE(IsPjlSafeText("0:\\fonts\\Courier_7 %disk0%"));
    EXPECT_FALSE(IsPjlSafeText("\\fo\"nts"));
    EXPECT_FALSE(IsPjlSafeText("x\r\n@PJL FSINIT"));
    EXPECT_FALSE(IsPjlSafeText("\t"));
}

// Under the sanitizers: every cut of a project text reads inside its bytes.
TEST(ProjectText, EveryPrefixReadsInsideItsBytes) {
    const std::string text = WriteProjectText(
        {{"C:\\a.sfp", "A", "1", "0:", "\\fonts"}, {"C:\\b.ttf", "B", "2", "0:", "\\fonts"}});
    for (std::size_t n = 0; n <= text.size(); ++n) {
        const std::vector<char> exact(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
        const auto entries = ReadProjectText(exact.data(), exact.size());
        if (entries) {
            EXPECT_LE(entries->size(), 2u);
        }
    }
    EXPECT_EQ(Read(text).size(), 2u);
}

// Seeded mutations of a project text (bytes changed, line breaks, brackets and NULs put in,
// cuts): every read stays inside the bytes, with section numbers from 0 and cut values.
TEST(ProjectText, MutatedTextsReadInsideTheirBytes) {
    const std::string base =
        WriteProjectText({{"C:\\a.sfp", "A", "1", "0:", "\\fonts"},
                          {"C:\\b.ttf", "B", "2", "0:", "\\fonts"},
                          {"C:\\c.hst", "C", "", "%disk0%", "/Resource/Form"}});
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    const char inserts[] = {'[', ']', '\r', '\n', '\0', '=', '9', '-'};
    for (int round = 0; round < 3000; ++round) {
        std::string text = base;
        for (int edits = 1 + static_cast<int>(next() % 6); edits > 0 && !text.empty(); --edits) {
            const std::size_t at = next() % text.size();
            switch (next() % 4) {
            case 0:
                text[at] = static_cast<char>(next());
                break;
            case 1:
                text.insert(at, 1, inserts[next() % sizeof inserts]);
                break;
            case 2:
                text.erase(at, 1 + next() % 8);
                break;
            default:
                text.resize(at);
                break;
            }
        }
        const std::vector<char> exact(text.begin(), text.end());
        const auto entries = ReadProjectText(exact.data(), exact.size());
        if (!entries)
            continue;
        for (const ProjectEntry &e : *entries) {
            EXPECT_GE(e.number, 0);
            if (e.name) {
                EXPECT_LE(e.name->size(), kMaxRowText);
            }
        }
    }
}
