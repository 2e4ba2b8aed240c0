// Pure rules of the driver: registry ranges, names, time conversions, calibration, status.
#include "par_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace par;

std::u16string Text(const uint16_t *s, size_t n) {
    return std::u16string(reinterpret_cast<const char16_t *>(s), n);
}

TEST(ParameterRules, RangesAppliedToEveryValue) {
    struct Case {
        uint32_t initTimeout, strbBefore, strbAfter, blockSize;
        uint32_t wantInit, wantBefore, wantAfter, wantBlock;
    } cases[] = {
        {0, 0, 0, 512, 3, 0, 0, 512},
        {7, 1000, 100, 4096, 7, 1000, 100, 4096},
        {4294967, 1001, 101, 0, 4294967, 0, 0, 512},
        {1, 0xFFFFFFFFu, 0x80000000u, 1, 1, 0, 0, 1}, // negative as stored DWORDs
    };
    for (const Case &c : cases) {
        Parameters p = DefaultParameters();
        p.initializationTimeout = c.initTimeout;
        p.strbBefore = c.strbBefore;
        p.strbAfter = c.strbAfter;
        p.blockSize = c.blockSize;
        ApplyParameterRules(p);
        EXPECT_EQ(p.initializationTimeout, c.wantInit);
        EXPECT_EQ(p.strbBefore, c.wantBefore);
        EXPECT_EQ(p.strbAfter, c.wantAfter);
        EXPECT_EQ(p.blockSize, c.wantBlock);
    }
    Parameters d = DefaultParameters();
    EXPECT_EQ(d.transferType, 2u);
    EXPECT_EQ(d.privMode, 1u);
    EXPECT_EQ(d.blockSize, 512u);
}

TEST(ParameterRules, ValueTypesChecked) {
    EXPECT_TRUE(DwordValueAcceptable(kRegDword, 4));
    EXPECT_FALSE(DwordValueAcceptable(kRegDword, 8));
    EXPECT_FALSE(DwordValueAcceptable(kRegSz, 4));
    EXPECT_FALSE(DwordValueAcceptable(3 /* binary */, 4));

    std::vector<uint16_t> s256(257, 'A');
    s256[256] = 0;
    std::vector<uint16_t> s257(258, 'B');
    s257[257] = 0;
    std::vector<uint16_t> bare(256, 'C'); // no terminator stored
    EXPECT_TRUE(DosDeviceValueAcceptable(kRegSz, s256.data(), 257 * 2));
    EXPECT_FALSE(DosDeviceValueAcceptable(kRegSz, s257.data(), 258 * 2));
    EXPECT_TRUE(DosDeviceValueAcceptable(kRegSz, bare.data(), 256 * 2));
    EXPECT_FALSE(DosDeviceValueAcceptable(kRegSz, s256.data(), 5)); // odd byte count
    EXPECT_FALSE(DosDeviceValueAcceptable(kRegDword, s256.data(), 4));
    EXPECT_FALSE(DosDeviceValueAcceptable(3, s256.data(), 8));
    EXPECT_TRUE(DosDeviceValueAcceptable(kRegSz, nullptr, 0));
}

TEST(Names, AppendsCheckCapacity) {
    uint16_t buf[16];
    size_t len = 0;
    ASSERT_TRUE(AppendAscii(buf, 16, &len, "\\Device\\pellin"));
    ASSERT_TRUE(AppendDecimal(buf, 16, &len, 10));
    EXPECT_EQ(Text(buf, len), u"\\Device\\pellin10");
    EXPECT_FALSE(AppendDecimal(buf, 16, &len, 1)); // full: nothing written
    EXPECT_EQ(len, 16u);

    len = 13;
    EXPECT_FALSE(AppendDecimal(buf, 16, &len, 4294967295u));
    EXPECT_EQ(len, 13u);
    const uint16_t two[2] = {'X', 'Y'};
    EXPECT_TRUE(AppendChars(buf, 16, &len, two, 2));
    EXPECT_FALSE(AppendChars(buf, 16, &len, two, 2));
    EXPECT_EQ(len, 15u);

    struct {
        uint32_t v;
        size_t chars;
    } digits[] = {{0, 1}, {9, 1}, {10, 2}, {4294967295u, 10}};
    for (auto d : digits) {
        EXPECT_EQ(DecimalChars(d.v), d.chars) << d.v;
    }
    EXPECT_EQ(LinkNameChars(6, 1), 19u);     // \DosDevices\pellin1
    EXPECT_EQ(LinkNameChars(256, 11), 270u); // a longest base with two digits
}

TEST(Time, SixtyFourBitConversions) {
    EXPECT_EQ(RelativeSeconds(30), -300000000LL);
    EXPECT_EQ(RelativeSeconds(4294967), -42949670000000LL);
    EXPECT_EQ(RelativeSeconds(0xFFFFFFFFu), -42949672950000000LL);

    struct {
        int64_t counts, freq, ns, hundredNs;
    } cases[] = {
        {5, 10000000, 500, 5},
        {10000000LL * 3600 * 24 * 30, 10000000, 1000000000LL * 3600 * 24 * 30,
         10000000LL * 3600 * 24 * 30}, // 30 days at 10 MHz
        {3000000000LL * 1000000, 3000000000LL, 1000000000000000LL, 10000000000000LL}, // 3 GHz
        {1, 3, 333333333, 3333333},
        {7, 0, 0, 0},
        {-4, 10, 0, 0},
    };
    for (auto c : cases) {
        EXPECT_EQ(CountsToNs(c.counts, c.freq), c.ns) << c.counts;
        EXPECT_EQ(CountsTo100Ns(c.counts, c.freq), c.hundredNs) << c.counts;
    }
    // Ticks across the low part's wrap.
    EXPECT_EQ(TicksTo100Ns(0x100000002ULL, 0xFFFFFFFEULL, 10000), 40000);
    EXPECT_EQ(TicksTo100Ns(5, 5, 156250), 0);
}

TEST(Calibration, SecondSmallestLeavesOutOneSmallest) {
    struct {
        std::vector<int64_t> s;
        int64_t want;
    } cases[] = {
        {{5, 4, 3}, 4},
        {{3, 1, 1, 5}, 1},
        {{9, 9}, 9},
        {{10, 2, 8, 7, 6, 5, 4, 3, 9, 1}, 2},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(SecondSmallest(c.s.data(), c.s.size()), c.want);
    }
}

TEST(Calibration, StallPasses) {
    EXPECT_EQ(StallPasses(500, 4 * kStepScale, 600), 0u);
    EXPECT_EQ(StallPasses(600, 4 * kStepScale, 600), 0u);
    EXPECT_EQ(StallPasses(500, 4 * kStepScale, 100), 100u);
    // 0.3 ns a pass: a 1000-ns stall is 1000 / 0.30078 passes, not 1000 / 1.
    EXPECT_EQ(StallPasses(1000, 77, 0), 3324u);
    EXPECT_EQ(StallPasses(0xFFFFFFFFu, 1, 0), 0xFFFFFFFFu); // clamped, not wrapped
}

TEST(Calibration, RunEvaluation) {
    // 2-ns passes, 100-ns counter reads, 1-us port writes: every section includes one read.
    StallCalibration r = EvaluateCalibrationRun(100, 100 + 1600, 100 + 3200, 100 + 1000);
    EXPECT_EQ(r.step256, 2 * kStepScale);
    EXPECT_EQ(r.overheadNs, 1000u);
    EXPECT_EQ(StepFieldNs(r.step256), 2u);

    // Passes too short to show: no step, overhead from the sections alone.
    r = EvaluateCalibrationRun(1000000, 1000000, 1000000, 1000000);
    EXPECT_EQ(r.step256, 0u);
    EXPECT_EQ(r.overheadNs, 0u);
    // Noise making the longer section shorter.
    r = EvaluateCalibrationRun(100, 2000, 1900, 1100);
    EXPECT_EQ(r.step256, 0u);
    EXPECT_EQ(r.overheadNs, 2000u - 100 + 1000);
    // A quarter-nanosecond pass.
    r = EvaluateCalibrationRun(100, 100 + 200, 100 + 400, 100 + 1000);
    EXPECT_EQ(r.step256, kStepScale / 4);
    EXPECT_EQ(StepFieldNs(r.step256), 1u);
}

TEST(Calibration, ChoosingAmongRuns) {
    struct Case {
        std::vector<StallCalibration> runs;
        StallCalibration want;
    } cases[] = {
        {{{512, 10}, {512, 5}, {768, 1}, {512, 7}}, {512, 7}},
        {{{600, 10}, {512, 10}, {512, 10}, {700, 1}}, {512, 10}},
        {{{0, 3}, {0, 9}, {0, 2}, {0, 4}}, {1, 3}}, // no step measured: the finest
        {{{0, 3}, {256, 1}, {512, 0}, {300, 0}}, {256, 1}},
    };
    for (const Case &c : cases) {
        StallCalibration got = ChooseCalibration(c.runs.data(), c.runs.size());
        EXPECT_EQ(got.step256, c.want.step256);
        EXPECT_EQ(got.overheadNs, c.want.overheadNs);
    }
    struct {
        uint32_t step256, ns;
    } fields[] = {{1, 1}, {256, 1}, {257, 2}, {512, 2}, {77, 1}};
    for (auto f : fields) {
        EXPECT_EQ(StepFieldNs(f.step256), f.ns) << f.step256;
    }
}

// Sections of the Mce calibration as a port with the given write costs and pass cost
// produces them, in 100-ns units.
int64_t Section(double writeNs, int passes, double passNs) {
    return static_cast<int64_t>(256 * (writeNs + passes * passNs) / 100);
}

TEST(Calibration, MceLoopCountSpansSevenMicroseconds) {
    struct {
        double controlNs, dataNs, passNs;
    } cases[] = {
        {1000, 1000, 1},
        {1000, 1000, 0.5},
        {500, 300, 2},
        {1000, 1000, 7},
    };
    for (auto c : cases) {
        int64_t t1 = Section(c.controlNs, 128, c.passNs), t2 = Section(c.controlNs, 256, c.passNs);
        int64_t t3 = Section(c.dataNs, 128, c.passNs), t4 = Section(c.dataNs, 256, c.passNs);
        int32_t count = MceLoopCount(t1, t2, t3, t4);
        ASSERT_GT(count, 0);
        double n = count / 1.1; // the count before its added tenth
        double span = c.controlNs + c.dataNs + n * c.passNs;
        EXPECT_NEAR(span, 6897, 6897 * 0.03) << c.passNs;
    }
    // Writes of 3.5 us leave no time for passes.
    EXPECT_EQ(MceLoopCount(Section(3500, 128, 1), Section(3500, 256, 1), Section(3500, 128, 1),
                           Section(3500, 256, 1)),
              0);
    // Sections that do not grow with the passes.
    EXPECT_EQ(MceLoopCount(100, 100, 50, 60), 0);
    EXPECT_EQ(MceLoopCount(100, 120, 60, 50), 0);
}

TEST(Status, ResetWaitAndInitialised) {
    struct {
        uint8_t s;
        bool ready, offLine, powerOff, notConnected, ends, initialises;
    } cases[] = {
        {0xDF, true, false, false, false, true, true}, // ready, selected
        {0x98, true, false, false, false, true, true},
        {0x18, false, false, false, false, false, false}, // busy, on line
        {0x08, false, true, false, false, true, true},    // off line
        {0x80, false, false, true, false, true, false},   // power off
        {0x88, true, false, false, true, true, true},     // not connected (also ready)
        {0xA8, false, false, false, true, true, false},   // not connected, paper out
        {0xB8, false, false, false, false, false, false}, // paper empty
        {0x78, false, false, false, false, false, false},
    };
    for (auto c : cases) {
        EXPECT_EQ(StatusReady(c.s), c.ready) << int(c.s);
        EXPECT_EQ(StatusOffLine(c.s), c.offLine) << int(c.s);
        EXPECT_EQ(StatusPowerOff(c.s), c.powerOff) << int(c.s);
        EXPECT_EQ(StatusNotConnected(c.s), c.notConnected) << int(c.s);
        EXPECT_EQ(StatusEndsResetWait(c.s), c.ends) << int(c.s);
        EXPECT_EQ(StatusInitialises(c.s), c.initialises) << int(c.s);
    }
}

// ---- Requests ---------------------------------------------------------------------------------

struct ControlCase {
    const char *what;
    uint32_t code;
    uint32_t in, out;
    std::vector<uint8_t> input; // empty: no system buffer
    bool gate;
    Handling handling;
    uint32_t status;
};

std::vector<uint8_t> Dword(uint32_t v, size_t bytes = 4) {
    std::vector<uint8_t> b(bytes, 0);
    StoreU32(b.data(), v);
    return b;
}

std::vector<uint8_t> Timeouts(uint32_t writeConstant) {
    std::vector<uint8_t> b(20, 0);
    StoreU32(b.data() + 16, writeConstant);
    return b;
}

std::vector<uint8_t> Block(uint32_t blockSize, uint32_t count) {
    std::vector<uint8_t> b(32, 0);
    StoreU32(b.data(), blockSize);
    StoreU32(b.data() + 28, count);
    return b;
}

TEST(ControlValidation, SizesValuesAndTheGate) {
    const auto Q = Handling::Queued, A = Handling::AtOnce, R = Handling::Refused;
    const uint32_t ok = kNtSuccess, small = kNtBufferTooSmall, bad = kNtInvalidParameter,
                   gone = kNtAlreadyDisconnected;
    const std::vector<uint8_t> none, one{1}, two{2};
    const ControlCase cases[] = {
        {"query information", kIoctlQueryInformation, 0, 1, none, false, Q, ok},
        {"query information, no output", kIoctlQueryInformation, 0, 0, none, false, R, small},
        {"set information 1", kIoctlSetInformation, 1, 0, one, false, Q, ok},
        {"set information 2", kIoctlSetInformation, 1, 0, two, false, R, bad},
        {"set information, no input", kIoctlSetInformation, 0, 0, none, false, R, small},
        {"device id", kIoctlQueryDeviceId, 0, 1, none, false, Q, ok},
        {"device id, no output", kIoctlQueryDeviceId, 0, 0, none, false, R, small},
        {"device id size", kIoctlQueryDeviceIdSize, 0, 4, none, false, Q, ok},
        {"device id size 3", kIoctlQueryDeviceIdSize, 0, 3, none, false, R, small},
        {"set time-outs 100", kIoctlSetTimeouts, 20, 0, Timeouts(100), false, Q, ok},
        {"set time-outs 99", kIoctlSetTimeouts, 20, 0, Timeouts(99), false, R, bad},
        {"set time-outs 2500", kIoctlSetTimeouts, 20, 0, Timeouts(2500), false, Q, ok},
        {"set time-outs, 19 bytes", kIoctlSetTimeouts, 19, 0, Timeouts(2500), false, R, small},
        {"get time-outs", kIoctlGetTimeouts, 0, 20, none, false, A, ok},
        {"get time-outs 19", kIoctlGetTimeouts, 0, 19, none, false, R, small},
        {"status", kIoctlStatus, 0, 1, none, false, A, ok},
        {"status, no output", kIoctlStatus, 0, 0, none, false, R, small},
        {"set mode", kIoctlSetMode, 4, 0, Dword(3), false, Q, ok},
        {"set mode 3 bytes", kIoctlSetMode, 3, 0, Dword(3), false, R, small},
        {"get modes", kIoctlGetModes, 0, 8, none, false, Q, ok},
        {"get modes 7", kIoctlGetModes, 0, 7, none, false, R, small},
        {"write, then read, empty", kIoctlWriteRead, 0, 0, none, false, Q, ok},
        {"driver info", kIoctlDriverInfo, 0, 36, none, false, A, ok},
        {"driver info 35", kIoctlDriverInfo, 0, 35, none, false, R, small},
        {"block write 24", kIoctlBlockWrite, 32, 0, Block(0, 24), false, Q, ok},
        {"block write 25", kIoctlBlockWrite, 32, 0, Block(512, 25), false, R, bad},
        {"block write huge count", kIoctlBlockWrite, 32, 0, Block(512, 0xFFFFFFFFu), false, R, bad},
        {"block write 31 bytes", kIoctlBlockWrite, 31, 0, Block(0, 1), false, R, small},
        {"negotiate", kIoctlNegotiate, 0, 0, none, false, Q, ok},
        {"terminate", kIoctlTerminate, 0, 0, none, false, Q, ok},
        {"saved status", kIoctlSavedStatus, 0, 2, none, false, A, ok},
        {"saved status 1", kIoctlSavedStatus, 0, 1, none, false, R, small},
        {"throughput", kIoctlThroughput, 0, 4, none, false, Q, ok},
        {"throughput 3", kIoctlThroughput, 0, 3, none, false, R, small},
        {"options 3", kIoctlSetOptions, 4, 0, Dword(3), false, Q, ok},
        {"options 4", kIoctlSetOptions, 4, 0, Dword(4), false, R, bad},
        {"options 3 bytes", kIoctlSetOptions, 3, 0, Dword(3), false, R, small},
        {"compat write", kIoctlCompatWrite, 4, 0, Dword(7), false, Q, ok},
        {"compat write, output as long", kIoctlCompatWrite, 4, 4, Dword(7), false, Q, ok},
        {"compat write, output shorter", kIoctlCompatWrite, 4, 3, Dword(7), false, R, bad},
        {"compat write, nothing", kIoctlCompatWrite, 0, 0, none, false, R, small},
        {"compat write, no buffer", kIoctlCompatWrite, 4, 0, none, false, R, small},
        {"unknown code", 0x160014, 4, 4, Dword(0), false, R, bad},
        {"serial code not handled", 0x1B0004, 4, 4, Dword(0), false, R, bad},
        // The gate comes last and overrides a size error, for its five codes only.
        {"gate: device id", kIoctlQueryDeviceId, 0, 1, none, true, R, gone},
        {"gate: device id, no output", kIoctlQueryDeviceId, 0, 0, none, true, R, gone},
        {"gate: device id size 3", kIoctlQueryDeviceIdSize, 0, 3, none, true, R, gone},
        {"gate: write, then read", kIoctlWriteRead, 4, 4, Dword(1), true, R, gone},
        {"gate: negotiate", kIoctlNegotiate, 0, 1, none, true, R, gone},
        {"gate: terminate", kIoctlTerminate, 0, 0, none, true, R, gone},
        {"gate: query information", kIoctlQueryInformation, 0, 1, none, true, Q, ok},
        {"gate: block write", kIoctlBlockWrite, 32, 0, Block(0, 1), true, Q, ok},
        {"gate: compat write", kIoctlCompatWrite, 4, 0, Dword(1), true, Q, ok},
        {"gate: status", kIoctlStatus, 0, 1, none, true, A, ok},
    };
    for (const ControlCase &c : cases) {
        SCOPED_TRACE(c.what);
        ControlRequest r{c.code, c.in, c.out, c.input.empty() ? nullptr : c.input.data()};
        Verdict v = ValidateControl(r, c.gate);
        EXPECT_EQ(v.handling, c.handling);
        EXPECT_EQ(v.status, c.status);
    }
}

TEST(ControlValidation, AtOnceByteCounts) {
    EXPECT_EQ(AtOnceBytes(kIoctlStatus), 1u);
    EXPECT_EQ(AtOnceBytes(kIoctlDriverInfo), 36u);
    EXPECT_EQ(AtOnceBytes(kIoctlSavedStatus), 2u);
    EXPECT_EQ(AtOnceBytes(kIoctlGetTimeouts), 20u);
    EXPECT_EQ(AtOnceBytes(kIoctlQueryInformation), 0u);
}

TEST(PrinterStatus, NotReadyStatusAndQueryByte) {
    struct Case {
        uint8_t s;
        uint32_t status;
        uint8_t byte;
    } cases[] = {
        {0x78, kNtNotConnected, 0xD0}, // busy, nAck, PError, Select, nFault: not connected
        {0xDF, kNtNotConnected, 0x80}, // ready and selected
        {0x08, kNtOffLine, 0x48},      // nFault only: off line, busy
        {0x80, kNtPoweredOff, 0x10},   // not busy only: power off
        {0xA8, kNtPaperEmpty, 0x04},   // paper end
        {0x88, kNtNotConnected, 0x20}, // not busy, nFault, no Select
        {0x28, kNtOffLine, 0x44},      // paper end while busy: off line first
        {0xC0, kNtNotConnected, 0x00}, // nFault clear with nAck high
        {0x18, kNtNotConnected, 0xC0}, // busy, selected
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.s));
        EXPECT_EQ(NotInitError(c.s), c.status);
        EXPECT_EQ(QueryInformationByte(c.s), c.byte);
    }
}

TEST(RequestRecords, DriverInfoImage) {
    DriverInfo info{30, 0, 1, 0, 0x01020304, 0x0A0B0C0D, 3, 512, 2, 1};
    uint8_t out[36];
    std::memset(out, 0xA5, sizeof out);
    WriteDriverInfo(info, out);
    const uint8_t want[36] = {30,   0,    0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 4, 3, 2, 1, 0x0D, 0x0C,
                              0x0B, 0x0A, 3, 0, 0, 0, 0, 2, 0, 0, 2, 0, 0, 0, 1, 0, 0,    0};
    EXPECT_EQ(std::memcmp(out, want, 36), 0);
}

TEST(RequestRecords, TimeOutsAndBlockWrite) {
    EXPECT_EQ(TimeoutFromWriteConstant(2500), 2u);
    EXPECT_EQ(WriteConstantFromTimeout(2), 2000u);
    EXPECT_EQ(TimeoutFromWriteConstant(0xFFFFFFFFu), 4294967u);
    EXPECT_EQ(WriteConstantFromTimeout(4294967u), 4294967000u);
    uint8_t t[20];
    std::memset(t, 0xA5, sizeof t);
    WriteSerialTimeouts(30, t);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(t[i], 0) << i;
    EXPECT_EQ(SerialWriteConstant(t), 30000u);

    BlockWrite b;
    std::vector<uint8_t> r = Block(0, 24);
    r[4] = 0x55;
    ASSERT_TRUE(ParseBlockWrite(r.data(), &b));
    EXPECT_EQ(b.blockSize, 512u);
    EXPECT_EQ(b.count, 24u);
    EXPECT_EQ(b.data[0], 0x55);
    EXPECT_FALSE(ParseBlockWrite(Block(64, 25).data(), &b));
    ASSERT_TRUE(ParseBlockWrite(Block(64, 0).data(), &b));
    EXPECT_EQ(b.blockSize, 64u);

    EXPECT_EQ(WorkerIncrement(0), -2);
    EXPECT_EQ(WorkerIncrement(-5), -5);
    EXPECT_EQ(WorkerIncrement(16), 16);
}

TEST(Modes, RequestBytesPerMode) {
    struct Case {
        uint32_t mode, blockSize;
        uint8_t want;
    } cases[] = {
        {0, 512, 0x18},
        {32, 512, 0x18},
        {68, 512, 0x18},
        {1, 512, 0x08},
        {3, 512, 0x10},
        {4, 512, 0x00},
        {5, 512, 0x0C},
        {6, 512, 0x04},
        {8, 512, 0x28},
        {64, 512, 0x28},
        {9, 512, 0x38},
        {65, 512, 0x38},
        {66, 512, 0x48},
        {67, 512, 0x58},
        {248, 512, 0xF8},
        {7, 512, 0x07},
        {5, 65536, 0x0A},
        {6, 65536, 0x02}, // 256 + 10 and 256 + 2 keep their low 8 bits
        {5, 0xFFFFFFFFu, static_cast<uint8_t>(0xFFFFFFu + 10)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(NegotiationRequestByte(c.mode, c.blockSize), c.want) << c.mode;
}

TEST(Modes, WriterAndBlockPerMode) {
    struct Case {
        uint32_t mode, blockSize, length;
        Writer writer;
        uint32_t block;
    } cases[] = {
        {2, 512, 100, Writer::Compat, 1},    {1, 512, 100, Writer::Burst, 512},
        {5, 512, 100, Writer::AB, 504},      {6, 512, 100, Writer::AC, 504},
        {5, 9, 100, Writer::AB, 1},          {5, 8, 100, Writer::AB, 0},
        {6, 4, 100, Writer::AC, 0},          {0, 512, 100, Writer::DB, 512},
        {32, 64, 100, Writer::DB, 64},       {68, 512, 100, Writer::PxDB, 512},
        {3, 512, 70000, Writer::Ecp, 70000}, {8, 512, 9, Writer::Mce, 9},
        {9, 512, 9, Writer::None, 9},        {4, 512, 9, Writer::None, 512},
        {64, 512, 9, Writer::None, 512},     {0, 0, 9, Writer::DB, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(WriterForMode(c.mode), c.writer) << c.mode;
        EXPECT_EQ(WriteBlockSize(c.mode, c.blockSize, c.length), c.block)
            << c.mode << " " << c.blockSize;
    }
}

TEST(Modes, MceSplitAndPadding) {
    EXPECT_EQ(McePasses(200).a, 67u);
    EXPECT_EQ(McePasses(200).b, 134u);
    EXPECT_EQ(McePasses(0).a, 1u);
    EXPECT_EQ(McePasses(0).b, 1u);
    EXPECT_EQ(McePasses(0x7FFFFFFF).b, 1431655765u); // 2 x count computed in 64 bits
    uint8_t pad[3] = {};
    ASSERT_EQ(McePadding(5, pad), 3u);
    EXPECT_EQ(std::vector<uint8_t>(pad, pad + 3), (std::vector<uint8_t>{0x55, 0x55, 0x55}));
    ASSERT_EQ(McePadding(6, pad), 2u);
    EXPECT_EQ(std::vector<uint8_t>(pad, pad + 2), (std::vector<uint8_t>{0xAA, 0xAA}));
    EXPECT_EQ(McePadding(0, pad), 2u);
}

// Plans a block after the first byte is on the lines; "D<ns>" a data change, "E<ns>" an edge,
// the stall before in brackets for mode 68.
std::string Plan(uint32_t mode, const std::vector<uint8_t> &block, uint32_t before,
                 uint32_t after) {
    DbState st{block[0], true, false};
    std::string out;
    for (size_t i = 1; i < block.size(); ++i) {
        bool hasNext = i + 1 < block.size();
        DbStep s =
            PlanDoubleEdge(mode, st, block[i], hasNext, hasNext ? block[i + 1] : 0, before, after);
        if (s.beforeNs)
            out += "[" + std::to_string(s.beforeNs) + "]";
        out += (s.edge ? "E" : "D") + std::to_string(s.afterNs) + " ";
    }
    return out;
}

TEST(Modes, DoubleEdgePlanner) {
    const std::vector<uint8_t> runs = {1, 2, 2, 2, 3, 4, 4};
    EXPECT_EQ(Plan(0, runs, 0, 0), "D1000 E2000 E2000 D1000 D1000 E2000 ");
    EXPECT_EQ(Plan(32, runs, 0, 0), "D400 E2000 E2000 D400 D400 E2000 ");
    EXPECT_EQ(Plan(0, runs, 5, 3), "D5000 E3000 E3000 D1000 D5000 E3000 ");
    // PX: stalls come before the write, after a repeat by the strobe bit (low after the first
    // byte's edge, toggled by each repeat).
    EXPECT_EQ(Plan(68, runs, 5, 3), "[1000]D0 [1000]E0 [1500]E0 [1700]D0 [1000]D0 [1000]E0 ");
    EXPECT_EQ(Plan(68, {9, 9, 8}, 0, 0), "[1000]E0 [2200]D0 ");

    DbState st{7, false, false};
    PlanDoubleEdge(0, st, 7, false, 0, 0, 0);
    EXPECT_TRUE(st.strobeLow);
    EXPECT_TRUE(st.prevRepeat);
    PlanDoubleEdge(0, st, 8, false, 0, 0, 0);
    EXPECT_EQ(st.lines, 8);
    EXPECT_TRUE(st.strobeLow);
    EXPECT_FALSE(st.prevRepeat);
}

TEST(Modes, ThroughputRate) {
    EXPECT_EQ(ThroughputRate(0), 0u);
    EXPECT_EQ(ThroughputRate(-5), 0u);
    EXPECT_EQ(ThroughputRate(1), 400000000u);
    EXPECT_EQ(ThroughputRate(40000), 10000u); // 4096 bytes in 4 ms: 1000 KiB/s
    EXPECT_EQ(AbReadyPolls(4294967), 429496700ull);
    EXPECT_EQ(AcReadyPolls(4294967), 42949670000ull);
}

TEST(Reverse, NibbleAssembly) {
    EXPECT_EQ(AssembleNibbles(0x47, 0xB7), 0x68);
    // Each of the 16 values in each half, from the status lines a peripheral drives for it.
    for (uint8_t v = 0; v < 16; ++v) {
        const uint8_t s = static_cast<uint8_t>(
            ((v & 1) ? kStatusNFault : 0) | ((v & 2) ? kStatusSelect : 0) |
            ((v & 4) ? kStatusPError : 0) | ((v & 8) ? 0 : kStatusNotBusy) | 0x07);
        const uint8_t other = 0x80; // assembles to 0
        EXPECT_EQ(AssembleNibbles(s, other), v) << int(v);
        EXPECT_EQ(AssembleNibbles(other, s), v << 4) << int(v);
        // nAck and the low bits do not take part.
        EXPECT_EQ(AssembleNibbles(s ^ 0x47, other), v) << int(v);
    }
}

TEST(Reverse, DeviceIdLengthField) {
    struct Case {
        uint8_t high, low;
        bool ok;
        uint32_t length;
    } cases[] = {{0x00, 0x2A, true, 40}, {0x00, 0x02, true, 0},     {0x00, 0x00, false, 0},
                 {0x00, 0x01, false, 0}, {0xFF, 0xFF, true, 65533}, {0x01, 0x00, true, 254}};
    for (const Case &c : cases) {
        uint32_t length = 12345;
        EXPECT_EQ(DeviceIdTextLength(c.high, c.low, &length), c.ok) << int(c.high) << int(c.low);
        EXPECT_EQ(length, c.ok ? c.length : 12345u) << int(c.high) << int(c.low);
    }
}

TEST(Reverse, MceRules) {
    std::string delays;
    for (uint32_t n = 0; n <= 11; ++n) {
        delays += MceDelayAfterByte(n) ? '1' : '.';
    }
    EXPECT_EQ(delays, ".1..1..1..1.");
    EXPECT_EQ(kMceHeaderBytes, 2u);
    EXPECT_EQ(kEcpCarryBytes, 66u);
}

} // namespace
