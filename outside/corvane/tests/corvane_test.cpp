// The port API stand-in against the in-process fake printer.
#include "corvane.h"

#include <gtest/gtest.h>

#include <string>

#include "server.h"

namespace {

const std::string kUel = "\x1b%-12345X";

std::string Address(const fakeprinter::Server &server) {
    return "127.0.0.1:" + std::to_string(server.Port());
}

// Reads until the reply ends with FF or a read brings nothing.
std::string ReadReply(QUVPORT h) {
    std::string out;
    for (int i = 0; i < 100 && (out.empty() || out.back() != '\f'); ++i) {
        char buf[512];
        DWORD got = 1234;
        if (!QuvReadPort(h, buf, sizeof buf, &got, 0) || got == 0)
            break;
        out.append(buf, got);
    }
    return out;
}

} // namespace

TEST(CorvanePorts, BadNamesAndHandlesAreRefused) {
    struct Case {
        const char *name;
        DWORD error;
    } cases[] = {
        {"", QUV_E_INVALID_PARAMETER},          {"host:", QUV_E_INVALID_PARAMETER},
        {":9100", QUV_E_INVALID_PARAMETER},     {"1.2.3.4:70000", QUV_E_INVALID_PARAMETER},
        {"1.2.3.4:0", QUV_E_INVALID_PARAMETER}, {"a b", QUV_E_INVALID_PARAMETER},
        {nullptr, QUV_E_INVALID_PARAMETER},     {"LPT1:", QUV_E_UNSUPPORTED_PORT},
        {"usb001", QUV_E_UNSUPPORTED_PORT},
    };
    for (const Case &c : cases) {
        QUVPORT h = reinterpret_cast<QUVPORT>(0x77);
        SetLastError(0);
        EXPECT_FALSE(QuvOpenPort(c.name, &h, 0)) << (c.name ? c.name : "NULL");
        EXPECT_EQ(GetLastError(), c.error) << (c.name ? c.name : "NULL");
        EXPECT_EQ(h, nullptr);
    }
    const std::string longName(300, 'a');
    QUVPORT h = nullptr;
    EXPECT_FALSE(QuvOpenPort(longName.c_str(), &h, 0));
    EXPECT_EQ(GetLastError(), QUV_E_INVALID_PARAMETER);
    EXPECT_FALSE(QuvOpenPort("127.0.0.1", nullptr, 0));

    DWORD n = 0;
    char buf[4];
    for (QUVPORT bogus : {static_cast<QUVPORT>(nullptr), reinterpret_cast<QUVPORT>(0x12345)}) {
        EXPECT_FALSE(QuvStartJobPort(bogus));
        EXPECT_EQ(GetLastError(), QUV_E_INVALID_HANDLE);
        EXPECT_FALSE(QuvWritePort(bogus, "x", 1, &n, 0));
        EXPECT_EQ(GetLastError(), QUV_E_INVALID_HANDLE);
        EXPECT_FALSE(QuvReadPort(bogus, buf, sizeof buf, &n, 0));
        EXPECT_FALSE(QuvClosePort(bogus));
        EXPECT_EQ(GetLastError(), QUV_E_INVALID_HANDLE);
    }
    ASSERT_TRUE(QuvOpenPort("printer.example:9100", &h, 0));
    EXPECT_FALSE(QuvWritePort(h, "x", 1, &n, 0));
    EXPECT_EQ(GetLastError(), QUV_E_JOB_NOT_OPEN);
    EXPECT_FALSE(QuvEndJobPort(h, TRUE));
    EXPECT_EQ(GetLastError(), QUV_E_JOB_NOT_OPEN);
    EXPECT_TRUE(QuvClosePort(h));
    EXPECT_FALSE(QuvClosePort(h)); // closed handles are dead
    EXPECT_EQ(GetLastError(), QUV_E_INVALID_HANDLE);
}

TEST(CorvanePorts, OneJobIsOneConnectionWithItsBytes) {
    fakeprinter::Server server;
    ASSERT_TRUE(server.Start()) << server.error();
    QUVPORT h = nullptr;
    ASSERT_TRUE(QuvOpenPort(Address(server).c_str(), &h, 0));
    ASSERT_NE(h, nullptr);
    QuvSetPortTimeout(h, 5000);
    for (int job = 1; job <= 2; ++job) {
        ASSERT_TRUE(QuvStartJobPort(h));
        EXPECT_FALSE(QuvStartJobPort(h));
        EXPECT_EQ(GetLastError(), QUV_E_JOB_ALREADY_OPEN);
        const std::string echo = kUel + "@PJL ECHO TEST\r\n";
        DWORD taken = 0;
        ASSERT_TRUE(QuvWritePort(h, echo.data(), static_cast<DWORD>(echo.size()), &taken, 0));
        EXPECT_EQ(taken, echo.size());
        EXPECT_EQ(ReadReply(h), "@PJL ECHO TEST\r\n\f");
        ASSERT_TRUE(QuvWritePort(h, kUel.data(), static_cast<DWORD>(kUel.size()), &taken, 0));
        ASSERT_TRUE(QuvEndJobPort(h, TRUE));
        ASSERT_TRUE(server.WaitForJobs(static_cast<std::size_t>(job), 5000));
    }
    auto jobs = server.Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[1].received, kUel + "@PJL ECHO TEST\r\n" + kUel);
    EXPECT_TRUE(QuvClosePort(h));
}

TEST(CorvanePorts, SilenceGivesAnEmptyRead) {
    fakeprinter::Server server;
    server.With([](fakeprinter::Engine &e) { e.defaults.silent = true; });
    ASSERT_TRUE(server.Start()) << server.error();
    QUVPORT h = nullptr;
    ASSERT_TRUE(QuvOpenPort(Address(server).c_str(), &h, 0));
    QuvSetPortTimeout(h, 200);
    ASSERT_TRUE(QuvStartJobPort(h));
    DWORD taken = 0, got = 77;
    const std::string echo = kUel + "@PJL ECHO TEST\r\n";
    ASSERT_TRUE(QuvWritePort(h, echo.data(), static_cast<DWORD>(echo.size()), &taken, 0));
    char buf[64];
    EXPECT_TRUE(QuvReadPort(h, buf, sizeof buf, &got, 0));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(QuvEndJobPort(h, FALSE));
    EXPECT_TRUE(QuvClosePort(h));
}

TEST(CorvanePorts, PeerClosingIsAReadFailureAndRefusalAConnectionFailure) {
    fakeprinter::Server closing;
    closing.With([](fakeprinter::Engine &e) { e.defaults.closeBeforeReply = true; });
    ASSERT_TRUE(closing.Start()) << closing.error();
    QUVPORT h = nullptr;
    ASSERT_TRUE(QuvOpenPort(Address(closing).c_str(), &h, 0));
    QuvSetPortTimeout(h, 5000);
    ASSERT_TRUE(QuvStartJobPort(h));
    DWORD taken = 0, got = 0;
    const std::string echo = kUel + "@PJL ECHO TEST\r\n";
    QuvWritePort(h, echo.data(), static_cast<DWORD>(echo.size()), &taken, 0);
    char buf[64];
    EXPECT_FALSE(QuvReadPort(h, buf, sizeof buf, &got, 0));
    EXPECT_EQ(GetLastError(), QUV_E_READ);
    QuvEndJobPort(h, FALSE);
    QuvClosePort(h);

    fakeprinter::Server refusing;
    refusing.With([](fakeprinter::Engine &e) { e.defaults.refuseConnections = true; });
    ASSERT_TRUE(refusing.Start()) << refusing.error();
    ASSERT_TRUE(QuvOpenPort(Address(refusing).c_str(), &h, 0));
    QuvSetPortTimeout(h, 5000);
    EXPECT_FALSE(QuvStartJobPort(h));
    EXPECT_EQ(GetLastError(), QUV_E_JOB_CONNECTION);
    QuvClosePort(h);
}

TEST(CorvanePorts, WriteThatNothingTakesTimesOut) {
    fakeprinter::Server server;
    // The printer reads nothing for the whole test.
    server.With([](fakeprinter::Engine &e) { e.defaults.readPauseMs = 60000; });
    ASSERT_TRUE(server.Start()) << server.error();
    QUVPORT h = nullptr;
    ASSERT_TRUE(QuvOpenPort(Address(server).c_str(), &h, 0));
    QuvSetPortTimeout(h, 300);
    ASSERT_TRUE(QuvStartJobPort(h));
    const std::string big(8 * 1024 * 1024, 'x');
    DWORD taken = 0;
    BOOL ok = QuvWritePort(h, big.data(), static_cast<DWORD>(big.size()), &taken, 0);
    ASSERT_TRUE(ok); // the socket buffers take a part
    EXPECT_LT(taken, big.size());
    EXPECT_GT(taken, 0u);
    DWORD more = 5;
    EXPECT_FALSE(QuvWritePort(h, big.data(), static_cast<DWORD>(big.size()), &more, 0));
    EXPECT_EQ(GetLastError(), QUV_E_TIMEOUT);
    EXPECT_EQ(more, 0u);
    QuvEndJobPort(h, FALSE);
    QuvClosePort(h);
}

TEST(CorvanePorts, LocalAccessIsNotAvailableByDefault) {
    EXPECT_FALSE(QuvIsAccessAvailable());
    EXPECT_EQ(GetLastError(), QUV_E_ACCESS_DENIED);
    HANDLE out = reinterpret_cast<HANDLE>(1);
    EXPECT_FALSE(QuvStartPrinterDiscovery(0, 0, nullptr, nullptr, nullptr, nullptr, &out));
    EXPECT_EQ(GetLastError(), QUV_E_INVALID_PARAMETER);
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(QuvClosePrinterDiscovery(nullptr));
    EXPECT_EQ(GetLastError(), QUV_E_INVALID_HANDLE);
}
