// dorvik.dll under Wine against the in-process sink on 127.0.0.N:9100.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "dorvik.h"
#include "sink9100.h"
#include "suite_paths.h"
#include "win_owners.h"

namespace {

using Clock = std::chrono::steady_clock;
using sink9100::Burst;
using sink9100::Mode;
using sink9100::Options;
using sink9100::Sink;

// Each width has its own sink address, so both widths' tests may run at once.
const std::string kHost = sizeof(void *) == 8 ? "127.0.0.64" : "127.0.0.32";
const std::string kHostLeadingZero = sizeof(void *) == 8 ? "127.0.0.064" : "127.0.0.032";
const std::string kHostEmptyPart = sizeof(void *) == 8 ? "127.0..64" : "127.0..32";
// Nothing listens here.
const std::string kNoListener = sizeof(void *) == 8 ? "127.0.1.64" : "127.0.1.32";

constexpr unsigned kWaitMs = 20000; // for things that happen at once unless broken

struct Api {
    HMODULE dll = nullptr;
    Quv9100_OpenFn Open = nullptr;
    Quv9100_CloseFn Close = nullptr;
    Quv9100_WriteFn Write = nullptr;
    Quv9100_WriteFileFn WriteFile = nullptr;
    Quv9100_ReadFn Read = nullptr;
    Quv9100_ReadFileFn ReadFile = nullptr;
    Quv9100_ProgressFn Progress = nullptr;
    Quv9100_CancelFn Cancel = nullptr;

    bool Load() {
        dll = LoadLibraryA(suite::BinPath("dorvik.dll").c_str());
        if (!dll)
            return false;
        Open = Bind<Quv9100_OpenFn>("Quv9100_Open");
        Close = Bind<Quv9100_CloseFn>("Quv9100_Close");
        Write = Bind<Quv9100_WriteFn>("Quv9100_Write");
        WriteFile = Bind<Quv9100_WriteFileFn>("Quv9100_WriteFile");
        Read = Bind<Quv9100_ReadFn>("Quv9100_Read");
        ReadFile = Bind<Quv9100_ReadFileFn>("Quv9100_ReadFile");
        Progress = Bind<Quv9100_ProgressFn>("Quv9100_Progress");
        Cancel = Bind<Quv9100_CancelFn>("Quv9100_Cancel");
        return Open && Close && Write && WriteFile && Read && ReadFile && Progress && Cancel;
    }
    void Free() {
        if (dll)
            FreeLibrary(dll);
        dll = nullptr;
    }
    template <class Fn> Fn Bind(const char *name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(dll, name)));
    }
};

struct Report {
    int status;
    int wsaError;
    int bytesDone;
    bool hasCancel;
    Clock::time_point when;
};

// Collects the reports of one callback; optionally cancels through the flag. The callback
// runs on dorvik's threads, which the runtime's thread library did not start, so the record is
// guarded by a critical section rather than std::mutex.
class Recorder {
  public:
    Recorder() { InitializeCriticalSection(&lock_); }
    ~Recorder() { DeleteCriticalSection(&lock_); }
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    static void QUV9100_CALL Callback(Raw9100Event *event, void *user) {
        static_cast<Recorder *>(user)->Take(event);
    }

    void Take(Raw9100Event *event) {
        if (sleepMs)
            Sleep(sleepMs);
        win::SectionLock hold(lock_);
        reports_.push_back({event->status, event->wsaError, event->bytesDone,
                            event->cancel != nullptr, Clock::now()});
        if (event->cancel && cancelAtProgress > 0 && ++progressSeen_ >= cancelAtProgress)
            *event->cancel = 1;
    }

    // The first report without a cancel pointer (a connect or final report).
    bool WaitFinal(Report *out, unsigned timeoutMs = kWaitMs) {
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            for (const Report &r : Reports())
                if (!r.hasCancel) {
                    *out = r;
                    return true;
                }
            if (Clock::now() >= end)
                return false;
            Sleep(5);
        }
    }

    std::vector<Report> Reports() {
        win::SectionLock hold(lock_);
        return reports_;
    }
    int Finals() {
        const std::vector<Report> reports = Reports();
        return static_cast<int>(std::count_if(reports.begin(), reports.end(),
                                              [](const Report &r) { return !r.hasCancel; }));
    }

    unsigned sleepMs = 0;
    int cancelAtProgress = 0;

  private:
    CRITICAL_SECTION lock_;
    std::vector<Report> reports_;
    int progressSeen_ = 0;
};

Options WithMode(Mode mode) {
    Options options;
    options.mode = mode;
    return options;
}

std::string Pattern(std::size_t size, unsigned seed = 1) {
    std::string s(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (char &c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

std::string TestFile(const std::string &name) {
    return suite::TestDataDir() + "\\dorvik-" + std::to_string(sizeof(void *) * 8) + "-" + name;
}

void WriteWholeFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class Dorvik : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(api.Load()) << "dorvik.dll: " << GetLastError(); }
    void TearDown() override {
        for (const std::string &host : opened_)
            api.Close(host.c_str());
        api.Free();
    }

    void StartSink(Options options, const std::string &address = kHost) {
        sink_ = std::make_unique<Sink>(address, std::move(options));
        std::string error;
        ASSERT_TRUE(sink_->Start(&error)) << error;
    }

    // Opens host and waits for its connect report.
    Report OpenAndWait(const std::string &host, Recorder &connect) {
        EXPECT_EQ(api.Open(host.c_str(), &Recorder::Callback, &connect), QUV9100_OK) << host;
        opened_.push_back(host);
        Report report{};
        EXPECT_TRUE(connect.WaitFinal(&report)) << host;
        return report;
    }
    void Connect(const std::string &host = kHost) {
        Recorder connect;
        const Report report = OpenAndWait(host, connect);
        ASSERT_EQ(report.status, QUV9100_CONNECTED) << host << " WSA " << report.wsaError;
    }

    Api api;
    std::unique_ptr<Sink> sink_;
    std::vector<std::string> opened_;
};

TEST_F(Dorvik, ExportsCarryOrdinalsOneToEightInOrder) {
    const char *names[] = {"Quv9100_Open",      "Quv9100_Close", "Quv9100_Write",
                           "Quv9100_WriteFile", "Quv9100_Read",  "Quv9100_ReadFile",
                           "Quv9100_Progress",  "Quv9100_Cancel"};
    for (int ordinal = 1; ordinal <= 8; ++ordinal) {
        FARPROC byName = GetProcAddress(api.dll, names[ordinal - 1]);
        ASSERT_NE(byName, nullptr) << names[ordinal - 1];
        EXPECT_EQ(GetProcAddress(api.dll, MAKEINTRESOURCEA(ordinal)), byName) << ordinal;
    }
}

TEST_F(Dorvik, MalformedHostTextsReportMinus6AndAnEmptyPartCountsAsZero) {
    const std::string malformed[] = {
        "printer", "1.2.3", "1.2.3.4.5", "1.2.3.256", "127.0.0.0000000000000064", ""};
    for (const std::string &host : malformed) {
        Recorder connect;
        const Report report = OpenAndWait(host, connect);
        EXPECT_EQ(report.status, QUV9100_E_HOST) << host;
        EXPECT_EQ(report.bytesDone, 0);
        EXPECT_FALSE(report.hasCancel);
        // A failed session stays until closed; a transfer on it fails in its first step.
        int length = 1;
        EXPECT_EQ(api.Write(host.c_str(), "x", &length, nullptr, nullptr), QUV9100_E_SEND) << host;
    }
    StartSink({});
    Connect(kHostEmptyPart);
    EXPECT_TRUE(sink_->WaitForAccepted(1, kWaitMs));
}

TEST_F(Dorvik, NullHostCountsAsTheEmptyText) {
    EXPECT_EQ(api.Close(nullptr), QUV9100_E_NO_SESSION);
    Recorder connect;
    ASSERT_EQ(api.Open(nullptr, &Recorder::Callback, &connect), QUV9100_OK);
    Report report{};
    ASSERT_TRUE(connect.WaitFinal(&report));
    EXPECT_EQ(report.status, QUV9100_E_HOST);
    EXPECT_EQ(api.Open("", &Recorder::Callback, &connect), QUV9100_E_EXISTS);
    EXPECT_EQ(api.Close(nullptr), QUV9100_OK);
}

TEST_F(Dorvik, SessionsAreKeyedByTheExactText) {
    StartSink({});
    Connect(kHost);
    Recorder again;
    EXPECT_EQ(api.Open(kHost.c_str(), &Recorder::Callback, &again), QUV9100_E_EXISTS);
    Connect(kHostLeadingZero); // the same printer under another text
    EXPECT_TRUE(sink_->WaitForAccepted(2, kWaitMs));
    EXPECT_EQ(api.Progress(kHost.c_str()), 0);

    // Every export refuses an unknown text, also once the session is closed.
    const std::string unknown[] = {"127.0.0.99", kHost};
    EXPECT_EQ(api.Close(kHost.c_str()), QUV9100_OK);
    for (const std::string &host : unknown) {
        const char *h = host.c_str();
        char buffer[4];
        int length = 4;
        EXPECT_EQ(api.Close(h), QUV9100_E_NO_SESSION) << h;
        EXPECT_EQ(api.Write(h, buffer, &length, nullptr, nullptr), QUV9100_E_NO_SESSION) << h;
        EXPECT_EQ(api.WriteFile(h, "x", nullptr, nullptr), QUV9100_E_NO_SESSION) << h;
        EXPECT_EQ(api.Read(h, buffer, &length, nullptr, nullptr), QUV9100_E_NO_SESSION) << h;
        EXPECT_EQ(api.ReadFile(h, "x", 1, nullptr, nullptr), QUV9100_E_NO_SESSION) << h;
        EXPECT_EQ(api.Progress(h), QUV9100_E_NO_SESSION) << h;
        EXPECT_EQ(api.Cancel(h), QUV9100_E_NO_SESSION) << h;
    }
    EXPECT_EQ(api.Progress(kHostLeadingZero.c_str()), 0);
}

TEST_F(Dorvik, ConnectReports) {
    Recorder refused;
    const Report report = OpenAndWait(kNoListener, refused);
    EXPECT_EQ(report.status, QUV9100_E_CONNECT);
    EXPECT_EQ(report.wsaError, WSAECONNREFUSED);

    // A close during the connect returns only after the report.
    StartSink({});
    Recorder slow;
    slow.sleepMs = 300;
    ASSERT_EQ(api.Open(kHost.c_str(), &Recorder::Callback, &slow), QUV9100_OK);
    EXPECT_EQ(api.Close(kHost.c_str()), QUV9100_OK);
    ASSERT_EQ(slow.Reports().size(), 1u);
    EXPECT_EQ(slow.Reports()[0].status, QUV9100_CONNECTED);

    // No callback: it still connects, and says nothing.
    ASSERT_EQ(api.Open(kHost.c_str(), nullptr, nullptr), QUV9100_OK);
    opened_.push_back(kHost);
    int length = 3;
    EXPECT_EQ(api.Write(kHost.c_str(), "abc", &length, nullptr, nullptr), QUV9100_WRITE_COMPLETE);
    EXPECT_TRUE(sink_->WaitForCount(3, kWaitMs));
}

TEST_F(Dorvik, BadArgumentsAreRefusedWithTheirCodes) {
    StartSink({});
    Connect();
    const char *h = kHost.c_str();
    int negative = -1;
    int some = 5;
    char buffer[8];
    EXPECT_EQ(api.Write(h, nullptr, &some, nullptr, nullptr), QUV9100_E_ARGUMENT);
    EXPECT_EQ(api.Write(h, buffer, nullptr, nullptr, nullptr), QUV9100_E_ARGUMENT);
    EXPECT_EQ(api.Write(h, buffer, &negative, nullptr, nullptr), QUV9100_E_ARGUMENT);
    EXPECT_EQ(api.Read(h, nullptr, &some, nullptr, nullptr), QUV9100_E_ARGUMENT);
    EXPECT_EQ(api.Read(h, buffer, nullptr, nullptr, nullptr), QUV9100_E_ARGUMENT);
    EXPECT_EQ(api.Read(h, buffer, &negative, &Recorder::Callback, nullptr), QUV9100_E_ARGUMENT);
    EXPECT_EQ(api.ReadFile(h, TestFile("neg").c_str(), -1, nullptr, nullptr), QUV9100_E_ARGUMENT);
    EXPECT_EQ(api.WriteFile(h, nullptr, nullptr, nullptr), QUV9100_E_FILE_SETUP);
    EXPECT_EQ(api.ReadFile(h, nullptr, 1, nullptr, nullptr), QUV9100_E_FILE_OPEN);
    EXPECT_EQ(api.WriteFile(h, TestFile("missing").c_str(), nullptr, nullptr),
              QUV9100_E_FILE_SETUP);
    const std::string unwritable = suite::TestDataDir() + "\\no-such-folder\\x.bin";
    EXPECT_EQ(api.ReadFile(h, unwritable.c_str(), 1, nullptr, nullptr), QUV9100_E_FILE_OPEN);
    // None of it disturbed the session: a NULL buffer is fine for a length of 0.
    int zero = 0;
    EXPECT_EQ(api.Write(h, nullptr, &zero, nullptr, nullptr), QUV9100_WRITE_COMPLETE);
    EXPECT_EQ(zero, 0);
    EXPECT_EQ(api.Progress(h), 0);
    EXPECT_EQ(sink_->Count(), 0u);
}

TEST_F(Dorvik, AFileBeyondTheByteCountFailsItsSetup) {
    StartSink({});
    Connect();
    // A sparse file of 2 GiB: its size does not fit the i32 bytes-done count.
    const std::string path = TestFile("huge");
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 1ll << 31;
    const bool sized = SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    ASSERT_TRUE(sized);
    Recorder job;
    EXPECT_EQ(api.WriteFile(kHost.c_str(), path.c_str(), &Recorder::Callback, &job),
              QUV9100_E_FILE_SETUP);
    EXPECT_EQ(api.WriteFile(kHost.c_str(), path.c_str(), nullptr, nullptr), QUV9100_E_FILE_SETUP);
    DeleteFileA(path.c_str());
    EXPECT_EQ(job.Reports().size(), 0u);
    EXPECT_EQ(sink_->Count(), 0u);
    int length = 2;
    EXPECT_EQ(api.Write(kHost.c_str(), "ok", &length, nullptr, nullptr), QUV9100_WRITE_COMPLETE);
}

TEST_F(Dorvik, AsynchronousWriteArrivesWholeAndReportsInOrder) {
    StartSink({});
    Connect();
    const std::string data = Pattern(8 << 20); // more than the loopback takes at once
    std::string copy = data;
    Recorder job;
    int length = static_cast<int>(copy.size());
    ASSERT_EQ(api.Write(kHost.c_str(), copy.data(), &length, &Recorder::Callback, &job), 0);
    std::fill(copy.begin(), copy.end(), 'x'); // the job has its own copy
    Report final{};
    ASSERT_TRUE(job.WaitFinal(&final, 60000));
    EXPECT_EQ(final.status, QUV9100_WRITE_COMPLETE);
    EXPECT_EQ(final.wsaError, 0);
    EXPECT_EQ(final.bytesDone, static_cast<int>(data.size()));
    ASSERT_TRUE(sink_->WaitForCount(data.size(), kWaitMs));
    EXPECT_TRUE(sink_->Received() == data);

    const std::vector<Report> reports = job.Reports();
    ASSERT_FALSE(reports.back().hasCancel);
    int last = 0;
    for (std::size_t i = 0; i + 1 < reports.size(); ++i) {
        EXPECT_TRUE(reports[i].hasCancel) << i;
        EXPECT_EQ(reports[i].status, 0);
        EXPECT_GE(reports[i].bytesDone, last);
        last = reports[i].bytesDone;
    }
    EXPECT_EQ(job.Finals(), 1);
    EXPECT_EQ(api.Progress(kHost.c_str()), 0);
}

TEST_F(Dorvik, SingleStepWritesInChunksAsTheDispatcherCalls) {
    StartSink({});
    Connect();
    const char *h = kHost.c_str();
    int zero = 0;
    EXPECT_EQ(api.Write(h, "", &zero, nullptr, nullptr), QUV9100_WRITE_COMPLETE);
    EXPECT_EQ(zero, 0);

    const std::string data = Pattern(300000, 7);
    std::size_t sent = 0;
    for (int calls = 0; sent < data.size() && calls < 100000; ++calls) {
        int length = static_cast<int>(std::min<std::size_t>(16384, data.size() - sent));
        const int want = length;
        const int status = api.Write(h, data.data() + sent, &length, nullptr, nullptr);
        ASSERT_TRUE(status == 0 || status == QUV9100_WRITE_COMPLETE) << status;
        ASSERT_GE(length, 0);
        ASSERT_LE(length, want);
        EXPECT_EQ(status == QUV9100_WRITE_COMPLETE, length == want);
        sent += static_cast<std::size_t>(length);
        ASSERT_EQ(api.Progress(h), 0); // no job between calls
    }
    ASSERT_EQ(sent, data.size());
    ASSERT_TRUE(sink_->WaitForCount(data.size(), kWaitMs));
    EXPECT_TRUE(sink_->Received() == data);
}

// A printer that stops reading: a single step that moves nothing reports 0 bytes, and the
// caller's next call, from where it stopped, goes on with the right bytes.
TEST_F(Dorvik, SingleStepAfterAWouldBlockSendsFromWhereTheCallerStands) {
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    struct Sockets {
        SOCKET listener = INVALID_SOCKET, peer = INVALID_SOCKET;
        ~Sockets() {
            if (peer != INVALID_SOCKET)
                closesocket(peer);
            if (listener != INVALID_SOCKET)
                closesocket(listener);
            WSACleanup();
        }
    } s;
    // A printer of the test's own, read by the test between the calls.
    s.listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(s.listener, INVALID_SOCKET);
    BOOL reuse = TRUE;
    setsockopt(s.listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse),
               sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(9100);
    address.sin_addr.s_addr = inet_addr(kHost.c_str());
    ASSERT_EQ(bind(s.listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0)
        << WSAGetLastError();
    ASSERT_EQ(listen(s.listener, 1), 0);
    Connect();
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s.listener, &set);
    timeval wait{20, 0};
    ASSERT_EQ(select(0, &set, nullptr, nullptr, &wait), 1);
    s.peer = accept(s.listener, nullptr, nullptr);
    ASSERT_NE(s.peer, INVALID_SOCKET);
    u_long nonBlocking = 1;
    ASSERT_EQ(ioctlsocket(s.peer, FIONBIO, &nonBlocking), 0);

    const char *h = kHost.c_str();
    const std::string data = Pattern(16 << 20, 3); // more than both socket buffers hold
    std::string received;
    auto drain = [&] {
        char chunk[65536];
        int n;
        while ((n = recv(s.peer, chunk, sizeof chunk, 0)) > 0)
            received.append(chunk, static_cast<std::size_t>(n));
    };
    std::size_t sent = 0;
    bool blocked = false;
    int status = 0;
    for (int calls = 0; status == 0 && calls < 200000; ++calls) {
        int length = static_cast<int>(data.size() - sent);
        status = api.Write(h, data.data() + sent, &length, nullptr, nullptr);
        ASSERT_TRUE(status == 0 || status == QUV9100_WRITE_COMPLETE) << status;
        ASSERT_GE(length, 0);
        sent += static_cast<std::size_t>(length);
        ASSERT_LE(sent, data.size());
        if (length == 0) {
            ASSERT_EQ(status, 0);
            blocked = true;
        }
        if (blocked)
            drain(); // the printer reads again only once the sender has stalled
    }
    ASSERT_TRUE(blocked) << "the socket never refused bytes";
    ASSERT_EQ(status, QUV9100_WRITE_COMPLETE);
    ASSERT_EQ(sent, data.size());
    for (int polls = 0; received.size() < data.size() && polls < 4000; ++polls) {
        drain();
        if (received.size() < data.size())
            Sleep(5);
    }
    ASSERT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST_F(Dorvik, SingleStepReadsCollectTheReplyAndLengthZeroCompletesAtOnce) {
    const std::string reply = Pattern(50000, 3);
    StartSink({Mode::kReply, {{reply.substr(0, 20000), 50}, {reply.substr(20000), 200}}});
    Connect();
    const char *h = kHost.c_str();
    int zero = 0;
    EXPECT_EQ(api.Read(h, nullptr, &zero, nullptr, nullptr), QUV9100_READ_COMPLETE);
    EXPECT_EQ(zero, 0);

    std::string got(reply.size(), '\0');
    std::size_t received = 0;
    int status = 0;
    for (int calls = 0; calls < 20000 && status == 0; ++calls) {
        int length = static_cast<int>(got.size() - received);
        status = api.Read(h, got.data() + received, &length, nullptr, nullptr);
        ASSERT_GE(status, 0);
        received += static_cast<std::size_t>(length);
        ASSERT_EQ(api.Progress(h), 0);
        if (status == 0)
            Sleep(1);
    }
    EXPECT_EQ(status, QUV9100_READ_COMPLETE);
    EXPECT_EQ(received, reply.size());
    EXPECT_TRUE(got == reply);

    Recorder job;
    int none = 0;
    ASSERT_EQ(api.Read(h, nullptr, &none, &Recorder::Callback, &job), 0);
    Report final{};
    ASSERT_TRUE(job.WaitFinal(&final));
    EXPECT_EQ(final.status, QUV9100_READ_COMPLETE);
    EXPECT_EQ(final.bytesDone, 0);
}

TEST_F(Dorvik, AnEarlyCloseEndsAReadWithMinus8AndTheTrueCount) {
    StartSink({Mode::kReply, {{std::string(40, 'r'), 0}}, true});
    Connect();
    char buffer[100];
    int length = sizeof buffer;
    Recorder job;
    ASSERT_EQ(api.Read(kHost.c_str(), buffer, &length, &Recorder::Callback, &job), 0);
    Report final{};
    ASSERT_TRUE(job.WaitFinal(&final));
    EXPECT_EQ(final.status, QUV9100_E_RECEIVE);
    EXPECT_EQ(final.bytesDone, 40);
    EXPECT_EQ(std::string(buffer, 40), std::string(40, 'r'));
    // The session stays usable: a further read fails the same way rather than hanging.
    length = sizeof buffer;
    EXPECT_EQ(api.Read(kHost.c_str(), buffer, &length, nullptr, nullptr), QUV9100_E_RECEIVE);
    EXPECT_EQ(length, 0);
}

TEST_F(Dorvik, AnIdleReadReportsOncePerSecondAndNotAtItsFirstStep) {
    StartSink({Mode::kReply, {}});
    Connect();
    char buffer[16];
    int length = sizeof buffer;
    Recorder job;
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(api.Read(kHost.c_str(), buffer, &length, &Recorder::Callback, &job), 0);
    for (int i = 0; i < 100 && job.Reports().size() < 2; ++i)
        Sleep(50);
    Sleep(200);
    EXPECT_EQ(api.Cancel(kHost.c_str()), 0);
    const std::vector<Report> reports = job.Reports();
    ASSERT_GE(reports.size(), 2u);
    for (const Report &r : reports) {
        EXPECT_TRUE(r.hasCancel); // progress only: a cancel makes no final report
        EXPECT_EQ(r.bytesDone, 0);
    }
    const auto at = [&](const Report &r) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(r.when - start).count();
    };
    EXPECT_GE(at(reports[0]), 900);
    EXPECT_GE(at(reports[1]) - at(reports[0]), 900);
}

TEST_F(Dorvik, FileWritesArriveByteForByte) {
    StartSink({});
    Connect();
    std::uint64_t expected = 0;
    for (const std::size_t size : {0u, 1u, 16383u, 16385u, 100000u}) {
        const std::string data = Pattern(size, static_cast<unsigned>(size));
        const std::string path = TestFile("send-" + std::to_string(size));
        WriteWholeFile(path, data);
        Recorder job;
        ASSERT_EQ(api.WriteFile(kHost.c_str(), path.c_str(), &Recorder::Callback, &job), 0);
        Report final{};
        ASSERT_TRUE(job.WaitFinal(&final, 60000)) << size;
        EXPECT_EQ(final.status, QUV9100_WRITE_COMPLETE) << size;
        EXPECT_EQ(final.bytesDone, static_cast<int>(size));
        if (size == 0) { // the first step ends it
            EXPECT_EQ(job.Reports().size(), 1u);
        }
        expected += size;
        ASSERT_TRUE(sink_->WaitForCount(expected, kWaitMs)) << size;
        EXPECT_TRUE(sink_->Received().substr(expected - size) == data) << size;
    }
    EXPECT_EQ(sink_->Count(), expected);
    // An empty file in single-step mode ends at its first call.
    const std::string empty = TestFile("send-0");
    EXPECT_EQ(api.WriteFile(kHost.c_str(), empty.c_str(), nullptr, nullptr),
              QUV9100_WRITE_COMPLETE);
    EXPECT_EQ(api.Progress(kHost.c_str()), 0);
}

TEST_F(Dorvik, AFileReadOfNBytesStoresExactlyNAndLeavesTheRest) {
    for (const std::size_t size : {1u, 16383u, 16385u, 100000u}) {
        const std::string reply = Pattern(size + 10, static_cast<unsigned>(size) + 1);
        StartSink({Mode::kReply, {{reply, 0}}});
        Connect();
        const std::string path = TestFile("receive-" + std::to_string(size));
        Recorder job;
        ASSERT_EQ(api.ReadFile(kHost.c_str(), path.c_str(), static_cast<int>(size),
                               &Recorder::Callback, &job),
                  0);
        Report final{};
        ASSERT_TRUE(job.WaitFinal(&final, 60000)) << size;
        EXPECT_EQ(final.status, QUV9100_READ_COMPLETE) << size;
        EXPECT_EQ(final.bytesDone, static_cast<int>(size));
        EXPECT_TRUE(ReadWholeFile(path) == reply.substr(0, size)) << size;
        // The 10 extra bytes are the next read's.
        char rest[10];
        std::size_t got = 0;
        for (int calls = 0; calls < 5000 && got < sizeof rest; ++calls) {
            int length = static_cast<int>(sizeof rest - got);
            ASSERT_GE(api.Read(kHost.c_str(), rest + got, &length, nullptr, nullptr), 0);
            got += static_cast<std::size_t>(length);
            Sleep(1);
        }
        EXPECT_EQ(std::string(rest, got), reply.substr(size)) << size;
        EXPECT_EQ(api.Close(kHost.c_str()), 0);
        opened_.clear();
        sink_.reset();
    }
}

TEST_F(Dorvik, AFileReadWithCountZeroEndsAtTheFirstReceive) {
    StartSink({Mode::kReply, {{"hello", 0}, {"later", 1500}}});
    Connect();
    const std::string path = TestFile("receive-any");
    Recorder job;
    ASSERT_EQ(api.ReadFile(kHost.c_str(), path.c_str(), 0, &Recorder::Callback, &job), 0);
    Report final{};
    ASSERT_TRUE(job.WaitFinal(&final));
    EXPECT_EQ(final.status, QUV9100_READ_COMPLETE);
    EXPECT_EQ(final.bytesDone, 5);
    EXPECT_EQ(ReadWholeFile(path), "hello");
}

TEST_F(Dorvik, SingleStepFileJobsContinueWhereTheyStopped) {
    StartSink({});
    Connect();
    const char *h = kHost.c_str();
    const std::string data = Pattern(100000, 11);
    const std::string path = TestFile("step-send");
    const std::string other = TestFile("step-other");
    WriteWholeFile(path, data);
    WriteWholeFile(other, "other");
    int status = 0;
    int calls = 0;
    bool checkedBusy = false;
    for (; calls < 100000 && status == 0; ++calls) {
        status = api.WriteFile(h, path.c_str(), nullptr, nullptr);
        if (status == 0 && !checkedBusy) {
            // Meanwhile the job stays attached: other transfers are refused, Progress sees it.
            int length = 1;
            EXPECT_EQ(api.Write(h, "x", &length, nullptr, nullptr), QUV9100_E_BUSY);
            EXPECT_EQ(api.WriteFile(h, other.c_str(), nullptr, nullptr), QUV9100_E_BUSY);
            EXPECT_EQ(api.ReadFile(h, other.c_str(), 1, nullptr, nullptr), QUV9100_E_BUSY);
            EXPECT_EQ(ReadWholeFile(other), "other"); // not truncated by the refused read
            EXPECT_GT(api.Progress(h), 0);
            checkedBusy = true;
        }
    }
    ASSERT_EQ(status, QUV9100_WRITE_COMPLETE);
    EXPECT_GT(calls, 1);
    EXPECT_TRUE(checkedBusy);
    EXPECT_EQ(api.Progress(h), 0);
    ASSERT_TRUE(sink_->WaitForCount(data.size(), kWaitMs));
    Sleep(100);
    EXPECT_EQ(sink_->Count(), data.size()); // exactly once
    EXPECT_TRUE(sink_->Received() == data);

    // Cancel drops a job that is still attached; the next call starts afresh.
    ASSERT_EQ(api.WriteFile(h, path.c_str(), nullptr, nullptr), 0);
    EXPECT_GT(api.Progress(h), 0);
    EXPECT_EQ(api.Cancel(h), 0);
    EXPECT_EQ(api.Progress(h), 0);
    int length = 1;
    EXPECT_EQ(api.Write(h, "z", &length, nullptr, nullptr), QUV9100_WRITE_COMPLETE);
}

TEST_F(Dorvik, SingleStepFileReadGivesTheWholeFile) {
    const std::string reply = Pattern(300000, 5);
    StartSink({Mode::kReply,
               {{reply.substr(0, 100000), 0},
                {reply.substr(100000, 100000), 100},
                {reply.substr(200000), 100}}});
    Connect();
    const std::string path = TestFile("step-receive");
    int status = 0;
    for (int calls = 0; calls < 100000 && status == 0; ++calls) {
        status = api.ReadFile(kHost.c_str(), path.c_str(), static_cast<int>(reply.size()), nullptr,
                              nullptr);
        if (status == 0)
            Sleep(1);
    }
    ASSERT_EQ(status, QUV9100_READ_COMPLETE);
    EXPECT_TRUE(ReadWholeFile(path) == reply);
}

TEST_F(Dorvik, AStalledPrinterCanStillBeCancelledAndClosed) {
    StartSink(WithMode(Mode::kStall));
    Connect();
    const char *h = kHost.c_str();
    const std::string data = Pattern(16 << 20);
    Recorder job;
    int length = static_cast<int>(data.size());
    ASSERT_EQ(api.Write(h, data.data(), &length, &Recorder::Callback, &job), 0);
    int progress = 0;
    for (int i = 0; i < 200 && progress <= 4; ++i) {
        Sleep(50);
        progress = api.Progress(h);
    }
    EXPECT_GT(progress, 4);
    EXPECT_LT(progress, length);
    int one = 1;
    EXPECT_EQ(api.Write(h, "x", &one, nullptr, nullptr), QUV9100_E_BUSY);
    EXPECT_EQ(api.Progress(h), progress); // the running job is untouched and stuck

    Clock::time_point start = Clock::now();
    EXPECT_EQ(api.Cancel(h), 0);
    EXPECT_LT(MsSince(start), 5000); // about 200 ms; generous for emulated 32-bit
    EXPECT_EQ(job.Finals(), 0);
    EXPECT_EQ(api.Progress(h), 0);

    ASSERT_EQ(api.Write(h, data.data(), &length, &Recorder::Callback, &job), 0);
    Sleep(300);
    start = Clock::now();
    EXPECT_EQ(api.Close(h), 0);
    EXPECT_LT(MsSince(start), 5000);
    opened_.clear();
    EXPECT_EQ(job.Finals(), 0);
}

TEST_F(Dorvik, AfterACancelTheNextAsynchronousWriteSendsAndReports) {
    StartSink({});
    Connect();
    const char *h = kHost.c_str();
    const std::string first = Pattern(8 << 20, 1);
    Recorder cancelled;
    int length = static_cast<int>(first.size());
    ASSERT_EQ(api.Write(h, first.data(), &length, &Recorder::Callback, &cancelled), 0);
    EXPECT_EQ(api.Cancel(h), 0);
    EXPECT_EQ(cancelled.Finals(), 0);

    const std::string second = "after the cancel";
    Recorder job;
    length = static_cast<int>(second.size());
    ASSERT_EQ(api.Write(h, second.data(), &length, &Recorder::Callback, &job), 0);
    Report final{};
    ASSERT_TRUE(job.WaitFinal(&final));
    EXPECT_EQ(final.status, QUV9100_WRITE_COMPLETE);
    EXPECT_EQ(final.bytesDone, length);
    ASSERT_TRUE(sink_->WaitForCount(second.size(), kWaitMs));
    Sleep(100);
    const std::string received = sink_->Received();
    ASSERT_GE(received.size(), second.size());
    EXPECT_EQ(received.substr(received.size() - second.size()), second);
}

TEST_F(Dorvik, TheCallbacksCancelFlagEndsTheJobWithoutAFinalReport) {
    StartSink(WithMode(Mode::kStall));
    Connect();
    const std::string data = Pattern(16 << 20);
    Recorder job;
    job.cancelAtProgress = 1;
    int length = static_cast<int>(data.size());
    ASSERT_EQ(api.Write(kHost.c_str(), data.data(), &length, &Recorder::Callback, &job), 0);
    for (int i = 0; i < 200 && job.Reports().empty(); ++i)
        Sleep(50);
    Sleep(500);
    const std::vector<Report> reports = job.Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].hasCancel);
    EXPECT_EQ(api.Progress(kHost.c_str()), 0); // detached
}

TEST_F(Dorvik, AFileJobMakesAtMostElevenProgressReportsASecond) {
    StartSink({});
    Connect();
    const std::string data = Pattern(400000, 9);
    const std::string path = TestFile("pace");
    WriteWholeFile(path, data);
    Recorder job;
    ASSERT_EQ(api.WriteFile(kHost.c_str(), path.c_str(), &Recorder::Callback, &job), 0);
    Report final{};
    ASSERT_TRUE(job.WaitFinal(&final, 120000));
    EXPECT_EQ(final.status, QUV9100_WRITE_COMPLETE);
    const std::vector<Report> reports = job.Reports();
    for (std::size_t i = 0; i < reports.size(); ++i) {
        std::size_t within = 0;
        for (std::size_t j = i; j < reports.size(); ++j)
            if (reports[j].when - reports[i].when < std::chrono::seconds(1))
                ++within;
        EXPECT_LE(within, 11u) << "reports from " << i;
    }
}

TEST_F(Dorvik, CloseSendsTheFinThenCloses) {
    StartSink(WithMode(Mode::kTrack));
    Connect();
    int length = 5;
    EXPECT_EQ(api.Write(kHost.c_str(), "hello", &length, nullptr, nullptr), QUV9100_WRITE_COMPLETE);
    ASSERT_TRUE(sink_->WaitForCount(5, kWaitMs));
    EXPECT_EQ(api.Close(kHost.c_str()), 0);
    opened_.clear();
    ASSERT_TRUE(sink_->WaitForClose(0, kWaitMs));
    const sink9100::Connection c = sink_->Record(0);
    EXPECT_TRUE(c.finSeen);
    EXPECT_TRUE(c.closeAfterFin);
    EXPECT_EQ(c.bytes, "hello");
    EXPECT_EQ(sink_->Accepted(), 1);
}

TEST_F(Dorvik, LoadOpenWriteCloseAndUnloadRepeatedly) {
    api.Free();
    StartSink({});
    const std::string data = Pattern(100000, 2);
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(api.Load()) << round;
        Recorder connect;
        ASSERT_EQ(api.Open(kHost.c_str(), &Recorder::Callback, &connect), 0);
        Report report{};
        ASSERT_TRUE(connect.WaitFinal(&report));
        ASSERT_EQ(report.status, QUV9100_CONNECTED);
        Recorder job;
        int length = static_cast<int>(data.size());
        ASSERT_EQ(api.Write(kHost.c_str(), data.data(), &length, &Recorder::Callback, &job), 0);
        if (round % 2) // half the rounds close while the job may still run
            job.WaitFinal(&report);
        ASSERT_EQ(api.Close(kHost.c_str()), 0);
        api.Free();
    }
    EXPECT_TRUE(sink_->WaitForAccepted(20, kWaitMs));
}

} // namespace
