// CAPrinter's session primitives against the scripted port.
#include "printer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "framework.h"
#include "queries.h"
#include "seam_test.h"

#include "scripted_port.h"

using scriptedport::Call;
using scriptedport::Step;

namespace {

const std::string kUel = "\x1b%-12345X";
const std::string kEchoCommand = kUel + "@PJL ECHO TEST\r\n";
const std::string kEchoReply = "@PJL ECHO TEST\r\n\f";
const std::string kStatus = "@PJL USTATUS DEVICE\r\nCODE=10023\r\n\f";

Step Read(const std::string &bytes) {
    Step s;
    s.bytes = bytes;
    return s;
}

Step Took(DWORD count, BOOL result = TRUE, DWORD error = 0) {
    Step s;
    s.count = count;
    s.result = result;
    s.lastError = error;
    return s;
}

class PrinterTest : public SeamTest {
  protected:
    void SetUp() override {
        scriptedport::Reset();
        SeamTest::SetUp();
    }

    static scriptedport::Script &Script() { return scriptedport::Current(); }
    static DiscoveredPrinter At(const char *port) { return DiscoveredPrinter{port, "Printer A"}; }
};

} // namespace

TEST_F(PrinterTest, PortTimeoutFollowsTheUpperCaseLptPrefix) {
    struct Case {
        const char *port;
        DWORD timeout;
    } cases[] = {{"LPT1:", 5000}, {"lpt1:", 40000}, {"USB001", 40000}, {"10.1.2.3", 40000}};
    for (const Case &c : cases) {
        scriptedport::Reset();
        CAPrinter printer(At(c.port));
        ASSERT_EQ(Script().calls.size(), 2u);
        EXPECT_EQ(Script().calls[0].data, c.port);
        EXPECT_EQ(Script().calls[1].call, Call::SetTimeout);
        EXPECT_EQ(Script().calls[1].asked, c.timeout) << c.port;
        EXPECT_STREQ(printer.m_name, "Printer A");
        EXPECT_STREQ(printer.m_displayAddress, c.port);
    }
}

TEST_F(PrinterTest, SessionChecksTheEchoAndABadOneSendsNothingMore) {
    CAPrinter printer(At("10.0.0.1"));
    Script().reads.push_back(Read(kEchoReply));
    EXPECT_TRUE(printer.StartSession());
    EXPECT_EQ(Script().Written(), kEchoCommand);

    scriptedport::Reset();
    Script().reads.push_back(Read("@PJL ECHO WRONG\r\n\f"));
    const std::string stream = kUel + "@PJL QUVSYSTEM REBOOT=NORMAL\r\n";
    EXPECT_FALSE(printer.SendStream(stream.data(), static_cast<DWORD>(stream.size())));
    EXPECT_EQ(Script().Written(), kEchoCommand); // neither the stream nor the closing UEL
    EXPECT_EQ(Script().Count(Call::EndJob), 1u);
    EXPECT_EQ(Script().calls.back().asked, 0u); // ended with ok 0
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("Error reading from printer port."), std::string::npos);
}

TEST_F(PrinterTest, RepliesLoseStatusBlocksAndTrailingUelAndEndAtTheirTerminator) {
    struct Case {
        const char *name;
        std::vector<std::string> reads;
        std::string reply;
    } cases[] = {
        {"status first",
         {kStatus + "@PJL INFO STATUS\r\nCODE=1\r\n\f"},
         "@PJL INFO STATUS\r\nCODE=1\r\n\f"},
        {"status split",
         {kStatus.substr(0, 10), kStatus.substr(10) + "@PJL INFO", " STATUS\r\n\f"},
         "@PJL INFO STATUS\r\n\f"},
        {"status alone, then reply", {kStatus, "@PJL ECHO\r\n\f"}, "@PJL ECHO\r\n\f"},
        {"trailing UEL", {"@PJL INFO X\r\n\f" + kUel}, "@PJL INFO X\r\n\f"},
        {"FF CR LF ends", {"@PJL X\f\r\n"}, "@PJL X\f\r\n"},
        {"FF and three more does not", {"@PJL X\f\r\nA", "B\f"}, "@PJL X\f\r\nAB\f"},
    };
    for (const Case &c : cases) {
        scriptedport::Reset();
        CAPrinter printer(At("10.0.0.1"));
        for (const std::string &r : c.reads)
            Script().reads.push_back(Read(r));
        ASSERT_TRUE(printer.ReadReply(printer.m_reply, printer.m_replySize, &printer.m_received))
            << c.name;
        EXPECT_EQ(std::string(printer.m_reply, printer.m_received), c.reply) << c.name;
        EXPECT_EQ(printer.m_reply[printer.m_received], '\0') << c.name;
        EXPECT_TRUE(Boxes().empty()) << c.name;
    }
}

TEST_F(PrinterTest, WritesGoOutInChunksAndResumeAtTheFirstByteNotTaken) {
    std::string data(0x50000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 31 + i / 256);
    {
        CAPrinter printer(At("10.0.0.1"));
        DWORD written = 0;
        ASSERT_TRUE(printer.WriteData(data.data(), static_cast<DWORD>(data.size()), &written));
        std::vector<DWORD> asked;
        for (auto &r : Script().calls)
            if (r.call == Call::Write)
                asked.push_back(r.asked);
        EXPECT_EQ(asked, (std::vector<DWORD>{0x20000, 0x20000, 0x10000}));
        EXPECT_EQ(written, data.size());
    }
    scriptedport::Reset();
    CAPrinter printer(At("10.0.0.1"));
    for (int i = 0; i < 20; ++i)
        Script().writes.push_back(Took(0x8000 + 17 * i)); // each call takes only part
    DWORD written = 0;
    ASSERT_TRUE(printer.WriteData(data.data(), static_cast<DWORD>(data.size()), &written));
    EXPECT_EQ(Script().Written(), data);
    EXPECT_EQ(printer.m_written, data.size());

    scriptedport::Reset(); // an empty stream needs no port call
    EXPECT_TRUE(printer.WriteData("", 0, &written));
    EXPECT_EQ(Script().calls.size(), 0u);
    EXPECT_EQ(written, 0u);
}

TEST_F(PrinterTest, ARetryPromptOnEveryWriteThatTakesNothing) {
    CAPrinter printer(At("10.0.0.1"));
    const std::string data(100, 'x');
    // Nothing taken: No ends silently with the declined code.
    Script().writes.push_back(Took(0, FALSE, QUV_E_TIMEOUT));
    AfxTestSeam::PushAnswer("IDNO");
    DWORD written = 0;
    EXPECT_FALSE(printer.WriteData(data.data(), 100, &written));
    EXPECT_EQ(GetLastError(), 0x20000008u);
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("not responding"), std::string::npos);
    EXPECT_EQ(boxes[0].flags & MB_TYPEMASK, static_cast<UINT>(MB_YESNO));

    // Part taken, then nothing: asked again (no endless loop), Yes goes on.
    scriptedport::Reset();
    Script().writes.push_back(Took(40));
    Script().writes.push_back(Took(0));
    Script().writes.push_back(Took(60));
    AfxTestSeam::PushAnswer("IDYES");
    EXPECT_TRUE(printer.WriteData(data.data(), 100, &written));
    EXPECT_EQ(written, 100u);
    EXPECT_EQ(Script().Written(), data);
    EXPECT_EQ(Boxes().size(), 1u);

    // A failure after part went out fails without a prompt.
    scriptedport::Reset();
    Script().writes.push_back(Took(40));
    Script().writes.push_back(Took(0, FALSE, QUV_E_WRITE));
    EXPECT_FALSE(printer.WriteData(data.data(), 100, &written));
    EXPECT_EQ(GetLastError(), QUV_E_WRITE);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PrinterTest, ReadingSilenceAsksAndAFullBufferFailsWithoutAsking) {
    CAPrinter printer(At("10.0.0.1"));
    Script().reads.push_back(Read(""));
    AfxTestSeam::PushAnswer("IDNO");
    EXPECT_FALSE(printer.ReadReply(printer.m_reply, printer.m_replySize, &printer.m_received));
    EXPECT_EQ(GetLastError(), 0x20000008u);
    EXPECT_EQ(Boxes().size(), 1u);

    scriptedport::Reset();
    Script().reads.push_back(Read(""));
    Script().reads.push_back(Read("@PJL ECHO TEST\r\n\f"));
    AfxTestSeam::PushAnswer("IDYES");
    EXPECT_TRUE(printer.ReadReply(printer.m_reply, printer.m_replySize, &printer.m_received));
    EXPECT_EQ(Boxes().size(), 1u);

    // A reply that would fill all 20800 bytes: read at most 20799, then fail, no prompt.
    scriptedport::Reset();
    Script().reads.push_back(Read(std::string(30000, 'A')));
    EXPECT_FALSE(printer.ReadReply(printer.m_reply, printer.m_replySize, &printer.m_received));
    EXPECT_EQ(GetLastError(), QUV_E_READ);
    EXPECT_EQ(printer.m_received, 20799u);
    EXPECT_EQ(printer.m_reply[20799], '\0');
    EXPECT_TRUE(Boxes().empty());
    for (auto &r : Script().calls) {
        if (r.call == Call::Read) {
            EXPECT_GT(r.asked, 0u);
        }
    }
}

TEST_F(PrinterTest, LanguageFlagsAreSetOnceFromTheConfiguration) {
    CAPrinter printer(At("10.0.0.1"));
    const std::string config =
        "@PJL INFO CONFIG\r\nLANGUAGES [2 ENUMERATED]\r\n\tPCLXL\r\n\tPCL\r\n\f";
    Script().reads.push_back(Read(kEchoReply));
    Script().reads.push_back(Read(config));
    printer.EnsureLanguages();
    EXPECT_EQ(printer.m_languages, 0x21);
    EXPECT_TRUE(printer.SupportsPCL());
    EXPECT_FALSE(printer.SupportsPostScript());
    EXPECT_EQ(Script().calls.back().call, Call::EndJob);
    EXPECT_EQ(Script().calls.back().asked, 1u);

    scriptedport::Reset();
    printer.EnsureLanguages(); // known already: no session
    EXPECT_EQ(Script().calls.size(), 0u);

    CAPrinter unknown(At("10.0.0.2"));
    scriptedport::Reset();
    Script().reads.push_back(Read(kEchoReply));
    Script().reads.push_back(
        Read("@PJL INFO CONFIG\r\nLANGUAGES [2 ENUMERATED]\r\n\tKLINGON\r\n\tELVISH\r\n\f"));
    unknown.EnsureLanguages();
    EXPECT_EQ(unknown.m_languages, 0);
    EXPECT_TRUE(unknown.SupportsPostScript());

    CAPrinter noList(At("10.0.0.3"));
    scriptedport::Reset();
    Script().reads.push_back(Read(kEchoReply));
    Script().reads.push_back(Read("@PJL INFO CONFIG\r\nMEMORY=1\r\n\f"));
    noList.EnsureLanguages();
    EXPECT_EQ(noList.m_languages, 0);
}

TEST_F(PrinterTest, PostScriptIsRefusedOnAPclPrinterWithoutAPortCall) {
    CAPrinter printer(At("10.0.0.1"));
    printer.m_languages = 0x01;
    scriptedport::Reset();
    const std::string stream = kUel + "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!PS\r\n" + kUel;
    EXPECT_FALSE(printer.SendStream(stream.data(), static_cast<DWORD>(stream.size())));
    EXPECT_EQ(Script().calls.size(), 0u);
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "ENTER LANGUAGE=POSTSCRIPT !!");
    EXPECT_EQ(boxes[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));

    // The words past the stream's length are not looked at.
    std::string tail = kUel + "@PJL ECHO X\r\n";
    const DWORD length = static_cast<DWORD>(tail.size());
    tail += "ENTER LANGUAGE=POSTSCRIPT";
    EXPECT_TRUE(printer.CheckStreamLanguage(tail.data(), length));
}

TEST_F(PrinterTest, AttributesAreReadOrMarkedAbsent) {
    CAPrinter printer(At("10.0.0.1"));
    Script().reads.push_back(Read(kEchoReply));
    Script().reads.push_back(
        Read("@PJL INFO QUVWYRATTRIBUTE\r\nSPOOLJOBTYPE=ALL\r\nNUMPRINT=ENABLE\r\n"
             "PSMENU=DISABLE\r\nPATHLENGTH=" +
             std::string(300, '9') + "\r\n\f"));
    EXPECT_EQ(printer.QueryAttributes(), 0);
    EXPECT_EQ(printer.m_attrState, 2);
    EXPECT_STREQ(printer.m_attr[kAttrSpoolJobType], "ALL");
    EXPECT_STREQ(printer.m_attr[kAttrNumPrint], "ENABLE");
    EXPECT_STREQ(printer.m_attr[kAttrPsMenu], "DISABLE");
    EXPECT_STREQ(printer.m_attr[kAttrReboot], "");
    EXPECT_EQ(std::strlen(printer.m_attr[kAttrPathLength]), 259u);

    CAPrinter none(At("10.0.0.2"));
    scriptedport::Reset();
    Script().reads.push_back(Read(kEchoReply));
    Script().reads.push_back(Read("@PJL INFO QUVWYRATTRIBUTE\r\n\"?\"\r\n\f"));
    EXPECT_EQ(none.QueryAttributes(), 0);
    EXPECT_EQ(none.m_attrState, 1);
    EXPECT_STREQ(none.m_attr[kAttrSpoolJobType], "");
}

TEST_F(PrinterTest, WithoutAPortEverySessionShowsOneBox) {
    Step fail;
    fail.result = FALSE;
    fail.lastError = QUV_E_INVALID_PARAMETER;
    Script().open.push_back(fail);
    CAPrinter printer(At("bad name"));
    EXPECT_EQ(printer.m_hPort, nullptr);
    Boxes();

    const std::string stream = kUel + "@PJL QUVSYSTEM REBOOT=NORMAL\r\n";
    EXPECT_FALSE(printer.SendStream(stream.data(), static_cast<DWORD>(stream.size())));
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("cannot get access to this printer"), std::string::npos);
    EXPECT_EQ(printer.QueryAttributes(), 1);
    EXPECT_EQ(Boxes().size(), 1u);
    printer.EnsureLanguages();
    EXPECT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Script().Count(Call::StartJob) + Script().Count(Call::EndJob) +
                  Script().Count(Call::Write),
              0u);
}

// ---- Queries and commands ----

namespace {

// A directory page of n lines after its header (entries "F<k>" numbered from first).
std::string PageOf(int first, int n, bool dots = false) {
    std::string page =
        "@PJL FSDIRLIST NAME=\"0:\\d\" ENTRY=" + std::to_string(first) + " COUNT=40\r\n";
    for (int i = 0; i < n; ++i) {
        if (dots && i < 2)
            page += i == 0 ? ". TYPE=DIR\r\n" : ".. TYPE=DIR\r\n";
        else
            page += "F" + std::to_string(first + i) + " TYPE=FILE SIZE=1\r\n";
    }
    return page + "\f";
}

// The PJL lines written, in order (the echo included).
std::vector<std::string> WrittenLines() {
    std::vector<std::string> lines;
    const std::string all = scriptedport::Current().Written();
    std::size_t at = 0;
    while ((at = all.find("@PJL", at)) != std::string::npos) {
        const std::size_t end = all.find("\r\n", at);
        lines.push_back(all.substr(at, end - at));
        at = end;
    }
    return lines;
}

} // namespace

TEST_F(PrinterTest, SendOnlyCommandsGoOutByteExact) {
    struct Case {
        const char *line;
        std::function<BOOL(CAPrinter &)> send;
    } cases[] = {
        {"@PJL QUVSPOOLJOBCOMPELCANCEL JOBID=12\r\n",
         [](CAPrinter &p) { return p.CompelCancelSpoolJob("12"); }},
        {"@PJL QUVSPOOLJOBCOMPELPRINT JOBID=12\r\n",
         [](CAPrinter &p) { return p.CompelPrintSpoolJob("12", 0); }},
        {"@PJL QUVSPOOLJOBCOMPELPRINT JOBID=12 QTY=3\r\n",
         [](CAPrinter &p) { return p.CompelPrintSpoolJob("12", 3); }},
        {"@PJL QUVSPOOLJOBCANCEL PASSWORD=1234 JOBID=12\r\n",
         [](CAPrinter &p) { return p.CancelSpoolJob("1234", "12"); }},
        {"@PJL QUVSPOOLJOBPRINT PASSWORD=1234 JOBID=12\r\n",
         [](CAPrinter &p) { return p.PrintSpoolJob("1234", "12", 0); }},
        {"@PJL QUVSPOOLJOBPRINT PASSWORD=1234 JOBID=12 QTY=3\r\n",
         [](CAPrinter &p) { return p.PrintSpoolJob("1234", "12", 3); }},
        {"@PJL QUVPARTITIONASSIGN LOCATION=HDD0 DISTRIBUTION=\"50 30 20\"\r\n",
         [](CAPrinter &p) { return p.AssignPartitions(50, 30, 20); }},
        {"@PJL QUVSYSTEM REBOOT=NORMAL\r\n", [](CAPrinter &p) { return p.Reboot(); }},
        {"@PJL QUVINFOPRINT FILELIST=ALL\r\n", [](CAPrinter &p) { return p.PrintFileList(); }},
        {"@PJL QUVINFOPRINT FONT=PCL\r\n", [](CAPrinter &p) { return p.PrintPclFontList(); }},
        {"@PJL QUVINFOPRINT FONT=POSTSCRIPT\r\n",
         [](CAPrinter &p) { return p.PrintPostScriptFontList(); }},
    };
    for (const Case &c : cases) {
        CAPrinter printer(At("10.0.0.1"));
        printer.m_languages = 0x03; // known: the font lists ask nothing first
        scriptedport::Reset();
        Script().reads.push_back(Read(kEchoReply));
        EXPECT_TRUE(c.send(printer)) << c.line;
        EXPECT_EQ(Script().Written(), kEchoCommand + c.line + kUel) << c.line;
        EXPECT_EQ(Script().calls.back().call, Call::EndJob);
        EXPECT_EQ(Script().calls.back().asked, 1u) << c.line;
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PrinterTest, ValuesThatWouldBreakTheLineAreRefusedWithoutASession) {
    CAPrinter printer(At("10.0.0.1"));
    CTextList list;
    std::function<bool()> calls[] = {
        [&] { return printer.CompelCancelSpoolJob("12\r\n@PJL QUVSYSTEM REBOOT=NORMAL") != FALSE; },
        [&] { return printer.CancelSpoolJob("12 34", "1") != FALSE; },
        [&] { return printer.PrintSpoolJob("1234", "1\"2", 2) != FALSE; },
        [&] { return printer.ListSpoolJobs(list, "1 2") == 0; },
        [&] { return printer.ListDirectory("0:\\a\"b", list) == 0; },
    };
    for (auto &call : calls) {
        scriptedport::Reset();
        EXPECT_FALSE(call());
        EXPECT_EQ(Script().calls.size(), 0u);
        auto boxes = Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Operation Failed");
    }
}

TEST_F(PrinterTest, FontListsNeedTheirLanguage) {
    CAPrinter printer(At("10.0.0.1"));
    printer.m_languages = 0x02;
    scriptedport::Reset();
    EXPECT_FALSE(printer.PrintPclFontList());
    EXPECT_EQ(Script().calls.size(), 0u);
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("language PCL which"), std::string::npos);
    printer.m_languages = 0x01;
    EXPECT_FALSE(printer.PrintPostScriptFontList());
    EXPECT_NE(Boxes().at(0).text.find("language PostScript which"), std::string::npos);
}

TEST_F(PrinterTest, VolumeQueryWaitsElevenRepliesForItsHeader) {
    const std::string reply =
        "@PJL INFO QUVFILESYS\r\nVOLUME\tTOTAL SIZE\r\n0:\t4\tHDD0\tPCL\r\n 1:\t4\tCOMMON\r\n\f";
    {
        CAPrinter printer(At("10.0.0.1"));
        Script().reads = {Read(kEchoReply), Read("@PJL OTHER\r\n\f"), Read("@PJL OTHER\r\n\f"),
                          Read(reply)};
        CTextList volumes;
        EXPECT_EQ(printer.QueryFileSystems(volumes), 0);
        EXPECT_EQ(volumes.Texts(), (std::vector<std::string>{"0:\t4\tHDD0\tPCL", "1:\t4\tCOMMON"}));
        EXPECT_EQ(Script().calls.back().asked, 1u);
    }
    scriptedport::Reset();
    {
        CAPrinter printer(At("10.0.0.1"));
        Script().reads.push_back(Read(kEchoReply));
        for (int i = 0; i < 12; ++i)
            Script().reads.push_back(Read("@PJL OTHER\r\n\f"));
        CTextList volumes;
        EXPECT_NE(printer.QueryFileSystems(volumes), 0);
        EXPECT_EQ(Script().Count(Call::Read), 12u); // the echo and eleven replies
        EXPECT_EQ(Script().calls.back().asked, 0u);
        EXPECT_TRUE(Boxes().empty());
    }
    scriptedport::Reset();
    {
        CAPrinter printer(At("10.0.0.1"));
        Script().reads = {Read(kEchoReply),
                          Read(std::string(30000, 'A'))}; // fills the buffer: a failed read
        CTextList volumes;
        EXPECT_NE(printer.QueryFileSystems(volumes), 0);
        auto boxes = Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].text.find("The Disk may not be initialized."), std::string::npos);
    }
    scriptedport::Reset();
    {
        CAPrinter printer(At("10.0.0.1"));
        Script().reads = {Read(kEchoReply), Read("")};
        AfxTestSeam::PushAnswer("IDNO");
        CTextList volumes;
        EXPECT_NE(printer.QueryFileSystems(volumes), 0);
        EXPECT_EQ(Boxes().size(), 1u); // the retry prompt only
    }
}

TEST_F(PrinterTest, DirectoriesAreReadInPagesOfForty) {
    struct Case {
        const char *name;
        std::vector<std::string> pages;
        std::vector<std::string> asked; // ENTRY= of each page
        std::size_t entries;
    } cases[] = {
        {"39 entries", {PageOf(1, 39)}, {"ENTRY=1 "}, 39},
        {"40 with the dots", {PageOf(1, 40, true), PageOf(41, 0)}, {"ENTRY=1 ", "ENTRY=41 "}, 38},
        {"41 entries", {PageOf(1, 40), PageOf(41, 1)}, {"ENTRY=1 ", "ENTRY=41 "}, 41},
    };
    for (const Case &c : cases) {
        scriptedport::Reset();
        CAPrinter printer(At("10.0.0.1"));
        for (const std::string &page : c.pages) {
            Script().reads.push_back(Read(kEchoReply));
            Script().reads.push_back(Read(page));
        }
        CTextList entries;
        EXPECT_EQ(printer.ListDirectory("0:\\d", entries), 0) << c.name;
        EXPECT_EQ(entries.Texts().size(), c.entries) << c.name;
        std::vector<std::string> asked;
        for (const std::string &line : WrittenLines())
            if (line.rfind("@PJL FSDIRLIST", 0) == 0) {
                EXPECT_EQ(line.substr(0, 29), "@PJL FSDIRLIST NAME = \"0:\\d\" ") << c.name;
                asked.push_back(line.substr(29, line.find("COUNT") - 29));
            }
        EXPECT_EQ(asked, c.asked) << c.name;
        EXPECT_EQ(Script().Count(Call::StartJob), c.pages.size()) << c.name;
    }
    // A failed second page keeps the first.
    scriptedport::Reset();
    CAPrinter printer(At("10.0.0.1"));
    Script().reads = {Read(kEchoReply), Read(PageOf(1, 40)), Read(kEchoReply),
                      Read(std::string(30000, 'A'))};
    CTextList entries;
    EXPECT_NE(printer.ListDirectory("0:\\d", entries), 0);
    EXPECT_EQ(entries.GetCount(), 40);
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("Error reading from printer port."), std::string::npos);
}

TEST_F(PrinterTest, StorageDevicesAndHeldJobs) {
    CAPrinter printer(At("10.0.0.1"));
    Script().reads = {Read(kEchoReply), Read("@PJL INFO CONFIG\r\nHDD0 LOCK STATUS=UNLOCKED\r\n"
                                             "\tFLASH0 LOCK STATUS=LOCKED\r\n\f")};
    CTextList devices;
    EXPECT_EQ(printer.CollectLockStatus(devices), 0);
    EXPECT_EQ(devices.Texts(), (std::vector<std::string>{"HDD0", "FLASH0"}));

    scriptedport::Reset();
    Script().reads = {Read("@PJL ECHO WRONG\r\n\f")};
    CTextList none;
    EXPECT_NE(printer.CollectLockStatus(none), 0);
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("has not responded to a command"), std::string::npos);
    scriptedport::Reset();
    Script().reads = {Read("")};
    AfxTestSeam::PushAnswer("IDNO");
    EXPECT_NE(printer.CollectLockStatus(none), 0);
    EXPECT_EQ(Boxes().size(), 1u); // the prompt, no 10141 after a declined retry

    scriptedport::Reset();
    Script().reads = {Read(kEchoReply),
                      Read("@PJL QUVSPOOLJOBCOMPELINFO\r\n\tJOBID\tNAME\tTYPE\tCOPIES\r\n"
                           "\t12\tReport\tSECURE\t1\r\n\f")};
    CTextList jobs;
    EXPECT_EQ(printer.ListCompelSpoolJobs(jobs), 0);
    EXPECT_EQ(jobs.Texts(), (std::vector<std::string>{"12\tReport\tSECURE\t1"}));
    EXPECT_EQ(WrittenLines().back(), "@PJL QUVSPOOLJOBCOMPELINFO");
    scriptedport::Reset();
    Script().reads = {Read(kEchoReply),
                      Read("@PJL QUVSPOOLJOBINFO PASSWORD=1234\r\nJOBID NAME\r\n\f")};
    EXPECT_NE(printer.ListSpoolJobs(jobs, "1234"), 0);
    EXPECT_EQ(WrittenLines().back(), "@PJL QUVSPOOLJOBINFO PASSWORD=1234");
    EXPECT_EQ(Script().calls.back().asked, 0u);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PrinterTest, PostScriptRepliesAreJoinedFromPiecesUpToTheEot) {
    CAPrinter printer(At("10.0.0.1"));
    Script().reads = {Read(kEchoReply), Read("(For"), Read("m1)\r"),
                      Read("\n(Form2)\r\n\x04\n(late)\n")};
    CTextList forms;
    EXPECT_EQ(printer.ListPostScriptForms(forms), 0);
    EXPECT_EQ(forms.Texts(), (std::vector<std::string>{"(Form1)", "(Form2)"}));
    EXPECT_EQ(printer.m_terminator, '\f');
    const std::string uel = kUel;
    EXPECT_EQ(Script().Written(),
              kEchoCommand + uel +
                  "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%%!Adobe-PS\r\n"
                  "(*) {==} =string /Form resourceforall \r\n flush (\\004) cvx cvn == flush" +
                  uel + uel);

    // No EOT within the byte cap: the read error, what was read stays.
    scriptedport::Reset();
    Script().reads = {Read(kEchoReply), Read("(Form1)\n")};
    for (int i = 0; i < 300; ++i)
        Script().reads.push_back(Read(std::string(20000, ' ') + "\n"));
    CTextList endless;
    EXPECT_NE(printer.ListPostScriptForms(endless), 0);
    EXPECT_EQ(endless.Texts().front(), "(Form1)");
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("Error reading from printer port."), std::string::npos);
    EXPECT_EQ(printer.m_terminator, '\f');
    // One line longer than the cap.
    scriptedport::Reset();
    Script().reads = {Read(kEchoReply), Read("(" + std::string(5000, 'x'))};
    EXPECT_NE(printer.ListPostScriptForms(endless), 0);
    EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(PrinterTest, FilesAreSizedUntilASizeExchangeFails) {
    CAPrinter printer(At("10.0.0.1"));
    Script().reads = {
        Read(kEchoReply),
        Read("(%disk0%fonts/A)\n(%disk0%fonts/a\\)b)\n(%disk0%fonts/sub/x)\n(%disk0%fonts/sub/y)\n"
             "%%[ Error: undefined ]%%\n(%disk0%fonts/C)\n\x04\n"),
        Read(kEchoReply),
        Read("No File\n\x04\n"), // A
        Read(kEchoReply),
        Read(std::string(30000, '7')), // a)b: the exchange fails
        Read(kEchoReply)};             // never asked again
    CTextList entries;
    EXPECT_EQ(printer.ListPostScriptFiles("%disk0%fonts/", entries), 0);
    EXPECT_EQ(entries.Texts(),
              (std::vector<std::string>{"sub TYPE=DIR", "A TYPE=FILE SIZE=-1",
                                        "a)b TYPE=FILE SIZE=-1", "C TYPE=FILE SIZE=-1"}));
    EXPECT_EQ(Script().Count(Call::StartJob), 3u);
    const std::string written = Script().Written();
    EXPECT_NE(
        written.find("(%disk0%fonts/a\\)b) status {pop pop == pop} { (No File) = } ifelse \r\n"),
        std::string::npos);
    EXPECT_NE(written.find("%!Adobe-PS\r\n(%disk0%fonts/*) {==} =string filenameforall\r\n"),
              std::string::npos);
    EXPECT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(printer.m_terminator, '\f');

    scriptedport::Reset();
    Script().reads = {Read(kEchoReply), Read("5\n\x04\n")};
    char size[260];
    EXPECT_EQ(printer.GetPostScriptFileSize("%disk0%fonts/A", size), 0);
    EXPECT_STREQ(size, " TYPE=FILE SIZE=5");
}

TEST_F(PrinterTest, ParseInfoReplyStaysInsideTheReceivedBytes) {
    CAPrinter printer(At("10.0.0.1"));
    const std::string reply = "A=1 [4000000000 ENUMERATED]\r\n\t1\r\n";
    std::memcpy(printer.m_reply, reply.data(), reply.size());
    std::memset(printer.m_reply + reply.size(), 'B', 100); // beyond m_received
    printer.m_received = static_cast<DWORD>(reply.size());
    CWnd parent;
    ASSERT_TRUE(
        parent.CreateEx(0, nullptr, "tree", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300, nullptr, nullptr));
    CTreeCtrl tree;
    ASSERT_TRUE(tree.Create(WS_CHILD, CRect(0, 0, 200, 200), &parent, 100));
    EXPECT_FALSE(printer.ParseInfoReply(TVI_ROOT, printer.m_reply, tree));
    EXPECT_EQ(tree.GetCount(), 2u);
    parent.DestroyWindow();
}

TEST_F(PrinterTest, AListingThatNeverEndsStopsAtItsPageCap) {
    CAPrinter printer(At("10.0.0.1"));
    for (DWORD page = 0; page < kMaxDirectoryPages + 5; ++page) {
        Script().reads.push_back(Read(kEchoReply));
        Script().reads.push_back(Read(PageOf(static_cast<int>(page * 40 + 1), 40)));
    }
    CTextList entries;
    EXPECT_NE(printer.ListDirectory("0:\\d", entries), 0);
    EXPECT_EQ(GetLastError(), QUV_E_READ);
    EXPECT_EQ(entries.GetCount(), static_cast<INT_PTR>(kMaxDirectoryPages * 40));
    EXPECT_EQ(Script().Count(Call::StartJob), kMaxDirectoryPages);
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("Error reading from printer port."), std::string::npos);
}
