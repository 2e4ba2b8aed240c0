// The driver's requests on the simulated kernel, I/O manager and port, in virtual time:
// validation, answers given at once, the request list and its worker, execution with the port
// allocated, open, close, cleanup and cancel; the transfers are a scripted double.
#include "par_ext.h"
#include "transfer_double.h"

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
const wchar_t kLink[] = L"\\DosDevices\\pellin1";
constexpr LONGLONG kMs = 1000000000LL; // ps

struct Result {
    NTSTATUS returned;
    NTSTATUS status;
    ULONG_PTR information;
    ULONG order;
    std::vector<UCHAR> out;
};

std::vector<UCHAR> Dword(ULONG v) {
    std::vector<UCHAR> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

std::vector<UCHAR> Timeouts(ULONG writeConstant) {
    std::vector<UCHAR> b(20, 0);
    std::memcpy(b.data() + 16, &writeConstant, 4);
    return b;
}

class Requests : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTransferScript();
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimRegCreateKey(kService);
    }
    void TearDown() override {
        for (ULONG i = 0; i < SimViolationCount(); ++i) {
            ADD_FAILURE() << "kernel rule broken: " << SimViolationAt(i);
        }
        EXPECT_EQ(g_transfer.callsWithoutPort, 0) << "a transfer ran without the port";
    }

    // A port (strict: registers only while granted) and the driver loaded on it.
    void Load(void (*tweak)(SimPortConfig &) = nullptr) {
        SimPortConfig c;
        SimDefaultPort(&c);
        c.stackSize = 2;
        c.strict = TRUE;
        if (tweak)
            tweak(c);
        SimAddPort(&c);
        UNICODE_STRING path;
        path.Buffer = const_cast<PWSTR>(kService);
        path.Length = static_cast<USHORT>(wcslen(kService) * 2);
        path.MaximumLength = path.Length + 2;
        ASSERT_EQ(DriverEntry(SimDriverObject(), &path), STATUS_SUCCESS);
        SimRunUntilIdle();
        ext =
            static_cast<ParDeviceExtension *>(SimFindDevice(L"\\Device\\pellin0")->DeviceExtension);
    }

    void Open() { ASSERT_EQ(SimOpen(kLink, 0, &file), STATUS_SUCCESS); }

    void Close() {
        EXPECT_EQ(SimCleanup(file), STATUS_SUCCESS);
        EXPECT_EQ(SimCloseFile(file), STATUS_SUCCESS);
        file = nullptr;
        EXPECT_EQ(SimLiveSystemThreads(), 0u);
        EXPECT_EQ(SimThreadReferences(), 0);
    }

    // Leaves the machine as it was: no hold, no grant, no pool of the driver.
    void Unload() {
        if (file != nullptr)
            Close();
        SimRunUntilIdle();
        SimPortCounts c;
        SimPortCountsOf(0, &c);
        EXPECT_EQ(c.infoHolds, 0);
        EXPECT_EQ(c.grants, c.frees);
        EXPECT_EQ(OpenCloseReferenceCount, 0);
        EXPECT_EQ(SimPageableState(), 1);
        SimDriverObject()->DriverUnload(SimDriverObject());
        EXPECT_EQ(SimPoolBlocks(kParPoolTag), 0u);
    }

    ULONG Issue(UCHAR major, ULONG code, const std::vector<UCHAR> &in, ULONG outBytes,
                LONGLONG offset = 0) {
        return SimIssue(nullptr, file, major, code, in.empty() ? nullptr : in.data(),
                        static_cast<ULONG>(in.size()), outBytes, offset);
    }
    ULONG Write(const std::string &bytes, LONGLONG offset = 0) {
        return Issue(IRP_MJ_WRITE, 0, std::vector<UCHAR>(bytes.begin(), bytes.end()), 0, offset);
    }
    ULONG Ioctl(ULONG code, const std::vector<UCHAR> &in = {}, ULONG outBytes = 0) {
        return Issue(IRP_MJ_DEVICE_CONTROL, code, in, outBytes);
    }

    static Result Get(ULONG id) {
        SimIoResult r;
        EXPECT_TRUE(SimIoResultOf(id, &r));
        Result out{r.returned, r.status, r.information, r.order,
                   std::vector<UCHAR>(r.out, r.out + r.outBytes)};
        EXPECT_TRUE(r.done) << "request " << id << " not completed";
        return out;
    }
    static Result Wait(ULONG id) {
        SimWaitIo(id);
        return Get(id);
    }
    static bool Done(ULONG id) {
        SimIoResult r;
        return SimIoResultOf(id, &r) && r.done;
    }
    Result Run(ULONG code, const std::vector<UCHAR> &in = {}, ULONG outBytes = 0) {
        return Wait(Ioctl(code, in, outBytes));
    }

    static SimPortCounts Counts() {
        SimPortCounts c;
        SimPortCountsOf(0, &c);
        return c;
    }

    ParDeviceExtension *ext = nullptr;
    PFILE_OBJECT file = nullptr;
};

// ---- Dispatch -----------------------------------------------------------------------------

TEST_F(Requests, RefusedAtDispatch) {
    Load();
    Open();
    struct Case {
        const char *what;
        UCHAR major;
        ULONG code;
        std::vector<UCHAR> in;
        ULONG out;
        LONGLONG offset;
        NTSTATUS status;
    } cases[] = {
        {"set information 2", IRP_MJ_DEVICE_CONTROL, 0x160008, {2}, 0, 0, STATUS_INVALID_PARAMETER},
        {"set information, no input",
         IRP_MJ_DEVICE_CONTROL,
         0x160008,
         {},
         0,
         0,
         STATUS_BUFFER_TOO_SMALL},
        {"time-out 99", IRP_MJ_DEVICE_CONTROL, 0x1B001C, Timeouts(99), 0, 0,
         STATUS_INVALID_PARAMETER},
        {"options 4", IRP_MJ_DEVICE_CONTROL, 0x1620C0, Dword(4), 0, 0, STATUS_INVALID_PARAMETER},
        {"block write count 25", IRP_MJ_DEVICE_CONTROL, 0x162098,
         [] {
             std::vector<UCHAR> b(32, 0);
             b[28] = 25;
             return b;
         }(),
         0, 0, STATUS_INVALID_PARAMETER},
        {"compat write, output shorter", IRP_MJ_DEVICE_CONTROL, 0x1620C4, Dword(1), 2, 0,
         STATUS_INVALID_PARAMETER},
        {"device id, no output",
         IRP_MJ_DEVICE_CONTROL,
         0x16000C,
         {},
         0,
         0,
         STATUS_BUFFER_TOO_SMALL},
        {"unknown code", IRP_MJ_DEVICE_CONTROL, 0x160100, Dword(0), 4, 0, STATUS_INVALID_PARAMETER},
        {"write at an offset", IRP_MJ_WRITE, 0, {1, 2}, 0, 512, STATUS_INVALID_PARAMETER},
        {"read at an offset", IRP_MJ_READ, 0, {}, 8, 1, STATUS_INVALID_PARAMETER},
        {"empty write", IRP_MJ_WRITE, 0, {}, 0, 0, STATUS_SUCCESS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ULONG id = Issue(c.major, c.code, c.in, c.out, c.offset);
        Result r = Get(id); // completed by the dispatch routine itself
        EXPECT_EQ(r.returned, c.status);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.information, 0u);
    }
    EXPECT_TRUE(g_transfer.calls.empty());
    EXPECT_EQ(Counts().allocRequests, 2); // creation and deferred initialisation only
    Unload();
}

TEST_F(Requests, AtOnceAnswersFillAndZeroTheOutput) {
    Load();
    Open();
    ext->Timeout = 7;
    ext->SavedStatus = 0x42;
    ext->RequestedMode = 5;
    ext->BlockSize = 1024;
    SimSetPortStatus(0, 0x9F, 0);
    const LONG grantsBefore = Counts().grants;
    struct Case {
        ULONG code;
        ULONG out;
        std::vector<UCHAR> head; // the rest of out must be 0
    } cases[] = {
        {0x162084, 8, {0x9F}},
        {0x1620A4, 6, {0x42, 0x9F}},
        {0x1B0020, 24, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x58, 0x1B, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        Result r = Get(Ioctl(c.code, {}, c.out));
        EXPECT_EQ(r.returned, STATUS_SUCCESS);
        EXPECT_EQ(r.information, c.out);
        ASSERT_EQ(r.out.size(), c.out);
        for (size_t i = 0; i < c.out; ++i)
            EXPECT_EQ(r.out[i], i < c.head.size() ? c.head[i] : 0) << i;
    }
    Result info = Get(Ioctl(0x162094, {}, 40));
    ASSERT_EQ(info.information, 40u);
    ULONG v;
    std::memcpy(&v, info.out.data(), 4);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(info.out[8], 1); // initialised by the deferred initialisation
    EXPECT_EQ(info.out[10], 0);
    std::memcpy(&v, info.out.data() + 20, 4);
    EXPECT_EQ(v, 5u);
    std::memcpy(&v, info.out.data() + 24, 4);
    EXPECT_EQ(v, 1024u);
    std::memcpy(&v, info.out.data() + 28, 4);
    EXPECT_EQ(v, 2u);
    EXPECT_EQ(info.out[32], 1);
    for (size_t i = 33; i < 40; ++i)
        EXPECT_EQ(info.out[i], 0) << i;
    EXPECT_EQ(Counts().grants, grantsBefore); // no port for any of them
    Unload();
}

// The ECP completion gate: PRIV_MODE 1, an ECP port and a FIFO holding bytes.
TEST_F(Requests, GateRefusesWhileTheFifoDrains) {
    struct Case {
        const char *what;
        ULONG privMode;
        bool ecp;
        bool refused;
    } cases[] = {
        {"PRIV_MODE 1, ECP", 1, true, true},
        {"PRIV_MODE 0", 0, true, false},
        {"no ECP", 1, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ResetTransferScript();
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimRegCreateKey(kService);
        Load([](SimPortConfig &p) { p.strict = FALSE; });
        ext->PrivMode = c.privMode;
        ext->EcpPresent = c.ecp;
        // A byte left in the FIFO in ECP mode.
        WRITE_PORT_UCHAR(ext->Controller + 0x402, 0xD4);
        WRITE_PORT_UCHAR(ext->Controller + 0x400, 0x55);
        Open();
        g_transfer.deviceId.assign(4, 'x');
        const NTSTATUS gone = STATUS_ALREADY_DISCONNECTED;
        // The gate overrides a size error.
        Result small = Wait(Ioctl(0x16000C, {}, 0));
        EXPECT_EQ(small.status, c.refused ? gone : STATUS_BUFFER_TOO_SMALL);
        Result id = Wait(Ioctl(0x16000C, {}, 8));
        Result w = Wait(Write("abc"));
        Result rd = Wait(Issue(IRP_MJ_READ, 0, {}, 4));
        Result q = Wait(Ioctl(0x160004, {}, 1)); // not a gated code
        EXPECT_EQ(q.status, STATUS_SUCCESS);
        if (c.refused) {
            EXPECT_EQ(id.status, gone);
            EXPECT_EQ(w.status, gone);
            EXPECT_EQ(w.returned, gone);
            EXPECT_EQ(rd.returned, gone);
        } else {
            EXPECT_EQ(id.status, STATUS_SUCCESS);
            EXPECT_EQ(w.status, STATUS_SUCCESS);
            EXPECT_EQ(rd.status, STATUS_SUCCESS);
        }
        ext->EcpPresent = 0;
        WRITE_PORT_UCHAR(ext->Controller + 0x402, 0x34);
        Unload();
    }
}

// ---- The queue --------------------------------------------------------------------------------

TEST_F(Requests, QueuedRequestsRunInArrivalOrderOnTheWorker) {
    Load();
    ext->ThreadPriority = 0;
    Open();
    LONG increment = 0;
    SimRunUntilIdle();
    ASSERT_TRUE(SimLastSystemThreadIncrement(&increment));
    EXPECT_EQ(increment, -2);
    ASSERT_TRUE(SimHoldPort(0, 500)); // the first waits for the port, the rest queue
    ULONG a = Write("one");
    ULONG b = Ioctl(0x1620C0, Dword(2));
    ULONG c = Write("three");
    for (ULONG id : {a, b, c}) {
        SimIoResult r;
        SimIoResultOf(id, &r);
        EXPECT_EQ(r.returned, STATUS_PENDING);
        EXPECT_FALSE(r.done);
    }
    Result rc = Wait(c);
    Result ra = Get(a), rb = Get(b);
    EXPECT_LT(ra.order, rb.order);
    EXPECT_LT(rb.order, rc.order);
    EXPECT_EQ(ra.status, STATUS_SUCCESS);
    EXPECT_EQ(ra.information, 3u);
    EXPECT_EQ(rc.information, 5u);
    EXPECT_EQ(ext->Options, 2u);
    EXPECT_EQ(std::string(g_transfer.sent.begin(), g_transfer.sent.end()), "onethree");
    EXPECT_EQ(Counts().grants - Counts().frees, 0);
    Unload();
}

TEST_F(Requests, CleanupCancelsTheQueuedNewestFirstAndFlagsTheRunningOne) {
    Load();
    Open();
    ext->Timeout = 2;
    ASSERT_TRUE(SimHoldPort(0, -1));
    ULONG running = Write("a");
    SimSleepMs(10); // the worker takes it and waits for the port
    ULONG q1 = Write("b"), q2 = Ioctl(0x160004, {}, 1), q3 = Write("c");
    LONGLONG start = SimNowPs();
    EXPECT_EQ(SimCleanup(file), STATUS_SUCCESS);
    Result r1 = Get(q1), r2 = Get(q2), r3 = Get(q3);
    for (const Result &r : {r1, r2, r3}) {
        EXPECT_EQ(r.status, STATUS_CANCELLED);
        EXPECT_EQ(r.information, 0u);
    }
    EXPECT_LT(r3.order, r2.order);
    EXPECT_LT(r2.order, r1.order);
    EXPECT_FALSE(Done(running));
    // The running one keeps waiting for the port for its time-out.
    Result r0 = Wait(running);
    EXPECT_EQ(r0.status, STATUS_DEVICE_BUSY);
    EXPECT_GE(SimNowPs() - start, 1980 * kMs);
    EXPECT_TRUE(g_transfer.calls.empty());
    EXPECT_EQ(SimCloseFile(file), STATUS_SUCCESS);
    file = nullptr;
    Unload();
}

TEST_F(Requests, ALateGrantKeepsTheCleanupsFlag) {
    Load([](SimPortConfig &p) { p.grantLate = TRUE; });
    Open();
    ext->Timeout = 2;
    ASSERT_TRUE(SimHoldPort(0, -1));
    ULONG w = Write("abc");
    SimSleepMs(10);
    EXPECT_EQ(SimCleanup(file), STATUS_SUCCESS); // flags the write waiting for the port
    Result r = Wait(w);
    EXPECT_EQ(r.status, STATUS_CANCELLED); // granted late, and stopped before its first block
    EXPECT_TRUE(g_transfer.sent.empty());
    EXPECT_EQ(Counts().grants, Counts().frees);
    Unload();
}

TEST_F(Requests, CancelIoAndARequestCancelledBeforeItIsQueued) {
    Load();
    Open();
    ASSERT_TRUE(SimHoldPort(0, 1000));
    ULONG running = Write("a");
    SimSleepMs(10);
    ULONG queued = Write("b");
    SimCancelIo(file);
    EXPECT_EQ(Get(queued).status, STATUS_CANCELLED);
    // The running one waits for the port through the request itself: cancelling it ends the
    // allocation.
    EXPECT_EQ(Wait(running).status, STATUS_DEVICE_BUSY);
    EXPECT_TRUE(g_transfer.calls.empty());

    PIRP irp = SimNewRequest(ext->DeviceObject, IRP_MJ_WRITE);
    IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length = 4;
    irp->Cancel = TRUE;
    EXPECT_EQ(SimDriverObject()->MajorFunction[IRP_MJ_WRITE](ext->DeviceObject, irp),
              STATUS_CANCELLED);
    EXPECT_EQ(SimCompletions(irp), 1u);
    EXPECT_EQ(irp->IoStatus.Status, STATUS_CANCELLED);
    Unload();
}

TEST_F(Requests, ARunningWriteFlaggedByCleanupStopsAtItsNextBlock) {
    Load();
    Open();
    g_transfer.writeBlock = 1;
    g_transfer.blockDelayMs = 10;
    ULONG w = Write("0123456789");
    SimSleepMs(35);
    EXPECT_EQ(SimCleanup(file), STATUS_SUCCESS);
    Result r = Wait(w);
    EXPECT_EQ(r.status, STATUS_CANCELLED);
    EXPECT_EQ(r.information, 0u);
    EXPECT_GE(g_transfer.sent.size(), 3u);
    EXPECT_LT(g_transfer.sent.size(), 10u);
    // The next request is not cancelled.
    EXPECT_EQ(Wait(Write("x")).status, STATUS_SUCCESS);
    Unload();
}

void CleanupInside(void *context) {
    EXPECT_EQ(SimCleanup(static_cast<PFILE_OBJECT>(context)), STATUS_SUCCESS);
}

TEST_F(Requests, CleanupInsideACompletionTouchesNothingFreed) {
    Load();
    Open();
    g_transfer.blockDelayMs = 5;
    ULONG first = Write("first");
    ULONG second = Write("second");
    SimOnCompletion(first, CleanupInside, file);
    EXPECT_EQ(Wait(first).status, STATUS_SUCCESS);
    EXPECT_EQ(Wait(second).status, STATUS_CANCELLED);
    EXPECT_EQ(Counts().grants, Counts().frees);
    Unload();
}

// ---- Open and close -----------------------------------------------------------------------

TEST_F(Requests, OpenAndCloseLifetime) {
    Load();
    SimPortCounts base = Counts();
    // A directory, a failing thread creation and a failing reference leave nothing behind.
    PFILE_OBJECT f = nullptr;
    EXPECT_EQ(SimOpen(kLink, FILE_DIRECTORY_FILE, &f), STATUS_NOT_A_DIRECTORY);
    SimFailThreadCreation(TRUE);
    EXPECT_EQ(SimOpen(kLink, 0, &f), STATUS_INSUFFICIENT_RESOURCES);
    SimFailThreadCreation(FALSE);
    SimFailThreadReference(TRUE);
    EXPECT_EQ(SimOpen(kLink, 0, &f), STATUS_INSUFFICIENT_RESOURCES);
    SimFailThreadReference(FALSE);
    EXPECT_EQ(SimLiveSystemThreads(), 0u);
    EXPECT_EQ(SimThreadReferences(), 0);
    EXPECT_EQ(Counts().infoHolds, base.infoHolds);
    EXPECT_EQ(OpenCloseReferenceCount, 0);
    EXPECT_EQ(SimPageableState(), 1);
    EXPECT_EQ(ext->OpenCount, 0u);

    Open();
    EXPECT_EQ(SimPageableState(), 0);
    EXPECT_EQ(SimLiveSystemThreads(), 1u);
    EXPECT_EQ(SimOpen(kLink, 0, &f), STATUS_ACCESS_DENIED); // exclusive
    EXPECT_EQ(Wait(Write("data")).status, STATUS_SUCCESS);
    Close();
    EXPECT_EQ(SimPageableState(), 1);
    Open(); // and again
    Close();
    Unload();
}

TEST_F(Requests, LastCloseTerminatesWithThePortOrSkipsIt) {
    for (bool held : {false, true}) {
        SCOPED_TRACE(held ? "port held" : "port free");
        ResetTransferScript();
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimRegCreateKey(kService);
        Load();
        Open();
        ext->CurrentMode = 5;
        ext->Timeout = 1;
        if (held) {
            ASSERT_TRUE(SimHoldPort(0, 3000));
        }
        SimPortCounts before = Counts();
        Close();
        SimPortCounts after = Counts();
        EXPECT_EQ(after.grants - before.grants, held ? 0 : 1);
        EXPECT_EQ(ext->CurrentMode, held ? 5u : 2u);
        EXPECT_EQ(g_transfer.calls.size(), held ? 0u : 1u);
        Unload();
    }
}

TEST_F(Requests, PortCompletionsArriveLater) {
    Load();
    SimPortCompletionDelay(0, 20);
    Open();
    Result r = Wait(Write("late"));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    Close();
    Unload();
}

// ---- The port ---------------------------------------------------------------------------------

TEST_F(Requests, AllocationForARequest) {
    struct Case {
        const char *what;
        ULONG writeConstant; // 0: Timeout 0 set directly
        LONG heldMs;
        BOOLEAN late, ignoreCancel;
        NTSTATUS status;
        LONGLONG lowMs, highMs;
    } cases[] = {
        {"held past the time-out", 2500, -1, FALSE, FALSE, STATUS_DEVICE_BUSY, 2000, 2002},
        {"time-out 0: one try", 0, 800, FALSE, FALSE, STATUS_DEVICE_BUSY, 0, 2},
        {"a grant that beats the cancel", 2500, -1, TRUE, FALSE, STATUS_SUCCESS, 2000, 2002},
        {"ignored cancel: granted once freed", 2000, 5000, FALSE, TRUE, STATUS_SUCCESS, 5000, 5002},
    };
    static BOOLEAN s_late;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ResetTransferScript();
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimRegCreateKey(kService);
        s_late = c.late;
        Load([](SimPortConfig &p) { p.grantLate = s_late; });
        SimPortIgnoreCancel(0, c.ignoreCancel);
        Open();
        if (c.writeConstant != 0) {
            ASSERT_EQ(Run(0x1B001C, Timeouts(c.writeConstant)).status, STATUS_SUCCESS);
        } else {
            ext->Timeout = 0;
        }
        ASSERT_TRUE(SimHoldPort(0, c.heldMs));
        LONGLONG start = SimNowPs();
        Result r = Wait(Write("abcd"));
        LONGLONG ms = (SimNowPs() - start) / kMs;
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.information, NT_SUCCESS(c.status) ? 4u : 0u);
        EXPECT_GE(ms, c.lowMs);
        EXPECT_LE(ms, c.highMs);
        EXPECT_EQ(g_transfer.sent.size(), NT_SUCCESS(c.status) ? 4u : 0u);
        Close();
        SimRunUntilIdle();
        SimPortCounts k = Counts();
        EXPECT_EQ(k.infoHolds, 0);
        EXPECT_EQ(k.grants, k.frees);
        if (c.heldMs < 0 && !c.late) {
            SimReset(); // the other client holds the port for ever
            continue;
        }
        Unload();
    }
}

// ---- Execution --------------------------------------------------------------------------------

TEST_F(Requests, WriteChoosesItsMode) {
    struct Case {
        const char *what;
        ULONG current, requested;
        BOOLEAN negotiation;
        NTSTATUS status;
        std::vector<std::string> calls;
    } cases[] = {
        {"equal", 5, 5, TRUE, STATUS_SUCCESS, {"write 3"}},
        {"requested 2", 5, 2, TRUE, STATUS_SUCCESS, {"terminate", "write 3"}},
        {"other, from 2", 2, 6, TRUE, STATUS_SUCCESS, {"negotiate 6", "write 3"}},
        {"other", 5, 6, TRUE, STATUS_SUCCESS, {"terminate", "negotiate 6", "write 3"}},
        {"refused negotiation",
         5,
         6,
         FALSE,
         STATUS_INVALID_DEVICE_REQUEST,
         {"terminate", "negotiate 6", "terminate"}},
    };
    Load();
    Open();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_transfer.calls.clear();
        g_transfer.negotiation = c.negotiation;
        ext->CurrentMode = c.current;
        ext->RequestedMode = c.requested;
        Result r = Wait(Write("abc"));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(g_transfer.calls, c.calls);
    }
    ext->CurrentMode = 2;
    Unload();
}

TEST_F(Requests, WriteWhileTheDeferredInitialisationIsHeld) {
    SimHoldWorkQueue(TRUE);
    SimPortConfig c;
    SimDefaultPort(&c);
    c.stackSize = 2;
    c.strict = TRUE;
    SimAddPort(&c);
    UNICODE_STRING path;
    path.Buffer = const_cast<PWSTR>(kService);
    path.Length = static_cast<USHORT>(wcslen(kService) * 2);
    path.MaximumLength = path.Length + 2;
    ASSERT_EQ(DriverEntry(SimDriverObject(), &path), STATUS_SUCCESS);
    ext = static_cast<ParDeviceExtension *>(SimFindDevice(L"\\Device\\pellin0")->DeviceExtension);
    Open();
    ULONG w = Write("abc");
    SimSleepMs(3000);
    EXPECT_FALSE(Done(w)); // waits a second at a time
    SimHoldWorkQueue(FALSE);
    // The deferred initialisation cannot have the port the write holds.
    Result r = Wait(w);
    EXPECT_EQ(r.status, STATUS_DEVICE_NOT_CONNECTED); // status 0xDF, not initialised
    EXPECT_TRUE(g_transfer.calls.empty());
    // The next write initialises on demand.
    EXPECT_EQ(Wait(Write("abc")).status, STATUS_SUCCESS);
    Unload();
}

TEST_F(Requests, QueuedControlCodes) {
    Load([](SimPortConfig &p) { p.noEcp = TRUE; });
    Open();
    ext->BlockSize = 64;
    using Script = void (*)(ParDeviceExtension *);
    struct Case {
        const char *what;
        ULONG code;
        std::vector<UCHAR> in;
        ULONG out;
        Script script;
        NTSTATUS status;
        ULONG_PTR information;
        std::vector<UCHAR> head; // of the caller's output
        std::vector<std::string> calls;
    } cases[] = {
        {"query information", 0x160004, {}, 1, nullptr, STATUS_SUCCESS, 1, {0x80}, {}},
        {"set mode 5", 0x162088, Dword(5), 0, nullptr, STATUS_SUCCESS, 0, {}, {}},
        {"get modes", 0x16208C, {}, 8, nullptr, STATUS_SUCCESS, 8, {2, 0, 0, 0, 5, 0, 0, 0}, {}},
        {"negotiate", 0x16209C, {}, 1, nullptr, STATUS_SUCCESS, 1, {0x5A}, {"negotiate 5"}},
        {"negotiate refused",
         0x16209C,
         {},
         1,
         [](ParDeviceExtension *) { g_transfer.negotiation = FALSE; },
         STATUS_INVALID_DEVICE_REQUEST,
         0,
         {},
         {"terminate", "negotiate 5", "terminate"}},
        {"terminate", 0x1620A3, {}, 0, nullptr, STATUS_SUCCESS, 0, {}, {"terminate"}},
        {"probe", 0x1620A8, {}, 4, nullptr, STATUS_SUCCESS, 4, {0xD2, 0x04, 0, 0}, {"probe"}},
        {"probe without a writer",
         0x1620A8,
         {},
         4,
         [](ParDeviceExtension *) { g_transfer.rateOk = FALSE; },
         STATUS_INVALID_DEVICE_REQUEST,
         0,
         {},
         {"probe"}},
        {"compat write", 0x1620C4, {1, 2, 3}, 0, nullptr, STATUS_SUCCESS, 3, {}, {"compat2 3"}},
        {"compat write failing",
         0x1620C4,
         {1, 2, 3},
         4,
         [](ParDeviceExtension *) {
             g_transfer.compat2 = FALSE;
             g_transfer.compat2Sent = 1;
         },
         STATUS_DEVICE_BUSY,
         1,
         {1, 0x5A},
         {"compat2 3"}},
        {"write then read",
         0x162090,
         {7, 8},
         3,
         [](ParDeviceExtension *) {
             g_transfer.readData = {9, 9, 9, 9};
         },
         STATUS_SUCCESS,
         3,
         {9, 9, 9},
         {"compat 2", "read 3"}},
        {"write then read, write fails",
         0x162090,
         {7, 8},
         3,
         [](ParDeviceExtension *) { g_transfer.compat = FALSE; },
         STATUS_DEVICE_BUSY,
         0,
         {},
         {"compat 2", "terminate"}},
        {"write then read in Mce",
         0x162090,
         {7},
         0,
         [](ParDeviceExtension *e) { e->RequestedMode = 8; },
         STATUS_SUCCESS,
         0,
         {},
         {"negotiate 8", "mce 1"}},
        {"block write, block size 0",
         0x162098,
         [] {
             std::vector<UCHAR> b(32, 0);
             b[4] = 'h';
             b[5] = 'i';
             b[28] = 2;
             return b;
         }(),
         0,
         nullptr,
         STATUS_SUCCESS,
         0,
         {},
         {"terminate", "compat 2"}},
        {"set time-outs 2500", 0x1B001C, Timeouts(2500), 0, nullptr, STATUS_SUCCESS, 0, {}, {}},
        {"mode 3 without ECP",
         0x162088,
         Dword(3),
         0,
         nullptr,
         STATUS_INVALID_DEVICE_REQUEST,
         0,
         {},
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const LONG without = g_transfer.callsWithoutPort;
        ResetTransferScript();
        g_transfer.callsWithoutPort = without;
        if (c.script)
            c.script(ext);
        Result r = Run(c.code, c.in, c.out);
        EXPECT_EQ(r.returned, STATUS_PENDING);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.information, c.information);
        for (size_t i = 0; i < c.head.size() && i < r.out.size(); ++i)
            EXPECT_EQ(r.out[i], c.head[i]) << i;
        EXPECT_EQ(g_transfer.calls, c.calls);
    }
    EXPECT_EQ(ext->BlockSize, 512u);
    EXPECT_EQ(std::string(g_transfer.sent.begin(), g_transfer.sent.end()), "");
    EXPECT_EQ(ext->RequestedMode, 8u); // the refused mode 3 was not kept
    Result t = Get(Ioctl(0x1B0020, {}, 20));
    ULONG wc;
    std::memcpy(&wc, t.out.data() + 16, 4);
    EXPECT_EQ(wc, 2000u);
    EXPECT_EQ(Counts().grants, Counts().frees);
    ext->RequestedMode = 2;
    Unload();
}

TEST_F(Requests, WriteThenReadByMode) {
    Load(); // an ECP port
    Open();
    struct Case {
        const char *what;
        ULONG requested, current;
        UCHAR status;
        LONG ecp;
        BOOLEAN mce;
        NTSTATUS result;
        LONGLONG minMs;
        std::vector<std::string> calls;
    } cases[] = {
        {"ECP", 3, 2, 0xDF, 1, TRUE, STATUS_SUCCESS, 0, {"negotiate 3", "ecp 2"}},
        {"ECP failing: no termination", 3, 3, 0xDF, -1, TRUE, STATUS_DEVICE_BUSY, 0, {"ecp 2"}},
        {"Mce", 8, 8, 0xDF, 1, TRUE, STATUS_SUCCESS, 0, {"mce 2"}},
        {"Mce, printer busy 35 ms", 8, 8, 0x5F, 1, TRUE, STATUS_DEVICE_BUSY, 35, {"terminate"}},
        {"Mce failing", 8, 8, 0xDF, 1, FALSE, STATUS_DEVICE_BUSY, 0, {"mce 2", "terminate"}},
        {"Mce negotiation refused",
         8,
         5,
         0xDF,
         1,
         TRUE,
         STATUS_DEVICE_BUSY,
         0,
         {"terminate", "negotiate 8"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const LONG without = g_transfer.callsWithoutPort;
        ResetTransferScript();
        g_transfer.callsWithoutPort = without;
        g_transfer.ecp = c.ecp;
        g_transfer.mce = c.mce;
        g_transfer.negotiation = c.current != 5;
        ext->RequestedMode = c.requested;
        ext->CurrentMode = c.current;
        SimSetPortStatus(0, c.status, 0);
        LONGLONG start = SimNowPs();
        Result r = Run(0x162090, {1, 2}, 0);
        EXPECT_EQ(r.status, c.result);
        EXPECT_EQ(r.information, 0u);
        EXPECT_GE(SimNowPs() - start, c.minMs * kMs);
        EXPECT_EQ(g_transfer.calls, c.calls);
    }
    SimSetPortStatus(0, 0xDF, 0);
    ext->RequestedMode = 2;
    Unload();
}

TEST_F(Requests, RequestedEcpModeWithoutEcpSendsNothing) {
    ULONG three = 3;
    SimRegSet(kParameters, L"TransferType", REG_DWORD, &three, 4);
    Load([](SimPortConfig &p) { p.noEcp = TRUE; });
    Open();
    ASSERT_EQ(ext->RequestedMode, 3u);
    ASSERT_FALSE(ext->EcpPresent);
    EXPECT_EQ(Wait(Write("abc")).status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(Run(0x162090, {1}, 0).status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(Run(0x16209C).status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(Wait(Issue(IRP_MJ_READ, 0, {}, 4)).status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_TRUE(g_transfer.calls.empty());
    EXPECT_EQ(Counts().grants, Counts().frees);
    Unload();
}

TEST_F(Requests, ResetOfThePrinter) {
    struct Case {
        const char *what;
        SimResetResponse response;
        LONG ms;
        UCHAR stop;
        NTSTATUS status;
        LONGLONG lowMs, highMs; // from the request to its completion
    } cases[] = {
        {"ready at once", SimResetReadyAfter, 0, 0, STATUS_SUCCESS, 80, 82},
        {"ready after 0.5 s: while polling", SimResetReadyAfter, 500, 0, STATUS_SUCCESS, 580, 582},
        {"ready after 1.5 s", SimResetReadyAfter, 1500, 0, STATUS_SUCCESS, 1580, 2100},
        {"never ready", SimResetNeverReady, 0, 0, STATUS_DEVICE_NOT_CONNECTED, 3080, 3200},
        {"power off", SimResetStopState, 0, 0x80, STATUS_DEVICE_POWERED_OFF, 1080, 1200},
        {"off line", SimResetStopState, 0, 0x08, STATUS_SUCCESS, 1080, 1200},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ResetTransferScript();
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimRegCreateKey(kService);
        Load();
        SimPortResetResponse(0, c.response, c.ms, c.stop);
        Open();
        ext->CurrentMode = 5;
        LONGLONG start = SimNowPs();
        Result r = Run(0x160008, {1});
        LONGLONG ms = (SimNowPs() - start) / kMs;
        EXPECT_EQ(r.status, c.status);
        EXPECT_GE(ms, c.lowMs);
        EXPECT_LE(ms, c.highMs);
        EXPECT_EQ(SimPortResets(0), 1u); // the pulse was long enough
        EXPECT_EQ(g_transfer.calls, std::vector<std::string>{"terminate"});
        EXPECT_EQ(ext->Initialized != 0, NT_SUCCESS(c.status));
        SimSetPortStatus(0, 0xDF, 0);
        Unload();
    }
}

TEST_F(Requests, DeviceId) {
    Load();
    Open();
    const std::string id40 = "MFG:Acme;CMD:PCL;MDL:Model 40 bytes xyz;";
    ASSERT_EQ(id40.size(), 40u);
    struct Case {
        const char *what;
        ULONG code;
        std::string id;
        NTSTATUS idStatus;
        ULONG out;
        NTSTATUS status;
        ULONG_PTR information;
        ULONG size; // 0x160010's answer
    } cases[] = {
        {"40-byte ID", 0x16000C, id40, STATUS_SUCCESS, 40, STATUS_SUCCESS, 40, 0},
        {"39-byte buffer", 0x16000C, id40, STATUS_SUCCESS, 39, STATUS_BUFFER_TOO_SMALL, 0, 0},
        {"failure", 0x16000C, id40, STATUS_IO_DEVICE_ERROR, 40, STATUS_IO_DEVICE_ERROR, 0, 0},
        {"size of a 40-byte ID", 0x160010, id40, STATUS_SUCCESS, 4, STATUS_SUCCESS, 4, 40},
        {"size of an empty ID", 0x160010, "", STATUS_SUCCESS, 4, STATUS_SUCCESS, 4, 0},
        {"size, failure", 0x160010, id40, STATUS_IO_DEVICE_ERROR, 4, STATUS_IO_DEVICE_ERROR, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ResetTransferScript();
        g_transfer.deviceId.assign(c.id.begin(), c.id.end());
        g_transfer.idStatus = c.idStatus;
        Result r = Run(c.code, {}, c.out);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.information, c.information);
        if (c.code == 0x16000C && NT_SUCCESS(c.status)) {
            EXPECT_EQ(std::string(r.out.begin(), r.out.begin() + 40), id40);
        }
        if (c.code == 0x160010 && NT_SUCCESS(c.status)) {
            ULONG size;
            std::memcpy(&size, r.out.data(), 4);
            EXPECT_EQ(size, c.size);
        }
    }
    Unload();
}

TEST_F(Requests, UnmappableRead) {
    Load();
    Open();
    SimFailMapping(TRUE);
    Result r = Wait(Issue(IRP_MJ_READ, 0, {}, 8));
    EXPECT_EQ(r.status, STATUS_INVALID_BUFFER_SIZE);
    EXPECT_EQ(r.information, 0u);
    SimFailMapping(FALSE);
    g_transfer.readData = {1, 2, 3};
    Result ok = Wait(Issue(IRP_MJ_READ, 0, {}, 8));
    EXPECT_EQ(ok.status, STATUS_SUCCESS);
    EXPECT_EQ(ok.information, 3u);
    EXPECT_EQ(ok.out[2], 3);
    EXPECT_EQ(Counts().grants, Counts().frees);
    Unload();
}

// ---- Internal requests ------------------------------------------------------------------------

struct InternalCall {
    PDEVICE_OBJECT device;
    ULONG id;
};

void NTAPI SendInternal(PVOID context) {
    auto *call = static_cast<InternalCall *>(context);
    call->id =
        SimIssue(call->device, nullptr, IRP_MJ_INTERNAL_DEVICE_CONTROL, 0x160004, nullptr, 0, 1, 0);
}

TEST_F(Requests, InternalRequestsRunOnTheCallersThread) {
    Load();
    // Without a handle: the final status comes back from the dispatch routine.
    ULONG id = SimIssue(ext->DeviceObject, nullptr, IRP_MJ_INTERNAL_DEVICE_CONTROL, 0x160004,
                        nullptr, 0, 1, 0);
    Result r = Get(id);
    EXPECT_EQ(r.returned, STATUS_SUCCESS);
    EXPECT_EQ(r.out[0], 0x80);
    EXPECT_EQ(SimLiveSystemThreads(), 0u);
    Result busy = Get(SimIssue(ext->DeviceObject, nullptr, IRP_MJ_INTERNAL_DEVICE_CONTROL, 0x1620C0,
                               Dword(9).data(), 4, 0, 0));
    EXPECT_EQ(busy.returned, STATUS_INVALID_PARAMETER);

    // One sent while a queued write runs waits for it.
    Open();
    g_transfer.writeBlock = 1;
    g_transfer.blockDelayMs = 10;
    ULONG w = Write("12345");
    SimSleepMs(15);
    InternalCall call{ext->DeviceObject, 0};
    SimSpawn(SendInternal, &call);
    Result rw = Wait(w);
    SimRunUntilIdle();
    ASSERT_NE(call.id, 0u);
    Result ri = Get(call.id);
    EXPECT_EQ(rw.status, STATUS_SUCCESS);
    EXPECT_EQ(ri.returned, STATUS_SUCCESS);
    EXPECT_LT(rw.order, ri.order);
    EXPECT_EQ(Counts().grants, Counts().frees);
    Unload();
}

// ---- Creation cases that need one failure alone ----------------------------------------------

TEST_F(Requests, DosDeviceBufferFailingAlone) {
    // The names take one 514-byte block first; the parameters' DosDevice buffer is the second.
    SimFailPoolAllocation(kParPoolTag, 514, 2);
    Load();
    ASSERT_EQ(SimLogCount(), 1u);
    SimLogEntry e;
    SimLogAt(0, &e);
    IO_ERROR_LOG_PACKET p;
    std::memcpy(&p, e.bytes, sizeof p);
    EXPECT_EQ(p.UniqueErrorValue, 15u);
    EXPECT_EQ(ext->InitializationTimeout, 3u);
    Open();
    EXPECT_EQ(Wait(Write("ok")).status, STATUS_SUCCESS);
    Unload();
}

TEST_F(Requests, DeferredInitialisationWithoutARequestInitialisesOnDemand) {
    // Creation builds the port information and allocation requests; the deferred
    // initialisation's allocation is the third.
    SimFailBuiltRequestAt(3);
    Load();
    EXPECT_FALSE(ext->Initialized);
    EXPECT_FALSE(ext->Initializing);
    Open();
    EXPECT_EQ(Wait(Write("first")).status, STATUS_SUCCESS);
    EXPECT_TRUE(ext->Initialized);
    Unload();
}

// ---- The simulator's own checks -----------------------------------------------------------

void NTAPI Idle(PVOID) {
    SimSleepMs(5);
}

void NTAPI EndRaised(PVOID) {
    KIRQL ignored;
    KeRaiseIrql(APC_LEVEL, &ignored);
}

extern "C" NTSTATUS NTAPI Overrun(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength + 1;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

bool Reported(ULONG from, const char *what) {
    for (ULONG i = from; i < SimViolationCount(); ++i) {
        if (std::strstr(SimViolationAt(i), what) != nullptr)
            return true;
    }
    return false;
}

TEST_F(Requests, SimulatorChecksFire) {
    Load();
    ULONG n = SimViolationCount();
    // A switch away from a thread at dispatch level.
    SimSpawn(Idle, nullptr);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    LARGE_INTEGER d;
    d.QuadPart = -10000;
    KeDelayExecutionThread(KernelMode, FALSE, &d);
    KeLowerIrql(old);
    EXPECT_TRUE(Reported(n, "thread switch away from IRQL 2"));
    EXPECT_TRUE(Reported(n, "while the driver is pageable"));
    // A byte count larger than the output buffer.
    n = SimViolationCount();
    PDRIVER_DISPATCH saved = SimDriverObject()->MajorFunction[IRP_MJ_DEVICE_CONTROL];
    SimDriverObject()->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Overrun;
    Open();
    Wait(Ioctl(0x162084, {}, 4));
    EXPECT_TRUE(Reported(n, "byte count above the output length"));
    SimDriverObject()->MajorFunction[IRP_MJ_DEVICE_CONTROL] = saved;
    // A final completion waits while its thread is at APC level.
    KeRaiseIrql(APC_LEVEL, &old);
    ULONG id = Ioctl(0x162084, {}, 1);
    EXPECT_FALSE(Done(id));
    KeLowerIrql(old);
    EXPECT_TRUE(Done(id));
    // Guarded memory: a pool block ends at a no-access page; freed blocks and completed
    // requests are no-access.
    const ULONG kTestTag = 0x74736554;
    auto *block = static_cast<UCHAR *>(ExAllocatePoolWithTag(NonPagedPool, 10, kTestTag));
    EXPECT_TRUE(SimAccessible(block + 15));
    EXPECT_FALSE(SimAccessible(block + 16));
    ExFreePoolWithTag(block, kTestTag);
    EXPECT_FALSE(SimAccessible(block));
    ASSERT_TRUE(SimHoldPort(0, 100));
    ULONG w = Write("w");
    PIRP irp = SimIrpOf(w);
    ASSERT_NE(irp, nullptr);
    EXPECT_TRUE(SimAccessible(irp));
    Wait(w);
    EXPECT_FALSE(SimAccessible(irp));
    // A thread that ends above passive level.
    n = SimViolationCount();
    SimSpawn(EndRaised, nullptr);
    SimSleepMs(1);
    EXPECT_TRUE(Reported(n, "thread ended above passive level"));
    // A thread dereferenced once too often.
    n = SimViolationCount();
    ObDereferenceObject(ext->ThreadObject);
    ObDereferenceObject(ext->ThreadObject);
    EXPECT_TRUE(Reported(n, "dereference of a thread without references"));
    SimReset(); // intended
}

} // namespace
