// The driver's objects on the simulated kernel and port driver, in virtual time: entry,
// devices, names, parameters, error log, calibration, ECP probe, deferred initialisation and
// unload.
#include "par_ext.h"
#include "tandrel_msg.h"

#include <gtest/gtest.h>

#include "sim.h"

#include <cstring>
#include <string>
#include <vector>

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace {

const wchar_t kService[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\tandrel";
const wchar_t kParameters[] =
    L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\tandrel\\Parameters";
const wchar_t kDeviceMap[] = L"\\Registry\\Machine\\Hardware\\DeviceMap\\PARALLEL PORTS";

class Sim : public ::testing::Test {
  protected:
    void SetUp() override {
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimRegCreateKey(kService);
    }
    void TearDown() override {
        for (ULONG i = 0; i < SimViolationCount(); ++i) {
            ADD_FAILURE() << "kernel rule broken: " << SimViolationAt(i);
        }
    }

    ULONG AddPort(ULONG base, void (*tweak)(SimPortConfig &) = nullptr) {
        SimPortConfig c;
        SimDefaultPort(&c);
        c.base = base;
        c.physical = base;
        c.stackSize = 2;
        if (tweak)
            tweak(c);
        return SimAddPort(&c);
    }

    NTSTATUS Enter() {
        UNICODE_STRING path;
        path.Buffer = const_cast<PWSTR>(kService);
        path.Length = static_cast<USHORT>(wcslen(kService) * 2);
        path.MaximumLength = path.Length + 2;
        return DriverEntry(SimDriverObject(), &path);
    }

    static ParDeviceExtension *Ext(const wchar_t *name) {
        PDEVICE_OBJECT d = SimFindDevice(name);
        return d ? static_cast<ParDeviceExtension *>(d->DeviceExtension) : nullptr;
    }

    static std::wstring Link(const std::wstring &link) {
        wchar_t buf[600];
        return SimLinkTarget(link.c_str(), buf, 600) ? std::wstring(buf) : std::wstring();
    }

    static void SetDword(const wchar_t *name, ULONG v) {
        SimRegSet(kParameters, name, REG_DWORD, &v, 4);
    }
    static void SetSz(const wchar_t *name, const std::wstring &s) {
        SimRegSet(kParameters, name, REG_SZ, s.c_str(), static_cast<ULONG>((s.size() + 1) * 2));
    }

    void Unload() {
        SimRunUntilIdle();
        SimDriverObject()->DriverUnload(SimDriverObject());
        EXPECT_EQ(SimPoolBlocks(kParPoolTag), 0u);
        EXPECT_EQ(SimFileReferences(), 0);
        EXPECT_EQ(SimLinkCount(), 0u);
        EXPECT_EQ(SimDriverObject()->DeviceObject, nullptr);
    }

    static std::vector<IO_ERROR_LOG_PACKET> Log() {
        std::vector<IO_ERROR_LOG_PACKET> out;
        for (ULONG i = 0; i < SimLogCount(); ++i) {
            SimLogEntry e;
            SimLogAt(i, &e);
            IO_ERROR_LOG_PACKET p;
            std::memcpy(&p, e.bytes, sizeof p);
            out.push_back(p);
        }
        return out;
    }
};

TEST_F(Sim, NoPortsNoDevice) {
    EXPECT_EQ(Enter(), STATUS_NO_SUCH_DEVICE);
    EXPECT_EQ(SimPoolBlocks(0), 0u);
    EXPECT_EQ(SimDriverObject()->DeviceObject, nullptr);
}

TEST_F(Sim, TwoPortsMakeDevicesLinksAndDeviceMap) {
    AddPort(0x378);
    AddPort(0x278);
    SimHoldWorkQueue(TRUE);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    EXPECT_EQ(SimPageableState(), 1);
    EXPECT_EQ(SimDriverObject()->MajorFunction[IRP_MJ_CREATE] != nullptr, true);
    EXPECT_NE(SimDriverObject()->DriverUnload, nullptr);
    for (int i = 0; i < 2; ++i) {
        std::wstring dev = L"\\Device\\pellin" + std::to_wstring(i);
        ParDeviceExtension *ext = Ext(dev.c_str());
        ASSERT_NE(ext, nullptr) << i;
        PDEVICE_OBJECT d = ext->DeviceObject;
        EXPECT_TRUE(d->Flags & DO_EXCLUSIVE);
        EXPECT_TRUE(d->Flags & DO_DIRECT_IO);
        EXPECT_EQ(d->DeviceType, static_cast<DEVICE_TYPE>(FILE_DEVICE_PARALLEL_PORT));
        EXPECT_EQ(d->StackSize, 3);
        EXPECT_EQ(ext->Timeout, 30u);
        EXPECT_EQ(ext->RequestedMode, 2u);
        EXPECT_EQ(ext->CurrentMode, 2u);
        EXPECT_EQ(ext->BlockSize, 512u);
        EXPECT_EQ(ext->InitializationTimeout, 3u);
        EXPECT_EQ(ext->PrivMode, 1u);
        EXPECT_EQ(ext->SavedStatus, 5);
        EXPECT_EQ(ext->InfoMarker, 1);
        EXPECT_EQ(ext->OneSecond.QuadPart, 10000000);
        EXPECT_EQ(ext->OneSecondDelay.QuadPart, -10000000);
        EXPECT_EQ(ext->PollDelay.QuadPart, -100000);
        EXPECT_EQ(ext->Initializing, TRUE);
        EXPECT_EQ(ext->SpanOfController, 8u);
        EXPECT_TRUE(ext->CreatedSymbolicLink);
        std::wstring link = L"\\DosDevices\\pellin" + std::to_wstring(i + 1);
        EXPECT_EQ(Link(link), dev);
        ULONG type = 0, bytes = 200;
        wchar_t value[100] = {};
        ASSERT_TRUE(SimRegGet(kDeviceMap, dev.c_str(), &type, value, &bytes));
        EXPECT_EQ(type, static_cast<ULONG>(REG_SZ));
        EXPECT_EQ(bytes, (link.size() + 1) * 2); // terminating zero included
        EXPECT_EQ(std::wstring(value), link);
    }
    EXPECT_EQ(SimQueuedWork(), 2u);
    SimRunUntilIdle();
    for (ULONG i = 0; i < 2; ++i) {
        SimPortCounts c;
        SimPortCountsOf(i, &c);
        EXPECT_EQ(c.infoHolds, 0);
        EXPECT_EQ(c.grants, c.frees);
        EXPECT_EQ(c.grants, 2); // calibration and deferred initialisation
    }
    EXPECT_TRUE(Ext(L"\\Device\\pellin0")->Initialized);
    EXPECT_FALSE(Ext(L"\\Device\\pellin1")->Initializing);
    EXPECT_EQ(SimLogCount(), 0u);
    Unload();
    ULONG type, bytes = 0;
    EXPECT_FALSE(SimRegGet(kDeviceMap, L"\\Device\\pellin0", &type, nullptr, &bytes));
}

TEST_F(Sim, EleventhPortIsPellin10) {
    for (int i = 0; i < 11; ++i)
        AddPort(0x1000 + 0x800 * i);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    EXPECT_EQ(Link(L"\\DosDevices\\pellin11"), L"\\Device\\pellin10");
    Unload();
}

TEST_F(Sim, RegistryParameters) {
    struct Case {
        const char *what;
        void (*set)();
        ULONG initTimeout, transfer, block, priv, before, after;
        const wchar_t *link; // of port 0
    } cases[] = {
        {"DosDevice PRN", [] { SetSz(L"DosDevice", L"PRN"); }, 3, 2, 512, 1, 0, 0,
         L"\\DosDevices\\PRN1"},
        {"no DosDevice: the read stops there",
         [] {
             SetDword(L"TransferType", 5);
             SetDword(L"PRIV_MODE", 7);
         },
         3, 5, 512, 0, 0, 0, L"\\DosDevices\\pellin1"},
        {"ranges",
         [] {
             SetSz(L"DosDevice", L"");
             SetDword(L"InitializationTimeout", 0);
             SetDword(L"BlockSize", 0);
             SetDword(L"STRB_before", 1001);
             SetDword(L"STRB_after", 101);
         },
         3, 2, 512, 1, 0, 0, L"\\DosDevices\\pellin1"},
        {"limits kept",
         [] {
             SetSz(L"DosDevice", L"LPT");
             SetDword(L"InitializationTimeout", 4294967);
             SetDword(L"STRB_before", 1000);
             SetDword(L"STRB_after", 100);
         },
         4294967, 2, 512, 1, 1000, 100, L"\\DosDevices\\LPT1"},
        {"a stored hour's strobe after a failure is cleared",
         [] {
             SetSz(L"DosDevice", L"X");
             SimRegSet(kParameters, L"PRIV_MODE", REG_BINARY, "\1\2\3\4", 4);
             SetDword(L"STRB_before", 4000000000u);
         },
         3, 2, 512, 0, 0, 0, L"\\DosDevices\\X1"},
        {"mistyped BlockSize stops the read",
         [] {
             SetSz(L"BlockSize", L"1024");
             SetSz(L"DosDevice", L"X");
             SetDword(L"InitializationTimeout", 9);
         },
         9, 2, 512, 0, 0, 0, L"\\DosDevices\\pellin1"},
        {"DosDevice of 257 characters is refused",
         [] { SetSz(L"DosDevice", std::wstring(257, L'B')); }, 3, 2, 512, 0, 0, 0,
         L"\\DosDevices\\pellin1"},
        {"DosDevice of 256 characters", [] { SetSz(L"DosDevice", std::wstring(256, L'A')); }, 3, 2,
         512, 1, 0, 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimRegCreateKey(kParameters);
        c.set();
        AddPort(0x378);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
        ParDeviceExtension *ext = Ext(L"\\Device\\pellin0");
        ASSERT_NE(ext, nullptr);
        EXPECT_EQ(ext->InitializationTimeout, c.initTimeout);
        EXPECT_EQ(ext->RequestedMode, c.transfer);
        EXPECT_EQ(ext->BlockSize, c.block);
        EXPECT_EQ(ext->PrivMode, c.priv);
        EXPECT_EQ(ext->StrbBefore, c.before);
        EXPECT_EQ(ext->StrbAfter, c.after);
        std::wstring link = c.link ? c.link : L"\\DosDevices\\" + std::wstring(256, L'A') + L"1";
        EXPECT_EQ(Link(link), L"\\Device\\pellin0");
        EXPECT_EQ(SimLogCount(), 0u);
        Unload();
    }
}

TEST_F(Sim, MissingParametersKeyGivesDefaults) {
    for (BOOLEAN defaults : {TRUE, FALSE}) {
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimSetOptionalKeyDefaults(defaults);
        AddPort(0x378);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
        ParDeviceExtension *ext = Ext(L"\\Device\\pellin0");
        EXPECT_EQ(ext->InitializationTimeout, 3u);
        EXPECT_EQ(ext->PrivMode, 1u);
        EXPECT_EQ(ext->RequestedMode, 2u);
        EXPECT_EQ(ext->BlockSize, 512u);
        EXPECT_EQ(Link(L"\\DosDevices\\pellin1"), L"\\Device\\pellin0");
        Unload();
    }
}

TEST_F(Sim, CreationFailuresAreLoggedAndReleased) {
    struct Case {
        const char *what;
        void (*tweak)(SimPortConfig &);
        void (*arrange)();
        bool device;
        std::vector<ULONG> uniques;
        std::vector<NTSTATUS> codes;
        bool dump;
    } cases[] = {
        {"failed GET",
         [](SimPortConfig &c) { c.failGet = TRUE; },
         nullptr,
         false,
         {4},
         {PAR_CANT_FIND_PORT_DRIVER},
         false},
        {"span 2",
         [](SimPortConfig &c) { c.span = 2; },
         nullptr,
         false,
         {4},
         {PAR_CANT_FIND_PORT_DRIVER},
         false},
        {"link",
         nullptr,
         [] { SimFailLinks(TRUE); },
         true,
         {5, 6},
         {PAR_NO_SYMLINK, PAR_NO_DEVICE_MAP_CREATED},
         true},
        {"device map",
         nullptr,
         [] { SimFailDeviceMapWrites(TRUE); },
         true,
         {6},
         {PAR_NO_DEVICE_MAP_CREATED},
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        AddPort(0x378, c.tweak);
        if (c.arrange)
            c.arrange();
        NTSTATUS st = Enter();
        EXPECT_EQ(st, c.device ? STATUS_SUCCESS : STATUS_NO_SUCH_DEVICE);
        std::vector<IO_ERROR_LOG_PACKET> log = Log();
        ASSERT_EQ(log.size(), c.uniques.size());
        for (size_t i = 0; i < log.size(); ++i) {
            EXPECT_EQ(log[i].UniqueErrorValue, c.uniques[i]);
            EXPECT_EQ(log[i].ErrorCode, c.codes[i]);
            EXPECT_EQ(log[i].RetryCount, 0);
            EXPECT_NE(log[i].FinalStatus, STATUS_SUCCESS);
            if (c.dump) {
                SimLogEntry e;
                SimLogAt(static_cast<ULONG>(i), &e);
                EXPECT_EQ(e.size, sizeof(IO_ERROR_LOG_PACKET) + 4);
                EXPECT_EQ(log[i].DumpDataSize, 8);
                ULONG words[2];
                std::memcpy(words, e.bytes + FIELD_OFFSET(IO_ERROR_LOG_PACKET, DumpData), 8);
                EXPECT_EQ(words[0], 0x378u);
                EXPECT_EQ(words[1], 0u);
            }
        }
        SimPortCounts counts;
        SimRunUntilIdle();
        SimPortCountsOf(0, &counts);
        EXPECT_EQ(counts.infoHolds, 0);
        EXPECT_EQ(counts.grants, counts.frees);
        if (c.device) {
            SimFailLinks(FALSE);
            Unload();
        } else {
            EXPECT_EQ(SimPoolBlocks(0), 0u);
            EXPECT_EQ(SimFileReferences(), 0);
        }
    }
}

TEST_F(Sim, ErrorLogWithoutPacketsAndPoolFailures) {
    AddPort(0x378, [](SimPortConfig &c) { c.failGet = TRUE; });
    SimFailErrorLog(TRUE);
    EXPECT_EQ(Enter(), STATUS_NO_SUCH_DEVICE);
    EXPECT_EQ(SimLogCount(), 0u);
    for (ULONG n = 1; n <= 12; ++n) {
        SCOPED_TRACE(n);
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        AddPort(0x378);
        SimFailPoolAt(n);
        NTSTATUS st = Enter();
        SimRunUntilIdle();
        if (st == STATUS_SUCCESS) {
            SimDriverObject()->DriverUnload(SimDriverObject());
        }
        EXPECT_EQ(SimPoolBlocks(kParPoolTag), 0u);
        EXPECT_EQ(SimFileReferences(), 0);
        SimPortCounts counts;
        SimPortCountsOf(0, &counts);
        EXPECT_EQ(counts.grants, counts.frees);
    }
}

TEST_F(Sim, StallCalibration) {
    struct Case {
        ULONG passFs;
        LONGLONG hz;
        ULONG step, overheadMin, overheadMax;
    } cases[] = {
        {2000000, 10000000, 2, 900, 1100}, // 2-ns passes, 100-ns reads, 1-us writes
        {250000, 10000000, 1, 0, 1100},
        {7000000, 10000000, 7, 0, 1200},
        {250000, 1000, 1, 0, 2000000}, // a 1-kHz counter sees nothing
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.passFs);
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimSetCosts(1000000, 100000, c.passFs);
        SimSetClock(c.hz, 30LL * 24 * 3600 * 1000); // 30 days of uptime
        AddPort(0x378);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
        ParDeviceExtension *ext = Ext(L"\\Device\\pellin0");
        EXPECT_EQ(ext->StallStep, c.step);
        EXPECT_GE(ext->StallOverhead, c.overheadMin);
        EXPECT_LE(ext->StallOverhead, c.overheadMax);
        // A calibrated stall lasts at least its time once the overhead is passed.
        LONGLONG before = SimNowPs();
        ParStallExecution(ext->StallOverhead + 5000, ext->StallStepFine, ext->StallOverhead,
                          &MceTmp);
        KeStallExecutionProcessor(0); // a kernel call charges the passes
        EXPECT_GE(SimNowPs() - before, 5000LL * 1000 * 99 / 100);
        Unload();
    }
}

TEST_F(Sim, MceCalibration) {
    struct Case {
        ULONG portPs, passFs;
        LONG low, high;
    } cases[] = {
        {1000000, 1000000, (6897 - 2000) * 11 / 10 * 97 / 100, (6897 - 2000) * 11 / 10 * 103 / 100},
        {3500000, 1000000, 200, 200},
    };
    for (const Case &c : cases) {
        for (LONGLONG uptime : {0LL, 30LL * 24 * 3600 * 1000}) {
            SimReset();
            SimWatchLoopCounter(&MceTmp);
            SimSetCosts(c.portPs, 100000, c.passFs);
            SimSetClock(10000000, uptime);
            AddPort(0x378);
            ASSERT_EQ(Enter(), STATUS_SUCCESS);
            LONG n = Ext(L"\\Device\\pellin0")->MceLoopCount;
            EXPECT_GE(n, c.low) << c.portPs << " " << uptime;
            EXPECT_LE(n, c.high) << c.portPs << " " << uptime;
            Unload();
        }
    }
}

TEST_F(Sim, EcpProbe) {
    struct Case {
        const char *what;
        void (*tweak)(SimPortConfig &);
        UCHAR present;
        ULONG depth;
    } cases[] = {
        {"no ECP", [](SimPortConfig &c) { c.noEcp = TRUE; }, 0, 0},
        {"readback not 0x35", [](SimPortConfig &c) { c.badReadback = TRUE; }, 0, 0},
        {"never full", [](SimPortConfig &c) { c.neverFull = TRUE; }, 0, 0},
        {"depth 16", [](SimPortConfig &c) { c.fifoDepth = 16; }, 1, 15},
        {"depth 65", [](SimPortConfig &c) { c.fifoDepth = 65; }, 1, 64},
        {"depth 66", [](SimPortConfig &c) { c.fifoDepth = 66; }, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        AddPort(0x378, c.tweak);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
        ParDeviceExtension *ext = Ext(L"\\Device\\pellin0");
        EXPECT_EQ(ext->EcpPresent, c.present);
        EXPECT_EQ(ext->EcpFifoDepth, c.depth);
        Unload();
    }
}

TEST_F(Sim, DeferredInitialisation) {
    struct Case {
        const char *what;
        LONG heldMs;
        bool initialised;
    } cases[] = {
        {"free", 0, true},
        {"held 2 s", 2000, true},
        {"held 7 s: the second wait gets it", 7000, true},
        {"held 11 s: past both waits of 5 s", 11000, false},
        {"held for ever", -1, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimPortConfig cfg;
        SimDefaultPort(&cfg);
        cfg.heldMs = c.heldMs;
        SimAddPort(&cfg);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
        LONGLONG start = SimNowPs();
        SimRunUntilIdle();
        ParDeviceExtension *ext = Ext(L"\\Device\\pellin0");
        EXPECT_EQ(ext->Initialized != 0, c.initialised);
        EXPECT_FALSE(ext->Initializing);
        EXPECT_EQ(ext->DeferredWorkItem, nullptr);
        SimPortCounts counts;
        SimPortCountsOf(0, &counts);
        EXPECT_EQ(counts.infoHolds, 0);
        EXPECT_EQ(counts.grants, counts.frees);
        if (c.heldMs < 0) {
            // Five seconds of waiting, then the request is cancelled.
            EXPECT_GE(SimNowPs() - start, 5000LL * 1000000000);
            EXPECT_EQ(counts.grants, 0);
        }
        Unload();
    }
}

TEST_F(Sim, ReinitialisingWhileTheDeferredInitialisationRuns) {
    AddPort(0x378);
    SimHoldWorkQueue(TRUE);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    ParDeviceExtension *ext = Ext(L"\\Device\\pellin0");
    ASSERT_TRUE(ext->Initializing);
    SimHoldWorkQueue(FALSE);
    LONGLONG start = SimNowPs();
    EXPECT_EQ(ParReinitializeDevice(ext), 0xDF); // waits in one-second delays
    EXPECT_FALSE(ext->Initializing);
    EXPECT_TRUE(ext->Initialized);
    EXPECT_GE(SimNowPs() - start, 1000LL * 1000000000);
    ext->Initialized = FALSE;
    EXPECT_EQ(ParReinitializeDevice(ext), 0xDF); // none running: at once
    EXPECT_TRUE(ext->Initialized);
    Unload();
}

TEST_F(Sim, UnloadWaitsForQueuedInitialisation) {
    AddPort(0x378);
    SimHoldWorkQueue(TRUE);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    ASSERT_EQ(SimQueuedWork(), 1u);
    SimHoldWorkQueue(FALSE); // the worker runs once unload waits for it
    SimDriverObject()->DriverUnload(SimDriverObject());
    EXPECT_EQ(SimQueuedWork(), 0u);
    EXPECT_EQ(SimPoolBlocks(kParPoolTag), 0u);
    EXPECT_EQ(SimFileReferences(), 0);
    SimPortCounts counts;
    SimPortCountsOf(0, &counts);
    EXPECT_EQ(counts.infoHolds, 0);
    EXPECT_EQ(counts.grants, counts.frees);
}

TEST_F(Sim, ResetOfAReadyPrinter) {
    AddPort(0x378);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    SimRunUntilIdle();
    ParDeviceExtension *ext = Ext(L"\\Device\\pellin0");
    ext->Initialized = FALSE;
    LONGLONG start = SimNowPs();
    UCHAR status = ParInputPrimeOut(ext);
    EXPECT_EQ(status, 0xDF);
    EXPECT_TRUE(ext->Initialized);
    EXPECT_EQ(ext->InitPulse, 80000u);
    EXPECT_GE(SimNowPs() - start, 80LL * 1000000000); // the 80-ms nInit pulse
    // Already initialised: no pulse.
    start = SimNowPs();
    ParInputPrimeOut(ext);
    EXPECT_LT(SimNowPs() - start, 1000LL * 1000000);
    Unload();
}

TEST_F(Sim, ResetWaitsForTheStatus) {
    struct Case {
        const char *what;
        UCHAR status;
        bool initialised;
        LONGLONG lowMs, highMs;
    } cases[] = {
        {"never ready", 0x18, false, 2900, 3200},
        {"off line", 0x08, true, 1000, 1100},
        {"power off", 0x80, false, 1000, 1100},
        {"not connected, paper out", 0xA8, false, 1000, 1100},
        {"ready", 0xDF, true, 80, 90},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimSetCosts(100000000, 100000, 1000000); // slow registers keep the busy poll short
        SimPortConfig cfg;
        SimDefaultPort(&cfg);
        cfg.status = c.status;
        SimAddPort(&cfg);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
        SimRunUntilIdle();
        ParDeviceExtension *ext = Ext(L"\\Device\\pellin0");
        ext->Initialized = FALSE;
        LONGLONG start = SimNowPs();
        UCHAR status = ParInputPrimeOut(ext);
        LONGLONG ms = (SimNowPs() - start) / 1000000000;
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(ext->Initialized != 0, c.initialised);
        EXPECT_GE(ms, c.lowMs);
        EXPECT_LE(ms, c.highMs);
        Unload();
    }
}

TEST_F(Sim, OnePortFailingDoesNotStopTheNext) {
    AddPort(0x378, [](SimPortConfig &c) { c.failGet = TRUE; });
    AddPort(0x278);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    EXPECT_EQ(SimFindDevice(L"\\Device\\pellin0"), nullptr);
    EXPECT_EQ(Link(L"\\DosDevices\\pellin2"), L"\\Device\\pellin1");
    ASSERT_EQ(SimLogCount(), 1u);
    EXPECT_EQ(Log()[0].UniqueErrorValue, 4u);
    Unload();
}

TEST_F(Sim, AllocatingThePortForARequest) {
    struct Case {
        const char *what;
        ULONG timeout;
        LONG heldMs;
        BOOLEAN late;
        bool granted;
        LONGLONG lowMs, highMs;
    } cases[] = {
        {"free", 30, 0, FALSE, true, 0, 1},
        {"held 2 s", 30, 2000, FALSE, true, 2000, 2001},
        {"held past the time-out", 3, -1, FALSE, false, 3000, 3001},
        {"time-out 0, free", 0, 0, FALSE, true, 0, 1},
        {"time-out 0, held", 0, 500, FALSE, false, 0, 1},
        {"time-out 500 s, held 20 s", 500, 20000, FALSE, true, 20000, 20001},
        {"a grant that beats the cancel", 3, -1, TRUE, true, 3000, 3001},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimPortConfig cfg;
        SimDefaultPort(&cfg);
        cfg.stackSize = 2;
        cfg.grantLate = c.late;
        SimAddPort(&cfg);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
        SimRunUntilIdle();
        ParDeviceExtension *ext = Ext(L"\\Device\\pellin0");
        ext->Timeout = c.timeout;
        if (c.heldMs != 0) {
            ASSERT_TRUE(SimHoldPort(0, c.heldMs));
        }
        SimPortCounts before;
        SimPortCountsOf(0, &before);
        PIRP irp = SimNewRequest(ext->DeviceObject, IRP_MJ_WRITE);
        ext->CurrentIrp = irp;
        ParRaiseOpenCloseCount(); // resident, as while a handle is open
        LONGLONG start = SimNowPs();
        BOOLEAN granted = ParAllocPort(ext);
        LONGLONG ms = (SimNowPs() - start) / 1000000000;
        EXPECT_EQ(granted != 0, c.granted);
        EXPECT_GE(ms, c.lowMs);
        EXPECT_LE(ms, c.highMs);
        EXPECT_TRUE(SimRequestLive(irp)); // the request stays with the driver
        if (granted) {
            irp->IoStatus.Status = STATUS_SUCCESS;
        } else {
            EXPECT_EQ(irp->IoStatus.Status, STATUS_DEVICE_BUSY);
        }
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        if (granted)
            ParFreePort(ext);
        EXPECT_EQ(SimCompletions(irp), 1u);
        SimPortCounts after;
        SimPortCountsOf(0, &after);
        EXPECT_EQ(after.allocRequests - before.allocRequests, 1);
        EXPECT_EQ(after.grants - before.grants, granted ? 1 : 0);
        EXPECT_EQ(after.grants - after.frees, 0);
        ext->CurrentIrp = nullptr;
        ParLowerOpenCloseCount();
        SimRunUntilIdle();
        Unload();
    }
}

TEST_F(Sim, DeferredInitialisationGrantedBetweenTimeOutAndCancel) {
    SimPortConfig cfg;
    SimDefaultPort(&cfg);
    cfg.heldMs = -1;
    cfg.grantLate = TRUE;
    SimAddPort(&cfg);
    ASSERT_EQ(Enter(), STATUS_SUCCESS); // the set-up's own wait is granted late too
    SimRunUntilIdle();
    SimPortCounts c;
    SimPortCountsOf(0, &c);
    EXPECT_EQ(c.grants, 2);
    EXPECT_EQ(c.frees, 2);
    EXPECT_TRUE(Ext(L"\\Device\\pellin0")->Initialized);
    Unload();
}

TEST_F(Sim, SecondCompletionIsCaught) {
    AddPort(0x378);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    PIRP irp = SimNewRequest(Ext(L"\\Device\\pellin0")->DeviceObject, IRP_MJ_WRITE);
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    ULONG before = SimViolationCount();
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(SimViolationCount() - before, 1u);
    SimReset(); // intended
}

TEST_F(Sim, ProbeAndCalibrationRunWithThePortGranted) {
    SimPortConfig cfg;
    SimDefaultPort(&cfg);
    cfg.strict = TRUE;
    SimAddPort(&cfg);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    SimRunUntilIdle();
    EXPECT_EQ(SimViolationCount(), 0u); // every register access came while granted
    ParDeviceExtension *ext = Ext(L"\\Device\\pellin0");
    EXPECT_TRUE(ext->EcpPresent);
    Unload();
    // The check itself: an access between grants is reported, except status and ECR reads.
    SimReset();
    SimAddPort(&cfg);
    READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(cfg.base + 1)));
    READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(cfg.base + 0x402)));
    EXPECT_EQ(SimViolationCount(), 0u);
    READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(cfg.base + 2)));
    WRITE_PORT_UCHAR(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(cfg.base)), 0);
    EXPECT_EQ(SimViolationCount(), 2u);
    SimReset(); // intended
}

TEST_F(Sim, PortAppearingWhileDevicesAreMade) {
    AddPort(0x378);
    SimPortConfig cfg;
    SimDefaultPort(&cfg);
    cfg.base = 0x278;
    SimAddPortLater(&cfg, 1); // counted from the second pass on
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    EXPECT_EQ(Link(L"\\DosDevices\\pellin1"), L"\\Device\\pellin0");
    EXPECT_EQ(Link(L"\\DosDevices\\pellin2"), L"\\Device\\pellin1");
    Unload();
}

TEST_F(Sim, ResetWithNInitAlreadyLow) {
    AddPort(0x378);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    SimRunUntilIdle();
    ParDeviceExtension *ext = Ext(L"\\Device\\pellin0");
    ext->Initialized = FALSE;
    WRITE_PORT_UCHAR(ext->Controller + 2, 0xC8); // nInit low already: no pulse
    LONGLONG start = SimNowPs();
    EXPECT_EQ(ParInputPrimeOut(ext), 0xDF);
    EXPECT_LT(SimNowPs() - start, 1000LL * 1000000000 / 1000); // well under 1 ms
    EXPECT_EQ(READ_PORT_UCHAR(ext->Controller + 2), 0xCC);
    EXPECT_TRUE(ext->Initialized);
    Unload();
}

TEST_F(Sim, ViolationsAreReported) {
    ULONG before = SimViolationCount();
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    KeLowerIrql(HIGH_LEVEL); // lowering to a higher level
    KeLowerIrql(PASSIVE_LEVEL);
    ExFreePoolWithTag(reinterpret_cast<PVOID>(0x1234), 0); // not allocated
    KEVENT e;
    KeInitializeEvent(&e, NotificationEvent, FALSE);
    KeWaitForSingleObject(&e, Executive, KernelMode, FALSE, nullptr); // nothing can end it
    READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(0x9999));                // no port there
    EXPECT_EQ(SimViolationCount() - before, 4u);
    SimReset(); // the violations above were intended
}

} // namespace
