#include "queries.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

std::uint32_t Size(const std::string &s) {
    return static_cast<std::uint32_t>(s.size());
}

// Records the items of a walk as an indented dump, the way a tree control would order
// them: sorted keys, options appended, First in front.
class DumpSink : public InfoSink {
  public:
    struct Node {
        std::string text;
        bool bold = false;
        std::vector<Node *> children;
    };
    Node root;
    std::vector<std::unique_ptr<Node>> nodes;

    void *Add(void *parent, const std::string &text, InfoPlace place, bool bold) override {
        Node *p = parent ? static_cast<Node *>(parent) : &root;
        nodes.push_back(std::make_unique<Node>());
        Node *n = nodes.back().get();
        n->text = text;
        n->bold = bold;
        auto &c = p->children;
        if (place == InfoPlace::First) {
            c.insert(c.begin(), n);
        } else if (place == InfoPlace::Last) {
            c.push_back(n);
        } else {
            auto at = c.begin();
            while (at != c.end() && (*at)->text <= text)
                ++at;
            c.insert(at, n);
        }
        return n;
    }
    std::string Dump() const {
        std::string out;
        Dump(root, 0, out);
        return out;
    }

  private:
    static void Dump(const Node &n, int depth, std::string &out) {
        for (const Node *c : n.children) {
            out += std::string(2 * depth, ' ') + c->text + (c->bold ? " *" : "") + "\n";
            Dump(*c, depth + 1, out);
        }
    }
};

} // namespace

TEST(Commands, TextsAreExactAndRefuseValuesThatBreakTheLine) {
    EXPECT_EQ(*CompelCancelCommand("12"), "@PJL QUVSPOOLJOBCOMPELCANCEL JOBID=12\r\n");
    EXPECT_EQ(*CompelPrintCommand("12", 0), "@PJL QUVSPOOLJOBCOMPELPRINT JOBID=12\r\n");
    EXPECT_EQ(*CompelPrintCommand("12", 3), "@PJL QUVSPOOLJOBCOMPELPRINT JOBID=12 QTY=3\r\n");
    EXPECT_EQ(*CancelJobCommand("1234", "12"), "@PJL QUVSPOOLJOBCANCEL PASSWORD=1234 JOBID=12\r\n");
    EXPECT_EQ(*PrintJobCommand("1234", "12", 0),
              "@PJL QUVSPOOLJOBPRINT PASSWORD=1234 JOBID=12\r\n");
    EXPECT_EQ(*PrintJobCommand("1234", "12", 3),
              "@PJL QUVSPOOLJOBPRINT PASSWORD=1234 JOBID=12 QTY=3\r\n");
    EXPECT_EQ(*SpoolJobInfoCommand("1234"), "@PJL QUVSPOOLJOBINFO PASSWORD=1234\r\n");
    EXPECT_EQ(PartitionCommand(50, 30, 20),
              "@PJL QUVPARTITIONASSIGN LOCATION=HDD0 DISTRIBUTION=\"50 30 20\"\r\n");
    EXPECT_EQ(*DirListCommand("1:\\common\\demo", 41, 40),
              "@PJL FSDIRLIST NAME = \"1:\\common\\demo\" ENTRY=41 COUNT=40 \r\n");
    EXPECT_EQ(*DemoPrintCommand("DEMO1"), "@PJL QUVINFOPRINT DEMO=DEMO1\r\n");
    EXPECT_EQ(*FilePrintCommand("1:\\common\\demo\\", "DEMO2"),
              "@PJL QUVFILEPRINT NAME=\"1:\\common\\demo\\DEMO2.DMO\"\r\n");

    for (const char *bad : {"1\r\n@PJL X", "a\"b", "a\nb"}) {
        EXPECT_FALSE(DirListCommand(bad, 1, 40)) << bad;
        EXPECT_FALSE(CompelCancelCommand(bad)) << bad;
        EXPECT_FALSE(FilePrintCommand("1:\\", bad)) << bad;
    }
    for (const char *blank : {"1 2", "1\t2"}) {
        EXPECT_FALSE(CancelJobCommand(blank, "1")) << blank;
        EXPECT_FALSE(PrintJobCommand("1", blank, 0)) << blank;
        EXPECT_FALSE(DemoPrintCommand(blank)) << blank;
        EXPECT_TRUE(DirListCommand(blank, 1, 40)) << "quoted: blanks allowed";
    }
}

TEST(PostScript, StreamsAreFramedAndTheirCommentsDiffer) {
    const std::string uel = "\x1b%-12345X";
    const std::string enter = uel + "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n";
    const std::string eot = " flush (\\004) cvx cvn == flush" + uel;
    EXPECT_EQ(FormsProgram(),
              enter + "%%!Adobe-PS\r\n(*) {==} =string /Form resourceforall \r\n" + eot);
    EXPECT_EQ(FilesProgram("%disk0%fonts/"),
              enter + "%!Adobe-PS\r\n(%disk0%fonts/*) {==} =string filenameforall\r\n" + eot);
    EXPECT_EQ(
        SizeProgram("%disk0%fonts/A"),
        enter +
            "%!Adobe-PS\r\n(%disk0%fonts/A) status {pop pop == pop} { (No File) = } ifelse \r\n" +
            eot);
    EXPECT_EQ(FontSampleHead("Courier"),
              enter + "%!Adobe-PS\r\n/FontName where { pop } { /FontName (Courier");
    EXPECT_NE(eot.find("(\\004)"), std::string::npos); // a backslash and three digits
    EXPECT_NE(SizeProgram("x) deletefile (y").find("(x\\) deletefile \\(y) status"),
              std::string::npos);
}

TEST(PostScript, StringsEscapeAndDecodeAsTheInterpreterPrintsThem) {
    struct Case {
        std::string text, escaped;
    } cases[] = {
        {"Courier", "Courier"},  {"a)b", "a\\)b"},           {"(x\\y)", "\\(x\\\\y\\)"},
        {"caf\xe9", "caf\\351"}, {"t\tn\n", "t\\011n\\012"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(EscapePostScriptString(c.text), c.escaped) << c.text;
        EXPECT_EQ(DecodePostScriptString("(" + c.escaped + ")"), c.text) << c.text;
    }
    struct Decode {
        std::string line;
        std::optional<std::string> text;
    } decodes[] = {
        {"(%ram%fonts/a\\)b)", "%ram%fonts/a)b"},
        {"  (a\\tb\\n\\r\\b\\f)  ", "a\tb\n\r\b\f"},
        {"(a\\\r\nb)", "ab"},
        {"(a\\7b)", std::string("a\007b")},
        {"(nested (ok))", "nested (ok)"},
        {"()", ""},
        {"%%[ Error: undefined; OffendingCommand: x ]%%", std::nullopt},
        {"(abc", std::nullopt},
        {"(a\\qb)", std::nullopt},
        {"(a) junk", std::nullopt},
        {"(a\\", std::nullopt},
        {"(\\777)", std::nullopt},
        {"/name", std::nullopt},
    };
    for (const Decode &d : decodes)
        EXPECT_EQ(DecodePostScriptString(d.line), d.text) << d.line;
}

TEST(PostScript, LinesJoinAcrossPiecesAndStopAtTheEot) {
    // The machine as a caller runs it: the unfinished tail is kept and joined to the next piece.
    struct Case {
        const char *name;
        std::vector<std::string> pieces;
        std::vector<std::string> lines;
        bool ended;
    } cases[] = {
        {"split inside a line", {"(A)\r\n(B", "C)\r\n\x04\n"}, {"(A)", "(BC)"}, true},
        {"split between CR and LF", {"(A)\r", "\n(B)\r\n", "\x04\n"}, {"(A)", "(B)"}, true},
        {"bytes after the EOT", {"(A)\n\x04\n(ignored)\n"}, {"(A)"}, true},
        {"text before the EOT", {"5\x04"}, {"5"}, true},
        {"NULs end lines", {std::string("(A)\0\0(B)\n", 9)}, {"(A)", "(B)"}, false},
        {"no EOT yet", {"(A)\n(B"}, {"(A)"}, false},
    };
    for (const Case &c : cases) {
        PostScriptReply reply;
        std::vector<std::string> lines;
        PostScriptReply::State state = PostScriptReply::State::More;
        for (const std::string &piece : c.pieces) {
            state = reply.Add(piece.data(), piece.size(),
                              [&](const char *data, std::size_t length, bool &ended) {
                                  return TakeReplyLines(data, length, lines, ended);
                              });
            if (state != PostScriptReply::State::More)
                break;
        }
        EXPECT_EQ(lines, c.lines) << c.name;
        EXPECT_EQ(state == PostScriptReply::State::Ended, c.ended) << c.name;
    }
}

TEST(PostScript, AReplyWithoutItsEotStopsAtTheCaps) {
    auto take = [](const char *data, std::size_t length, bool &ended) {
        std::vector<std::string> lines;
        return TakeReplyLines(data, length, lines, ended);
    };
    PostScriptReply longLine;
    const std::string part(kMaxPostScriptLine / 2, 'x');
    EXPECT_EQ(longLine.Add(part.data(), part.size(), take), PostScriptReply::State::More);
    EXPECT_EQ(longLine.Add(part.data(), part.size(), take), PostScriptReply::State::More);
    EXPECT_EQ(longLine.Add("y", 1, take), PostScriptReply::State::Overflow);

    PostScriptReply endless;
    const std::string lines = std::string(999, 'z') + "\n";
    std::size_t added = 0;
    PostScriptReply::State state = PostScriptReply::State::More;
    while (state == PostScriptReply::State::More && added <= kMaxPostScriptReply + lines.size()) {
        state = endless.Add(lines.data(), lines.size(), take);
        added += lines.size();
    }
    EXPECT_EQ(state, PostScriptReply::State::Overflow);
    EXPECT_GT(added, kMaxPostScriptReply);
}

TEST(PostScript, ListedNamesSortIntoFilesAndFirstLevelFolders) {
    const std::string prefix = "%disk0%fonts/";
    EXPECT_EQ(SortListedName(prefix, "%disk0%fonts/A")->name, "A");
    EXPECT_FALSE(SortListedName(prefix, "%disk0%fonts/A")->folder);
    auto sub = SortListedName(prefix, "%disk0%fonts/sub/deeper/C");
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->name, "sub");
    EXPECT_TRUE(sub->folder);
    EXPECT_EQ(SortListedName(prefix, "%disk0%fonts/a)b")->name, "a)b");
    EXPECT_FALSE(SortListedName(prefix, "%disk0%other/A"));
    EXPECT_FALSE(SortListedName(prefix, "%disk0%fonts/"));
    EXPECT_FALSE(SortListedName(prefix, "%disk0%fonts//x"));

    struct SizeCase {
        std::string reply;
        int size;
    } sizes[] = {
        {"5\n\x04\n", 5}, {"No File\n\x04\n", -1}, {"", -1}, {"x 123456789012\n", 2147483647}};
    for (const SizeCase &s : sizes)
        EXPECT_EQ(ParseSizeReply(s.reply.data(), Size(s.reply)), s.size) << s.reply;
}

TEST(PjlReplies, LockStatusNamesStayInsideTheReply) {
    const std::string config =
        "@PJL INFO CONFIG\r\n  HDD0 LOCK STATUS=UNLOCKED\r\n\tFLASH1 LOCK STATUS=X\r\n"
        "LOCK STATUS=NONAME\r\n";
    EXPECT_EQ(ParseLockStatus(config.data(), Size(config)),
              (std::vector<std::string>{"HDD0", "FLASH1"}));
    const std::string first = "LOCK STATUS at the very start";
    EXPECT_TRUE(ParseLockStatus(first.data(), Size(first)).empty());
    const std::string nul = std::string("HD\0D0 LOCK STATUS=1\r\n", 21);
    EXPECT_EQ(ParseLockStatus(nul.data(), Size(nul)), (std::vector<std::string>{"D0"}));
    const std::string cut = "HDD0 LOCK STAT"; // the word past the data is not looked for
    EXPECT_TRUE(ParseLockStatus(cut.data(), 12).empty());
}

TEST(PjlReplies, VolumeLinesFollowTheHeaderAndTheColumnHeading) {
    const std::string reply =
        "@PJL INFO QUVFILESYS\r\nVOLUME\tTOTAL SIZE\r\n0:\t4\tHDD0\tPCL\r\n  1:\t4\tCOMMON\r\n"
        "%disk0%\t" +
        std::string(400, 'x') + "\r\n\f";
    std::vector<std::string> lines;
    ASSERT_TRUE(ParseFileSystems(reply.data(), Size(reply), lines));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "0:\t4\tHDD0\tPCL");
    EXPECT_EQ(lines[1], "1:\t4\tCOMMON");
    EXPECT_EQ(lines[2].size(), 408u) << "kept whole";

    const std::string noTabs = "@PJL INFO QUVFILESYS\r\nheading\r\nno tabs at all\f";
    lines.clear();
    ASSERT_TRUE(ParseFileSystems(noTabs.data(), Size(noTabs), lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"no tabs at all"}));
    const std::string headerOnly = "@PJL INFO QUVFILESYS";
    lines.clear();
    EXPECT_TRUE(ParseFileSystems(headerOnly.data(), Size(headerOnly), lines));
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(ParseFileSystems("@PJL INFO OTHER\r\n\f", 18, lines));
}

TEST(PjlReplies, DirectoryPagesCountEveryLineAndKeepEntries) {
    const std::string head = "@PJL FSDIRLIST NAME=\"1:\\common\\demo\" ENTRY=1 COUNT=40\r\n";
    struct Case {
        std::string body;
        std::uint32_t counted;
        std::vector<std::string> entries;
    } cases[] = {
        {". TYPE=DIR\r\n.. TYPE=DIR\r\nA TYPE=FILE SIZE=5\r\nsub TYPE=DIR\r\n\f",
         4,
         {"A TYPE=FILE SIZE=5", "sub TYPE=DIR"}},
        {"FILEERROR=3\r\n\f", 1, {}},
        {"\f", 0, {}},
        {"", 0, {}},
        {".hidden TYPE=FILE SIZE=1\r\n\f", 1, {".hidden TYPE=FILE SIZE=1"}},
    };
    for (const Case &c : cases) {
        const std::string reply = head + c.body;
        DirPage page = ParseDirListPage(reply.data(), Size(reply));
        EXPECT_TRUE(page.header);
        EXPECT_EQ(page.counted, c.counted) << c.body;
        EXPECT_EQ(page.entries, c.entries) << c.body;
    }
    EXPECT_FALSE(ParseDirListPage("FILEERROR=3\r\n\f", 14).header);
}

TEST(PjlReplies, HeldJobLinesFollowTheHeading) {
    const std::string reply =
        "@PJL QUVSPOOLJOBINFO\r\n\tJOBID\tNAME\tTYPE\tCOPIES\r\n\t12\tReport\tSECURE\t1\r\n"
        "\t13\tPlan\tPROOF\t2\tON\r\n\f";
    std::vector<std::string> lines;
    ASSERT_TRUE(ParseSpoolJobTable(reply.data(), Size(reply), lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"12\tReport\tSECURE\t1", "13\tPlan\tPROOF\t2\tON"}));
    const std::string none = "@PJL QUVSPOOLJOBINFO\r\nJOBID NAME\r\n\t12\f";
    EXPECT_FALSE(ParseSpoolJobTable(none.data(), Size(none), lines));
}

TEST(DemoPages, VolumesEntriesAndTheFilter) {
    struct Volume {
        const char *line, *volume;
    } volumes[] = {
        {"1:\t4\t3\tHDD0\tCOMMON", "1:"},
        {"10:\t4\tCOMMON", "10:"},
        {"2:\t4\tMIX", "2:"},
        {"%disk0%:\tMIX", ""},
        {"0:\t4\tPCL", ""},
        {"COMMON without colon", ""},
        {":1\tCOMMON", ""},
    };
    for (const Volume &v : volumes)
        EXPECT_EQ(DemoVolumeOf(v.line), v.volume) << v.line;

    auto entry = SplitDemoEntry("DEMO2.DMO TYPE=FILE SIZE=512 1:\\common\\demo\\");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "DEMO2.DMO");
    EXPECT_EQ(entry->path, "1:\\common\\demo\\");
    EXPECT_FALSE(SplitDemoEntry("sub TYPE=DIR 1:\\common\\demo\\"));

    const std::vector<DemoEntry> all = {{"DEMO2.DMO", "1:\\"},
                                        {"SAMPLE.DMO", "1:\\"},
                                        {"demo3.dmo", "1:\\"},
                                        {"DEMO4.TXT", "1:\\"},
                                        {"Demo2.dmo", "2:\\"}};
    auto names = [](const std::vector<DemoEntry> &es) {
        std::vector<std::string> out;
        for (const DemoEntry &e : es)
            out.push_back(e.name + "@" + e.path);
        return out;
    };
    EXPECT_EQ(names(FilterDemoEntries(all, false)),
              (std::vector<std::string>{"demo3.dmo@1:\\", "Demo2.dmo@2:\\"}));
    EXPECT_EQ(names(FilterDemoEntries(all, true)),
              (std::vector<std::string>{"SAMPLE.DMO@1:\\", "demo3.dmo@1:\\", "Demo2.dmo@2:\\"}));
}

TEST(InfoReplies, TheWalkBuildsTheTreeItsFormsAsk) {
    struct Case {
        const char *name;
        std::string reply;
        std::string dump;
        bool flashSimm;
    } cases[] = {
        {"bare key", "MEMORY\r\n", "MEMORY\n", false},
        {"key and value", "ONLINE=TRUE\r\nCODE=10001\r\n\f", "CODE\n  10001\nONLINE\n  TRUE\n",
         false},
        {"enumerated, bold value", "PAPER=A4 [3 ENUMERATED]\r\n\tLETTER\r\n\tA4\r\n\tLEGAL\r\n",
         "PAPER\n  LETTER\n  A4 *\n  LEGAL\n", false},
        {"range", "COPIES=1 [2 RANGE]\r\n\t1\r\n\t999\r\n",
         "COPIES\n  Current value: 1\n  1 - 999\n", false},
        {"key with a range, lower case", "TIMEOUT [2 range]\r\n\t5 seconds\r\n\t300 seconds\r\n",
         "TIMEOUT\n  5 - 300\n", false},
        {"key with options", "IN TRAYS [1 ENUMERATED]\r\n\tINTRAY1 MP\r\n",
         "IN TRAYS\n  INTRAY1 MP\n", false},
        {"sorted keys, trailing blanks", "ZETA=1\r\nALPHA  =2\r\nMU\r\n",
         "ALPHA\n  2\nMU\nZETA\n  1\n", false},
        {"flash simm", "FLASHSIMM\r\nMEMORY=1\r\n", "FLASHSIMM\nMEMORY\n  1\n", true},
        {"flash simm as a table item", "FLASHSIMM [1 TABLE]\r\n\tX\r\n", "FLASHSIMM\n  X\n", false},
        {"n past the data", "PAPER=A4 [99 ENUMERATED]\r\n\tA4\r\n\f", "PAPER\n  A4 *\n", false},
        {"huge n", "P=1 [99999999999999999999 ENUMERATED]\r\n\t1\r\n", "P\n  1 *\n", false},
        {"negative n", "P=1 [-3 ENUMERATED]\r\nQ=2\r\n", "P\nQ\n  2\n", false},
        {"missing n", "P [ENUMERATED]\r\nQ=2\r\n", "P\nQ\n  2\n", false},
        {"no form ends the walk", "A=1\r\n=junk\r\nB=2\r\n", "A\n  1\n", false},
        {"NUL ends the walk", std::string("A=1\r\n\0B=2\r\n", 11), "A\n  1\n", false},
    };
    for (const Case &c : cases) {
        DumpSink sink;
        InfoWalk walk =
            WalkInfoReply(c.reply.data(), Size(c.reply), 0, nullptr, sink, "Current value:");
        EXPECT_EQ(sink.Dump(), c.dump) << c.name;
        EXPECT_EQ(walk.flashSimm, c.flashSimm) << c.name;
        if (c.flashSimm) {
            EXPECT_EQ(static_cast<DumpSink::Node *>(walk.flashSimmItem)->text, "FLASHSIMM");
        }
    }
    // The walk never reads past the count it is given.
    const std::string longer = "A=1\r\nB=2\r\n";
    DumpSink sink;
    WalkInfoReply(longer.data(), 5, 0, nullptr, sink, "Current value:");
    EXPECT_EQ(sink.Dump(), "A\n  1\n");
}
