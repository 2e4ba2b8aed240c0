// Simulated NT kernel for running the driver's objects in a 32-bit test program, in virtual
// time on one simulated processor. Include after the kernel headers.
#pragma once

#ifdef SIM_BUILDING
#define SIMAPI extern "C" __declspec(dllexport)
#else
#define SIMAPI extern "C" __declspec(dllimport)
#endif

// One simulated system parallel port and the printer on it.
struct SimPortConfig {
    ULONG base;          // I/O address of the data register
    ULONG span;          // registers reported
    LONGLONG physical;   // physical address reported
    CCHAR stackSize;     // of the port device
    BOOLEAN failGet;     // the port information request fails
    LONG heldMs;         // another client holds the port this long at start; -1 for ever
    BOOLEAN noEcp;       // the ECR reads 0xFF
    BOOLEAN badReadback; // the ECR reads back wrong
    BOOLEAN neverFull;   // the FIFO never reports full
    ULONG fifoDepth;     // bytes the FIFO holds (16 when 0)
    UCHAR status;        // status register of the printer
    BOOLEAN grantLate;   // the holder frees the port at the requester's next call after
                         // its wait timed out
    BOOLEAN strict;      // register access while the port is not granted is a violation
};

struct SimPortCounts {
    LONG infoHolds; // port information taken and not released
    LONG grants;
    LONG frees;
    LONG allocRequests;
};

struct SimLogEntry {
    PVOID object; // device or driver object it was allocated for
    ULONG size;   // bytes asked for
    UCHAR bytes[64];
};

// Resets the whole machine: time, pool, objects, registry, ports, log, violations.
SIMAPI void SimReset();
SIMAPI void SimDefaultPort(SimPortConfig *config);
SIMAPI ULONG SimAddPort(const SimPortConfig *config); // returns its index
SIMAPI PDRIVER_OBJECT SimDriverObject();
SIMAPI void SimPortCountsOf(ULONG index, SimPortCounts *counts);
// The system's count of parallel ports reaches this port only after the count was read
// calls times (a port that appears while the driver creates its devices).
SIMAPI void SimAddPortLater(const SimPortConfig *config, ULONG calls);
// Another client takes the free port now, for ms milliseconds or (-1) for ever.
SIMAPI BOOLEAN SimHoldPort(ULONG index, LONG ms);

// Time: picoseconds since reset; costs of the simulated processor.
SIMAPI LONGLONG SimNowPs();
SIMAPI void SimSetCosts(ULONG portAccessPs, ULONG counterReadPs, ULONG loopPassFs);
SIMAPI void SimSetClock(LONGLONG counterHz, LONGLONG uptimeMs);
SIMAPI void SimWatchLoopCounter(volatile LONG *counter);

// Pool: bytes outstanding for a tag; the n-th allocation from now fails (0: none).
SIMAPI ULONG SimPoolBlocks(ULONG tag);
SIMAPI void SimFailPoolAt(ULONG n);

// Registry, by absolute path.
SIMAPI void SimRegCreateKey(const WCHAR *key);
SIMAPI void SimRegSet(const WCHAR *key, const WCHAR *name, ULONG type, const void *data,
                      ULONG bytes);
SIMAPI BOOLEAN SimRegGet(const WCHAR *key, const WCHAR *name, ULONG *type, void *data,
                         ULONG *bytes);
SIMAPI void SimSetOptionalKeyDefaults(BOOLEAN applied);
SIMAPI void SimFailDeviceMapWrites(BOOLEAN fail);

// Names.
SIMAPI PDEVICE_OBJECT SimFindDevice(const WCHAR *name);
SIMAPI BOOLEAN SimLinkTarget(const WCHAR *link, WCHAR *target, ULONG chars);
SIMAPI ULONG SimLinkCount();
SIMAPI void SimFailLinks(BOOLEAN fail);
SIMAPI LONG SimFileReferences();

// Error log.
SIMAPI ULONG SimLogCount();
SIMAPI BOOLEAN SimLogAt(ULONG i, SimLogEntry *entry);
SIMAPI void SimFailErrorLog(BOOLEAN fail);

// A request as the I/O manager delivers it to the device: its current stack location is the
// device's own. It stays known after its final completion, so a second one is caught.
SIMAPI PIRP SimNewRequest(PDEVICE_OBJECT device, UCHAR major);
SIMAPI BOOLEAN SimRequestLive(PIRP irp);
SIMAPI ULONG SimCompletions(PIRP irp);

// Work queue.
SIMAPI ULONG SimQueuedWork();
SIMAPI void SimRunUntilIdle(); // releases a held queue first
// While held, queued work items run only at SimRunUntilIdle.
SIMAPI void SimHoldWorkQueue(BOOLEAN held);

// Violations of the kernel's rules seen since reset.
SIMAPI ULONG SimViolationCount();
SIMAPI const char *SimViolationAt(ULONG i);
SIMAPI LONG SimPageableState(); // 1 pageable, 0 resident, -1 never set
