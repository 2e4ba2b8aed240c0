// tandrel: per-device state and the driver's routines shared between its files.
#pragma once

#include "par_kernel.h"
#include "par_rules.h"

// Pool tag "ParC" as it reads in a pool dump.
constexpr ULONG kParPoolTag = 'P' | ('a' << 8) | ('r' << 16) | (static_cast<ULONG>('C') << 24);

// Port registers relative to the port base.
constexpr ULONG kRegData = 0;
constexpr ULONG kRegStatus = 1;
constexpr ULONG kRegControl = 2;
constexpr ULONG kRegEcpFifo = 0x400;
constexpr ULONG kRegEcr = 0x402;

// Interrupt level of the timed sections and transfers.
constexpr KIRQL kParTimingIrql = 12;

// Modes kept in the requested and current mode.
constexpr ULONG kModeCompatibility = 2;
constexpr ULONG kModeEcp = 3;
constexpr ULONG kModeMce = 8;

struct ParDeviceExtension {
    PDEVICE_OBJECT DeviceObject;
    PDEVICE_OBJECT PortDeviceObject;
    PFILE_OBJECT PortDeviceFileObject;
    LIST_ENTRY WorkQueue;
    PVOID ThreadObject;
    KSEMAPHORE RequestSemaphore;
    PIRP CurrentIrp;
    ULONG Timeout; // seconds to wait for the port
    ULONG Reserved;
    PHYSICAL_ADDRESS OriginalController;
    PUCHAR Controller;
    ULONG SpanOfController;
    PPARALLEL_FREE_ROUTINE FreePort;
    PVOID FreePortContext;
    BOOLEAN Initialized;
    volatile BOOLEAN Initializing;
    PWORK_QUEUE_ITEM DeferredWorkItem;
    volatile BOOLEAN TimeToTerminateThread;
    BOOLEAN CreatedSymbolicLink;
    UNICODE_STRING SymbolicLinkName;
    LONG ThreadPriority;
    ULONG InitializationTimeout;
    LARGE_INTEGER OneSecond;
    LARGE_INTEGER OneSecondDelay;
    ULONG StallOverhead; // ns
    ULONG StallStep;     // ns per pass, rounded up
    ULONG RequestedMode;
    ULONG BlockSize;
    ULONG CurrentMode;
    ULONG OpenCount;
    UCHAR InfoMarker;
    UCHAR LastByte;
    UCHAR FirstBytePending;
    LARGE_INTEGER PollDelay;
    ULONG InitPulse; // us
    UCHAR SavedStatus;
    UCHAR NegotiationStatus;
    UCHAR EcpReverse;
    UCHAR EcpPresent;
    ULONG EcpFifoDepth;
    ULONG PrivMode;
    ULONG EcpWritePending;
    ULONG StrbBefore;
    ULONG StrbAfter;
    ULONG Options;
    LONG MceLoopCount;
    UCHAR MceDeviceId;
    // Kept beyond the fields above: the stall step in 1/256 ns, which the stalls use, and the
    // device's own name, which unload needs to find its device-map value.
    ULONG StallStepFine;
    UNICODE_STRING DeviceName;
    // Requests: one executes at a time (the worker's or an internal caller's); whether the
    // current one holds the port; whether a cleanup flagged it (guarded by the cancel spin
    // lock); the final status of the last request finished; whether the open took the port
    // information.
    KEVENT StartIoIdle;
    BOOLEAN PortAllocated;
    BOOLEAN CleanupFlagged;
    NTSTATUS FinishedStatus;
    BOOLEAN PortInfoHeld;
    // The control register while the port is held: read once after an allocation (nobody
    // else writes it then); a write of the value already there is left out.
    UCHAR Control;
    BOOLEAN ControlKnown;
};

// Driver-wide state.
extern LONG OpenCloseReferenceCount;
extern PFAST_MUTEX OpenCloseMutex;
// Scratch variable of both busy loops; every pass stores to it.
extern volatile LONG MceTmp;

// Reference count of the driver's residency.
void ParRaiseOpenCloseCount();
void ParLowerOpenCloseCount();

// Deferred initialisations queued or running; unload waits for none.
void ParDeferredInitStarted();
void ParDeferredInitEnded();
void ParWaitForDeferredInits();
void ParInitDeferredTracking();

// Port registers.
inline UCHAR ParRead(ParDeviceExtension *ext, ULONG reg) {
    return READ_PORT_UCHAR(ext->Controller + reg);
}
inline void ParWrite(ParDeviceExtension *ext, ULONG reg, UCHAR value) {
    WRITE_PORT_UCHAR(ext->Controller + reg, value);
}

// Timing.
void ParStallExecution(ULONG ns, ULONG stepFine, ULONG overheadNs, volatile LONG *scratch);
void ParGetLoopCount(ParDeviceExtension *ext);
void ParGetMceLoopCount(ParDeviceExtension *ext);
LONGLONG ParElapsedSince(const LARGE_INTEGER &startTicks);

// Port driver exchange.
NTSTATUS ParGetPortInfoFromPortDevice(ParDeviceExtension *ext);
NTSTATUS ParQueryPortInfo(ParDeviceExtension *ext);
void ParProbeEcp(ParDeviceExtension *ext);
void ParReleasePortInfoToPortDevice(ParDeviceExtension *ext);
BOOLEAN ParAllocPort(ParDeviceExtension *ext);
BOOLEAN ParAllocPortBuilt(ParDeviceExtension *ext, ULONG seconds);
void ParFreePort(ParDeviceExtension *ext);
extern "C" NTSTATUS NTAPI ParAllocPortCompletionRoutine(PDEVICE_OBJECT device, PIRP irp,
                                                        PVOID context);

// Initialisation of the printer.
void ParDeferDeviceInitialization(ParDeviceExtension *ext);
extern "C" VOID NTAPI ParDeferredInitCallback(PVOID context);
UCHAR ParInitializeDevice(ParDeviceExtension *ext);
UCHAR ParReinitializeDevice(ParDeviceExtension *ext);
UCHAR ParInputPrimeOut(ParDeviceExtension *ext);

// Requests.
// Clears the current request under the cancel spin lock, completes irp with the status, byte
// count and boost, and frees the port when this request allocated it.
void ParFinishRequest(ParDeviceExtension *ext, PIRP irp, NTSTATUS status, ULONG_PTR information,
                      CCHAR boost);
// The ECP completion gate: true while an ECP transfer still drains. At dispatch it only reads
// the ECR; at execution (atExecution) it also finishes a drained ECP write.
BOOLEAN Check_ecp_finish(ParDeviceExtension *ext, BOOLEAN atExecution);
NTSTATUS ParNotInitError(UCHAR status);
// Executes the current request with the port allocated and completes it; its final status.
NTSTATUS ParStartIo(ParDeviceExtension *ext, PIRP irp);
NTSTATUS ParCreateSystemThread(ParDeviceExtension *ext);
extern "C" VOID NTAPI ParallelThread(PVOID context);
extern "C" VOID NTAPI ParCancelRequest(PDEVICE_OBJECT device, PIRP irp);

// Error log.
void ParLogError(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, PHYSICAL_ADDRESS dump,
                 ULONG sequence, UCHAR majorFunction, UCHAR retryCount, ULONG uniqueValue,
                 NTSTATUS finalStatus, NTSTATUS errorCode);
