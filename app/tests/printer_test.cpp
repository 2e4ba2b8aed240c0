// CAPrinter's session primitives against the scripted port.
#include "printer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework.h"
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
        {"status first", {kStatus + "@PJL INFO STATUS\r\nCODE=1\r\n\f"}, "@PJL INFO STATUS\r\nCODE=1\r\n\f"},
        {"status split", {kStatus.substr(0, 10), kStatus.substr(10) + "@PJL INFO", " STATUS\r\n\f"},
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
        ASSERT_TRUE(printer.ReadReply(printer.m_reply, printer.m_replySize, &printer.m_received)) << c.name;
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
    const std::string config = "@PJL INFO CONFIG\r\nLANGUAGES [2 ENUMERATED]\r\n\tPCLXL\r\n\tPCL\r\n\f";
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
    Script().reads.push_back(Read("@PJL INFO CONFIG\r\nLANGUAGES [2 ENUMERATED]\r\n\tKLINGON\r\n\tELVISH\r\n\f"));
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
    Script().reads.push_back(Read("@PJL INFO QUVWYRATTRIBUTE\r\nSPOOLJOBTYPE=ALL\r\nNUMPRINT=ENABLE\r\n"
                                  "PSMENU=DISABLE\r\nPATHLENGTH=" + std::string(300, '9') + "\r\n\f"));
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
    EXPECT_EQ(Script().Count(Call::StartJob) + Script().Count(Call::EndJob) + Script().Count(Call::Write), 0u);
}
