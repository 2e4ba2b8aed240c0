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
// The clock tick in 100-ns units (10000 unless set; 156250 is common): the tick count, delays
// ending on a tick, KeQueryTimeIncrement and the system time follow it.
SIMAPI void SimSetTimeIncrement(ULONG units);

// Pool: bytes outstanding for a tag; the n-th allocation from now fails (0: none).
SIMAPI ULONG SimPoolBlocks(ULONG tag);
SIMAPI void SimFailPoolAt(ULONG n);
// Pool blocks and the I/O manager's requests end at a no-access page and turn no-access when
// freed; true while the address may be read.
SIMAPI BOOLEAN SimAccessible(const void *address);
// The nth allocation from now of exactly this tag and size fails (once).
SIMAPI void SimFailPoolAllocation(ULONG tag, ULONG bytes, ULONG nth);
// The n-th request built by IoBuildDeviceIoControlRequest from now is not built (pool
// allocations not counted).
SIMAPI void SimFailBuiltRequestAt(ULONG n);

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

// ---- Threads ----------------------------------------------------------------------------------
// One thread runs at a time, switched only in waits and delays, in creation order; virtual time
// jumps when every thread waits. The test's own thread is the first.
SIMAPI void SimFailThreadCreation(BOOLEAN fail);
SIMAPI void SimFailThreadReference(BOOLEAN fail);
SIMAPI ULONG SimLiveSystemThreads();
SIMAPI LONG SimThreadReferences(); // handles and object references of system threads
SIMAPI BOOLEAN SimLastSystemThreadIncrement(LONG *increment);
// Runs body on a thread of its own (a test's second caller).
SIMAPI void SimSpawn(PKSTART_ROUTINE body, PVOID context);
// The calling thread waits; others and time run meanwhile.
SIMAPI void SimSleepMs(LONG ms);

// ---- I/O manager ------------------------------------------------------------------------------
SIMAPI NTSTATUS SimOpen(const WCHAR *name, ULONG createOptions, PFILE_OBJECT *file);
SIMAPI NTSTATUS SimCleanup(PFILE_OBJECT file);
SIMAPI NTSTATUS SimCloseFile(PFILE_OBJECT file);

// Issues a request without waiting for it and returns its id (0: the request could not be
// built). Reads take outBytes as their length, writes in and inBytes; control requests both,
// buffered ones through a system buffer of the larger size whose rest is poisoned. device may
// be null when file is given; internal requests may have no file.
SIMAPI ULONG SimIssue(PDEVICE_OBJECT device, PFILE_OBJECT file, UCHAR major, ULONG code,
                      const void *in, ULONG inBytes, ULONG outBytes, LONGLONG offset);

struct SimIoResult {
    NTSTATUS returned; // by the dispatch routine
    BOOLEAN done;      // final completion seen
    NTSTATUS status;
    ULONG_PTR information;
    ULONG order; // of final completions since reset, from 1
    ULONG outBytes;
    UCHAR out[64]; // the caller's output (or read) buffer after completion
    CCHAR boost;   // priority boost of the final completion
};
SIMAPI BOOLEAN SimIoResultOf(ULONG id, SimIoResult *result);
SIMAPI NTSTATUS SimWaitIo(ULONG id);
SIMAPI void SimCancelIo(PFILE_OBJECT file);
SIMAPI void SimFailMapping(BOOLEAN fail);
SIMAPI void SimFailRequestAt(ULONG n); // the n-th request issued from now is not built
// Runs fn inside IofCompleteRequest of the request, before it completes.
SIMAPI void SimOnCompletion(ULONG id, void (*fn)(void *), void *context);
SIMAPI PIRP SimIrpOf(ULONG id); // null once completed

// ---- Port stand-in ----------------------------------------------------------------------------
// The printer's status register becomes status after afterMs (at once when 0).
SIMAPI void SimSetPortStatus(ULONG index, UCHAR status, LONG afterMs);
// The port driver completes its requests ms later, from the timer.
SIMAPI void SimPortCompletionDelay(ULONG index, LONG ms);
// The printer's answer when nInit was held low 50 us or more and raised again: busy for ms and
// then ready, busy for ever, or the given status (a stop state).
enum SimResetResponse { SimResetNone, SimResetReadyAfter, SimResetNeverReady, SimResetStopState };
SIMAPI void SimPortResetResponse(ULONG index, SimResetResponse response, LONG ms, UCHAR status);
SIMAPI ULONG SimPortResets(ULONG index); // resets the printer took
// A cancelled allocation stays queued until the holder frees the port.
SIMAPI void SimPortIgnoreCancel(ULONG index, BOOLEAN ignore);

// ---- Peripheral model -------------------------------------------------------------------------
// A printer answering the IEEE 1284 handshakes: the compatibility printer, negotiation and
// termination, and a decoder per forward mode. Its status lines drive status bits 7-3 while it
// is enabled; in compatibility mode they are the port's status (SimSetPortStatus).
struct SimPeripheralConfig {
    BOOLEAN enabled;
    ULONG blockSize; // tells the block modes' request bytes apart (512 when 0)
    LONG latencyNs;  // of every answer to a line change; -1 never
    LONG readyNs;    // block modes: nAck low to ready; -1 never
    UCHAR refused;   // a request byte refused (no event 6) when refuse is set
    BOOLEAN refuse;
    BOOLEAN noEvent2, noEvent31, noEvent23, noEvent27;
    BOOLEAN neverPErrorLow;  // block modes: the end wait never answered
    BOOLEAN faultInReady;    // block modes: nFault drops during the ready wait
    BOOLEAN faultNegotiated; // nFault low while negotiated
    BOOLEAN noEndOfBlock;    // Mce: end of block never acknowledged
    ULONG mceTurnUnanswered; // Mce: this step (1 to 3) of a turnaround is never answered
    LONG busyAfterByte;      // compatibility: busy after this many bytes (0: never)
    LONG busyMs;             // for this long; -1 for ever
    LONG ackPulseNs;         // compatibility: Busy and nAck low after each byte (400 when 0;
                             // -1 none)
    LONG fifoDrainNs;        // ECP: per byte; 0 at once (before the next access); -1 never
    // Timing checker: the shortest strobe phase or gap after a data change it accepts, less
    // toleranceNs. 0 takes the mode's own (compatibility 500, burst 1000, AB and AC 500,
    // double-edge 400); Mce has none unless set.
    ULONG minGapNs;
    ULONG mceMinNs;
    ULONG toleranceNs;
    // Reverse channel. Nibble mode: XFlag answered the wrong way (refusal); nibble k (from 1,
    // counted since this configuration) never answered; nDataAvail low with nothing to send.
    BOOLEAN nibbleRefuse;
    ULONG nibbleStallAt;
    BOOLEAN claimNoData;
    // ECP reverse: no event 40; no event 49 (the lines released, PError never raised); the
    // time each reply byte takes to enter the FIFO (0 at once).
    BOOLEAN noEvent40, noEvent49;
    LONG ecpReverseNs;
    // Replies show (nDataAvail low) only once the peripheral took this many bytes.
    ULONG replyAfterBytes;
};
SIMAPI void SimSetPeripheral(ULONG index, const SimPeripheralConfig *config); // resets its record

// What the peripheral took: bytes in order (data), request bytes of negotiations, ECP
// address/command bytes, and block ends (ULONG offsets into data). Returns the total; copies
// at most cap entries.
enum SimStream { SimStreamData, SimStreamRequests, SimStreamAddresses, SimStreamBlocks };
SIMAPI ULONG SimPeripheralStream(ULONG index, SimStream which, void *out, ULONG cap);
// The peripheral's mode: 2 compatibility, else the negotiated mode's request byte decoded
// (0 double-edge, 1 burst, 3 ECP, 5, 6, 8), 0x100 while negotiating or terminating.
SIMAPI ULONG SimPeripheralPhase(ULONG index);
// Replies the peripheral sends back, per request kind: nibble-mode reads, the device ID (sent
// from its start at each device-ID request; setting one makes request byte 0x04 the device-ID
// request), ECP reverse and Mce reads (header bytes included). Replaces the queue's content.
enum SimReply { SimReplyNibble, SimReplyDeviceId, SimReplyEcp, SimReplyMce };
SIMAPI void SimPeripheralReply(ULONG index, SimReply kind, const void *bytes, ULONG count);
// Reply bytes still queued (not yet sent) of a kind.
SIMAPI ULONG SimPeripheralReplyLeft(ULONG index, SimReply kind);
// ECP reverse bytes the peripheral had sent that the port discarded (still in the FIFO when
// the direction turned forward or the ECR left ECP mode).
SIMAPI ULONG SimPeripheralLost(ULONG index);
// Timing violations seen; the first one's text.
SIMAPI ULONG SimTimingViolations(ULONG index, char *first, ULONG cap);

// Register accesses since the last reset of the counts, by register (data, status, control,
// FIFO, ECR); a byte of WRITE_PORT_BUFFER_UCHAR is one write.
struct SimAccessCounts {
    ULONG reads[5];
    ULONG writes[5];
    ULONG total;
};
SIMAPI void SimPortAccesses(ULONG index, SimAccessCounts *counts, BOOLEAN reset);
// Register trace: every access with its virtual time, thread, register and value.
struct SimAccess {
    LONGLONG ps;
    ULONG thread; // index in creation order, 0 the test's
    USHORT reg;   // offset from the base
    UCHAR value;
    BOOLEAN write;
    UCHAR irql; // of the accessing thread
};
SIMAPI void SimTraceEnable(ULONG index, BOOLEAN on); // clears the trace
SIMAPI BOOLEAN SimTraceAt(ULONG index, ULONG i, SimAccess *access);
