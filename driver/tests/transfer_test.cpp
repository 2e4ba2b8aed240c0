// The driver's negotiation, termination and forward writers against the simulated peripheral,
// in virtual time through the I/O manager, with the timing checker on: what the peripheral
// decodes, the request bytes it sees, each missing answer's exit, and the probe.
#include "par_ext.h"
#include "par_transfer.h"

#include <gtest/gtest.h>

#include "sim.h"

#include <cstring>
#include <string>
#include <vector>

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace {

const wchar_t kService[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\tandrel";
const wchar_t kLink[] = L"\\DosDevices\\pellin1";
constexpr LONGLONG kMs = 1000000000LL; // ps
using Bytes = std::vector<UCHAR>;

Bytes Dword(ULONG v) {
    Bytes b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

// Adjacent bytes differ.
Bytes Distinct(size_t n, UCHAR seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<UCHAR>(seed + i * 7 + (i / 36));
    for (size_t i = 1; i < n; ++i)
        if (b[i] == b[i - 1])
            b[i] ^= 0x40;
    return b;
}

// Runs of 1 to 8 equal bytes.
Bytes Runs(size_t n) {
    Bytes b;
    UCHAR v = 3;
    for (size_t run = 1; b.size() < n; run = run % 8 + 1, v = static_cast<UCHAR>(v * 5 + 1))
        for (size_t i = 0; i < run && b.size() < n; ++i)
            b.push_back(v);
    return b;
}

std::vector<SimAccess> Trace() {
    std::vector<SimAccess> t;
    SimAccess a;
    for (ULONG i = 0; SimTraceAt(0, i, &a); ++i)
        t.push_back(a);
    return t;
}

struct Cost {
    const char *name;
    ULONG portPs;
};
const Cost kCosts[] = {{"1 us", 1000000}, {"100 ns", 100000}};

struct Done {
    NTSTATUS status;
    ULONG_PTR information;
    CCHAR boost;
};

class Transfers : public ::testing::Test {
  protected:
    void SetUp() override { Start(kCosts[0].portPs); }
    void TearDown() override { Stop(); }

    void Start(ULONG portPs, void (*tweak)(SimPortConfig &) = nullptr) {
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimSetCosts(portPs, 100000, 1000000);
        SimRegCreateKey(kService);
        SimPortConfig c;
        SimDefaultPort(&c);
        c.stackSize = 2;
        c.strict = TRUE;
        if (tweak)
            tweak(c);
        SimAddPort(&c);
        per = SimPeripheralConfig{};
        per.enabled = TRUE;
        per.readyNs = 0;
        per.toleranceNs = 50;
        SimSetPeripheral(0, &per);
        UNICODE_STRING path;
        path.Buffer = const_cast<PWSTR>(kService);
        path.Length = static_cast<USHORT>(wcslen(kService) * 2);
        path.MaximumLength = path.Length + 2;
        ASSERT_EQ(DriverEntry(SimDriverObject(), &path), STATUS_SUCCESS);
        SimRunUntilIdle();
        ext =
            static_cast<ParDeviceExtension *>(SimFindDevice(L"\\Device\\pellin0")->DeviceExtension);
        ASSERT_EQ(SimOpen(kLink, 0, &file), STATUS_SUCCESS);
    }

    void Stop() {
        if (file != nullptr) {
            SimCleanup(file);
            SimCloseFile(file);
            file = nullptr;
        }
        for (ULONG i = 0; i < SimViolationCount(); ++i)
            ADD_FAILURE() << "kernel rule broken: " << SimViolationAt(i);
        char first[128];
        EXPECT_EQ(SimTimingViolations(0, first, sizeof first), 0u) << first;
        SimRunUntilIdle();
        SimDriverObject()->DriverUnload(SimDriverObject());
    }

    // Applies per to the peripheral (its record starts again).
    void Peripheral() { SimSetPeripheral(0, &per); }

    Done Wait(ULONG id) {
        SimWaitIo(id);
        SimIoResult r;
        EXPECT_TRUE(SimIoResultOf(id, &r));
        EXPECT_TRUE(r.done);
        return {r.status, r.information, r.boost};
    }
    ULONG IssueWrite(const Bytes &b) {
        return SimIssue(nullptr, file, IRP_MJ_WRITE, 0, b.data(), static_cast<ULONG>(b.size()), 0,
                        0);
    }
    Done Write(const Bytes &b) { return Wait(IssueWrite(b)); }
    Done Ioctl(ULONG code, const Bytes &in = {}, ULONG out = 0, SimIoResult *full = nullptr) {
        ULONG id =
            SimIssue(nullptr, file, IRP_MJ_DEVICE_CONTROL, code, in.empty() ? nullptr : in.data(),
                     static_cast<ULONG>(in.size()), out, 0);
        Done d = Wait(id);
        if (full != nullptr)
            SimIoResultOf(id, full);
        return d;
    }
    void Mode(ULONG mode) { ASSERT_EQ(Ioctl(0x162088, Dword(mode)).status, STATUS_SUCCESS); }

    static Bytes Stream(SimStream which) {
        ULONG n = SimPeripheralStream(0, which, nullptr, 0);
        Bytes b(n);
        SimPeripheralStream(0, which, b.data(), n);
        return b;
    }
    static std::vector<ULONG> Blocks() {
        ULONG n = SimPeripheralStream(0, SimStreamBlocks, nullptr, 0);
        std::vector<ULONG> b(n);
        SimPeripheralStream(0, SimStreamBlocks, b.data(), n);
        return b;
    }

    SimPeripheralConfig per{};
    ParDeviceExtension *ext = nullptr;
    PFILE_OBJECT file = nullptr;
};

// What the peripheral decodes from a payload in mode: Mce adds its padding.
Bytes Decoded(ULONG mode, const Bytes &payload) {
    Bytes want = payload;
    if (mode == 8) {
        if (payload.size() & 1)
            want.insert(want.end(), {0x55, 0x55, 0x55});
        else
            want.insert(want.end(), {0xAA, 0xAA});
    }
    return want;
}

UCHAR RequestByte(ULONG mode) {
    switch (mode) {
    case 0:
    case 32:
    case 68:
        return 0x18;
    case 1:
        return 0x08;
    case 3:
        return 0x10;
    case 5:
        return 0x0C;
    case 6:
        return 0x04;
    default:
        return 0x28;
    }
}

TEST_F(Transfers, EveryModeDeliversThePayload) {
    const ULONG modes[] = {2, 1, 5, 6, 0, 32, 68, 3, 8};
    const std::vector<std::pair<const char *, Bytes>> payloads = {
        {"1 byte", {0x41}},           {"odd", Distinct(17)},
        {"even", Distinct(24)},       {"block - 8", Distinct(504)},
        {"block + 1", Distinct(513)}, {"several blocks", Distinct(1600, 9)},
        {"runs", Runs(700)},          {"0x00", Bytes(40, 0x00)},
        {"0xFF", Bytes(41, 0xFF)},
    };
    for (const Cost &cost : kCosts) {
        for (ULONG mode : modes) {
            SCOPED_TRACE(std::string(cost.name) + " mode " + std::to_string(mode));
            Stop();
            Start(cost.portPs);
            ext->BlockSize = 512;
            Mode(mode);
            for (const auto &[what, payload] : payloads) {
                SCOPED_TRACE(what);
                Peripheral();
                Done d = Write(payload);
                EXPECT_EQ(d.status, STATUS_SUCCESS);
                EXPECT_EQ(d.information, payload.size());
                EXPECT_EQ(d.boost, IO_PARALLEL_INCREMENT);
                EXPECT_EQ(Stream(SimStreamData), Decoded(mode, payload));
                EXPECT_EQ(SimPeripheralPhase(0), mode == 3 ? 3u : 2u);
                EXPECT_EQ(ext->CurrentMode, mode == 3 ? 3u : 2u);
                if (mode != 2 && mode != 3) { // ECP stays negotiated after the first write
                    EXPECT_EQ(Stream(SimStreamRequests), Bytes{RequestByte(mode)});
                }
                if (mode == 5 || mode == 6) {
                    std::vector<ULONG> want; // 504-byte blocks, the last one shorter
                    for (ULONG end = 504; end < payload.size(); end += 504)
                        want.push_back(end);
                    want.push_back(static_cast<ULONG>(payload.size()));
                    EXPECT_EQ(Blocks(), want);
                }
                char first[128];
                ASSERT_EQ(SimTimingViolations(0, first, sizeof first), 0u) << first;
            }
        }
    }
}

TEST_F(Transfers, NegotiationExits) {
    struct Case {
        const char *what;
        ULONG mode;
        void (*knob)(SimPeripheralConfig &);
    } cases[] = {
        {"no event 2", 1, [](SimPeripheralConfig &p) { p.noEvent2 = TRUE; }},
        {"refused", 1,
         [](SimPeripheralConfig &p) {
             p.refuse = TRUE;
             p.refused = 0x08;
         }},
        {"block AB refused", 5,
         [](SimPeripheralConfig &p) {
             p.refuse = TRUE;
             p.refused = 0x0C;
         }},
        {"ECP without event 31", 3, [](SimPeripheralConfig &p) { p.noEvent31 = TRUE; }},
        {"answers never come", 0, [](SimPeripheralConfig &p) { p.latencyNs = -1; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Stop();
        Start(kCosts[0].portPs);
        Mode(c.mode);
        c.knob(per);
        Peripheral();
        const LONGLONG start = SimNowPs();
        Done d = Write(Distinct(10));
        EXPECT_EQ(d.status, STATUS_INVALID_DEVICE_REQUEST);
        EXPECT_EQ(d.information, 0u);
        EXPECT_TRUE(Stream(SimStreamData).empty());
        EXPECT_EQ(ext->CurrentMode, 2u);
        EXPECT_EQ(SimPeripheralPhase(0), 2u);
        EXPECT_LT(SimNowPs() - start, 2000 * kMs);
    }
}

TEST_F(Transfers, ModesWithoutWriterSendNothing) {
    const ULONG modes[] = {9, 4, 64};
    for (ULONG mode : modes) {
        SCOPED_TRACE(mode);
        Mode(mode);
        Peripheral();
        const LONGLONG start = SimNowPs();
        Done d = Write(Distinct(10));
        EXPECT_EQ(d.status, STATUS_INVALID_DEVICE_REQUEST);
        EXPECT_EQ(d.information, 0u);
        EXPECT_TRUE(Stream(SimStreamData).empty());
        EXPECT_EQ(SimPeripheralPhase(0), 2u);
        if (mode == 9) {
            EXPECT_EQ(Stream(SimStreamRequests), Bytes{0x38});
            EXPECT_GE(SimNowPs() - start, 35 * kMs);
        }
    }
}

TEST_F(Transfers, TerminationWithoutAnswerRecovers) {
    struct Case {
        const char *what;
        void (*knob)(SimPeripheralConfig &);
    } cases[] = {
        {"no event 23/24", [](SimPeripheralConfig &p) { p.noEvent23 = TRUE; }},
        {"no event 27", [](SimPeripheralConfig &p) { p.noEvent27 = TRUE; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Mode(1);
        per = SimPeripheralConfig{};
        per.enabled = TRUE;
        per.toleranceNs = 50;
        c.knob(per);
        Peripheral();
        const LONGLONG start = SimNowPs();
        Done d = Write(Distinct(10));
        EXPECT_EQ(d.status, STATUS_SUCCESS);
        EXPECT_EQ(Stream(SimStreamData), Distinct(10));
        EXPECT_GE(SimNowPs() - start, 1000 * kMs); // the 1-second recovery
        EXPECT_EQ(ext->CurrentMode, 2u);
        // Through the termination code, which leaves initialised alone: only the second
        // recovery clears it.
        ASSERT_EQ(Ioctl(0x16209C).status, STATUS_SUCCESS);
        ASSERT_TRUE(ext->Initialized);
        ASSERT_EQ(Ioctl(0x1620A3).status, STATUS_SUCCESS);
        EXPECT_EQ(ext->Initialized != FALSE, c.knob == cases[0].knob);
        ext->Initialized = TRUE;
    }
    // The settle after a termination: 35 ms after double-edge, 3 ms otherwise, none with
    // options bit 1.
    per = SimPeripheralConfig{};
    per.enabled = TRUE;
    per.toleranceNs = 50;
    for (ULONG options : {0u, 2u}) {
        for (ULONG mode : {0u, 1u}) {
            SCOPED_TRACE("options " + std::to_string(options) + " mode " + std::to_string(mode));
            ASSERT_EQ(Ioctl(0x1620C0, Dword(options)).status, STATUS_SUCCESS);
            Mode(mode);
            Peripheral();
            ASSERT_EQ(Ioctl(0x16209C).status, STATUS_SUCCESS);
            const LONGLONG start = SimNowPs();
            ASSERT_EQ(Ioctl(0x1620A3).status, STATUS_SUCCESS);
            const LONGLONG took = SimNowPs() - start;
            const LONGLONG settle = options ? 0 : mode == 0 ? 35 * kMs : 3 * kMs;
            EXPECT_GE(took, settle + 35 * kMs); // and 35 ms for the ECR
            EXPECT_LT(took, settle + 40 * kMs);
        }
    }
}

TEST_F(Transfers, BusyPrinterInCompatibilityMode) {
    struct Case {
        LONG busyMs;
        NTSTATUS status;
        ULONG_PTR count;
    } cases[] = {{3500, STATUS_DEVICE_BUSY, 5}, {2500, STATUS_SUCCESS, 12}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.busyMs);
        per.busyAfterByte = 5;
        per.busyMs = c.busyMs;
        Peripheral();
        const Bytes payload = Distinct(12);
        Done d = Write(payload);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.information, c.count);
        EXPECT_EQ(Stream(SimStreamData), Bytes(payload.begin(), payload.begin() + c.count));
    }
}

TEST_F(Transfers, SlowAcknowledgeCostsTheBusyDelays) {
    per.ackPulseNs = 3000000; // Busy for 3 ms after each byte
    Peripheral();
    const Bytes payload = Distinct(5);
    const LONGLONG start = SimNowPs();
    Done d = Write(payload);
    EXPECT_EQ(d.status, STATUS_SUCCESS);
    EXPECT_EQ(Stream(SimStreamData), payload);
    EXPECT_GE(SimNowPs() - start, 4 * 10 * kMs); // a 10-ms delay before each later byte
}

TEST_F(Transfers, BlockModeFailures) {
    struct Case {
        const char *what;
        ULONG mode;
        void (*knob)(SimPeripheralConfig &);
        NTSTATUS status;
        ULONG taken; // bytes the peripheral took
    } cases[] = {
        {"nFault low before a block", 1, [](SimPeripheralConfig &p) { p.faultNegotiated = TRUE; },
         STATUS_DEVICE_OFF_LINE, 0},
        {"AB never ready", 5, [](SimPeripheralConfig &p) { p.readyNs = -1; },
         STATUS_DEVICE_OFF_LINE, 0},
        {"AC never ready", 6, [](SimPeripheralConfig &p) { p.readyNs = -1; },
         STATUS_DEVICE_OFF_LINE, 0},
        {"AC nFault drops in the ready wait", 6,
         [](SimPeripheralConfig &p) { p.faultInReady = TRUE; }, STATUS_DEVICE_OFF_LINE, 0},
        {"AB PError never low", 5, [](SimPeripheralConfig &p) { p.neverPErrorLow = TRUE; },
         STATUS_DEVICE_OFF_LINE, 10},
        {"AC PError never low", 6, [](SimPeripheralConfig &p) { p.neverPErrorLow = TRUE; },
         STATUS_DEVICE_OFF_LINE, 10},
        {"Mce end of block unanswered", 8, [](SimPeripheralConfig &p) { p.noEndOfBlock = TRUE; },
         STATUS_DEVICE_OFF_LINE, 12},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ext->Timeout = 2;
        Mode(c.mode);
        per = SimPeripheralConfig{};
        per.enabled = TRUE;
        per.toleranceNs = 50;
        c.knob(per);
        Peripheral();
        const LONGLONG start = SimNowPs();
        Done d = Write(Distinct(10));
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.information, 0u); // a block whose end wait failed is not counted
        EXPECT_EQ(Stream(SimStreamData).size(), c.taken);
        EXPECT_EQ(SimPeripheralPhase(0), 2u);
        EXPECT_EQ(ext->CurrentMode, 2u);
        EXPECT_LT(SimNowPs() - start, 4000 * kMs);
    }
}

TEST_F(Transfers, ReadyWaitEndsByTheClock) {
    // Timeout x 10,000 polls after 100-us delays would be 78 minutes at 15.625-ms ticks.
    SimSetTimeIncrement(156250);
    EXPECT_EQ(KeQueryTimeIncrement(), 156250u);
    ext->Timeout = 30;
    Mode(6);
    per.readyNs = -1;
    Peripheral();
    const LONGLONG start = SimNowPs();
    Done d = Write(Distinct(10));
    EXPECT_EQ(d.status, STATUS_DEVICE_OFF_LINE);
    const LONGLONG took = SimNowPs() - start;
    EXPECT_GE(took, 30000 * kMs);
    EXPECT_LT(took, 31500 * kMs);
}

TEST_F(Transfers, BlockSizesLeavingNoData) {
    for (ULONG mode : {5u, 6u}) {
        for (ULONG block : {8u, 4u, 1u}) {
            SCOPED_TRACE(std::to_string(mode) + " / " + std::to_string(block));
            ext->BlockSize = block;
            Mode(mode);
            Peripheral();
            Done d = Write(Distinct(10));
            EXPECT_EQ(d.status, STATUS_INVALID_PARAMETER);
            EXPECT_EQ(d.information, 0u);
            EXPECT_TRUE(Stream(SimStreamData).empty());
            EXPECT_EQ(SimPeripheralPhase(0), 2u);
        }
    }
}

TEST_F(Transfers, EcpFifoStallAndShallowFifos) {
    Mode(3);
    per.fifoDrainNs = -1;
    Peripheral();
    Done d = Write(Distinct(100));
    EXPECT_EQ(d.status, STATUS_ALREADY_DISCONNECTED);
    EXPECT_EQ(d.information, 16u); // what the FIFO holds
    // The gate refuses until the FIFO drains.
    EXPECT_EQ(Write(Distinct(4)).status, STATUS_ALREADY_DISCONNECTED);

    // A FIFO full after one byte gives depth 0; every pass still places a byte.
    for (ULONG depth : {1u, 2u}) {
        SCOPED_TRACE(depth);
        Stop();
        Start(
            kCosts[0].portPs, depth == 1 ? [](SimPortConfig &c) { c.fifoDepth = 1; }
                                         : [](SimPortConfig &c) { c.fifoDepth = 2; });
        EXPECT_EQ(ext->EcpFifoDepth, depth - 1);
        Mode(3);
        Peripheral();
        Done e = Write(Distinct(33));
        EXPECT_EQ(e.status, STATUS_SUCCESS);
        EXPECT_EQ(Stream(SimStreamData), Distinct(33));
        EXPECT_TRUE(Stream(SimStreamAddresses).empty());
    }
}

TEST_F(Transfers, CancelBetweenBlocks) {
    ext->BlockSize = 64;
    Mode(5);
    per.blockSize = 64;
    per.readyNs = 30 * 1000000; // 30 ms before each block
    Peripheral();
    ULONG id = IssueWrite(Distinct(500));
    SimSleepMs(50);
    SimCancelIo(file);
    const LONGLONG cancelAt = SimNowPs();
    Done d = Wait(id);
    EXPECT_EQ(d.status, STATUS_CANCELLED);
    EXPECT_LT(SimNowPs() - cancelAt, 100 * kMs);
    EXPECT_EQ(d.information, 0u);
    EXPECT_GT(Stream(SimStreamData).size(), 0u);
    EXPECT_LT(Stream(SimStreamData).size(), 500u);
    EXPECT_EQ(SimPeripheralPhase(0), 2u);
}

TEST_F(Transfers, TimingCheckerCatchesShortStalls) {
    Stop();
    Start(kCosts[1].portPs);
    ext->StallStepFine *= 2; // every ns stall half as long
    Mode(5);
    Peripheral();
    EXPECT_EQ(Write(Distinct(20)).status, STATUS_SUCCESS);
    EXPECT_GT(SimTimingViolations(0, nullptr, 0), 0u);
    per.enabled = FALSE; // the tear-down expects none
    Peripheral();
}

TEST_F(Transfers, ThroughputProbeReachesNoPrinter) {
    struct Case {
        ULONG mode;
        NTSTATUS status;
    } cases[] = {
        {2, STATUS_SUCCESS},
        {1, STATUS_SUCCESS},
        {5, STATUS_SUCCESS},
        {6, STATUS_SUCCESS},
        {0, STATUS_SUCCESS},
        {32, STATUS_SUCCESS},
        {3, STATUS_SUCCESS},
        {4, STATUS_INVALID_DEVICE_REQUEST},
        {8, STATUS_INVALID_DEVICE_REQUEST},
        {68, STATUS_INVALID_DEVICE_REQUEST},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        Mode(c.mode);
        if (c.mode == 3) {
            EXPECT_EQ(Write(Distinct(5)).status, STATUS_SUCCESS); // ECP stays negotiated
        } else if (c.mode != 2 && c.mode != 4) {
            ASSERT_EQ(Ioctl(0x16209C).status, STATUS_SUCCESS);
        }
        ASSERT_EQ(ext->CurrentMode, c.mode == 4 ? 2u : c.mode);
        if (c.mode == 4)
            ext->CurrentMode = 4; // negotiated by hand: the peripheral has no nibble model
        Peripheral();
        SimIoResult r{};
        Done d = Ioctl(0x1620A8, {}, 4, &r);
        EXPECT_EQ(d.status, c.status);
        EXPECT_TRUE(Stream(SimStreamData).empty());
        EXPECT_TRUE(Stream(SimStreamAddresses).empty());
        if (c.status == STATUS_SUCCESS) {
            EXPECT_EQ(d.information, 4u);
            ULONG rate = 0;
            std::memcpy(&rate, r.out, 4);
            EXPECT_GT(rate, 0u);
        }
        if (c.mode == 0 || c.mode == 32 || c.mode == 3) {
            EXPECT_EQ(ext->CurrentMode, 2u);
        }
        ext->CurrentMode = c.mode == 4 ? 2 : ext->CurrentMode;
        if (ext->CurrentMode != 2) {
            ASSERT_EQ(Ioctl(0x1620A3).status, STATUS_SUCCESS);
        }
    }
}

TEST_F(Transfers, CompatWriteCodeStopsAtABusyPrinter) {
    per.busyAfterByte = 7;
    per.busyMs = -1;
    Peripheral();
    const Bytes payload = Distinct(20);
    Done d = Ioctl(0x1620C4, payload, 0);
    EXPECT_EQ(d.status, STATUS_DEVICE_BUSY);
    EXPECT_EQ(d.information, 7u);
    EXPECT_EQ(Stream(SimStreamData), Bytes(payload.begin(), payload.begin() + 7));
}

TEST_F(Transfers, PortWithoutEcpKeepsToItsRegisters) {
    Stop();
    Start(kCosts[0].portPs, [](SimPortConfig &c) { c.noEcp = TRUE; });
    SimAccessCounts counts;
    SimPortAccesses(0, &counts, TRUE);
    for (ULONG mode : {2u, 1u, 0u}) {
        Mode(mode);
        EXPECT_EQ(Write(Distinct(30)).status, STATUS_SUCCESS);
    }
    SimPortAccesses(0, &counts, FALSE);
    EXPECT_EQ(counts.reads[3] + counts.writes[3] + counts.reads[4] + counts.writes[4], 0u);
}

TEST_F(Transfers, ByteLoopsRunAtTheTransferLevel) {
    for (ULONG mode : {2u, 1u, 5u, 6u, 0u, 68u, 3u, 8u}) {
        SCOPED_TRACE(mode);
        Mode(mode);
        Peripheral();
        SimTraceEnable(0, TRUE);
        const Bytes payload = Distinct(40, 0x61);
        ASSERT_EQ(Write(payload).status, STATUS_SUCCESS);
        ULONG payloadWrites = 0;
        for (const SimAccess &a : Trace()) {
            const bool data = a.write && (a.reg == 0 || a.reg == 0x400);
            if (!data || (a.reg == 0 && a.value == RequestByte(mode)))
                continue; // the negotiation's request byte is not a transfer
            ++payloadWrites;
            EXPECT_EQ(a.irql, 12) << "data write of 0x" << std::hex << int(a.value);
        }
        EXPECT_GE(payloadWrites, mode == 3 ? 40u : 39u);
        SimTraceEnable(0, FALSE);
    }
}

TEST_F(Transfers, FailedNegotiationLeavesCompatibilityIdle) {
    struct Case {
        ULONG mode;
        std::vector<UCHAR> tail; // last control writes
    } cases[] = {
        {1, {0xC4, 0xCC}},             // after event 4: no event 6
        {5, {0xC4, 0xC7, 0xC5, 0xCC}}, // the block modes let PError fall first
        {6, {0xC4, 0xC7, 0xC5, 0xCC}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        Mode(c.mode);
        per.refuse = TRUE;
        per.refused = RequestByte(c.mode);
        Peripheral();
        SimTraceEnable(0, TRUE);
        ASSERT_EQ(Ioctl(0x16209C).status, STATUS_INVALID_DEVICE_REQUEST);
        std::vector<UCHAR> controls;
        for (const SimAccess &a : Trace())
            if (a.write && a.reg == 2)
                controls.push_back(a.value);
        ASSERT_GE(controls.size(), c.tail.size());
        EXPECT_EQ(std::vector<UCHAR>(controls.end() - c.tail.size(), controls.end()), c.tail);
        SimTraceEnable(0, FALSE);
    }
}

TEST_F(Transfers, NegotiationStatusOfTheBlockModes) {
    for (ULONG mode : {5u, 6u}) {
        SCOPED_TRACE(mode);
        Mode(mode);
        Peripheral();
        SimIoResult r{};
        Done d = Ioctl(0x16209C, {}, 1, &r);
        ASSERT_EQ(d.status, STATUS_SUCCESS);
        EXPECT_EQ(d.information, 1u);
        EXPECT_EQ(r.out[0], 0xDF); // nAck high, Select, nFault; the port's low bits
        EXPECT_EQ(SimPeripheralPhase(0), mode);
        ASSERT_EQ(Ioctl(0x1620A3).status, STATUS_SUCCESS);
        EXPECT_EQ(SimPeripheralPhase(0), 2u);
    }
}

TEST_F(Transfers, ControlCodesThatWrite) {
    // The block write: its 24 bytes in compatibility mode.
    Bytes block(32, 0);
    const Bytes data = Distinct(24, 0x30);
    std::memcpy(block.data() + 4, data.data(), 24);
    block[28] = 24;
    Peripheral();
    ASSERT_EQ(Ioctl(0x162098, block).status, STATUS_SUCCESS);
    EXPECT_EQ(Stream(SimStreamData), data);
    EXPECT_EQ(ext->BlockSize, 512u); // 0 in the record stands for 512

    // Write-then-read: the forward part in modes 2, 3 and 8 (the reverse part is not built).
    for (ULONG mode : {2u, 3u, 8u}) {
        SCOPED_TRACE(mode);
        Mode(mode);
        Peripheral();
        const Bytes out = Distinct(9, 0x11);
        Ioctl(0x162090, out, 0);
        EXPECT_EQ(Stream(SimStreamData), Decoded(mode, out));
        EXPECT_EQ(ext->CurrentMode, mode);
        if (mode != 2) {
            ASSERT_EQ(Ioctl(0x1620A3).status, STATUS_SUCCESS);
        }
    }
}

TEST_F(Transfers, FifoGateOpensOnceDrained) {
    Mode(3);
    per.fifoDrainNs = -1;
    Peripheral();
    EXPECT_EQ(Write(Distinct(20)).status, STATUS_ALREADY_DISCONNECTED);
    EXPECT_EQ(Write(Distinct(4)).status, STATUS_ALREADY_DISCONNECTED);
    per.fifoDrainNs = 0; // it drains now
    SimSetPeripheral(0, &per);
    Done d = Write(Distinct(8, 0x70));
    EXPECT_EQ(d.status, STATUS_SUCCESS);
    EXPECT_EQ(d.information, 8u);
}

TEST_F(Transfers, MceTurnarounds) {
    Stop();
    Start(kCosts[0].portPs, [](SimPortConfig &c) { c.strict = FALSE; }); // called directly
    for (ULONG unanswered : {0u, 1u, 2u, 3u}) {
        SCOPED_TRACE(unanswered);
        Mode(8);
        Peripheral();
        ASSERT_EQ(Ioctl(0x16209C).status, STATUS_SUCCESS);
        per.mceTurnUnanswered = unanswered;
        SimSetPeripheral(0, &per);
        LONGLONG start = SimNowPs();
        EXPECT_EQ(ParFwd2Rev(ext), unanswered == 0);
        EXPECT_LT(SimNowPs() - start, 40 * kMs);
        if (unanswered == 0) {
            for (ULONG back : {1u, 2u, 3u, 0u}) {
                SCOPED_TRACE(back);
                per.mceTurnUnanswered = back;
                SimSetPeripheral(0, &per);
                start = SimNowPs();
                EXPECT_EQ(ParRev2Fwd(ext), back == 0);
                EXPECT_LT(SimNowPs() - start, 40 * kMs);
                if (back != 0) {
                    // Start the reverse state again for the next case.
                    Stop();
                    Start(kCosts[0].portPs, [](SimPortConfig &c) { c.strict = FALSE; });
                    Mode(8);
                    per.mceTurnUnanswered = 0;
                    Peripheral();
                    ASSERT_EQ(Ioctl(0x16209C).status, STATUS_SUCCESS);
                    ASSERT_TRUE(ParFwd2Rev(ext));
                }
            }
        }
        per.mceTurnUnanswered = 0;
        Stop();
        Start(kCosts[0].portPs, [](SimPortConfig &c) { c.strict = FALSE; });
    }
}

TEST_F(Transfers, MceTimingChecked) {
    // Each byte's a passes before its edge; the pass time is the simulator's 1 ns.
    Mode(8);
    per.mceMinNs = par::McePasses(ext->MceLoopCount).a;
    Peripheral();
    ASSERT_EQ(Write(Distinct(30)).status, STATUS_SUCCESS);
    EXPECT_EQ(Stream(SimStreamData), Decoded(8, Distinct(30)));
}

TEST_F(Transfers, ExtremeSettings) {
    struct Case {
        const char *what;
        ULONG mode, blockSize, timeout, strbBefore, strbAfter;
        NTSTATUS status;
    } cases[] = {
        {"AB, Timeout 0", 5, 512, 0, 0, 0, STATUS_DEVICE_OFF_LINE},
        {"AC, Timeout 0", 6, 512, 0, 0, 0, STATUS_DEVICE_OFF_LINE},
        {"AC, Timeout 4294967", 6, 512, 4294967, 0, 0, STATUS_SUCCESS},
        {"AB, BlockSize 0xFFFFFFFF", 5, 0xFFFFFFFF, 30, 0, 0, STATUS_SUCCESS},
        {"burst, BlockSize 1", 1, 1, 30, 0, 0, STATUS_SUCCESS},
        {"double-edge, strobe delays 1000 and 100", 0, 512, 30, 1000, 100, STATUS_SUCCESS},
        {"double-edge, BlockSize 0", 0, 0, 30, 0, 0, STATUS_INVALID_PARAMETER},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ext->BlockSize = c.blockSize;
        ext->Timeout = c.timeout;
        ext->StrbBefore = c.strbBefore;
        ext->StrbAfter = c.strbAfter;
        Mode(c.mode);
        per.blockSize = c.blockSize;
        Peripheral();
        const Bytes payload = Runs(60);
        const LONGLONG start = SimNowPs();
        Done d = Write(payload);
        EXPECT_EQ(d.status, c.status);
        EXPECT_LT(SimNowPs() - start, 2000 * kMs);
        EXPECT_EQ(SimPeripheralPhase(0), 2u);
        if (c.status == STATUS_SUCCESS) {
            EXPECT_EQ(d.information, payload.size());
            EXPECT_EQ(Stream(SimStreamData), payload);
        } else {
            EXPECT_EQ(d.information, 0u);
            EXPECT_TRUE(Stream(SimStreamData).empty());
        }
    }
}

} // namespace

// ---- Reverse channel ----------------------------------------------------------------------------

class Reverse : public Transfers {
  protected:
    Done Read(ULONG length, Bytes *got = nullptr) {
        ULONG id = SimIssue(nullptr, file, IRP_MJ_READ, 0, nullptr, 0, length, 0);
        Done d = Wait(id);
        if (got != nullptr) {
            SimIoResult r;
            SimIoResultOf(id, &r);
            got->assign(r.out, r.out + (d.information < 64 ? d.information : 64));
        }
        return d;
    }
    Done Query(ULONG code, ULONG out, Bytes *got = nullptr) {
        SimIoResult r{};
        Done d = Ioctl(code, {}, out, &r);
        if (got != nullptr)
            got->assign(r.out, r.out + (d.information < 64 ? d.information : 64));
        return d;
    }
    static void Reply(SimReply kind, const Bytes &b) {
        SimPeripheralReply(0, kind, b.data(), static_cast<ULONG>(b.size()));
    }
    // Control values written, in order.
    static Bytes ControlWrites() {
        Bytes c;
        for (const SimAccess &a : Trace())
            if (a.write && a.reg == 2)
                c.push_back(a.value);
        return c;
    }
    static Bytes DeviceId(ULONG field, size_t textBytes) {
        Bytes b = {static_cast<UCHAR>(field >> 8), static_cast<UCHAR>(field)};
        const Bytes text = Distinct(textBytes, 0x41);
        b.insert(b.end(), text.begin(), text.end());
        return b;
    }
};

TEST_F(Reverse, NibbleReads) {
    // No data: nibble mode entered (0xC6 after the request byte) and left (0xCE, 0xCC).
    SimTraceEnable(0, TRUE);
    Bytes got;
    Done d = Read(16, &got);
    EXPECT_EQ(d.status, STATUS_SUCCESS);
    EXPECT_EQ(d.information, 0u);
    EXPECT_EQ(Stream(SimStreamRequests), Bytes({0x00}));
    const Bytes ctl = ControlWrites();
    const Bytes want = {0xCC, 0xC6, 0xC7, 0xC4, 0xCC, 0xCE, 0xCC};
    EXPECT_EQ(ctl, want);
    EXPECT_EQ(SimPeripheralPhase(0), 2u);
    EXPECT_EQ(ext->CurrentMode, 2u);

    // A reply shorter than the buffer ends the read when nDataAvail rises; a longer one waits
    // for the next read.
    const Bytes reply = Distinct(50, 0x90);
    Reply(SimReplyNibble, Bytes(reply.begin(), reply.begin() + 20));
    d = Read(64, &got);
    EXPECT_EQ(d.status, STATUS_SUCCESS);
    EXPECT_EQ(got, Bytes(reply.begin(), reply.begin() + 20));
    Reply(SimReplyNibble, reply);
    d = Read(12, &got);
    EXPECT_EQ(d.information, 12u);
    EXPECT_EQ(got, Bytes(reply.begin(), reply.begin() + 12));
    d = Read(64, &got);
    EXPECT_EQ(d.information, 38u);
    EXPECT_EQ(got, Bytes(reply.begin() + 12, reply.end()));
    EXPECT_EQ(SimPeripheralReplyLeft(0, SimReplyNibble), 0u);
    EXPECT_EQ(ext->CurrentMode, 2u);
}

TEST_F(Reverse, NibbleRefusalsAndMissingAnswers) {
    struct Case {
        const char *name;
        void (*set)(SimPeripheralConfig &);
        ULONG attempts;
    } cases[] = {
        {"XFlag set", [](SimPeripheralConfig &p) { p.nibbleRefuse = TRUE; }, 2},
        {"no event 2", [](SimPeripheralConfig &p) { p.noEvent2 = TRUE; }, 0},
        {"no event 6",
         [](SimPeripheralConfig &p) {
             p.refuse = TRUE;
             p.refused = 0x00;
         },
         2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        per = SimPeripheralConfig{};
        per.enabled = TRUE;
        per.toleranceNs = 50;
        c.set(per);
        Peripheral();
        Reply(SimReplyNibble, Distinct(4));
        const LONGLONG start = SimNowPs();
        Done d = Read(16);
        EXPECT_EQ(d.status, STATUS_INVALID_DEVICE_REQUEST);
        EXPECT_EQ(d.information, 0u);
        EXPECT_GE(SimNowPs() - start, 50 * kMs); // two attempts 50 ms apart
        EXPECT_LT(SimNowPs() - start, 400 * kMs);
        if (c.attempts != 0) {
            EXPECT_EQ(Stream(SimStreamRequests), Bytes(c.attempts, 0x00));
        }
        EXPECT_EQ(ext->Control, 0xCC);
        EXPECT_EQ(ext->CurrentMode, 2u);
    }
}

TEST_F(Reverse, NibbleStallLeavesNibbleModeForTheNextRequest) {
    for (ULONG k : {1u, 2u, 7u}) {
        SCOPED_TRACE(k);
        per.nibbleStallAt = k;
        Peripheral();
        Reply(SimReplyNibble, Distinct(10));
        Done d = Read(16);
        EXPECT_EQ(d.status, STATUS_IO_DEVICE_ERROR);
        EXPECT_EQ(d.information, 0u);
        EXPECT_EQ(ext->CurrentMode, 4u);
        // The next request terminates first, then writes in compatibility mode.
        per.nibbleStallAt = 0;
        Peripheral();
        const Bytes out = Distinct(5, 0x20);
        ASSERT_EQ(Write(out).status, STATUS_SUCCESS);
        EXPECT_EQ(Stream(SimStreamData), out);
        EXPECT_EQ(ext->CurrentMode, 2u);
    }
    // nDataAvail low with nothing coming.
    per.claimNoData = TRUE;
    Peripheral();
    EXPECT_EQ(Read(16).status, STATUS_IO_DEVICE_ERROR);
}

TEST_F(Reverse, DeviceIds) {
    struct Case {
        const char *name;
        Bytes id;
        ULONG out;
        NTSTATUS status;
        size_t bytes; // of text returned
        NTSTATUS sizeStatus;
        ULONG size;
    } cases[] = {
        {"40 bytes", DeviceId(0x2A, 40), 64, STATUS_SUCCESS, 40, STATUS_SUCCESS, 40},
        {"39-byte buffer", DeviceId(0x2A, 40), 39, STATUS_BUFFER_TOO_SMALL, 0, STATUS_SUCCESS, 40},
        {"empty", DeviceId(2, 0), 64, STATUS_SUCCESS, 0, STATUS_SUCCESS, 0},
        {"field 0", DeviceId(0, 10), 64, STATUS_IO_DEVICE_ERROR, 0, STATUS_IO_DEVICE_ERROR, 0},
        {"field 1", DeviceId(1, 10), 64, STATUS_IO_DEVICE_ERROR, 0, STATUS_IO_DEVICE_ERROR, 0},
        {"50 of 100", DeviceId(100, 50), 128, STATUS_IO_DEVICE_ERROR, 0, STATUS_SUCCESS, 98},
        {"1 length byte", Bytes{0x00}, 64, STATUS_IO_DEVICE_ERROR, 0, STATUS_IO_DEVICE_ERROR, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Peripheral();
        Reply(SimReplyDeviceId, c.id);
        Bytes got;
        Done d = Query(0x16000C, c.out, &got);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.information, c.bytes);
        if (c.bytes != 0) {
            EXPECT_EQ(got, Bytes(c.id.begin() + 2, c.id.begin() + 2 + c.bytes));
        }
        // The ID starts again at each request.
        d = Query(0x160010, 4, &got);
        EXPECT_EQ(d.status, c.sizeStatus);
        if (c.sizeStatus == STATUS_SUCCESS) {
            ASSERT_EQ(got.size(), 4u);
            ULONG size;
            std::memcpy(&size, got.data(), 4);
            EXPECT_EQ(size, c.size);
        }
        EXPECT_EQ(Stream(SimStreamRequests), Bytes({0x04, 0x04}));
        EXPECT_EQ(ext->CurrentMode, 2u);
        EXPECT_EQ(ext->Control, 0xCC);
        EXPECT_EQ(SimPeripheralPhase(0), 2u);
    }
}

TEST_F(Reverse, MceDeviceIdDelays) {
    Mode(8);
    Peripheral();
    const Bytes id = DeviceId(12, 10);
    Reply(SimReplyDeviceId, id);
    SimTraceEnable(0, TRUE);
    ASSERT_EQ(Query(0x16000C, 64).status, STATUS_SUCCESS);
    // Each byte starts with HostBusy low (0xC6) twice; gaps of 1 ms follow the first byte of
    // each read and every third after it.
    std::vector<LONGLONG> starts;
    int half = 0;
    LONGLONG end = 0;
    for (const SimAccess &a : Trace()) {
        if (a.write && a.reg == 2 && a.value == 0xC6 && half++ % 2 == 0)
            starts.push_back(a.ps);
        if (a.write && a.reg == 2 && a.value == 0xC4)
            end = a.ps;
    }
    starts.erase(starts.begin()); // event 1 of the negotiation
    starts.push_back(end);
    ASSERT_EQ(starts.size(), id.size() + 1);
    std::string gaps;
    for (size_t i = 0; i + 1 < id.size(); ++i)
        gaps += starts[i + 1] - starts[i] >= 1 * kMs ? '1' : '.';
    EXPECT_EQ(gaps, std::string("1.") + "1..1..1..");
    EXPECT_EQ(ext->MceDeviceId, 0);
}

TEST_F(Reverse, DeviceIdWhileTheGateIsClosed) {
    Mode(3);
    per.fifoDrainNs = -1;
    Peripheral();
    EXPECT_EQ(Write(Distinct(20)).status, STATUS_ALREADY_DISCONNECTED);
    Reply(SimReplyDeviceId, DeviceId(0x2A, 40));
    EXPECT_EQ(Query(0x16000C, 64).status, STATUS_ALREADY_DISCONNECTED);
    EXPECT_EQ(Query(0x160010, 4).status, STATUS_ALREADY_DISCONNECTED);
    EXPECT_EQ(Read(16).status, STATUS_ALREADY_DISCONNECTED);
    EXPECT_TRUE(Stream(SimStreamRequests).empty() || Stream(SimStreamRequests) == Bytes({0x10}));
}

TEST_F(Reverse, EcpReadsCarryWhatTheFifoHeld) {
    Mode(3);
    Peripheral();
    const Bytes reply = Distinct(20, 0x60);
    Reply(SimReplyEcp, reply);
    SimTraceEnable(0, TRUE);
    Bytes all, got;
    for (ULONG want : {8u, 8u, 4u}) {
        Done d = Read(8, &got);
        EXPECT_EQ(d.status, STATUS_SUCCESS);
        EXPECT_EQ(d.information, want);
        all.insert(all.end(), got.begin(), got.end());
    }
    EXPECT_EQ(all, reply);
    EXPECT_EQ(SimPeripheralLost(0), 0u);
    // Events 38/39 (reverse, nInit low), 47 (nInit high, still reverse), then forward and the
    // ECR in PS/2 mode: one turnaround for the three reads.
    int step = 0;
    for (const SimAccess &a : Trace()) {
        if (!a.write)
            continue;
        if (step == 0 && a.reg == 2 && (a.value & 0x24) == 0x20)
            step = 1;
        else if (step == 1 && a.reg == 2 && (a.value & 0x24) == 0x24)
            step = 2;
        else if (step == 2 && a.reg == 2 && (a.value & 0x24) == 0x04)
            step = 3;
        else if (step == 3 && a.reg == 0x402 && a.value == 0x34)
            step = 4;
        else if (a.reg == 2 && (a.value & 0x24) == 0x20)
            ADD_FAILURE() << "a second turnaround";
    }
    EXPECT_EQ(step, 4);
    EXPECT_EQ(ext->EcpReverse, 0);
    EXPECT_EQ(ext->CurrentMode, 3u);

    // No data: no turnaround at all.
    SimTraceEnable(0, TRUE);
    Done d = Read(8);
    EXPECT_EQ(d.status, STATUS_SUCCESS);
    EXPECT_EQ(d.information, 0u);
    for (const SimAccess &a : Trace())
        EXPECT_FALSE(a.write && a.reg == 2 && (a.value & 0x20));
}

TEST_F(Reverse, EcpReadStopsAfter35MsWithoutData) {
    Mode(3);
    per.ecpReverseNs = 10000000; // a byte each 10 ms
    Peripheral();
    Reply(SimReplyEcp, Distinct(3));
    const LONGLONG start = SimNowPs();
    Bytes got;
    Done d = Read(8, &got);
    EXPECT_EQ(d.status, STATUS_SUCCESS);
    EXPECT_EQ(got, Distinct(3));
    const LONGLONG took = SimNowPs() - start;
    EXPECT_GE(took, 55 * kMs); // the third byte at 20 ms, then 35 ms without one
    EXPECT_LT(took, 90 * kMs);
}

TEST_F(Reverse, CarriedBytesComeBeforeANibbleRead) {
    Mode(3);
    Peripheral();
    const Bytes ecp = Distinct(16, 0x30);
    Reply(SimReplyEcp, ecp);
    Bytes got;
    ASSERT_EQ(Read(4, &got).information, 4u);
    Mode(2);
    const Bytes nibble = Distinct(5, 0x80);
    Reply(SimReplyNibble, nibble);
    Done d = Read(40, &got);
    EXPECT_EQ(d.status, STATUS_SUCCESS);
    Bytes want(ecp.begin() + 4, ecp.end());
    want.insert(want.end(), nibble.begin(), nibble.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(SimPeripheralLost(0), 0u);
}

TEST_F(Reverse, CloseDiscardsCarriedBytes) {
    Mode(3);
    Peripheral();
    Reply(SimReplyEcp, Distinct(16, 0x30));
    ASSERT_EQ(Read(4).information, 4u);
    ASSERT_GT(ext->EcpCarryCount, 0u);
    SimCleanup(file);
    SimCloseFile(file);
    file = nullptr;
    ASSERT_EQ(SimOpen(kLink, 0, &file), STATUS_SUCCESS);
    EXPECT_EQ(ext->EcpCarryCount, 0u);
    Mode(3);
    const Bytes fresh = Distinct(6, 0xA0);
    Reply(SimReplyEcp, fresh);
    Bytes got;
    EXPECT_EQ(Read(16, &got).status, STATUS_SUCCESS);
    EXPECT_EQ(got, fresh);
}

TEST_F(Reverse, EcpTurnaroundFailuresTerminate) {
    for (int which : {40, 49}) {
        SCOPED_TRACE(which);
        Mode(3);
        per = SimPeripheralConfig{};
        per.enabled = TRUE;
        per.toleranceNs = 50;
        per.noEvent40 = which == 40;
        per.noEvent49 = which == 49;
        Peripheral();
        Reply(SimReplyEcp, Distinct(6));
        const LONGLONG start = SimNowPs();
        Done d = Read(16);
        EXPECT_EQ(d.status, STATUS_INVALID_DEVICE_REQUEST);
        EXPECT_LT(SimNowPs() - start, 5000 * kMs);
        EXPECT_EQ(ext->CurrentMode, 2u);
        EXPECT_EQ(ext->EcpReverse, 0);
        EXPECT_EQ(ext->Control & 0x24, 0x04); // forward, nReverseRequest high
        // The next write starts from compatibility and is decoded whole.
        per.noEvent40 = per.noEvent49 = FALSE;
        Peripheral();
        const Bytes out = Distinct(9, 0x50);
        ASSERT_EQ(Write(out).status, STATUS_SUCCESS);
        EXPECT_EQ(Stream(SimStreamData), out);
        ASSERT_EQ(Ioctl(0x1620A3).status, STATUS_SUCCESS);
    }
}

TEST_F(Reverse, EcpForwardFifoNotDrained) {
    Mode(3);
    ext->PrivMode = 0; // no completion gate: the turnaround's own wait decides
    per.fifoDrainNs = -1;
    Peripheral();
    Write(Distinct(4));
    Reply(SimReplyEcp, Distinct(6));
    const LONGLONG start = SimNowPs();
    EXPECT_EQ(Read(16).status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_GE(SimNowPs() - start, 3000 * kMs);
    EXPECT_LT(SimNowPs() - start, 6000 * kMs);
}

TEST_F(Reverse, MceReads) {
    struct Case {
        const char *name;
        Bytes reply;
        bool set;
        size_t bytes;
    } cases[] = {
        {"10-byte reply", Distinct(10, 0x21), true, 8},
        {"header only", Distinct(2, 0x21), true, 0},
        {"no data", {}, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Mode(8);
        Peripheral();
        ASSERT_EQ(Ioctl(0x16209C).status, STATUS_SUCCESS);
        if (c.set)
            Reply(SimReplyMce, c.reply);
        SimTraceEnable(0, TRUE);
        Bytes got;
        Done d = Read(64, &got);
        EXPECT_EQ(d.status, STATUS_SUCCESS);
        EXPECT_EQ(d.information, c.bytes);
        if (c.bytes != 0) {
            EXPECT_EQ(got, Bytes(c.reply.begin() + 2, c.reply.end()));
        }
        EXPECT_EQ(ControlWrites().empty(), !c.set); // no turnaround without data
        EXPECT_EQ(ext->CurrentMode, 8u);
        EXPECT_EQ(SimPeripheralPhase(0), 8u);
        // The bus is forward again: a write is decoded whole.
        const Bytes out = Distinct(6, 0x33);
        Peripheral();
        ASSERT_EQ(Write(out).status, STATUS_SUCCESS);
        EXPECT_EQ(Stream(SimStreamData), Decoded(8, out));
        ASSERT_EQ(Ioctl(0x1620A3).status, STATUS_SUCCESS);
    }
}

TEST_F(Reverse, MceTurnaroundTimeouts) {
    for (ULONG step : {1u, 2u, 3u}) {
        SCOPED_TRACE(step);
        Mode(8);
        per.mceTurnUnanswered = 0;
        Peripheral();
        ASSERT_EQ(Ioctl(0x16209C).status, STATUS_SUCCESS);
        per.mceTurnUnanswered = step;
        SimSetPeripheral(0, &per);
        Reply(SimReplyMce, Distinct(6));
        const LONGLONG start = SimNowPs();
        Done d = Read(16);
        EXPECT_EQ(d.status, STATUS_INVALID_DEVICE_REQUEST);
        EXPECT_EQ(d.information, 0u);
        EXPECT_LT(SimNowPs() - start, 100 * kMs);
        EXPECT_EQ(ext->Control & 0x20, 0); // the host never turned the data lines
        per.mceTurnUnanswered = 0;
        Stop();
        Start(kCosts[0].portPs);
    }
}

TEST_F(Reverse, WriteThenRead) {
    struct Case {
        ULONG mode;
        SimReply kind;
        Bytes out;
        Bytes reply;
        size_t bytes;
    } cases[] = {
        {2, SimReplyNibble, Distinct(9, 0x11), Distinct(6, 0x70), 6},
        {3, SimReplyEcp, Distinct(9, 0x11), Distinct(6, 0x70), 6},
        {8, SimReplyMce, Distinct(9, 0x11), Distinct(6, 0x70), 4},
        {2, SimReplyNibble, {}, Distinct(6, 0x70), 6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        Mode(c.mode);
        per.replyAfterBytes = static_cast<ULONG>(Decoded(c.mode, c.out).size());
        if (c.out.empty())
            per.replyAfterBytes = 0;
        Peripheral();
        if (c.mode == 8) {
            ASSERT_EQ(Ioctl(0x16209C).status, STATUS_SUCCESS);
        }
        Reply(c.kind, c.reply);
        SimIoResult r{};
        Done d = Ioctl(0x162090, c.out, 32, &r);
        EXPECT_EQ(d.status, STATUS_SUCCESS);
        EXPECT_EQ(d.information, c.bytes);
        const size_t skip = c.mode == 8 ? 2 : 0;
        EXPECT_EQ(Bytes(r.out, r.out + d.information),
                  Bytes(c.reply.begin() + skip, c.reply.end()));
        if (!c.out.empty()) {
            EXPECT_EQ(Stream(SimStreamData), Decoded(c.mode, c.out));
        }
        if (c.mode != 2) {
            ASSERT_EQ(Ioctl(0x1620A3).status, STATUS_SUCCESS);
        }
        per.replyAfterBytes = 0;
    }
}

void CleanupDuringCompletion(void *context) {
    EXPECT_EQ(SimCleanup(static_cast<PFILE_OBJECT>(context)), STATUS_SUCCESS);
}

TEST_F(Reverse, CleanupInsideAReadsCompletion) {
    // The completed read's pages turn no-access after its final completion; the driver must not
    // set its cancel flag or touch it in any other way afterwards.
    Reply(SimReplyNibble, Distinct(5));
    ULONG first = SimIssue(nullptr, file, IRP_MJ_READ, 0, nullptr, 0, 16, 0);
    ULONG second = SimIssue(nullptr, file, IRP_MJ_READ, 0, nullptr, 0, 16, 0);
    SimOnCompletion(first, CleanupDuringCompletion, file);
    Done d = Wait(first);
    EXPECT_EQ(d.status, STATUS_SUCCESS);
    EXPECT_EQ(d.information, 5u);
    EXPECT_EQ(Wait(second).status, STATUS_CANCELLED);
    SimPortCounts counts;
    SimPortCountsOf(0, &counts);
    EXPECT_EQ(counts.grants, counts.frees);
}

TEST_F(Reverse, EcpFloodReadInShortPieces) {
    // A reply many FIFOs long, read 5 bytes at a time: every byte once, in order.
    Mode(3);
    Peripheral();
    const Bytes reply = Distinct(100, 0x05);
    Reply(SimReplyEcp, reply);
    Bytes all, got;
    for (int i = 0; i < 40 && all.size() < reply.size(); ++i) {
        Done d = Read(5, &got);
        ASSERT_EQ(d.status, STATUS_SUCCESS);
        ASSERT_LE(d.information, 5u);
        all.insert(all.end(), got.begin(), got.end());
    }
    EXPECT_EQ(all, reply);
    EXPECT_EQ(SimPeripheralLost(0), 0u);
    EXPECT_EQ(Read(5).information, 0u);
}
