// brevan with the real tessyn and dorvik of the build's bin folder, against the fake printer on
// loopback. Each width uses its own addresses, so both widths may run at once.
#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "brevan.h"
#include "fake_printer.h"
#include "raw_reports.h"
#include "suite_paths.h"
#include "suite_pattern.h"
#include "tessyn.h"

namespace {

using brevantest::RawReports;
using brevantest::Report;
using fakeprinter::FakePrinter;
using suite::Pattern;

constexpr int kBaseOctet = sizeof(void *) == 8 ? 160 : 170;

std::string Address(int k) {
    return "127.0.0." + std::to_string(kBaseOctet + k);
}

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

struct CloseCall {
    QTcpIpAcc_IO_IF_t io;
    uint32_t handle;
    int32_t result;
    static DWORD WINAPI Run(void *param) {
        auto *c = static_cast<CloseCall *>(param);
        c->result = c->io(IPACC_CLOSE, c->handle, nullptr);
        return 0;
    }
};

class BrevanPeers : public ::testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        dll_ = LoadLibraryA(suite::BinPath("brevan.dll").c_str());
        ASSERT_NE(dll_, nullptr);
        io_ = reinterpret_cast<QTcpIpAcc_IO_IF_t>(
            reinterpret_cast<void *>(GetProcAddress(dll_, "QTcpIpAcc_IO_IF")));
        ASSERT_NE(io_, nullptr);
    }
    // After the last close neither transport stays loaded, and brevan unloads cleanly.
    void TearDown() override {
        if (!dll_)
            return;
        EXPECT_EQ(GetModuleHandleA("tessyn.dll"), nullptr);
        EXPECT_EQ(GetModuleHandleA("dorvik.dll"), nullptr);
        EXPECT_TRUE(FreeLibrary(dll_));
        WSACleanup();
    }

    int32_t Open(const FakePrinter &printer) {
        IpAccOpenBlock open{0, printer.Address().c_str(), printer.SnmpPort()};
        return io_(IPACC_OPEN, 0, &open);
    }
    void Start(FakePrinter &printer) {
        std::string error;
        ASSERT_TRUE(printer.Start(&error)) << error;
    }
    // Code 4 and its connect report.
    void Connect(uint32_t handle, RawReports &reports) {
        IpAccConnectBlock connect{RawReports::Callback, &reports};
        ASSERT_EQ(io_(IPACC_RAW_CONNECT, handle, &connect), 0);
        EXPECT_EQ(reports.WaitFinal(5000).status, QUV9100_CONNECTED);
        reports.Reset();
    }
    // Code 9 on a thread of its own; a close that does not return within 10 s is deadlocked,
    // and the process ends with a message rather than hang.
    int32_t CloseUnderWatchdog(int32_t handle) {
        CloseCall call{io_, static_cast<uint32_t>(handle), -100};
        HANDLE thread = CreateThread(nullptr, 0, CloseCall::Run, &call, 0, nullptr);
        if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0) {
            std::printf("code 9 deadlocked while a poll was answered\n");
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        CloseHandle(thread);
        return call.result;
    }
    std::string TempFile(const char *name) {
        return suite::TestDataDir() + "\\brevan_" + name + std::to_string(sizeof(void *));
    }

    HMODULE dll_ = nullptr;
    QTcpIpAcc_IO_IF_t io_ = nullptr;
};

TEST_F(BrevanPeers, ExportResolvesByNameAndOrdinal) {
    EXPECT_EQ(reinterpret_cast<void *>(GetProcAddress(dll_, MAKEINTRESOURCEA(1))),
              reinterpret_cast<void *>(io_));
}

TEST_F(BrevanPeers, StatusPollReachesTheAgentsValue) {
    FakePrinter printer(Address(0));
    Start(printer);
    const int32_t handle = Open(printer);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(io_(IPACC_STATUS, handle, nullptr), 0);
    int32_t status = 0;
    for (int i = 0; i < 30 && status != 17; ++i) {
        Sleep(100);
        status = io_(IPACC_STATUS, handle, nullptr);
    }
    EXPECT_EQ(status, 17);
    std::vector<fakeprinter::SnmpRequest> seen = printer.SnmpRequests();
    ASSERT_FALSE(seen.empty());
    for (const auto &r : seen) {
        EXPECT_EQ(r.community, fakeprinter::kCommunity);
        EXPECT_EQ(r.pduTag, 0xA0);
        EXPECT_EQ(r.oid, fakeprinter::kStatusOid);
    }
    EXPECT_EQ(io_(IPACC_CLOSE, handle, nullptr), 0);
}

TEST_F(BrevanPeers, BufferAndFileWritesAreByteExact) {
    FakePrinter printer(Address(1));
    Start(printer);
    const int32_t handle = Open(printer);
    ASSERT_GT(handle, 0);
    RawReports reports;
    Connect(handle, reports);

    // Asynchronous, with a count pointer and then without one (as the dispatcher sends).
    const std::string mib = Pattern(1 << 20, 1);
    for (bool withCount : {true, false}) {
        SCOPED_TRACE(withCount ? "count pointer" : "no count pointer");
        printer.Raw().Reset();
        int32_t count = -1;
        IpAccTransferBlock write{RawReports::Callback, &reports, const_cast<char *>(mib.data()),
                                 static_cast<int32_t>(mib.size()), withCount ? &count : nullptr};
        ASSERT_EQ(io_(IPACC_RAW_WRITE, handle, &write), 0);
        Report end = reports.WaitFinal(60000);
        EXPECT_EQ(end.status, QUV9100_WRITE_COMPLETE);
        EXPECT_EQ(end.wsaError, 0);
        EXPECT_EQ(end.bytesDone, 1 << 20);
        ASSERT_TRUE(printer.Raw().WaitForCount(mib.size(), 5000));
        EXPECT_TRUE(printer.Raw().Received() == mib);
        reports.Reset();
    }

    // One step per call in 16 KiB chunks: each count comes back through the block.
    printer.Raw().Reset();
    const std::string data = Pattern(40000, 2);
    size_t offset = 0;
    for (int calls = 0; offset < data.size() && calls < 200; ++calls) {
        int32_t count = -1;
        const int32_t chunk = static_cast<int32_t>(std::min<size_t>(data.size() - offset, 16384));
        IpAccTransferBlock step{nullptr, nullptr, const_cast<char *>(data.data() + offset), chunk,
                                &count};
        ASSERT_EQ(io_(IPACC_RAW_WRITE, handle, &step), 0);
        ASSERT_GE(count, 0);
        ASSERT_LE(count, chunk);
        offset += static_cast<size_t>(count);
    }
    EXPECT_EQ(offset, data.size());
    ASSERT_TRUE(printer.Raw().WaitForCount(data.size(), 5000));
    EXPECT_TRUE(printer.Raw().Received() == data);

    // A file.
    printer.Raw().Reset();
    const std::string path = TempFile("write.bin");
    const std::string file = Pattern(150000, 3);
    std::ofstream(path, std::ios::binary)
        .write(file.data(), static_cast<std::streamsize>(file.size()));
    IpAccFileBlock send{RawReports::Callback, &reports, path.c_str(), 0};
    ASSERT_EQ(io_(IPACC_RAW_WRITE_FILE, handle, &send), 0);
    Report end = reports.WaitFinal(60000);
    EXPECT_EQ(end.status, QUV9100_WRITE_COMPLETE);
    EXPECT_EQ(end.bytesDone, static_cast<int>(file.size()));
    ASSERT_TRUE(printer.Raw().WaitForCount(file.size(), 5000));
    EXPECT_TRUE(printer.Raw().Received() == file);
    std::remove(path.c_str());

    EXPECT_EQ(io_(IPACC_RAW_DISCONNECT, handle, nullptr), 0);
    EXPECT_EQ(io_(IPACC_CLOSE, handle, nullptr), 0);
}

TEST_F(BrevanPeers, ReadsAreByteExact) {
    const std::string reply = Pattern(30000, 4);
    sink9100::Options options;
    options.mode = sink9100::Mode::kReply;
    options.reply = {{reply, 0}};
    FakePrinter printer(Address(2), options);
    Start(printer);
    const int32_t handle = Open(printer);
    ASSERT_GT(handle, 0);
    RawReports reports;

    // One step per call.
    Connect(handle, reports);
    std::string got;
    std::vector<char> buffer(4096);
    for (int calls = 0; got.size() < reply.size() && calls < 300; ++calls) {
        int32_t count = -1;
        IpAccTransferBlock step{nullptr, nullptr, buffer.data(),
                                static_cast<int32_t>(buffer.size()), &count};
        ASSERT_EQ(io_(IPACC_RAW_READ, handle, &step), 0);
        ASSERT_GE(count, 0);
        got.append(buffer.data(), static_cast<size_t>(count));
        if (count == 0)
            Sleep(10);
    }
    EXPECT_TRUE(got == reply);
    EXPECT_EQ(io_(IPACC_RAW_DISCONNECT, handle, nullptr), 0);

    // A file of a given byte count, on a new connection.
    Connect(handle, reports);
    const std::string path = TempFile("read.bin");
    IpAccFileBlock receive{RawReports::Callback, &reports, path.c_str(),
                           static_cast<int32_t>(reply.size())};
    ASSERT_EQ(io_(IPACC_RAW_READ_FILE, handle, &receive), 0);
    Report end = reports.WaitFinal(60000);
    EXPECT_EQ(end.status, QUV9100_READ_COMPLETE);
    std::ifstream in(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    EXPECT_TRUE(file == reply) << file.size();
    std::remove(path.c_str());
    EXPECT_EQ(io_(IPACC_CLOSE, handle, nullptr), 0);
}

TEST_F(BrevanPeers, ProgressCancelAndDisconnectOnAStalledPrinter) {
    sink9100::Options stall;
    stall.mode = sink9100::Mode::kStall;
    FakePrinter printer(Address(3), stall);
    Start(printer);
    const int32_t handle = Open(printer);
    ASSERT_GT(handle, 0);
    RawReports reports;
    Connect(handle, reports);

    const std::string big = Pattern(32 << 20, 5);
    IpAccTransferBlock write{RawReports::Callback, &reports, const_cast<char *>(big.data()),
                             static_cast<int32_t>(big.size()), nullptr};
    ASSERT_EQ(io_(IPACC_RAW_WRITE, handle, &write), 0);
    int32_t done = 0;
    for (int i = 0; i < 50 && done <= 4; ++i) {
        Sleep(100);
        done = io_(IPACC_RAW_PROGRESS, handle, nullptr);
    }
    EXPECT_GT(done, 4);
    EXPECT_LT(done, static_cast<int32_t>(big.size()));

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(io_(IPACC_RAW_CANCEL, handle, nullptr), 0);
    EXPECT_LT(MsSince(start), 1500) << "the cancel waited for the stalled transfer";
    EXPECT_EQ(io_(IPACC_CLOSE, handle, nullptr), 0);
}

// Code 8, and code 12 then 9, both close the connection at the printer.
TEST_F(BrevanPeers, ConnectionClosesAtThePrinter) {
    sink9100::Options track;
    track.mode = sink9100::Mode::kTrack;
    FakePrinter printer(Address(4), track);
    Start(printer);
    const int32_t handle = Open(printer);
    ASSERT_GT(handle, 0);
    RawReports reports;

    Connect(handle, reports);
    ASSERT_TRUE(printer.Raw().WaitForAccepted(1, 3000));
    EXPECT_EQ(io_(IPACC_RAW_DISCONNECT, handle, nullptr), 0);
    EXPECT_TRUE(printer.Raw().WaitForClose(0, 5000));

    Connect(handle, reports);
    ASSERT_TRUE(printer.Raw().WaitForAccepted(2, 3000));
    EXPECT_EQ(io_(IPACC_RAW_CANCEL, handle, nullptr), 0);
    EXPECT_FALSE(printer.Raw().Record(1).closeSeen);
    EXPECT_EQ(io_(IPACC_CLOSE, handle, nullptr), 0);
    EXPECT_TRUE(printer.Raw().WaitForClose(1, 5000));
}

TEST_F(BrevanPeers, RefusedConnectIsReportedAndTheSessionCloses) {
    // Nothing listens on 9100 at this address; the agent alone answers.
    FakePrinter printer(Address(5));
    Start(printer);
    printer.Raw().Stop();
    const int32_t handle = Open(printer);
    ASSERT_GT(handle, 0);
    RawReports reports;
    IpAccConnectBlock connect{RawReports::Callback, &reports};
    ASSERT_EQ(io_(IPACC_RAW_CONNECT, handle, &connect), 0);
    EXPECT_EQ(reports.WaitFinal(10000).status, QUV9100_E_CONNECT);
    EXPECT_EQ(io_(IPACC_CLOSE, handle, nullptr), 0);
}

// Code 9 while a poll is pending: to a silent agent around the moment its last time-out ends,
// and to an agent whose answer arrives around the moment of the close.
TEST_F(BrevanPeers, CloseDuringAPendingPollReturns) {
    FakePrinter printer(Address(6));
    Start(printer);
    struct Case {
        bool silent;
        int offsetMs;
    };
    std::vector<Case> cases = {{true, 0},    {true, 900},  {true, 980},
                               {true, 1000}, {true, 1020}, {true, 1100}};
    // The answer's arrival is not exact: several closes around it.
    for (int offsetMs = 280; offsetMs <= 320; offsetMs += 10)
        cases.push_back({false, offsetMs});
    printer.SetAnswerDelay(300);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.silent ? "silent, " : "answering, ") +
                     std::to_string(c.offsetMs));
        printer.SetSilent(c.silent);
        const int32_t handle = Open(printer);
        ASSERT_GT(handle, 0);
        EXPECT_EQ(io_(IPACC_STATUS, handle, nullptr), 0);
        Sleep(static_cast<DWORD>(c.offsetMs));
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(CloseUnderWatchdog(handle), 0);
        EXPECT_LT(MsSince(start), 1500);
    }
}

// The dispatcher's pass-through: a SetRequest in the caller's own descriptor.
struct Answer {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int pduTag = 0;
    int type = 0;
    int32_t value = 0;
    ~Answer() { CloseHandle(event); }
    static void TESSYN_CALL Procedure(void *context, const SnmpMessageDesc *info) {
        auto *self = static_cast<Answer *>(context);
        if (info && info->varBindCount >= 1) {
            self->pduTag = info->pduType;
            self->type = info->varBinds[0].type;
            if (info->varBinds[0].value)
                self->value = *static_cast<const int32_t *>(info->varBinds[0].value);
        }
        SetEvent(self->event);
    }
};

TEST_F(BrevanPeers, PostsTheCallersSetRequest) {
    FakePrinter printer(Address(7));
    Start(printer);
    const int32_t handle = Open(printer);
    ASSERT_GT(handle, 0);
    Answer answer;
    const int32_t one = 1;
    SnmpVarBind bind{fakeprinter::kTestOid, TESSYN_TYPE_INTEGER, 4, &one};
    const std::string host = printer.Address();
    SnmpMessageDesc desc{};
    desc.host = host.c_str();
    desc.port = printer.SnmpPort();
    desc.pduType = 0xA3;
    desc.timeouts[0] = 5000;
    desc.timeouts[1] = 3000;
    desc.timeouts[2] = 1000;
    desc.varBindCount = 1;
    desc.varBinds = &bind;
    desc.responseProc = Answer::Procedure;
    desc.responseContext = &answer;
    IpAccSnmpBlock block{&desc};
    ASSERT_EQ(io_(IPACC_POST_SNMP, handle, &block), 0);
    ASSERT_EQ(WaitForSingleObject(answer.event, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(answer.pduTag, 0xA2);
    EXPECT_EQ(answer.type, TESSYN_TYPE_INTEGER);
    EXPECT_EQ(answer.value, 1);
    std::vector<fakeprinter::SnmpRequest> seen = printer.SnmpRequests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].pduTag, 0xA3);
    EXPECT_EQ(seen[0].oid, fakeprinter::kTestOid);
    EXPECT_EQ(seen[0].value, std::vector<uint8_t>{1});
    EXPECT_EQ(io_(IPACC_CLOSE, handle, nullptr), 0);
}

} // namespace
