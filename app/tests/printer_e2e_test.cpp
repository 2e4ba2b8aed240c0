// CAPrinter through corvane.dll against the in-process fake printer.
#include "buffer.h"
#include "printer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework.h"
#include "queries.h"
#include "seam_test.h"
#include "server.h"
#include "suite_paths.h"
#include "text.h"

namespace {

const std::string kUel = "\x1b%-12345X";

std::string LogPath() {
    return suite::TestDataDir() + "\\corvane_e2e.log";
}

// Scaled waits (40000 ms become 400) and the call log, before the first port call.
class PortEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        _putenv("CORVANE_TIMEOUT_SCALE=0.01");
        DeleteFileA(LogPath().c_str());
        _putenv(("CORVANE_LOG=" + LogPath()).c_str());
    }
};
const auto *const kEnvironment = testing::AddGlobalTestEnvironment(new PortEnvironment);

class EndToEnd : public SeamTest {
  protected:
    static std::string Port(const fakeprinter::Server &server) {
        return "127.0.0.1:" + std::to_string(server.Port());
    }
};

} // namespace

TEST_F(EndToEnd, DownloadGoesOutFramedAndLandsExactly) {
    fakeprinter::Server server;
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = Port(server);
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});

    std::string bytes(1000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 13);
    bytes.replace(100, kUel.size(), kUel);
    bytes[300] = '\x1b';
    bytes[301] = '\f';
    CBuffer file(1000);
    file.Append(bytes.data(), 1000);
    CPtrList jobs;
    file.BuildDownload(jobs, "0:", "\\pcl\\macros", "M1", "1");
    auto *stream = static_cast<CBuffer *>(jobs.RemoveHead());
    ASSERT_TRUE(printer.SendStream(stream->m_data, stream->GetLength()));
    const std::string sent(stream->m_data, stream->GetLength());
    delete stream;
    ASSERT_TRUE(server.WaitForJobs(1, 5000));
    EXPECT_EQ(server.Jobs()[0].received, kUel + "@PJL ECHO TEST\r\n" + sent + kUel);
    server.With([&](fakeprinter::Engine &e) {
        ASSERT_NE(e.Files().Find("0:\\pcl\\macros\\M1"), nullptr);
        EXPECT_EQ(*e.Files().Find("0:\\pcl\\macros\\M1"), bytes);
    });

    const std::string remove = kUel + "@PJL FSDELETE NAME=\"0:\\pcl\\macros\\M1\"\r\n";
    ASSERT_TRUE(printer.SendStream(remove.data(), static_cast<DWORD>(remove.size())));
    ASSERT_TRUE(server.WaitForJobs(2, 5000));
    server.With(
        [](fakeprinter::Engine &e) { EXPECT_EQ(e.Files().Find("0:\\pcl\\macros\\M1"), nullptr); });
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(EndToEnd, StatusBlocksAreRemovedFromRealReplies) {
    fakeprinter::Server server;
    server.With([](fakeprinter::Engine &e) {
        e.defaults.ustatusBeforeReply = true;
        e.defaults.pieceSize = 7;
    });
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = Port(server);
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});
    printer.SetTimeout(5000);
    // The reply comes in many small pieces: full-length waits, so a busy machine cannot
    // make a pause between two of them look like a silent printer.
    _putenv("CORVANE_TIMEOUT_SCALE=1");
    const int result = printer.QueryAttributes();
    _putenv("CORVANE_TIMEOUT_SCALE=0.01");
    ASSERT_EQ(result, 0);
    EXPECT_EQ(printer.m_attrState, 2);
    EXPECT_STREQ(printer.m_attr[kAttrSpoolJobType], "ALL");
    EXPECT_STREQ(printer.m_attr[kAttrReboot], "ENABLE");
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(EndToEnd, ASilentPrinterPromptsAndNoEndsWithoutAnErrorBox) {
    fakeprinter::Server server;
    server.With([](fakeprinter::Engine &e) { e.defaults.silent = true; });
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = Port(server);
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});
    AfxTestSeam::PushAnswer("IDNO");
    const std::string stream = kUel + "@PJL QUVSYSTEM REBOOT=NORMAL\r\n";
    EXPECT_FALSE(printer.SendStream(stream.data(), static_cast<DWORD>(stream.size())));
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("not responding"), std::string::npos);
}

TEST_F(EndToEnd, ARefusedConnectionIsReportedOnce) {
    fakeprinter::Server server;
    server.With([](fakeprinter::Engine &e) { e.defaults.refuseConnections = true; });
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = Port(server);
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});
    const std::string stream = kUel + "@PJL QUVSYSTEM REBOOT=NORMAL\r\n";
    EXPECT_FALSE(printer.SendStream(stream.data(), static_cast<DWORD>(stream.size())));
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Kelvane Error Code 536871171(0x20000103): Job Connection Error");
}

TEST_F(EndToEnd, TheCallLogShowsTheNetworkTimeout) {
    fakeprinter::Server server;
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = Port(server);
    { CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"}); }
    std::ifstream in(LogPath());
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("QuvOpenPort"), std::string::npos);
    EXPECT_NE(text.str().find("QuvSetPortTimeout handle="), std::string::npos);
    EXPECT_NE(text.str().find("timeout=40000"), std::string::npos);
}

// ---- Queries and commands against the fake ----

namespace {

// The chooser of the tests: records what it is offered and answers with `answer`
// (empty: Cancel). It empties the list as the dialog does.
struct Chooser {
    static inline int mode = 0;
    static inline std::vector<std::string> offered;
    static inline std::string answer;
    static INT_PTR Choose(int m, CPtrList &entries, char *chosen) {
        mode = m;
        offered.clear();
        while (!entries.IsEmpty()) {
            char *text = static_cast<char *>(entries.RemoveHead());
            offered.push_back(text);
            DeleteListText(text);
        }
        if (answer.empty())
            return IDCANCEL;
        CopyStringN(chosen, answer.c_str(), 259);
        return IDOK;
    }
};

class Queries : public EndToEnd {
  protected:
    void SetUp() override {
        EndToEnd::SetUp();
        previous_ = SetEntryChooser(&Chooser::Choose);
        Chooser::offered.clear();
        Chooser::answer.clear();
    }
    void TearDown() override {
        SetEntryChooser(previous_);
        EndToEnd::TearDown();
    }

    // The commands of every job after the first `from` ones.
    static std::vector<std::string> CommandsSince(fakeprinter::Server &server, std::size_t from) {
        std::vector<std::string> commands;
        const auto jobs = server.Jobs();
        for (std::size_t i = from; i < jobs.size(); ++i)
            for (const std::string &c : jobs[i].commands)
                if (c != "@PJL ECHO TEST")
                    commands.push_back(c);
        return commands;
    }

    EntryChooser previous_ = nullptr;
};

} // namespace

TEST_F(Queries, DevicesVolumesHeldJobsAndForms) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.devices = {"HDD0", "FLASH0"};
    setup.forms = {"MyForm"};
    setup.jobs = {{"12", "1234", "Report", "SECURE", 1, ""},
                  {"13", "9999", "Plan", "PROOF", 2, ""}};
    fakeprinter::Server server(setup);
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = Port(server);
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});

    CTextList devices, volumes, jobs, forms;
    EXPECT_EQ(printer.CollectLockStatus(devices), 0);
    EXPECT_EQ(devices.Texts(), (std::vector<std::string>{"HDD0", "FLASH0"}));
    EXPECT_EQ(printer.QueryFileSystems(volumes), 0);
    EXPECT_EQ(volumes.Texts(), setup.volumes);
    EXPECT_EQ(printer.ListSpoolJobs(jobs, "1234"), 0);
    EXPECT_EQ(jobs.Texts(), (std::vector<std::string>{"12\tReport\tSECURE\t1"}));
    EXPECT_EQ(printer.ListPostScriptForms(forms), 0);
    EXPECT_EQ(forms.Texts(), (std::vector<std::string>{"(MyForm)"}));

    const std::size_t before = server.Jobs().size();
    ASSERT_TRUE(printer.CancelSpoolJob("1234", "12"));
    ASSERT_TRUE(server.WaitForJobs(before + 1, 5000));
    EXPECT_EQ(server.Jobs().back().received,
              kUel + "@PJL ECHO TEST\r\n@PJL QUVSPOOLJOBCANCEL PASSWORD=1234 JOBID=12\r\n" + kUel);
    server.With([](fakeprinter::Engine &e) { EXPECT_EQ(e.HeldJobs().size(), 1u); });
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Queries, PostScriptFilesAreSizedAndFoldersListedOnce) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.files.push_back({"%disk0%fonts/A", "hello"});
    setup.files.push_back({"%disk0%fonts/sub/B", "b"});
    setup.files.push_back({"%disk0%fonts/sub/C", "c"});
    fakeprinter::Server server(setup);
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = Port(server);
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});
    CTextList entries;
    EXPECT_EQ(printer.ListPostScriptFiles("%disk0%fonts/", entries), 0);
    EXPECT_EQ(entries.Texts(), (std::vector<std::string>{"sub TYPE=DIR", "A TYPE=FILE SIZE=5"}));
    char size[260];
    EXPECT_EQ(printer.GetPostScriptFileSize("%disk0%fonts/none", size), 0);
    EXPECT_STREQ(size, " TYPE=FILE SIZE=-1");
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Queries, ThePropertiesTreeFillsInOneSession) {
    CWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, "properties", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300,
                                nullptr, nullptr));
    CTreeCtrl tree;
    ASSERT_TRUE(tree.Create(WS_CHILD, CRect(0, 0, 200, 200), &parent, 100));
    auto children = [&](HTREEITEM item) {
        std::vector<std::string> texts;
        for (HTREEITEM c = tree.GetChildItem(item); c; c = tree.GetNextSiblingItem(c))
            texts.push_back(std::string(tree.GetItemText(c)) +
                            ((tree.GetItemState(c, TVIS_BOLD) & TVIS_BOLD) ? " *" : ""));
        return texts;
    };
    auto find = [&](HTREEITEM item, const std::string &text) {
        for (HTREEITEM c = tree.GetChildItem(item); c; c = tree.GetNextSiblingItem(c))
            if (std::string(tree.GetItemText(c)) == text)
                return c;
        return static_cast<HTREEITEM>(nullptr);
    };
    for (const bool table : {true, false}) {
        fakeprinter::Setup setup = fakeprinter::Setup::Default();
        setup.flashSimmTable = table ? "FLASHSIMM1 [1 TABLE]\r\n\t4MB\r\n" : "FLASHSIMM1 NONE\r\n";
        setup.configLines = {"PAPER=A4 [3 ENUMERATED]", "\tLETTER", "\tA4", "\tLEGAL"};
        fakeprinter::Server server(setup);
        ASSERT_TRUE(server.Start()) << server.error();
        const std::string port = Port(server);
        CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});
        EXPECT_TRUE(printer.FillPropertyTree(tree));
        ASSERT_TRUE(server.WaitForJobs(1, 5000));
        EXPECT_EQ(server.Jobs().size(), 1u) << "one session";
        const HTREEITEM root = tree.GetRootItem();
        EXPECT_EQ(std::string(tree.GetItemText(root)), "Fake");
        EXPECT_EQ(children(root),
                  table ? (std::vector<std::string>{"Status", "Configuration", "Variables"})
                        : (std::vector<std::string>{"Status", "Configuration"}));
        EXPECT_EQ(children(find(root, "Status")),
                  (std::vector<std::string>{"CODE", "DISPLAY", "ONLINE"}));
        const HTREEITEM config = find(root, "Configuration");
        EXPECT_EQ(children(config),
                  (std::vector<std::string>{"FLASHSIMM", "HDD0 LOCK STATUS", "IN TRAYS",
                                            "LANGUAGES", "MEMORY", "PAPER"}));
        EXPECT_EQ(children(find(config, "PAPER")),
                  (std::vector<std::string>{"LETTER", "A4 *", "LEGAL"}));
        EXPECT_EQ(printer.m_flashSimmItem, find(config, "FLASHSIMM"));
        if (table) {
            const HTREEITEM copies = find(find(root, "Variables"), "COPIES");
            EXPECT_EQ(children(copies), (std::vector<std::string>{"Current value: 1", "1 - 999"}));
        }
        EXPECT_EQ(server.Jobs()[0].received.substr(server.Jobs()[0].received.size() - kUel.size()),
                  kUel);
    }
    parent.DestroyWindow();
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Queries, DemoPagesAreChosenAndPrinted) {
    struct Case {
        const char *name;
        bool attributes;    // the printer has attributes (state 2)
        std::string answer; // empty: Cancel
        std::vector<std::string> offered;
        std::string sent; // the print command, empty: none
    } cases[] = {
        {"file print",
         true,
         "DEMO2",
         {"SAMPLE.DMO", "DEMO2.DMO"},
         "@PJL QUVFILEPRINT NAME=\"2:\\common\\demo\\demo2.DMO\""},
        {"built-in page",
         true,
         "DEMO1",
         {"SAMPLE.DMO", "DEMO2.DMO"},
         "@PJL QUVINFOPRINT DEMO=DEMO1"},
        {"no attributes", false, "DEMO2", {"DEMO2.DMO"}, "@PJL QUVINFOPRINT DEMO=DEMO2"},
        {"cancel", true, "", {"SAMPLE.DMO", "DEMO2.DMO"}, ""},
        {"a name in no entry", true, "OTHER", {"SAMPLE.DMO", "DEMO2.DMO"}, ""},
    };
    for (const Case &c : cases) {
        fakeprinter::Setup setup = fakeprinter::Setup::Default();
        setup.attributesQuoted = !c.attributes;
        setup.volumes.push_back("2:\t40000000\t39000000\tHDD0\tMIX");
        setup.volumes.push_back("%disk1%:\t40000000\t39000000\tHDD0\tMIX");
        setup.files.push_back({"1:\\common\\demo\\SAMPLE.DMO", "S"});
        setup.files.push_back({"2:\\common\\demo\\demo2.dmo", "D"}); // the same name on 2: wins
        fakeprinter::Server server(setup);
        ASSERT_TRUE(server.Start()) << server.error();
        const std::string port = Port(server);
        CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});
        Chooser::answer = c.answer;
        EXPECT_EQ(printer.PrintDemoPage() != FALSE, !c.sent.empty()) << c.name;
        EXPECT_EQ(Chooser::mode, kChooseDemoPage);
        std::vector<std::string> offered;
        for (const std::string &o : Chooser::offered)
            offered.push_back(o == "demo2.dmo" ? "DEMO2.DMO" : o);
        EXPECT_EQ(offered, c.offered) << c.name;
        const auto commands = CommandsSince(server, 0);
        ASSERT_FALSE(commands.empty());
        const std::string last = commands.back();
        if (c.sent.empty())
            EXPECT_EQ(last.find("PRINT"), std::string::npos) << c.name << ": " << last;
        else
            EXPECT_EQ(last, c.sent) << c.name;
        std::size_t listings = 0;
        for (const std::string &command : commands)
            listings += command.rfind("@PJL FSDIRLIST", 0) == 0;
        EXPECT_EQ(listings, 2u) << c.name << ": 1: and 2:, not the PostScript volume";
        EXPECT_TRUE(Boxes().empty()) << c.name;
    }
}

TEST_F(Queries, TheFontSampleOffersFilesOfTheFourFolders) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.files.push_back({"%disk0%fonts/Courier", "c"});
    setup.files.push_back({"%disk0%fonts/sub/Inner", "i"});
    setup.files.push_back({"%flash1%fonts/Times", "t"});
    fakeprinter::Server server(setup);
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = Port(server);
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});
    const std::string saved = ProgramFolder;
    CopyStringN(ProgramFolder, suite::BinDir().c_str(), MAX_PATH - 1);
    Chooser::answer = "Courier";
    EXPECT_TRUE(printer.PrintPostScriptFontSample());
    EXPECT_EQ(Chooser::mode, kChooseFont);
    EXPECT_EQ(Chooser::offered, (std::vector<std::string>{"Courier", "Times"}));
    std::vector<std::string> listed;
    for (const std::string &program : {std::string("%disk0%"), std::string("%flash0%"),
                                       std::string("%flash1%"), std::string("%flash2%")})
        listed.push_back(program);
    std::vector<std::string> order;
    for (const auto &job : server.Jobs()) {
        const std::size_t at = job.received.find("fonts/*) {==} =string filenameforall");
        if (at != std::string::npos) {
            const std::size_t open = job.received.rfind('(', at);
            order.push_back(job.received.substr(open + 1, at - open - 1));
        }
    }
    EXPECT_EQ(order, listed);
    DWORD count = 0;
    const std::vector<char> tail = ReadWholeFile(suite::BinPath("fonttest.dat").c_str(), &count);
    ASSERT_GT(count, 0u);
    EXPECT_EQ(server.Jobs().back().received, kUel + "@PJL ECHO TEST\r\n" + kUel +
                                                 "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!Adobe-PS\r\n"
                                                 "/FontName where { pop } { /FontName (Courier" +
                                                 std::string(tail.data(), count) + kUel);
    EXPECT_TRUE(Boxes().empty());

    // Without fonttest.dat: its box and no print job.
    CopyStringN(ProgramFolder, suite::TestDataDir().c_str(), MAX_PATH - 1);
    const std::size_t before = server.Jobs().size();
    EXPECT_FALSE(printer.PrintPostScriptFontSample());
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot open file " + suite::TestDataDir() + "\\fonttest.dat");
    EXPECT_EQ(server.Jobs().size(), before + 4 + 2)
        << "the four listings and two size queries, no print";

    // An empty fonttest.dat gets the same box.
    const std::string folder = suite::TestDataDir() + "\\emptyfont";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile((folder + "\\fonttest.dat").c_str(), "", 0));
    CopyStringN(ProgramFolder, folder.c_str(), MAX_PATH - 1);
    EXPECT_FALSE(printer.PrintPostScriptFontSample());
    boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot open file " + folder + "\\fonttest.dat");
    EXPECT_EQ(server.Jobs().size(), before + 2 * (4 + 2));
    CopyStringN(ProgramFolder, saved.c_str(), MAX_PATH - 1);
}

TEST_F(Queries, APclPrinterGetsNoPostScriptSample) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.languages = {"PCL"};
    fakeprinter::Server server(setup);
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = Port(server);
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});
    EXPECT_FALSE(printer.PrintPostScriptFontSample());
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("language PostScript"), std::string::npos);
    for (const std::string &command : CommandsSince(server, 0))
        EXPECT_EQ(command, "@PJL INFO CONFIG");
}

TEST_F(Queries, APostScriptReplyWithoutItsEotPromptsAndKeepsWhatCame) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.forms = {"Alpha", "Beta"};
    fakeprinter::Server server(setup);
    fakeprinter::Faults cut;
    cut.cutTo = 14; // "(Alpha)\n(Beta)": no EOT
    server.With([&](fakeprinter::Engine &e) { e.byCommand.push_back({"POSTSCRIPT", cut}); });
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = Port(server);
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});
    AfxTestSeam::PushAnswer("IDNO");
    CTextList forms;
    EXPECT_NE(printer.ListPostScriptForms(forms), 0);
    EXPECT_EQ(forms.Texts(), (std::vector<std::string>{"(Alpha)"}));
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("not responding"), std::string::npos);
    EXPECT_EQ(printer.m_terminator, '\f');
}

TEST_F(Queries, AlwaysFullDirectoryPagesStopAtTheCap) {
    fakeprinter::Server server;
    fakeprinter::Faults full;
    full.fullDirPages = true;
    server.With([&](fakeprinter::Engine &e) { e.byCommand.push_back({"@PJL FSDIRLIST", full}); });
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = Port(server);
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});
    CTextList entries;
    EXPECT_NE(printer.ListDirectory("0:\\pcl", entries), 0);
    EXPECT_EQ(entries.GetCount(), static_cast<INT_PTR>(kMaxDirectoryPages * 40));
    EXPECT_EQ(Boxes().size(), 1u);
}
