// CAPrinter through corvane.dll against the in-process fake printer.
#include "buffer.h"
#include "printer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "framework.h"
#include "seam_test.h"
#include "server.h"
#include "suite_paths.h"

namespace {

const std::string kUel = "\x1b%-12345X";

std::string LogPath() { return suite::TestDataDir() + "\\corvane_e2e.log"; }

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
    server.With([](fakeprinter::Engine &e) { EXPECT_EQ(e.Files().Find("0:\\pcl\\macros\\M1"), nullptr); });
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
    ASSERT_EQ(printer.QueryAttributes(), 0);
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
