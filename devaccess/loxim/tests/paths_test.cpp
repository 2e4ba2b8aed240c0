// The parallel, USB and packet paths under Wine, against the scripted stand-ins of zorla,
// frennic and ulvane: what each code passes to the library and how the answers come back.
#include "fixture.h"

namespace {

using loxim::U32;

class Paths : public Loxim {};

// The device's record as code 20 copies it.
struct Info {
    std::vector<uint8_t> bytes;
    uint32_t headerLength = 0, privateSize = 0;
    const uint32_t *area() const {
        return reinterpret_cast<const uint32_t *>(bytes.data() + headerLength);
    }
    PrinterSettings settings(size_t offset) const {
        PrinterSettings s;
        std::memcpy(&s, bytes.data() + headerLength + offset, sizeof s);
        return s;
    }
};

Info InfoOf(uint32_t handle) {
    Info info;
    void *copy = nullptr;
    DeviceInfoRequestBlock rb{&copy, &info.headerLength, &info.privateSize};
    if (Io(LOXIM_DEVICE_INFO, handle, &rb) != LOXIM_OK)
        return info;
    const auto *p = static_cast<const uint8_t *>(copy);
    info.bytes.assign(p, p + info.headerLength + info.privateSize);
    GlobalFree(GlobalHandle(copy));
    return info;
}

std::vector<uint32_t> Ops(const std::vector<StandinCall> &calls) {
    std::vector<uint32_t> ops;
    for (const StandinCall &c : calls)
        ops.push_back(c.op);
    return ops;
}

PrinterSettings Settings(uint32_t transferMode) {
    return PrinterSettings{transferMode, 180000, 45000, 30000, 2048, 300, 1, 150};
}

StandinScript Result(int32_t result) {
    StandinScript s = DefaultScript();
    s.result = result;
    return s;
}

StandinScript Value(uint32_t value) {
    StandinScript s = DefaultScript();
    s.value = value;
    return s;
}

// Opens a parallel port with these settings, the stand-in reset first and scripted; `calls`
// and `open` are the open's calls and whether the library holds the device afterwards.
struct Lpt {
    Standin s;
    Opened o;
    std::vector<StandinCall> calls;
    bool open = false;
    Lpt(const char *port, uint32_t transferMode,
        const std::vector<std::pair<uint32_t, StandinScript>> &scripts = {},
        const char *printer = nullptr) {
        const ConnectionParams36 params{36, Settings(transferMode)};
        // The stand-in loads with the first open: a device kept open meanwhile lets it be scripted.
        Opened keeper = Open(LOXIM_TYPE_PARALLEL, nullptr, "LPTKEEP");
        s = Standin::Of("zorla.DLL");
        s.reset();
        for (const auto &[op, script] : scripts)
            s.Script(op, script);
        o = Open(LOXIM_TYPE_PARALLEL, printer, port, &params);
        calls = s.Calls();
        open = s.openDevices() == 2;
        for (const auto &[op, script] : scripts)
            s.setScript(op, nullptr);
        Io(LOXIM_CLOSE, keeper.handle, nullptr);
    }
};

TEST_F(Paths, ParallelOpen) {
    struct Case {
        const char *what;
        uint32_t mode;
        std::vector<std::pair<uint32_t, StandinScript>> scripts;
        int32_t result;
        std::vector<uint32_t> ops;
        uint32_t finalMode; // TransferMode in the record after the open
    };
    const std::vector<Case> cases = {
        {"mode 0: only the open", 0x300, {}, 0, {2}, 0x300},
        {"port unknown", 0x300, {{2, Result(-22)}}, LOXIM_E_PORT_UNKNOWN, {2}, 0},
        {"no memory", 0x302, {{2, Result(-10)}}, LOXIM_E_MEMORY, {2}, 0},
        {"other failure, mode 0", 0x300, {{2, Result(-5)}}, LOXIM_E_OPEN, {2}, 0},
        {"mode 2 retried as mode 0", 0x302, {{2, Result(-5)}}, LOXIM_E_OPEN, {2, 2}, 0},
        {"mode 7: op 25, upper bits back", 0x1307, {}, 0, {2, 25}, 0x1307},
        {"mode 7: op 25 fails", 0x307, {{25, Result(-1)}}, LOXIM_E_OPEN, {2, 25, 3}, 0},
        {"mode 2 kept by status bit 0x10", 0x302, {{14, Value(0x10)}}, 0, {2, 23, 14}, 0x302},
        {"mode 2 dropped without bit 0x10", 0x502, {{14, Value(0xEF)}}, 0, {2, 23, 14, 21}, 0x500},
        {"mode 2, op 23 fails", 0x302, {{23, Result(-9)}}, 0, {2, 23, 21}, 0x300},
        {"mode 2, op 21 fails: closed",
         0x302,
         {{23, Result(-9)}, {21, Result(-1)}},
         LOXIM_E_OPEN,
         {2, 23, 21, 3},
         0},
        {"mode 2, op 14 fails: closed",
         0x302,
         {{14, Result(-17)}},
         LOXIM_E_OPEN,
         {2, 23, 14, 3},
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Lpt lpt("LPT", c.mode, c.scripts);
        EXPECT_EQ(lpt.o.result, c.result);
        const std::vector<StandinCall> &calls = lpt.calls;
        EXPECT_EQ(Ops(calls), c.ops);
        if (calls.empty())
            continue;
        // "LPT" has no digit: port number -1 with every call.
        for (const StandinCall &call : calls)
            EXPECT_EQ(static_cast<int32_t>(call.port), -1);
        EXPECT_STREQ(calls[0].texts[1], "LPT");
        if (c.ops.size() == 2 && c.ops[1] == 2) {
            PrinterSettings retried;
            std::memcpy(&retried, calls[1].settings, sizeof retried);
            EXPECT_EQ(retried.transferMode, 0x300u); // low byte only
        }
        for (const StandinCall &call : calls) {
            if (call.op == 23) {
                EXPECT_EQ(call.fields[0], 16u);
            }
            if (call.op == 25) {
                PrinterSettings applied;
                std::memcpy(&applied, call.settings, sizeof applied);
                EXPECT_EQ(applied.transferMode, 7u);
            }
        }
        EXPECT_EQ(lpt.open, c.result == 0);
        if (c.result != 0) {
            EXPECT_FALSE(MappingExists("Devacc.QUV_LPT"));
            continue;
        }
        const Info info = InfoOf(lpt.o.handle);
        ASSERT_EQ(info.privateSize, 44u);
        EXPECT_EQ(static_cast<int32_t>(info.area()[1]), -1);
        EXPECT_EQ(info.area()[2], 0u); // no printer: global memory
        EXPECT_EQ(info.settings(12).transferMode, c.finalMode);
        EXPECT_EQ(Io(LOXIM_CLOSE, lpt.o.handle, nullptr), LOXIM_OK);
    }
    // Missing settings never reach the library: an explicit parallel open with 12-byte params.
    const ConnectionParams12 p12{12, 1, nullptr};
    EXPECT_EQ(Open(LOXIM_TYPE_PARALLEL, nullptr, "LPT7", &p12).result, LOXIM_E_PARAM);
    EXPECT_EQ(GetModuleHandleA("zorla.DLL"), nullptr);
}

// Each code reaches its operation; each library failure comes back as the code's own result.
TEST_F(Paths, ParallelResults) {
    Printer printer("LoximTest Lpt"); // library job buffers ("ZEKMBufferVXDMemUse" missing)
    Lpt lpt("LPT3", 0x300, {}, printer.name());
    ASSERT_EQ(lpt.o.result, LOXIM_OK);
    EXPECT_EQ(InfoOf(lpt.o.handle).area()[2], 1u);
    const uint32_t h = lpt.o.handle;
    char buffer[64] = "data";
    uint32_t count = 0, done = 0, sent = 0, ready = 0, length = 0, granted = 0, cut = 0;
    uint8_t status = 0;
    void *job = nullptr;
    JobAllocBlock first{&job, 100, &granted};
    ASSERT_EQ(Io(LOXIM_JOB_ALLOC, h, &first), LOXIM_OK);
    WriteBlock write{buffer, 4, &count, 0};
    ReadBlock read{buffer, 8, &count, 0};
    SendBlock send{job, 0, 4, 150, 0};
    SendResultBlock result{job, &done, 4, &sent};
    ReadyBlock readyBlock{&ready};
    DeviceIdBlock id{buffer, 64, &length, 0};
    ProbeBlock probe{0};
    StatusByteBlock statusBlock{&status};
    AuxQueryBlock aux{buffer};
    JobAllocBlock alloc{&job, 100, &granted};
    JobReallocBlock realloc{&job, 100, &granted};
    JobFreeBlock free{&job, &cut};
    JobCopyOutBlock copyOut{job, 0, buffer, 4, &count};
    JobCopyInBlock copyIn{job, 0, buffer, 4, &count, 0};
    struct Case {
        uint32_t code;
        void *block;
        uint32_t op;
        int32_t library, result;
    };
    const Case cases[] = {
        {LOXIM_WRITE, &write, 13, -7, LOXIM_E_BUSY},
        {LOXIM_WRITE, &write, 13, -8, LOXIM_E_TRANSFER},
        {LOXIM_READ, &read, 13, -19, LOXIM_E_TIMEOUT},
        {LOXIM_READ, &read, 13, -9, LOXIM_E_DEVICE},
        {LOXIM_READ, &read, 13, -3, LOXIM_E_PARAM},
        {LOXIM_SEND, &send, 12, -15, LOXIM_E_SEND},
        {LOXIM_SEND, &send, 12, -4, LOXIM_E_SEND},
        {LOXIM_SEND, &send, 12, -14, LOXIM_E_BUSY},
        {LOXIM_SEND, &send, 12, -7, LOXIM_E_BUSY},
        {LOXIM_SEND, &send, 12, -1, LOXIM_E_PARAM},
        {LOXIM_SEND_RESULT, &result, 4, -3, LOXIM_E_PARAM},
        {LOXIM_IS_READY, &readyBlock, 20, -7, LOXIM_E_BUSY},
        {LOXIM_IS_READY, &readyBlock, 20, -1, LOXIM_E_PARAM},
        {LOXIM_DEVICE_ID, &id, 16, -7, LOXIM_E_BUSY},
        {LOXIM_DEVICE_ID, &id, 16, -19, LOXIM_E_DEVICE},
        {LOXIM_DEVICE_ID, &id, 16, -2, LOXIM_E_PARAM},
        {LOXIM_PROBE, &probe, 15, -1, LOXIM_E_PARAM},
        {LOXIM_STATUS_BYTE, &statusBlock, 14, -17, LOXIM_E_STATUS},
        {LOXIM_STATUS_BYTE, &statusBlock, 14, -7, LOXIM_E_PARAM},
        {LOXIM_AUX_QUERY, &aux, 23, -9, LOXIM_E_DEVICE},
        {LOXIM_AUX_QUERY, &aux, 23, -7, LOXIM_E_BUSY},
        {LOXIM_AUX_QUERY, &aux, 23, -2, LOXIM_E_PARAM},
        {LOXIM_AUX_COMMAND, nullptr, 24, -7, LOXIM_E_BUSY},
        {LOXIM_AUX_COMMAND, nullptr, 24, -2, LOXIM_E_PARAM},
        {LOXIM_JOB_ALLOC, &alloc, 5, -1, LOXIM_E_MEMORY},
        {LOXIM_JOB_REALLOC, &realloc, 9, -1, LOXIM_E_MEMORY},
        {LOXIM_JOB_FREE, &free, 10, -14, LOXIM_E_BUFFER_IN_USE},
        {LOXIM_JOB_FREE, &free, 10, -2, LOXIM_E_JOB_BUFFER},
        {LOXIM_JOB_COPY_OUT, &copyOut, 7, -14, LOXIM_E_BUFFER_IN_USE},
        {LOXIM_JOB_COPY_OUT, &copyOut, 7, -2, LOXIM_E_JOB_BUFFER},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "code " << c.code << " op " << c.op << " result " << c.library);
        lpt.s.reset();
        lpt.s.Script(c.op, Result(c.library));
        EXPECT_EQ(Io(c.code, h, c.block), c.result);
        const std::vector<StandinCall> calls = lpt.s.Calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().op, c.op);
        EXPECT_EQ(calls.back().port, 3u);
    }
    // Code 6: a failed copy still fills from the offset with 0; the fill's failure wins.
    struct CopyCase {
        int32_t copy, fill, result;
        std::vector<uint32_t> ops;
    };
    const CopyCase copies[] = {{0, 0, 0, {6}},
                               {-14, 0, LOXIM_E_BUFFER_IN_USE, {6, 8}},
                               {-2, -14, LOXIM_E_BUFFER_IN_USE, {6, 8}},
                               {-14, -3, LOXIM_E_JOB_BUFFER, {6, 8}}};
    for (const CopyCase &c : copies) {
        SCOPED_TRACE(testing::Message() << "copy " << c.copy << " fill " << c.fill);
        lpt.s.reset();
        lpt.s.Script(6, Result(c.copy));
        lpt.s.Script(8, Result(c.fill));
        copyIn.offset = 12;
        copyIn.fill = 0xAA;
        EXPECT_EQ(Io(LOXIM_JOB_COPY_IN, h, &copyIn), c.result);
        const std::vector<StandinCall> calls = lpt.s.Calls();
        EXPECT_EQ(Ops(calls), c.ops);
        if (calls.size() == 2) {
            EXPECT_EQ(calls[1].fields[1], 12u);
            EXPECT_EQ(calls[1].fields[2], 0u);
        }
    }
    EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
}

TEST_F(Paths, ParallelJobBuffers) {
    const char data[] = "0123456789abcdef";
    for (bool library : {true, false}) {
        SCOPED_TRACE(library ? "library buffers" : "global memory");
        Printer printer("LoximTest LptJob");
        if (!library)
            printer.Dword("ZEKMBufferVXDMemUse", 0);
        Lpt lpt("LPT2", 0x300, {}, printer.name());
        ASSERT_EQ(lpt.o.result, LOXIM_OK);
        const uint32_t h = lpt.o.handle;
        const uint32_t device = InfoOf(h).area()[0];
        lpt.s.reset();
        void *job = nullptr;
        uint32_t granted = 0, copied = 0, done = 0, sent = 0;
        JobAllocBlock alloc{&job, 5000, &granted};
        ASSERT_EQ(Io(LOXIM_JOB_ALLOC, h, &alloc), LOXIM_OK);
        EXPECT_EQ(granted, library ? 8192u : 5000u);
        JobCopyInBlock in{job, 0, data, 16, &copied, 0};
        ASSERT_EQ(Io(LOXIM_JOB_COPY_IN, h, &in), LOXIM_OK);
        EXPECT_EQ(copied, 16u);
        JobReallocBlock grow{&job, 9000, &granted};
        ASSERT_EQ(Io(LOXIM_JOB_REALLOC, h, &grow), LOXIM_OK);
        EXPECT_EQ(granted, library ? 12288u : 9000u);
        char back[16] = {};
        JobCopyOutBlock out{job, 0, back, 16, &copied};
        ASSERT_EQ(Io(LOXIM_JOB_COPY_OUT, h, &out), LOXIM_OK);
        EXPECT_EQ(std::memcmp(back, data, 16), 0);
        std::vector<StandinCall> calls = lpt.s.Calls();
        EXPECT_EQ(Ops(calls),
                  (library ? std::vector<uint32_t>{5, 6, 9, 7} : std::vector<uint32_t>{}));
        if (library) {
            EXPECT_EQ(calls[0].fields[0], 2u); // pages
            EXPECT_EQ(calls[2].fields[1], 3u);
        }

        // Send of bytes 4 to 11.
        lpt.s.reset();
        SendBlock send{job, 4, 8, 150, 0};
        ASSERT_EQ(Io(LOXIM_SEND, h, &send), LOXIM_OK);
        calls = lpt.s.Calls();
        ASSERT_EQ(Ops(calls), (std::vector<uint32_t>{21, 12}));
        if (library) {
            EXPECT_EQ(calls[1].fields[0], U32(job));
            EXPECT_EQ(calls[1].fields[1], 4u);
        } else {
            EXPECT_EQ(calls[1].fields[0], 0u);
            EXPECT_NE(GlobalFlags(job) & GMEM_LOCKCOUNT, 0u); // held until the result says done
            JobCopyInBlock busy{job, 0, data, 1, &copied, 0};
            EXPECT_EQ(Io(LOXIM_JOB_COPY_IN, h, &busy), LOXIM_E_BUFFER_IN_USE);
        }
        EXPECT_EQ(calls[1].fields[2], 8u);
        SendResultBlock result{job, &done, 8, &sent};
        ASSERT_EQ(Io(LOXIM_SEND_RESULT, h, &result), LOXIM_OK);
        EXPECT_EQ(done, 1u);
        EXPECT_EQ(sent, 8u);
        if (!library) {
            EXPECT_EQ(GlobalFlags(job) & GMEM_LOCKCOUNT, 0u);
            EXPECT_EQ(lpt.s.Sink(device), std::vector<uint8_t>(data + 4, data + 12));
            // Offset and length past the block: -104 and nothing sent.
            lpt.s.reset();
            SendBlock past{job, 8990, 11, 150, 0};
            EXPECT_EQ(Io(LOXIM_SEND, h, &past), LOXIM_E_JOB_BUFFER);
            EXPECT_EQ(Ops(lpt.s.Calls()), std::vector<uint32_t>{21});
            EXPECT_EQ(GlobalFlags(job) & GMEM_LOCKCOUNT, 0u);
            // A short count is reported after the buffer is released.
            StandinScript shortSend = DefaultScript();
            shortSend.sent = 5;
            lpt.s.Script(4, shortSend);
            ASSERT_EQ(Io(LOXIM_SEND, h, &send), LOXIM_OK);
            EXPECT_EQ(Io(LOXIM_SEND_RESULT, h, &result), LOXIM_E_SHORT_SEND);
            EXPECT_EQ(sent, 5u);
            EXPECT_EQ(GlobalFlags(job) & GMEM_LOCKCOUNT, 0u);
            EXPECT_EQ(Io(LOXIM_JOB_COPY_IN, h, &in), LOXIM_OK);
        }
        lpt.s.reset();
        uint32_t cut = 0;
        JobFreeBlock free{&job, &cut};
        ASSERT_EQ(Io(LOXIM_JOB_FREE, h, &free), LOXIM_OK);
        EXPECT_EQ(job, nullptr);
        EXPECT_EQ(Ops(lpt.s.Calls()),
                  (library ? std::vector<uint32_t>{10} : std::vector<uint32_t>{}));
        EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
    }
}

TEST_F(Paths, ParallelSendPacing) {
    struct Case {
        const char *what;
        bool printer;
        int64_t percent;
        uint32_t rate, pacing;
    };
    const Case cases[] = {
        {"50 % of 300: the floor", true, 50, 300, 200}, {"0 %", true, 0, 300, 0},
        {"2000 %: taken as 100", true, 2000, 300, 300}, {"300 %", true, 300, 1000, 3000},
        {"value missing", true, -1, 300, 300},          {"no printer", false, 50, 300, 300},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Printer printer("LoximTest Pacing");
        printer.Dword("ZEKMBufferVXDMemUse", 0);
        if (c.percent >= 0)
            printer.Dword("TransfarSpeedAdjust", static_cast<uint32_t>(c.percent));
        Lpt lpt("LPT4", 0x300, {}, c.printer ? printer.name() : nullptr);
        ASSERT_EQ(lpt.o.result, LOXIM_OK);
        HGLOBAL job = GlobalAlloc(GHND, 64);
        lpt.s.reset();
        SendBlock send{job, 0, 64, c.rate, 0};
        ASSERT_EQ(Io(LOXIM_SEND, lpt.o.handle, &send), LOXIM_OK);
        const std::vector<StandinCall> calls = lpt.s.Calls();
        ASSERT_EQ(Ops(calls), (std::vector<uint32_t>{21, 12}));
        PrinterSettings applied;
        std::memcpy(&applied, calls[0].settings, sizeof applied);
        EXPECT_EQ(applied.transferRate, c.pacing);
        EXPECT_EQ(InfoOf(lpt.o.handle).settings(12).transferRate, c.pacing);
        uint32_t done = 0, sent = 0;
        SendResultBlock result{job, &done, 64, &sent};
        EXPECT_EQ(Io(LOXIM_SEND_RESULT, lpt.o.handle, &result), LOXIM_OK);
        GlobalFree(job);
        EXPECT_EQ(Io(LOXIM_CLOSE, lpt.o.handle, nullptr), LOXIM_OK);
    }
}

TEST_F(Paths, ParallelWriteReadAndProbe) {
    Lpt lpt("LPT5", 0x300);
    ASSERT_EQ(lpt.o.result, LOXIM_OK);
    const uint32_t h = lpt.o.handle;
    const uint32_t device = InfoOf(h).area()[0];
    std::vector<char> data(250);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i);
    uint32_t count = 0;

    // Writes: 100 bytes per call, each from the current position.
    StandinScript hundred = DefaultScript();
    hundred.count = 100;
    lpt.s.reset();
    lpt.s.Script(13, hundred);
    WriteBlock write{data.data(), 250, &count, 1000};
    EXPECT_EQ(Io(LOXIM_WRITE, h, &write), LOXIM_OK);
    EXPECT_EQ(count, 250u);
    std::vector<StandinCall> calls = lpt.s.Calls();
    ASSERT_EQ(calls.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].fields[0], U32(data.data() + 100 * i));
        EXPECT_EQ(calls[i].fields[1], 250u - 100 * i);
    }
    EXPECT_EQ(lpt.s.Sink(device), std::vector<uint8_t>(data.begin(), data.end()));

    // Reads: each call asks only for the room left in the caller's buffer.
    StandinScript chunk = DefaultScript();
    chunk.count = 30;
    chunk.dataLength = 30;
    std::memset(chunk.data, 'r', 30);
    lpt.s.reset();
    lpt.s.Script(13, chunk);
    std::vector<char> in(100, 0);
    ReadBlock read{in.data(), 70, &count, 1000};
    EXPECT_EQ(Io(LOXIM_READ, h, &read), LOXIM_OK);
    EXPECT_EQ(count, 70u);
    calls = lpt.s.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].fields[3], U32(in.data() + 60));
    EXPECT_EQ(calls[2].fields[4], 10u);
    EXPECT_EQ(in[69], 'r');
    EXPECT_EQ(in[70], 0); // nothing past the buffer

    // Stalls: the write times out; a read that got nothing times out, one that got some ends.
    StandinScript stall = DefaultScript();
    stall.count = 0;
    lpt.s.reset();
    lpt.s.Script(13, stall);
    write.timeOut = 200;
    EXPECT_EQ(Io(LOXIM_WRITE, h, &write), LOXIM_E_TIMEOUT);
    EXPECT_EQ(count, 0u);
    EXPECT_LT(lpt.s.callCount(), 40u); // idle steps pause
    read.timeOut = 100;
    EXPECT_EQ(Io(LOXIM_READ, h, &read), LOXIM_E_TIMEOUT);

    // A library that claims more than it was asked: -160.
    StandinScript over = DefaultScript();
    over.extra = 1;
    over.dataLength = 70;
    lpt.s.reset();
    lpt.s.Script(13, over);
    write.timeOut = 1000;
    EXPECT_EQ(Io(LOXIM_WRITE, h, &write), LOXIM_E_DEVICE);
    EXPECT_EQ(Io(LOXIM_READ, h, &read), LOXIM_E_DEVICE);

    // Probe: one call for time-out 0, repeated calls until the time-out, -101 at a failure.
    lpt.s.reset();
    ProbeBlock probe{0};
    EXPECT_EQ(Io(LOXIM_PROBE, h, &probe), LOXIM_OK);
    EXPECT_EQ(lpt.s.callCount(), 1u);
    probe.timeOut = 100;
    EXPECT_EQ(Io(LOXIM_PROBE, h, &probe), LOXIM_OK);
    EXPECT_GT(lpt.s.callCount(), 2u);
    EXPECT_LT(lpt.s.callCount(), 20u);
    lpt.s.Script(15, Result(-1));
    EXPECT_EQ(Io(LOXIM_PROBE, h, &probe), LOXIM_E_PARAM);
    EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
}

TEST_F(Paths, ParallelStateAndSettings) {
    Lpt lpt("LPT6", 0x301);
    ASSERT_EQ(lpt.o.result, LOXIM_OK);
    const uint32_t h = lpt.o.handle;
    // Mode 1, flags bit 0, status 0x40: re-read, not determined.
    uint8_t status = 0x40, valid = 9;
    uint32_t state = 0;
    PrinterStateBlock stateBlock{&status, &state, 1, &valid};
    lpt.s.reset();
    EXPECT_EQ(Io(LOXIM_PRINTER_STATE, h, &stateBlock), LOXIM_OK);
    EXPECT_EQ(state, 0x1000000u);
    EXPECT_EQ(valid, 0);
    EXPECT_EQ(Ops(lpt.s.Calls()), std::vector<uint32_t>{14});
    // Flags 0 in mode 1: by the bits 0x90, no call.
    lpt.s.reset();
    status = 0x20;
    stateBlock.flags = 0;
    EXPECT_EQ(Io(LOXIM_PRINTER_STATE, h, &stateBlock), LOXIM_OK);
    EXPECT_EQ(state, 0x1000100u);
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(lpt.s.callCount(), 0u);

    // Code 19 takes only the settings of a copy, whatever else the copy holds.
    Info info = InfoOf(h);
    const uint32_t device = info.area()[0];
    auto *area = reinterpret_cast<uint32_t *>(info.bytes.data() + info.headerLength);
    area[0] = 0xBAD;   // a stale handle
    area[1] = 9;       // another port
    area[2] = 1;       // another buffer mode
    area[3 + 7] = 777; // TransferRate
    lpt.s.reset();
    SetSettingsBlock set{info.bytes.data(), 0x80000000u, 0};
    EXPECT_EQ(Io(LOXIM_SET_SETTINGS, h, &set), LOXIM_OK);
    std::vector<StandinCall> calls = lpt.s.Calls();
    ASSERT_EQ(Ops(calls), std::vector<uint32_t>{21});
    EXPECT_EQ(calls[0].handle, device);
    EXPECT_EQ(static_cast<int32_t>(calls[0].port), 6);
    PrinterSettings applied;
    std::memcpy(&applied, calls[0].settings, sizeof applied);
    EXPECT_EQ(applied.transferRate, 777u);
    const Info after = InfoOf(h);
    EXPECT_EQ(after.area()[0], device);
    EXPECT_EQ(after.area()[1], 6u);
    EXPECT_EQ(after.area()[2], 0u);
    EXPECT_EQ(after.settings(12).transferRate, 777u);
    // Refusals and the skip flag: no call.
    lpt.s.reset();
    SetSettingsBlock noBit{info.bytes.data(), 0x40000000u, 0};
    EXPECT_EQ(Io(LOXIM_SET_SETTINGS, h, &noBit), LOXIM_E_PARAM);
    SetSettingsBlock skip{info.bytes.data(), 0x80000000u, 1};
    EXPECT_EQ(Io(LOXIM_SET_SETTINGS, h, &skip), LOXIM_OK);
    reinterpret_cast<DeviceMappingHeader *>(info.bytes.data())->privateSize = 16;
    EXPECT_EQ(Io(LOXIM_SET_SETTINGS, h, &set), LOXIM_E_PARAM);
    EXPECT_EQ(lpt.s.callCount(), 0u);
    EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
}

// ---- USB ----

struct Usb {
    Standin s;
    Opened o;
    uint32_t device = 0;
    explicit Usb(const char *port) {
        o = Open(LOXIM_TYPE_USB, nullptr, port);
        s = Standin::Of("frennic.DLL");
        if (o.result == 0)
            device = InfoOf(o.handle).area()[0];
    }
};

TEST_F(Paths, UsbStatusCacheAndReady) {
    Usb a("USBLXC1"), b("USBLXC2");
    ASSERT_EQ(a.o.result, LOXIM_OK);
    ASSERT_EQ(b.o.result, LOXIM_OK);
    const Info info = InfoOf(a.o.handle);
    EXPECT_EQ(info.privateSize, 16u);
    EXPECT_EQ(info.area()[1], 1u); // port number
    EXPECT_EQ(info.area()[2], 1u); // open state
    a.s.reset();
    a.s.Script(12, Value(0x12));
    uint8_t status = 0;
    StatusByteBlock sb{&status};
    // Live after the open: the library is asked, 0xC0 OR-ed in.
    EXPECT_EQ(Io(LOXIM_STATUS_BYTE, a.o.handle, &sb), LOXIM_OK);
    EXPECT_EQ(status, 0xD2);
    std::vector<StandinCall> calls = a.s.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].fields[1], 100u);
    // A send start makes the cache not live: the cached byte, no call; the other device asks.
    HGLOBAL job = GlobalAlloc(GHND, 32);
    SendBlock send{job, 0, 32, 150, 500};
    a.s.reset();
    StandinScript notDone = DefaultScript();
    notDone.done = 0;
    a.s.Script(6, notDone);
    a.s.Script(12, Value(0x01));
    ASSERT_EQ(Io(LOXIM_SEND, a.o.handle, &send), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_STATUS_BYTE, a.o.handle, &sb), LOXIM_OK);
    EXPECT_EQ(status, 0xD2);
    EXPECT_EQ(Ops(a.s.Calls()), std::vector<uint32_t>{5});
    EXPECT_EQ(Io(LOXIM_STATUS_BYTE, b.o.handle, &sb), LOXIM_OK);
    EXPECT_EQ(status, 0xC1);
    uint32_t done = 0, sent = 0;
    SendResultBlock result{job, &done, 32, &sent};
    EXPECT_EQ(Io(LOXIM_SEND_RESULT, a.o.handle, &result), LOXIM_OK);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(Io(LOXIM_STATUS_BYTE, a.o.handle, &sb), LOXIM_OK);
    EXPECT_EQ(status, 0xD2); // still not live
    a.s.setScript(6, nullptr);
    EXPECT_EQ(Io(LOXIM_SEND_RESULT, a.o.handle, &result), LOXIM_OK);
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(Io(LOXIM_STATUS_BYTE, a.o.handle, &sb), LOXIM_OK);
    EXPECT_EQ(status, 0xC1); // live again
    GlobalFree(job);

    // A fresh open's cache holds 0xD8 until the library is asked.
    Usb c("USBLXC3");
    ASSERT_EQ(c.o.result, LOXIM_OK);
    job = GlobalAlloc(GHND, 8);
    SendBlock send8{job, 0, 8, 150, 500};
    c.s.Script(6, notDone);
    ASSERT_EQ(Io(LOXIM_SEND, c.o.handle, &send8), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_STATUS_BYTE, c.o.handle, &sb), LOXIM_OK);
    EXPECT_EQ(status, 0xD8);
    c.s.setScript(6, nullptr);
    EXPECT_EQ(Io(LOXIM_SEND_RESULT, c.o.handle, &result), LOXIM_OK);
    GlobalFree(job);

    uint32_t ready = 0;
    ReadyBlock rb{&ready};
    EXPECT_EQ(Io(LOXIM_IS_READY, a.o.handle, &rb), LOXIM_OK);
    EXPECT_EQ(ready, 1u);
    for (uint32_t h : {a.o.handle, b.o.handle, c.o.handle})
        EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
}

TEST_F(Paths, UsbWritesCloseAndPassThrough) {
    Usb u("USBLXW1");
    ASSERT_EQ(u.o.result, LOXIM_OK);
    const uint32_t h = u.o.handle;
    std::vector<char> data(250, 'w');
    uint32_t count = 0;
    StandinScript hundred = DefaultScript();
    hundred.count = 100;
    u.s.reset();
    u.s.Script(3, hundred);
    WriteBlock write{data.data(), 250, &count, 1000};
    EXPECT_EQ(Io(LOXIM_WRITE, h, &write), LOXIM_OK);
    EXPECT_EQ(count, 250u);
    std::vector<StandinCall> calls = u.s.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].fields[0], U32(data.data() + 200));
    EXPECT_EQ(calls[2].fields[1], 50u);
    EXPECT_NE(calls[2].fields[2], U32(&count)); // a scratch count, added to the total
    EXPECT_EQ(calls[2].fields[3], 1000u);

    // A stall: -132 after the time-out with what was written; a failure is returned as it is.
    StandinScript budget = DefaultScript();
    budget.budget = 120;
    u.s.reset();
    u.s.Script(3, budget);
    write.timeOut = 200;
    EXPECT_EQ(Io(LOXIM_WRITE, h, &write), LOXIM_E_TIMEOUT);
    EXPECT_EQ(count, 120u);
    u.s.Script(3, Result(-33));
    EXPECT_EQ(Io(LOXIM_WRITE, h, &write), -33);
    StandinScript over = DefaultScript();
    over.extra = 5;
    u.s.Script(3, over);
    EXPECT_EQ(Io(LOXIM_WRITE, h, &write), LOXIM_E_DEVICE);

    // Probe and pass-through blocks.
    u.s.reset();
    ProbeBlock probe{700};
    EXPECT_EQ(Io(LOXIM_PROBE, h, &probe), LOXIM_OK);
    char reply[16] = {};
    uint32_t replyLength = 0;
    const char request[] = "REQ";
    PassThroughBlock pass{
        LoximPassThroughControl(3, 0xABC) | 3u, request, 3, reply, 16, &replyLength, nullptr};
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &pass), LOXIM_OK);
    calls = u.s.Calls();
    ASSERT_EQ(Ops(calls), (std::vector<uint32_t>{11, 100}));
    EXPECT_EQ(calls[0].fields[0], 100u);
    EXPECT_EQ(calls[0].fields[1], 700u);
    const uint32_t fields[] = {0xABC, U32(request), 3, U32(reply), 16, U32(&replyLength)};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(calls[1].fields[i], fields[i]) << i;
    PassThroughBlock other{
        LoximPassThroughControl(257, 1), request, 3, reply, 16, &replyLength, nullptr};
    EXPECT_EQ(Io(LOXIM_PASS_THROUGH, h, &other), LOXIM_E_PARAM);

    // A library handle of 0 or -1 is refused at the close without a call.
    HANDLE m = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Devacc.QUV_USBLXW1");
    ASSERT_NE(m, nullptr);
    auto *record = static_cast<uint8_t *>(MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(record, nullptr);
    uint32_t *handle = reinterpret_cast<uint32_t *>(
        record + reinterpret_cast<DeviceMappingHeader *>(record)->headerLength);
    const uint32_t saved = *handle;
    u.s.reset();
    for (uint32_t bad : {0u, 0xffffffffu}) {
        *handle = bad;
        EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_E_HANDLE);
    }
    EXPECT_EQ(u.s.callCount(), 0u);
    *handle = saved;
    // Ready follows the record's open state.
    uint32_t ready = 0;
    ReadyBlock rb{&ready};
    handle[2] = 0;
    EXPECT_EQ(Io(LOXIM_IS_READY, h, &rb), LOXIM_OK);
    EXPECT_EQ(ready, 2u);
    handle[2] = 1;
    EXPECT_EQ(Io(LOXIM_IS_READY, h, &rb), LOXIM_OK);
    EXPECT_EQ(ready, 1u);
    UnmapViewOfFile(record);
    CloseHandle(m);
    EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
}

// ---- packet ----

TEST_F(Paths, PacketOpens) {
    // Service code and mapping name by type.
    const uint32_t types[][2] = {{4, 0x10221}, {6, 0x10251}, {7, 0x10253},
                                 {8, 0x10231}, {9, 0x10241}, {10, 0x10243}};
    std::vector<uint32_t> handles;
    for (const auto &t : types) {
        SCOPED_TRACE(t[0]);
        Opened o = Open(t[0], nullptr, "LPTPK1"); // one port, several service codes at once
        ASSERT_EQ(o.result, LOXIM_OK);
        handles.push_back(o.handle);
        char name[64];
        std::snprintf(name, sizeof name, "Devacc.QUVMFPI_LPTPK1%2x", t[1] & 0xff);
        EXPECT_TRUE(MappingExists(name)) << name;
        const StandinCall open = Standin::Of("ulvane.DLL").Calls().back();
        EXPECT_EQ(open.op, 1u);
        EXPECT_EQ(open.handle, 1u);
        EXPECT_EQ(open.fields[4], t[1]);
        EXPECT_EQ(open.fields[3], 1u); // registry default TransferMode 0x300: mode 1
        EXPECT_STREQ(open.texts[2], "DRANVEL|TOLVA-W|5");
        const Info info = InfoOf(o.handle);
        EXPECT_EQ(info.privateSize, 48u);
        EXPECT_EQ(info.area()[2], 0u); // no printer: no "ZEKMBufferVXDMemUse"
    }
    // The same name again: -131, and the first keeps working.
    Standin s = Standin::Of("ulvane.DLL");
    s.reset();
    EXPECT_EQ(Open(LOXIM_TYPE_PACKET, nullptr, "LPTPK1").result, LOXIM_E_ALREADY_OPEN);
    EXPECT_EQ(s.callCount(), 0u);
    char data[] = "abc";
    uint32_t written = 0;
    WriteBlock write{data, 3, &written, 400};
    EXPECT_EQ(Io(LOXIM_WRITE, handles[0], &write), LOXIM_OK);
    EXPECT_EQ(written, 3u);
    std::vector<StandinCall> calls = s.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].fields[3], 1024u);
    EXPECT_EQ(calls[0].fields[4], 400u);
    // handles[0] stays open: it keeps the stand-in loaded for its controls.
    for (size_t i = 1; i < handles.size(); ++i)
        EXPECT_EQ(Io(LOXIM_CLOSE, handles[i], nullptr), LOXIM_OK);

    // Mode by transfer mode, service code and language id from the params, the printer's
    // language id (32 bytes, terminated) and "ZEKMBufferVXDMemUse".
    Printer printer("LoximTest Packet");
    const std::string id32(32, 'L');
    printer.Dword("ZEKMBufferVXDMemUse", 5);
    HKEY key;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      (std::string(kPrinters) + "\\LoximTest Packet\\PrinterDriverData").c_str(), 0,
                      KEY_WRITE, &key),
        ERROR_SUCCESS);
    RegSetValueExA(key, "PrinterLanguageID", 0, REG_BINARY,
                   reinterpret_cast<const BYTE *>(id32.data()), 32);
    RegCloseKey(key);
    const ConnectionParams44 mode9{44, 0x10299, "LANG9", Settings(0x309)};
    const ConnectionParams44 mode8{44, 0x10288, nullptr, Settings(0x308)};
    const ConnectionParams12 none{12, 0, "X"};
    struct Case {
        const char *what;
        uint32_t type;
        const char *printer;
        const void *params;
        int32_t result;
        uint32_t mode, service;
        std::string id;
        uint32_t zekm;
    };
    const Case cases[] = {
        {"mode 9", 4, nullptr, &mode9, 0, 2, 0x10299, "LANG9", 0},
        {"mode 8, printer's id", 9, printer.name(), &mode8, 0, 1, 0x10288, id32, 5},
        {"service code 0", 4, nullptr, &none, LOXIM_E_PARAM, 0, 0, "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        s.reset();
        Opened o = Open(c.type, c.printer, "LPTPK2", c.params);
        EXPECT_EQ(o.result, c.result);
        if (c.result != 0) {
            EXPECT_EQ(s.callCount(), 0u);
            continue;
        }
        const StandinCall open = s.Calls().back();
        EXPECT_EQ(open.fields[3], c.mode);
        EXPECT_EQ(open.fields[4], c.service);
        EXPECT_EQ(std::string(open.texts[2]), c.id);
        const Info info = InfoOf(o.handle);
        EXPECT_EQ(info.area()[2], c.zekm);
        EXPECT_EQ(info.settings(12).transferMode,
                  reinterpret_cast<const ConnectionParams44 *>(c.params)->settings.transferMode);
        // Send and status byte.
        HGLOBAL job = GlobalAlloc(GHND, 16);
        SendBlock send{job, 2, 8, 150, 900};
        s.reset();
        ASSERT_EQ(Io(LOXIM_SEND, o.handle, &send), LOXIM_OK);
        const StandinCall sent = s.Calls().back();
        const uint32_t fields[] = {U32(job), 2, 8, 1024, 900, 0};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(sent.fields[i], fields[i]) << i;
        PrinterSettings withSend;
        std::memcpy(&withSend, sent.settings, sizeof withSend);
        EXPECT_EQ(withSend.transferMode, info.settings(12).transferMode); // the record's settings
        uint32_t done = 0, count = 0;
        SendResultBlock result{job, &done, 8, &count};
        EXPECT_EQ(Io(LOXIM_SEND_RESULT, o.handle, &result), LOXIM_OK);
        GlobalFree(job);
        uint8_t status = 0;
        StatusByteBlock sb{&status};
        for (const auto &[in, out] : {std::pair<uint32_t, uint8_t>{0xFF, 0xD8}, {0x00, 0x50}}) {
            s.Script(12, Value(in));
            EXPECT_EQ(Io(LOXIM_STATUS_BYTE, o.handle, &sb), LOXIM_OK);
            EXPECT_EQ(status, out);
        }
        EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
    }
    EXPECT_EQ(Io(LOXIM_CLOSE, handles[0], nullptr), LOXIM_OK);
}

// Every column of the dispatch table on a live device: which operation a code reaches, or none.
TEST_F(Paths, DispatchWalkParallelUsbPacket) {
    struct Column {
        uint32_t type;
        const char *port;
        const char *library;
    };
    const Column columns[] = {{2, "LPTWALK7", "zorla.DLL"},
                              {3, "USBWALK7", "frennic.DLL"},
                              {6, "LPTWALK8", "ulvane.DLL"}};
    constexpr uint32_t none = ~0u;
    struct Cell {
        uint32_t code;
        uint32_t ops[3];
        int32_t results[3];
    }; // parallel, USB, packet
    const Cell cells[] = {
        {8, {13, 3, 3}, {0, 0, 0}},
        {9, {13, 4, 4}, {0, 0, 0}},
        {10, {12, 5, 5}, {0, 0, 0}},
        {11, {4, 6, 6}, {0, 0, 0}},
        {12, {20, none, none}, {0, 0, 0}},
        {13, {16, 10, 10}, {0, 0, 0}},
        {14, {15, 11, 11}, {0, 0, 0}},
        {15, {14, 12, 12}, {0, 0, 0}},
        {16, {none, none, none}, {0, 0, 0}},
        {17, {23, none, none}, {0, LOXIM_E_PARAM, LOXIM_E_PARAM}},
        {18, {24, none, none}, {0, LOXIM_E_PARAM, LOXIM_E_PARAM}},
        {19, {21, none, none}, {0, 0, 0}},
        {100, {none, none, none}, {0, 0, 0}},
        {102, {none, none, none}, {0, 0, 0}},
        {103, {none, none, none}, {0, 0, 0}},
        {30000, {none, 100, none}, {0, 0, 0}},
    };
    for (int col = 0; col < 3; ++col) {
        const Column &c = columns[col];
        SCOPED_TRACE(c.port);
        Opened o = Open(c.type, nullptr, c.port);
        ASSERT_EQ(o.result, LOXIM_OK);
        Standin s = Standin::Of(c.library);
        char buffer[64] = "x";
        uint32_t count = 0, done = 0, sent = 0, ready = 0, state = 0, length = 0, net = 0;
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
        const Info info = InfoOf(o.handle);
        SetSettingsBlock settings{info.bytes.data(), 0x80000000u, 0};
        NetStatusBlock netBlock{&net};
        uint32_t replyLength = 0;
        PassThroughBlock pass{
            LoximPassThroughControl(c.type, 1), buffer, 1, buffer, 64, &replyLength, nullptr};
        void *blocks[] = {&write,    &read,        &send,       &result, &readyBlock, &id,
                          &probe,    &statusBlock, &stateBlock, &aux,    nullptr,     &settings,
                          &netBlock, nullptr,      nullptr,     &pass};
        StandinScript idScript = DefaultScript();
        std::memcpy(idScript.data, "MFG:LX;", 7);
        idScript.dataLength = 7;
        s.reset();
        s.Script(c.type == LOXIM_TYPE_PARALLEL ? 16 : 10, idScript);
        s.Script(c.type == LOXIM_TYPE_PARALLEL ? 13 : 4, idScript);
        for (size_t i = 0; i < std::size(cells); ++i) {
            const Cell &cell = cells[i];
            SCOPED_TRACE(cell.code);
            const size_t before = s.callCount();
            EXPECT_EQ(Io(cell.code, o.handle, blocks[i]), cell.results[col]);
            std::vector<StandinCall> calls = s.Calls();
            calls.erase(calls.begin(), calls.begin() + before);
            if (cell.ops[col] == none) {
                EXPECT_TRUE(calls.empty());
            } else {
                ASSERT_FALSE(calls.empty());
                EXPECT_EQ(calls.back().op, cell.ops[col]);
                EXPECT_EQ(calls.back().handle, info.area()[0]);
            }
        }
        EXPECT_EQ(length, 7u);
        GlobalFree(job);
        EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
    }
}

} // namespace
