// tandrel: time base, loop calibration, the port driver exchange, printer initialisation and
// the error log.
#include "par_ext.h"

volatile LONG MceTmp = 0;

namespace {

LONGLONG Counter() {
    return KeQueryPerformanceCounter(nullptr).QuadPart;
}

LONGLONG Frequency() {
    LARGE_INTEGER f;
    KeQueryPerformanceCounter(&f);
    return f.QuadPart;
}

// Counts between the first and the last of five back-to-back readings: four reads.
LONGLONG FourReads() {
    LONGLONG first = Counter();
    Counter();
    Counter();
    Counter();
    return Counter() - first;
}

void DelayFor(LONGLONG relative100Ns) {
    LARGE_INTEGER d;
    d.QuadPart = relative100Ns;
    KeDelayExecutionThread(KernelMode, FALSE, &d);
}

constexpr int kSamples = 10;
constexpr int kLoopRuns = 4;
constexpr int kMceAttempts = 4;

} // namespace

void ParStallExecution(ULONG ns, ULONG stepFine, ULONG overheadNs, volatile LONG *scratch) {
    ULONG passes = par::StallPasses(ns, stepFine, overheadNs);
    for (ULONG i = 0; i < passes; ++i) {
        *scratch = *scratch + 1;
    }
}

LONGLONG ParElapsedSince(const LARGE_INTEGER &startTicks) {
    LARGE_INTEGER now;
    KeQueryTickCount(&now);
    return par::TicksTo100Ns(static_cast<uint64_t>(now.QuadPart),
                             static_cast<uint64_t>(startTicks.QuadPart), KeQueryTimeIncrement());
}

namespace {

// One calibration run; repeated while it measures no step, at most kMaxCalibrationRuns times.
par::StallCalibration ParGetLoopCountProc(ParDeviceExtension *ext, volatile LONG *scratch) {
    par::StallCalibration result{};
    for (int attempt = 0; attempt < par::kMaxCalibrationRuns; ++attempt) {
        LONGLONG reads[kSamples], a[kSamples], b[kSamples], c[kSamples];
        KIRQL old;
        KeRaiseIrql(kParTimingIrql, &old);
        const LONGLONG frequency = Frequency();
        for (int i = 0; i < kSamples; ++i) {
            reads[i] = FourReads();
        }
        for (int i = 0; i < kSamples; ++i) {
            LONGLONG t0 = Counter();
            ParStallExecution(800, par::kStepScale, 0, scratch);
            LONGLONG t1 = Counter();
            ParStallExecution(1600, par::kStepScale, 0, scratch);
            LONGLONG t2 = Counter();
            ParWrite(ext, kRegData, 0);
            LONGLONG t3 = Counter();
            a[i] = t1 - t0;
            b[i] = t2 - t1;
            c[i] = t3 - t2;
        }
        KeLowerIrql(old);
        const LONGLONG readNs =
            par::CountsToNs(par::SecondSmallest(reads, kSamples), frequency) / 4;
        result = par::EvaluateCalibrationRun(
            readNs, par::CountsToNs(par::SecondSmallest(a, kSamples), frequency),
            par::CountsToNs(par::SecondSmallest(b, kSamples), frequency),
            par::CountsToNs(par::SecondSmallest(c, kSamples), frequency));
        if (result.step256 != 0) {
            break;
        }
    }
    return result;
}

} // namespace

void ParGetLoopCount(ParDeviceExtension *ext) {
    par::StallCalibration runs[kLoopRuns];
    for (int i = 0; i < kLoopRuns; ++i) {
        runs[i] = ParGetLoopCountProc(ext, &MceTmp);
        DelayFor(-100000); // 10 ms
    }
    par::StallCalibration chosen = par::ChooseCalibration(runs, kLoopRuns);
    ext->StallOverhead = chosen.overheadNs;
    ext->StallStepFine = chosen.step256;
    ext->StallStep = par::StepFieldNs(chosen.step256);
}

namespace {

// One timed section of the Mce calibration: 256 times a register write and passes stores.
LONGLONG MceSection(ParDeviceExtension *ext, ULONG reg, UCHAR value, int passes, LONGLONG frequency,
                    LONGLONG readCost) {
    LONGLONG start = Counter();
    for (int i = 0; i < 256; ++i) {
        ParWrite(ext, reg, value);
        for (int p = 0; p < passes; ++p) {
            MceTmp = MceTmp + 1;
        }
    }
    LONGLONG end = Counter();
    // Raw readings are subtracted first: converted readings overflow after hours of uptime.
    return par::CountsTo100Ns(end - start, frequency) - readCost;
}

} // namespace

void ParGetMceLoopCount(ParDeviceExtension *ext) {
    LONG count = 0;
    for (int attempt = 0; attempt < kMceAttempts && count <= 0; ++attempt) {
        const UCHAR c = static_cast<UCHAR>(ParRead(ext, kRegControl) & ~0x20);
        KIRQL old;
        KeRaiseIrql(kParTimingIrql, &old);
        const LONGLONG frequency = Frequency();
        const LONGLONG readCost = par::CountsTo100Ns(FourReads(), frequency) / 4;
        LONGLONG t1 = MceSection(ext, kRegControl, c, 128, frequency, readCost);
        LONGLONG t2 = MceSection(ext, kRegControl, c, 256, frequency, readCost);
        LONGLONG t3 = MceSection(ext, kRegData, 0, 128, frequency, readCost);
        LONGLONG t4 = MceSection(ext, kRegData, 0, 256, frequency, readCost);
        KeLowerIrql(old);
        count = par::MceLoopCount(t1, t2, t3, t4);
    }
    ext->MceLoopCount = count > 0 ? count : par::kMceFallbackCount;
}

namespace {

// Sends an internal request without input to the port device and waits for it.
NTSTATUS PortRequest(ParDeviceExtension *ext, ULONG code, PVOID out, ULONG outBytes) {
    KEVENT event;
    IO_STATUS_BLOCK iosb;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PIRP irp = IoBuildDeviceIoControlRequest(code, ext->PortDeviceObject, nullptr, 0, out, outBytes,
                                             TRUE, &event, &iosb);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = IoCallDriver(ext->PortDeviceObject, irp);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (status == STATUS_PENDING) {
        status = KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return iosb.Status;
}

} // namespace

NTSTATUS ParQueryPortInfo(ParDeviceExtension *ext) {
    PARALLEL_PORT_INFORMATION info;
    RtlZeroMemory(&info, sizeof info);
    NTSTATUS status = PortRequest(ext, IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO, &info, sizeof info);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    ext->OriginalController = info.OriginalController;
    ext->Controller = info.Controller;
    ext->SpanOfController = info.SpanOfController;
    ext->FreePort = info.FreePort;
    ext->FreePortContext = info.Context;
    if (ext->SpanOfController <= 2) {
        // The request succeeded and so holds the port information: give it back.
        ParReleasePortInfoToPortDevice(ext);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
}

void ParProbeEcp(ParDeviceExtension *ext) {
    ext->EcpReverse = 0;
    ext->EcpPresent = 0;
    ext->EcpFifoDepth = 0;
    ParWrite(ext, kRegEcr, 0x34);
    if (ParRead(ext, kRegEcr) != 0x35) {
        return;
    }
    ParWrite(ext, kRegEcr, 0xD4); // FIFO test mode
    ULONG counted = 0;
    bool full = false;
    for (int i = 0; i < par::kEcpProbeWrites; ++i) {
        ParWrite(ext, kRegEcpFifo, static_cast<UCHAR>(i));
        if (ParRead(ext, kRegEcr) & 0x02) {
            full = true;
            break;
        }
        ++counted;
    }
    if (full && counted <= par::kEcpMaxDepth) {
        ext->EcpPresent = 1;
        ext->EcpFifoDepth = counted;
    }
    ParWrite(ext, kRegEcr, 0x34);
}

NTSTATUS ParGetPortInfoFromPortDevice(ParDeviceExtension *ext) {
    NTSTATUS status = ParQueryPortInfo(ext);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (ext->BlockSize == 0) {
        ParProbeEcp(ext);
    }
    return STATUS_SUCCESS;
}

void ParReleasePortInfoToPortDevice(ParDeviceExtension *ext) {
    PortRequest(ext, IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO, nullptr, 0);
}

extern "C" NTSTATUS NTAPI ParAllocPortCompletionRoutine(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

BOOLEAN ParAllocPort(ParDeviceExtension *ext) {
    PIRP irp = ext->CurrentIrp;
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    RtlZeroMemory(next, sizeof *next);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_PARALLEL_PORT_ALLOCATE;
    IoSetCompletionRoutine(irp, ParAllocPortCompletionRoutine, &event, TRUE, TRUE, TRUE);
    IoCallDriver(ext->PortDeviceObject, irp);

    LARGE_INTEGER limit;
    limit.QuadPart = par::RelativeSeconds(ext->Timeout); // 0: a single try
    if (KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &limit) == STATUS_TIMEOUT) {
        IoCancelIrp(irp);
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        if (NT_SUCCESS(irp->IoStatus.Status)) {
            // A grant that beat the cancel is kept, and the request's cancel flag is its own
            // again: set only when a cleanup flagged it.
            KIRQL irql;
            IoAcquireCancelSpinLock(&irql);
            irp->Cancel = ext->CleanupFlagged;
            IoReleaseCancelSpinLock(irql);
        }
    }
    if (!NT_SUCCESS(irp->IoStatus.Status)) {
        irp->IoStatus.Status = STATUS_DEVICE_BUSY;
        return FALSE;
    }
    return TRUE;
}

BOOLEAN ParAllocPortBuilt(ParDeviceExtension *ext, ULONG seconds) {
    KEVENT event;
    IO_STATUS_BLOCK iosb;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PIRP irp =
        IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_PARALLEL_PORT_ALLOCATE, ext->PortDeviceObject,
                                      nullptr, 0, nullptr, 0, TRUE, &event, &iosb);
    if (irp == nullptr) {
        return FALSE;
    }
    iosb.Status = STATUS_PENDING;
    NTSTATUS status = IoCallDriver(ext->PortDeviceObject, irp);
    if (status != STATUS_PENDING) {
        return NT_SUCCESS(status);
    }
    LARGE_INTEGER limit;
    limit.QuadPart = par::RelativeSeconds(seconds);
    if (KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &limit) == STATUS_TIMEOUT) {
        // At APC level the completion cannot free the request between the test and the cancel.
        KIRQL old;
        KeRaiseIrql(APC_LEVEL, &old);
        if (KeReadStateEvent(&event) == 0) {
            IoCancelIrp(irp);
        }
        KeLowerIrql(old);
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    }
    return NT_SUCCESS(iosb.Status);
}

void ParFreePort(ParDeviceExtension *ext) {
    ext->ControlKnown = FALSE; // others may write it once the port is free
    if (ext->FreePort != nullptr) {
        ext->FreePort(ext->FreePortContext);
    }
}

namespace {

LONG DeferredInits = 0;
KEVENT DeferredInitsIdle;

} // namespace

void ParInitDeferredTracking() {
    DeferredInits = 0;
    KeInitializeEvent(&DeferredInitsIdle, NotificationEvent, TRUE);
}

void ParDeferredInitStarted() {
    InterlockedIncrement(&DeferredInits);
}

void ParDeferredInitEnded() {
    if (InterlockedDecrement(&DeferredInits) == 0) {
        KeSetEvent(&DeferredInitsIdle, IO_NO_INCREMENT, FALSE);
    }
}

void ParWaitForDeferredInits() {
    for (;;) {
        KeClearEvent(&DeferredInitsIdle);
        if (InterlockedCompareExchange(&DeferredInits, 0, 0) == 0) {
            return;
        }
        KeWaitForSingleObject(&DeferredInitsIdle, Executive, KernelMode, FALSE, nullptr);
    }
}

void ParDeferDeviceInitialization(ParDeviceExtension *ext) {
    ParDeferredInitStarted();
    auto *item = static_cast<PWORK_QUEUE_ITEM>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(WORK_QUEUE_ITEM), kParPoolTag));
    ext->DeferredWorkItem = item;
    if (item == nullptr) {
        ParDeferredInitCallback(ext);
        return;
    }
    ExInitializeWorkItem(item, ParDeferredInitCallback, ext);
    ExQueueWorkItem(item, DelayedWorkQueue);
}

extern "C" VOID NTAPI ParDeferredInitCallback(PVOID context) {
    auto *ext = static_cast<ParDeviceExtension *>(context);
    ParRaiseOpenCloseCount();
    const BOOLEAN granted = ParAllocPortBuilt(ext, 5);
    if (granted) {
        ParInitializeDevice(ext);
    }
    ext->Initializing = FALSE;
    if (granted) {
        ParFreePort(ext);
    }
    ParReleasePortInfoToPortDevice(ext);
    if (ext->DeferredWorkItem != nullptr) {
        ExFreePoolWithTag(ext->DeferredWorkItem, kParPoolTag);
        ext->DeferredWorkItem = nullptr;
    }
    ParLowerOpenCloseCount();
    ParDeferredInitEnded();
}

UCHAR ParInitializeDevice(ParDeviceExtension *ext) {
    ext->EcpReverse = 0;
    ext->Initialized = TRUE;
    return ParRead(ext, kRegStatus);
}

UCHAR ParReinitializeDevice(ParDeviceExtension *ext) {
    if (!ext->Initializing) {
        return ParInitializeDevice(ext);
    }
    while (ext->Initializing) {
        KeDelayExecutionThread(KernelMode, FALSE, &ext->OneSecondDelay);
    }
    return ParRead(ext, kRegStatus);
}

UCHAR ParInputPrimeOut(ParDeviceExtension *ext) {
    ext->InitPulse = 80000;
    UCHAR status = ParRead(ext, kRegStatus);
    if (ext->Initialized) {
        return status;
    }
    if (ParRead(ext, kRegControl) & 0x04) {
        ParWrite(ext, kRegControl, 0xC8); // nInit low, nSelectIn high
        KeStallExecutionProcessor(ext->InitPulse);
    }
    ParWrite(ext, kRegControl, 0xCC);
    ext->Control = 0xCC;
    ext->ControlKnown = TRUE;
    LONG remaining = static_cast<LONG>(
        ext->InitializationTimeout > 0x7FFFFFFF ? 0x7FFFFFFF : ext->InitializationTimeout);

    // Phase 1: poll without delay for a second.
    LARGE_INTEGER start;
    KeQueryTickCount(&start);
    bool ready = false;
    for (;;) {
        status = ParRead(ext, kRegStatus);
        if (par::StatusReady(status)) {
            ready = true;
            break;
        }
        if (ParElapsedSince(start) > ext->OneSecond.QuadPart) {
            --remaining;
            break;
        }
    }
    // Phase 2: a second at a time until ready, a stop state or the time-out.
    if (!ready) {
        for (;;) {
            if (remaining <= 0) {
                ext->Initialized = FALSE;
                return status;
            }
            if (par::StatusEndsResetWait(status)) {
                break;
            }
            KeDelayExecutionThread(KernelMode, FALSE, &ext->OneSecondDelay);
            --remaining;
            status = ParRead(ext, kRegStatus);
        }
    }
    ext->EcpReverse = 0;
    ext->EcpWritePending = 0;
    if (ext->EcpPresent) {
        ParWrite(ext, kRegEcr, 0x34);
    }
    ext->Initialized = par::StatusInitialises(status) ? TRUE : FALSE;
    return status;
}

void ParLogError(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, PHYSICAL_ADDRESS dump,
                 ULONG sequence, UCHAR majorFunction, UCHAR retryCount, ULONG uniqueValue,
                 NTSTATUS finalStatus, NTSTATUS errorCode) {
    const bool withDump = dump.QuadPart != 0;
    // The packet's own DumpData holds one ULONG: one more makes room for the address.
    const ULONG size = sizeof(IO_ERROR_LOG_PACKET) + (withDump ? sizeof(ULONG) : 0);
    PVOID object = device != nullptr ? static_cast<PVOID>(device) : static_cast<PVOID>(driver);
    auto *packet = static_cast<PIO_ERROR_LOG_PACKET>(
        IoAllocateErrorLogEntry(object, static_cast<UCHAR>(size)));
    if (packet == nullptr) {
        return;
    }
    RtlZeroMemory(packet, size);
    packet->MajorFunctionCode = majorFunction;
    packet->RetryCount = retryCount;
    packet->DumpDataSize = withDump ? 2 * sizeof(ULONG) : 0;
    packet->ErrorCode = errorCode;
    packet->UniqueErrorValue = uniqueValue;
    packet->FinalStatus = finalStatus;
    packet->SequenceNumber = sequence;
    if (withDump) {
        const ULONG words[2] = {dump.LowPart, static_cast<ULONG>(dump.HighPart)};
        RtlCopyMemory(reinterpret_cast<PUCHAR>(packet) +
                          FIELD_OFFSET(IO_ERROR_LOG_PACKET, DumpData),
                      words, sizeof words);
    }
    IoWriteErrorLogEntry(packet);
}
