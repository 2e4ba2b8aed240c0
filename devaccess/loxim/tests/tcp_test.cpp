// The TCP/IP path under Wine against the network library's double: the blocks of each code,
// chunked writes, connect states, asynchronous sends with progress, the pass-through requests,
// and the cases where holding the session lock across a library call would deadlock (each
// under a 5 s watchdog that fails the run instead of hanging).
#include <cstdio>

#include "brevan_double.h"
#include "fixture.h"

namespace {

using loxim::U32;

struct Double {
    HMODULE module = nullptr;
    DoubleResetFn reset = nullptr;
    DoubleSetScriptFn setScript = nullptr;
    DoubleCallCountFn callCount = nullptr;
    DoubleGetCallFn getCall = nullptr;
    DoubleSinkFn sink = nullptr;
    DoubleReportsFn reports = nullptr;

    // Loads the double from its folder: the same module loxim's loader finds there, kept
    // loaded across the test's closes.
    static Double Load() {
        Double d;
        d.module = LoadLibraryA(LOXIM_DOUBLE_DIR "\\BREVAN.dll");
        if (!d.module)
            return d;
        auto get = [&](const char *name) {
            return reinterpret_cast<void *>(GetProcAddress(d.module, name));
        };
        d.reset = reinterpret_cast<DoubleResetFn>(get("Double_Reset"));
        d.setScript = reinterpret_cast<DoubleSetScriptFn>(get("Double_SetScript"));
        d.callCount = reinterpret_cast<DoubleCallCountFn>(get("Double_CallCount"));
        d.getCall = reinterpret_cast<DoubleGetCallFn>(get("Double_GetCall"));
        d.sink = reinterpret_cast<DoubleSinkFn>(get("Double_Sink"));
        d.reports = reinterpret_cast<DoubleReportsFn>(get("Double_Reports"));
        return d;
    }
    std::vector<DoubleCall> Calls() const {
        std::vector<DoubleCall> calls(callCount());
        for (uint32_t i = 0; i < calls.size(); ++i)
            getCall(i, &calls[i]);
        return calls;
    }
    std::vector<DoubleCall> Calls(int32_t code) const {
        std::vector<DoubleCall> calls;
        for (const DoubleCall &c : Calls())
            if (c.code == code)
                calls.push_back(c);
        return calls;
    }
    std::vector<int32_t> Codes() const {
        std::vector<int32_t> codes;
        for (const DoubleCall &c : Calls())
            codes.push_back(c.code);
        return codes;
    }
    std::vector<uint8_t> Sink() const {
        std::vector<uint8_t> bytes(sink(nullptr, 0));
        sink(bytes.data(), static_cast<uint32_t>(bytes.size()));
        return bytes;
    }
    void Script(int32_t code, const DoubleScript &s) const { setScript(code, &s); }
};

DoubleScript Script(int32_t code) {
    return DoubleDefaultScript(code);
}

// Runs f on a thread of its own; a run that does not end within 5 s is a deadlock, which ends
// the whole program (the blocked threads could never be released).
template <typename F> DWORD WINAPI RunGuarded(LPVOID p) {
    (*static_cast<F *>(p))();
    return 0;
}

template <typename F> void Watchdog(const char *what, F f) {
    HANDLE thread = CreateThread(nullptr, 0, &RunGuarded<F>, &f, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    if (WaitForSingleObject(thread, 5000) == WAIT_TIMEOUT) {
        std::fprintf(stderr, "watchdog: %s did not end within 5 s (deadlock)\n", what);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(thread);
}

class Tcp : public Loxim {
  protected:
    void SetUp() override {
        Loxim::SetUp();
        SetLoaderFolder(LOXIM_DOUBLE_DIR);
        d = Double::Load();
        ASSERT_TRUE(d.module && d.reset) << LOXIM_DOUBLE_DIR;
        d.reset();
    }
    void TearDown() override {
        Loxim::TearDown();
        if (d.module) {
            d.reset();
            FreeLibrary(d.module);
        }
        SetLoaderFolder(AccessLibFolder());
    }
    // Opens a connection and connects it.
    uint32_t Connected(const char *host) {
        Opened o = Open(LOXIM_TYPE_CHOOSE, nullptr, host);
        EXPECT_EQ(o.result, LOXIM_OK);
        EXPECT_EQ(Io(LOXIM_NET_CONNECT, o.handle, nullptr), LOXIM_OK);
        uint32_t done = 0, sent = 0;
        SendResultBlock result{nullptr, &done, 0, &sent};
        for (int i = 0; i < 200 && Io(LOXIM_SEND_RESULT, o.handle, &result) == LOXIM_E_PARAM; ++i)
            Sleep(10);
        return o.handle;
    }
    Double d;
};

TEST_F(Tcp, OpenCloseAndLocalCodes) {
    Opened o = Open(LOXIM_TYPE_CHOOSE, nullptr, "127.0.0.1");
    ASSERT_EQ(o.result, LOXIM_OK);
    std::vector<DoubleCall> calls = d.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].code, 1);
    EXPECT_EQ(calls[0].fields[0] & 0xffff, 0u); // local SNMP port
    EXPECT_STREQ(calls[0].text, "127.0.0.1");
    EXPECT_EQ(calls[0].fields[2] & 0xffff, 0u); // SNMP port
    {
        void *copy = nullptr;
        uint32_t headerLength = 0, privateSize = 0;
        DeviceInfoRequestBlock rb{&copy, &headerLength, &privateSize};
        ASSERT_EQ(Io(LOXIM_DEVICE_INFO, o.handle, &rb), LOXIM_OK);
        DeviceMappingHeader h;
        std::memcpy(&h, copy, sizeof h);
        EXPECT_EQ(h.connectionType, 257u);
        EXPECT_EQ(privateSize, 4u);
        GlobalFree(GlobalHandle(copy));
    }

    // Device ID without a call; a buffer below 10 bytes is refused untouched.
    d.reset();
    char id[16];
    std::memset(id, '#', sizeof id);
    uint32_t length = 0;
    DeviceIdBlock idBlock{id, 16, &length, 5000};
    EXPECT_EQ(Io(LOXIM_DEVICE_ID, o.handle, &idBlock), LOXIM_OK);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(std::string(id, 11), "CMD:TCPIP;#");
    std::memset(id, '#', sizeof id);
    DeviceIdBlock small{id, 9, &length, 0};
    EXPECT_EQ(Io(LOXIM_DEVICE_ID, o.handle, &small), LOXIM_E_PARAM);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(id[0], '#');
    // The codes this path answers without the library.
    uint32_t ready = 5, state = 0;
    uint8_t status = 0, valid = 0;
    ReadyBlock rb{&ready};
    ProbeBlock probe{100};
    StatusByteBlock sb{&status};
    PrinterStateBlock psb{&status, &state, 0, &valid};
    char aux[4];
    AuxQueryBlock ab{aux};
    EXPECT_EQ(Io(LOXIM_IS_READY, o.handle, &rb), LOXIM_OK);
    EXPECT_EQ(ready, 5u);
    EXPECT_EQ(Io(LOXIM_PROBE, o.handle, &probe), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_STATUS_BYTE, o.handle, &sb), LOXIM_E_PARAM);
    EXPECT_EQ(Io(LOXIM_PRINTER_STATE, o.handle, &psb), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_AUX_QUERY, o.handle, &ab), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_AUX_COMMAND, o.handle, nullptr), LOXIM_OK);
    // Not connected: writes, reads and sends -103, send result -101, disconnect 0.
    char data[4] = "abc";
    uint32_t count = 0, done = 0, sent = 0;
    WriteBlock write{data, 3, &count, 100};
    ReadBlock read{data, 3, &count, 100};
    HGLOBAL job = GlobalAlloc(GHND, 8);
    SendBlock send{job, 0, 8, 150, 100};
    SendResultBlock result{job, &done, 8, &sent};
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &write), LOXIM_E_HANDLE);
    EXPECT_EQ(Io(LOXIM_READ, o.handle, &read), LOXIM_E_HANDLE);
    EXPECT_EQ(Io(LOXIM_SEND, o.handle, &send), LOXIM_E_HANDLE);
    EXPECT_EQ(GlobalFlags(job) & GMEM_LOCKCOUNT, 0u);
    EXPECT_EQ(Io(LOXIM_SEND_RESULT, o.handle, &result), LOXIM_E_PARAM);
    EXPECT_EQ(Io(LOXIM_NET_DISCONNECT, o.handle, nullptr), LOXIM_OK);
    GlobalFree(job);
    EXPECT_EQ(d.callCount(), 0u);
    EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
    EXPECT_EQ(d.Codes(), std::vector<int32_t>{9});

    // Opens that fail: the library's result mapped, a host too long for the session.
    struct Case {
        const char *what;
        int32_t library;
        std::string host;
        int32_t result;
    };
    const Case cases[] = {
        {"session exists", -12, "127.0.0.2", LOXIM_E_ALREADY_OPEN},
        {"loader", -2, "127.0.0.2", LOXIM_E_LIBRARY},
        {"no memory", -4, "127.0.0.2", LOXIM_E_MEMORY},
        {"no handle", 0, "127.0.0.2", LOXIM_E_PARAM},
        {"host of 256", 1, std::string(253, '1') + "...", LOXIM_E_PARAM},
        {"empty host", 1, "", LOXIM_E_PARAM},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        d.reset();
        DoubleScript open = Script(1);
        open.result = c.library;
        d.Script(1, open);
        Opened bad = Open(LOXIM_TYPE_TCPIP, nullptr, c.host.c_str());
        EXPECT_EQ(bad.result, c.result);
        EXPECT_EQ(bad.handle, 0u);
    }
    const std::string longest = std::string(252, '1') + "...";
    d.reset();
    Opened fits = Open(LOXIM_TYPE_TCPIP, nullptr, longest.c_str());
    EXPECT_EQ(fits.result, LOXIM_OK);
    EXPECT_EQ(std::string(d.Calls(1).at(0).text), longest.substr(0, 127));
    EXPECT_EQ(Io(LOXIM_CLOSE, fits.handle, nullptr), LOXIM_OK);
}

TEST_F(Tcp, WritesGoOutInChunks) {
    DoubleScript report = Script(4);
    report.delayMs = 300; // the write waits for the pending connect
    d.Script(4, report);
    Opened o = Open(LOXIM_TYPE_CHOOSE, nullptr, "127.0.0.3");
    ASSERT_EQ(o.result, LOXIM_OK);
    ASSERT_EQ(Io(LOXIM_NET_CONNECT, o.handle, nullptr), LOXIM_OK);
    std::vector<uint8_t> data(0x9000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    uint32_t written = 0;
    WriteBlock write{data.data(), 0x9000, &written, 2000};
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &write), LOXIM_OK);
    EXPECT_EQ(written, 0x9000u);
    const std::vector<DoubleCall> connects = d.Calls(4);
    ASSERT_EQ(connects.size(), 1u);
    std::vector<DoubleCall> steps = d.Calls(5);
    ASSERT_EQ(steps.size(), 3u);
    const int32_t lengths[] = {0x4000, 0x4000, 0x1000};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(steps[i].lengthIn, lengths[i]);
        EXPECT_EQ(steps[i].fields[0], 0u); // no callback: one step per call
        EXPECT_EQ(steps[i].fields[2], U32(data.data() + 0x4000 * i));
    }
    EXPECT_EQ(d.Sink(), data);

    // Steps of 0x1000: the data advances by what each step moved.
    d.reset();
    DoubleScript step = Script(5);
    step.step = 0x1000;
    d.Script(5, step);
    write.length = 0x2800;
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &write), LOXIM_OK);
    steps = d.Calls(5);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[2].lengthIn, 0x800);
    EXPECT_EQ(steps[2].fields[2], U32(data.data() + 0x2000));
    // A failure maps; a step that claims more than it was given ends the write.
    step.result = -13;
    d.Script(5, step);
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &write), LOXIM_E_NETWORK);
    step.result = 0;
    step.extra = 1;
    d.Script(5, step);
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &write), LOXIM_E_DEVICE);

    // Reads ask for the room left; a call that brings nothing after something ends the read.
    d.reset();
    DoubleScript thirty = Script(6);
    thirty.step = 30;
    d.Script(6, thirty);
    std::vector<char> in(120, 0);
    uint32_t got = 0;
    ReadBlock read{in.data(), 100, &got, 1000};
    EXPECT_EQ(Io(LOXIM_READ, o.handle, &read), LOXIM_OK);
    EXPECT_EQ(got, 100u);
    std::vector<DoubleCall> reads = d.Calls(6);
    ASSERT_EQ(reads.size(), 4u);
    const int32_t rooms[] = {100, 70, 40, 10};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(reads[i].lengthIn, rooms[i]);
    EXPECT_EQ(in[100], 0);
    thirty.step = 0;
    d.Script(6, thirty);
    read.timeOut = 100;
    EXPECT_EQ(Io(LOXIM_READ, o.handle, &read), LOXIM_E_TIMEOUT);
    EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
}

TEST_F(Tcp, StalledWriteWaitsTenSeconds) {
    const uint32_t h = Connected("127.0.0.4");
    DoubleScript stall = Script(5);
    stall.step = 0;
    d.Script(5, stall);
    char data[16] = {};
    uint32_t written = 0;
    WriteBlock write{data, 16, &written, 1000};
    const DWORD start = GetTickCount();
    EXPECT_EQ(Io(LOXIM_WRITE, h, &write), LOXIM_E_TIMEOUT);
    EXPECT_GE(GetTickCount() - start, 9900u);
    EXPECT_LT(d.Calls(5).size(), 1100u); // idle steps pause
    EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
}

TEST_F(Tcp, ConnectStates) {
    // A connect that stays pending beyond the time-out: -151 for a write, -153 for a read.
    DoubleScript slow = Script(4);
    slow.delayMs = 1500;
    d.Script(4, slow);
    Opened o = Open(LOXIM_TYPE_TCPIP, nullptr, "127.0.0.5");
    ASSERT_EQ(o.result, LOXIM_OK);
    ASSERT_EQ(Io(LOXIM_NET_CONNECT, o.handle, nullptr), LOXIM_OK);
    char data[8] = "1234567";
    uint32_t count = 0;
    WriteBlock write{data, 7, &count, 100};
    ReadBlock read{data, 7, &count, 100};
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &write), LOXIM_E_SHORT_SEND);
    EXPECT_EQ(Io(LOXIM_READ, o.handle, &read), LOXIM_E_READ_PENDING);
    EXPECT_EQ(Io(LOXIM_NET_CONNECT, o.handle, nullptr),
              LOXIM_OK); // still under way: no second connect
    EXPECT_EQ(d.Calls(4).size(), 1u);
    EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);

    // A failed connect: not connected, and the next connect first drops the failed one.
    d.reset();
    DoubleScript refused = Script(4);
    refused.status = -12;
    d.Script(4, refused);
    o = Open(LOXIM_TYPE_TCPIP, nullptr, "127.0.0.5");
    ASSERT_EQ(o.result, LOXIM_OK);
    ASSERT_EQ(Io(LOXIM_NET_CONNECT, o.handle, nullptr), LOXIM_OK);
    write.timeOut = 2000;
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &write), LOXIM_E_HANDLE);
    d.setScript(4, nullptr);
    EXPECT_EQ(Io(LOXIM_NET_CONNECT, o.handle, nullptr), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &write), LOXIM_OK);
    EXPECT_EQ(d.Codes(), (std::vector<int32_t>{1, 4, 8, 4, 5}));
    // A connect the library refuses at once is mapped; the flags let a retry through.
    DoubleScript busy = Script(4);
    busy.result = -5;
    d.Script(4, busy);
    EXPECT_EQ(Io(LOXIM_NET_DISCONNECT, o.handle, nullptr), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_NET_CONNECT, o.handle, nullptr), LOXIM_E_DEVICE);
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &write), LOXIM_E_HANDLE);
    d.setScript(4, nullptr);
    EXPECT_EQ(Io(LOXIM_NET_CONNECT, o.handle, nullptr), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &write), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
}

TEST_F(Tcp, SendWithProgressReports) {
    const uint32_t h = Connected("127.0.0.6");
    DoubleScript job = Script(5);
    job.progress = 4;
    job.progressMs = 150;
    d.Script(5, job);
    std::vector<uint8_t> bytes(0x10000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i ^ (i >> 8));
    HGLOBAL buffer = GlobalAlloc(GHND, 0x10010);
    std::memcpy(static_cast<uint8_t *>(GlobalLock(buffer)) + 0x10, bytes.data(), bytes.size());
    GlobalUnlock(buffer);
    SendBlock past{buffer, 0x11, 0x10000, 150, 1000};
    EXPECT_EQ(Io(LOXIM_SEND, h, &past), LOXIM_E_JOB_BUFFER);
    SendBlock send{buffer, 0x10, 0x10000, 150, 1000};
    ASSERT_EQ(Io(LOXIM_SEND, h, &send), LOXIM_OK);
    const std::vector<DoubleCall> starts = d.Calls(5);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_NE(starts[0].fields[0], 0u); // the completion callback
    EXPECT_EQ(starts[0].lengthIn, 0x10000);
    EXPECT_NE(starts[0].fields[4], 0u);                // a count the library may write through
    EXPECT_EQ(Io(LOXIM_SEND, h, &send), LOXIM_E_BUSY); // one send at a time

    uint32_t done = 0, sent = 0, last = 0, copied = 0;
    SendResultBlock result{buffer, &done, 0x10000, &sent};
    std::vector<uint32_t> counts;
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(Io(LOXIM_SEND_RESULT, h, &result), LOXIM_OK);
        if (done)
            break;
        EXPECT_GE(sent, last);
        if (sent != last)
            counts.push_back(sent);
        last = sent;
        JobCopyInBlock in{buffer, 0, "x", 1, &copied, 0};
        EXPECT_EQ(Io(LOXIM_JOB_COPY_IN, h, &in),
                  LOXIM_E_BUFFER_IN_USE); // locked until the final report
        Sleep(20);
    }
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(sent, 0x10000u);
    EXPECT_GE(counts.size(), 2u);
    EXPECT_EQ(GlobalFlags(buffer) & GMEM_LOCKCOUNT, 0u);
    uint32_t progress = 0, finals = 0;
    d.reports(&progress, &finals);
    EXPECT_EQ(progress, 4u);
    EXPECT_EQ(finals, 1u);
    EXPECT_EQ(d.Sink(), bytes);
    // A failed final report is a finished send all the same.
    job.progress = 0;
    job.status = -7;
    d.Script(5, job);
    ASSERT_EQ(Io(LOXIM_SEND, h, &send), LOXIM_OK);
    for (int i = 0; i < 200 && Io(LOXIM_SEND_RESULT, h, &result) == LOXIM_OK && !done; ++i)
        Sleep(10);
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(GlobalFlags(buffer) & GMEM_LOCKCOUNT, 0u);
    GlobalFree(buffer);
    EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
}

TEST_F(Tcp, NoDeadlocks) {
    HGLOBAL buffer = GlobalAlloc(GHND, 0x8000);
    uint32_t done = 0, sent = 0;
    SendResultBlock result{buffer, &done, 0x8000, &sent};
    SendBlock send{buffer, 0, 0x8000, 150, 1000};

    // Code 11 while the final report holds the transport lock and waits for the session.
    {
        const uint32_t h = Connected("127.0.0.7");
        DoubleScript job = Script(5);
        job.finalMs = 800;
        d.Script(5, job);
        ASSERT_EQ(Io(LOXIM_SEND, h, &send), LOXIM_OK);
        Sleep(200);
        int32_t r = 1;
        Watchdog("send result during the final report",
                 [&] { r = Io(LOXIM_SEND_RESULT, h, &result); });
        EXPECT_EQ(r, 0);
        for (int i = 0; i < 100 && !done; ++i) {
            Io(LOXIM_SEND_RESULT, h, &result);
            Sleep(10);
        }
        EXPECT_EQ(done, 1u);
        EXPECT_EQ(sent, 0x8000u);
        EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
    }
    // Code 103 during a send: the library waits for its worker, whose reports need the
    // session; the cancelled send is finished here and its buffer released.
    {
        d.reset();
        const uint32_t h = Connected("127.0.0.7");
        DoubleScript job = Script(5);
        job.progress = 100;
        job.progressMs = 30;
        d.Script(5, job);
        ASSERT_EQ(Io(LOXIM_SEND, h, &send), LOXIM_OK);
        Sleep(150);
        int32_t r = 1;
        Watchdog("disconnect during a send", [&] { r = Io(LOXIM_NET_DISCONNECT, h, nullptr); });
        EXPECT_EQ(r, 0);
        EXPECT_EQ(GlobalFlags(buffer) & GMEM_LOCKCOUNT, 0u);
        uint32_t progress = 0, finals = 0;
        d.reports(&progress, &finals);
        EXPECT_GE(progress, 1u);
        EXPECT_EQ(finals, 0u);
        EXPECT_EQ(Io(LOXIM_SEND_RESULT, h, &result), LOXIM_E_PARAM); // disconnected
        EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
    }
    // Code 2 while a response is being delivered: the library waits for its receive thread.
    {
        d.reset();
        const uint32_t h = Connected("127.0.0.7");
        DoubleScript answer = Script(3);
        answer.delayMs = 100;
        d.Script(3, answer);
        static volatile LONG calls = 0;
        calls = 0;
        struct Slow {
            static void __stdcall Done(int32_t, uint32_t, uint32_t) {
                Sleep(600);
                InterlockedIncrement(&calls);
            }
        };
        const AsyncCallback completion{&Slow::Done, 7};
        char reply[8];
        uint32_t replyLength = 0;
        PassThroughBlock pass{LoximPassThroughControl(257, 1),
                              "1.3.6.1.2.1.1.1.0",
                              0,
                              reply,
                              8,
                              &replyLength,
                              &completion};
        ASSERT_EQ(Io(LOXIM_PASS_THROUGH, h, &pass), LOXIM_OK);
        Sleep(300);
        int32_t r = 1;
        Watchdog("close while a response is delivered", [&] { r = Io(LOXIM_CLOSE, h, nullptr); });
        EXPECT_EQ(r, 0);
        EXPECT_EQ(calls, 1);
    }
    GlobalFree(buffer);
}

struct Reply {
    int32_t result = 1;
    uint32_t length = 0;
    std::string value;
    int calls = 0;
};
Reply g_reply;

void __stdcall OnReply(int32_t result, uint32_t length, uint32_t value) {
    g_reply.result = result;
    g_reply.length = length;
    g_reply.value =
        value ? std::string(reinterpret_cast<const char *>(static_cast<uintptr_t>(value)), length)
              : "";
    ++g_reply.calls;
}

TEST_F(Tcp, PassThrough) {
    Opened o = Open(LOXIM_TYPE_TCPIP, nullptr, "127.0.0.8");
    ASSERT_EQ(o.result, LOXIM_OK);
    const uint32_t h = o.handle;
    const char *oid = "1.3.6.1.4.1.7341.9.9.0";
    char reply[32];
    uint32_t replyLength = 99;
    auto control = [](uint32_t sub) { return LoximPassThroughControl(257, sub); };

    // Sub-function 0: the status value as 4 bytes.
    DoubleScript value = Script(2);
    value.result = 17;
    d.Script(2, value);
    PassThroughBlock status{control(0), nullptr, 0, reply, 4, &replyLength, nullptr};
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &status), LOXIM_OK);
    EXPECT_EQ(replyLength, 4u);
    int32_t got = 0;
    std::memcpy(&got, reply, 4);
    EXPECT_EQ(got, 17);
    status.replySize = 3;
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &status), LOXIM_E_PARAM);
    uint32_t netStatus = 0;
    NetStatusBlock nb{&netStatus};
    EXPECT_EQ(Io(LOXIM_NET_STATUS, h, &nb), LOXIM_OK);
    EXPECT_EQ(netStatus, 17u);

    // Get, GetNext and Set, waiting for the answer.
    DoubleScript answer = Script(3);
    answer.valueLength = 2;
    std::memcpy(answer.value, "17", 2);
    d.Script(3, answer);
    struct Case {
        uint32_t sub;
        int32_t tag, type, length, integer;
    };
    const Case cases[] = {{1, 0xA0, 5, 0, 0}, {2, 0xA1, 5, 0, 0}, {3, 0xA3, 2, 4, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sub);
        d.reset();
        d.Script(3, answer);
        std::memset(reply, 0, sizeof reply);
        replyLength = 99;
        PassThroughBlock get{control(c.sub) | 3u, oid,          0,      reply,
                             sizeof reply,        &replyLength, nullptr};
        EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &get), LOXIM_OK);
        EXPECT_EQ(replyLength, 2u);
        EXPECT_EQ(std::string(reply, 3), std::string("17\0", 3));
        const std::vector<DoubleCall> posts = d.Calls(3);
        ASSERT_EQ(posts.size(), 1u);
        const DoubleCall &p = posts[0];
        EXPECT_EQ(p.pduType, c.tag);
        EXPECT_EQ(p.version, 0);
        EXPECT_EQ(p.port, 0);
        EXPECT_EQ(p.community, 0u);
        EXPECT_EQ(std::vector<int32_t>(p.timeouts, p.timeouts + 4),
                  (std::vector<int32_t>{5000, 3000, 1000, 0}));
        EXPECT_EQ(p.errorStatus, 0);
        EXPECT_EQ(p.errorIndex, 0);
        EXPECT_EQ(p.varBindCount, 1);
        EXPECT_STREQ(p.text, oid);
        EXPECT_EQ(p.varType, c.type);
        EXPECT_EQ(p.varLength, c.length);
        EXPECT_EQ(p.varInteger, c.integer);
        EXPECT_NE(p.responseProc, 0u);
    }

    // Failures: too small (nothing copied), a NULL answer, an answer with an error status (its
    // binding echoed as NULL), a failed post (no wait), bad OIDs.
    struct Bad {
        const char *what;
        uint32_t snmp;
        int32_t post;
        const char *oid;
        uint32_t oidLength;
        uint32_t size;
        int32_t result;
        int32_t errorStatus;
    };
    const Bad bad[] = {
        {"reply too small", 0, 0, oid, 0, 1, LOXIM_E_PARAM, 0},
        {"NULL answer", 1, 0, oid, 0, 32, LOXIM_E_TIMEOUT, 0},
        {"noSuchName", 0, 0, oid, 0, 32, LOXIM_E_DEVICE, 2},
        {"readOnly", 0, 0, oid, 0, 32, LOXIM_E_DEVICE, 4},
        {"post fails", 0, -5, oid, 0, 32, LOXIM_E_DEVICE, 0},
        {"empty OID", 0, 0, "", 0, 32, LOXIM_E_PARAM, 0},
        {"no OID", 0, 0, nullptr, 0, 32, LOXIM_E_PARAM, 0},
    };
    for (const Bad &b : bad) {
        SCOPED_TRACE(b.what);
        d.reset();
        DoubleScript s = answer;
        s.snmp = b.snmp;
        s.result = b.post;
        s.errorStatus = b.errorStatus;
        if (b.errorStatus) {
            s.valueType = 5;
            s.valueLength = 0;
        }
        d.Script(3, s);
        std::memset(reply, '#', sizeof reply);
        replyLength = 99;
        PassThroughBlock get{control(1), b.oid, b.oidLength, reply, b.size, &replyLength, nullptr};
        const DWORD start = GetTickCount();
        EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &get), b.result);
        EXPECT_LT(GetTickCount() - start, 2000u);
        if (b.result != 0) {
            EXPECT_EQ(reply[0], '#');
            EXPECT_EQ(replyLength, b.oid && b.oid[0] ? 0u : 99u);
        }
    }
    // The request length bounds the OID text.
    d.reset();
    d.Script(3, answer);
    PassThroughBlock bounded{control(2), "1.3.6.1.2.1junk", 11, reply, 32, &replyLength, nullptr};
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &bounded), LOXIM_OK);
    EXPECT_STREQ(d.Calls(3).at(0).text, "1.3.6.1.2.1");
    PassThroughBlock other{control(4), oid, 0, reply, 32, &replyLength, nullptr};
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &other), LOXIM_E_PARAM);
    PassThroughBlock wrongType{
        LoximPassThroughControl(3, 1), oid, 0, reply, 32, &replyLength, nullptr};
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &wrongType), LOXIM_E_PARAM);

    // Asynchronous: the completion gets the value; one request at a time.
    d.reset();
    answer.delayMs = 200;
    d.Script(3, answer);
    g_reply = Reply{};
    const AsyncCallback completion{&OnReply, 5};
    PassThroughBlock async{control(1), oid, 0, nullptr, 0, nullptr, &completion};
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &async), LOXIM_OK);
    PassThroughBlock sync{control(1), oid, 0, reply, 32, &replyLength, nullptr};
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &sync), LOXIM_E_BUSY);
    for (int i = 0; i < 200 && g_reply.calls == 0; ++i)
        Sleep(10);
    EXPECT_EQ(g_reply.calls, 1);
    EXPECT_EQ(g_reply.result, LOXIM_OK);
    EXPECT_EQ(g_reply.length, 2u);
    EXPECT_EQ(g_reply.value, "17");
    // A time-out calls the completion once with -132.
    answer.snmp = 1;
    d.Script(3, answer);
    g_reply = Reply{};
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &async), LOXIM_OK);
    for (int i = 0; i < 200 && g_reply.calls == 0; ++i)
        Sleep(10);
    Sleep(100);
    EXPECT_EQ(g_reply.calls, 1);
    EXPECT_EQ(g_reply.result, LOXIM_E_TIMEOUT);
    EXPECT_EQ(g_reply.length, 0u);
    // An answer with an error status is no value.
    answer.snmp = 0;
    answer.errorStatus = 2;
    d.Script(3, answer);
    g_reply = Reply{};
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &async), LOXIM_OK);
    for (int i = 0; i < 200 && g_reply.calls == 0; ++i)
        Sleep(10);
    EXPECT_EQ(g_reply.calls, 1);
    EXPECT_EQ(g_reply.result, LOXIM_E_DEVICE);
    EXPECT_EQ(g_reply.length, 0u);
    // A request still unanswered at the close, where the transport drops it: ended there, once.
    answer.errorStatus = 0;
    answer.snmp = 2;
    d.Script(3, answer);
    g_reply = Reply{};
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &async), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
    EXPECT_EQ(g_reply.calls, 1);
    EXPECT_EQ(g_reply.result, LOXIM_E_TIMEOUT);
    EXPECT_EQ(g_reply.length, 0u);
}

TEST_F(Tcp, SilentAgentGivesTimeOut) {
    Opened o = Open(LOXIM_TYPE_TCPIP, nullptr, "127.0.0.9");
    ASSERT_EQ(o.result, LOXIM_OK);
    // The answer comes after the wait has given up; the next request must not take it.
    DoubleScript late = Script(3);
    late.delayMs = 9500;
    late.valueLength = 4;
    std::memcpy(late.value, "late", 4);
    d.Script(3, late);
    char reply[8];
    uint32_t replyLength = 99;
    PassThroughBlock get{
        LoximPassThroughControl(257, 1), "1.3.6.1.2.1.1.5.0", 0, reply, 8, &replyLength, nullptr};
    const DWORD start = GetTickCount();
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, o.handle, &get), LOXIM_E_TIMEOUT);
    EXPECT_GE(GetTickCount() - start, 8900u);
    EXPECT_EQ(replyLength, 0u);

    DoubleScript next = Script(3);
    next.delayMs = 100;
    next.valueLength = 4;
    std::memcpy(next.value, "next", 4);
    d.Script(3, next);
    std::memset(reply, 0, sizeof reply);
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, o.handle, &get), LOXIM_OK);
    EXPECT_EQ(std::string(reply, replyLength), "next");
    EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
}

// The TCP/IP column of the dispatch table on a live connection.
TEST_F(Tcp, DispatchWalk) {
    const uint32_t h = Connected("127.0.0.10");
    char buffer[64] = "x";
    uint32_t count = 0, done = 0, sent = 0, ready = 0, state = 0, length = 0, net = 0,
             replyLength = 0;
    uint8_t status = 0, valid = 0;
    HGLOBAL job = GlobalAlloc(GHND, 64);
    WriteBlock write{buffer, 1, &count, 0};
    ReadBlock read{buffer, 1, &count, 0};
    SendBlock send{job, 0, 8, 150, 0};
    SendResultBlock result{job, &done, 8, &sent};
    ReadyBlock readyBlock{&ready};
    DeviceIdBlock id{buffer, 64, &length, 0};
    ProbeBlock probe{0};
    StatusByteBlock statusBlock{&status};
    PrinterStateBlock stateBlock{&status, &state, 0, &valid};
    AuxQueryBlock aux{buffer};
    SetSettingsBlock settings{buffer, 0x80000000u, 0};
    NetStatusBlock netBlock{&net};
    PassThroughBlock pass{
        LoximPassThroughControl(257, 0), nullptr, 0, buffer, 64, &replyLength, nullptr};
    struct Cell {
        uint32_t code;
        void *block;
        int32_t result;
        std::vector<int32_t> codes;
    };
    const Cell cells[] = {
        {8, &write, 0, {5}},      {9, &read, 0, {6}},
        {10, &send, 0, {5}},      {11, &result, 0, {7}},
        {12, &readyBlock, 0, {}}, {13, &id, 0, {}},
        {14, &probe, 0, {}},      {15, &statusBlock, LOXIM_E_PARAM, {}},
        {16, &stateBlock, 0, {}}, {17, &aux, 0, {}},
        {18, nullptr, 0, {}},     {19, &settings, 0, {}},
        {100, &netBlock, 0, {2}}, {30000, &pass, 0, {2}},
        {102, nullptr, 0, {}},    {103, nullptr, 0, {8}},
    };
    DoubleScript slowJob = Script(5);
    slowJob.progress = 1;
    slowJob.progressMs = 300; // still running at code 11
    d.Script(5, slowJob);
    for (const Cell &cell : cells) {
        SCOPED_TRACE(cell.code);
        const size_t before = d.callCount();
        EXPECT_EQ(Io(cell.code, h, cell.block), cell.result);
        std::vector<int32_t> codes = d.Codes();
        codes.erase(codes.begin(), codes.begin() + before);
        EXPECT_EQ(codes, cell.codes);
    }
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(GlobalFlags(job) & GMEM_LOCKCOUNT, 0u); // the disconnect ended the send
    GlobalFree(job);
    EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
}

} // namespace
