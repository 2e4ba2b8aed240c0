// tandrel: requests. Validation and the answers given at once, the request list and its
// worker thread, execution with the port allocated, open, close, cleanup and cancel.
#include "par_transfer.h"

namespace {

ParDeviceExtension *ExtOf(PDEVICE_OBJECT device) {
    return static_cast<ParDeviceExtension *>(device->DeviceExtension);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Appends a validated request to the list for the worker, or completes it when it was
// cancelled before it got there.
NTSTATUS Queue(ParDeviceExtension *ext, PIRP irp) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    if (irp->Cancel) {
        IoReleaseCancelSpinLock(irql);
        return Complete(irp, STATUS_CANCELLED, 0);
    }
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, ParCancelRequest);
    InsertTailList(&ext->WorkQueue, &irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irql);
    KeReleaseSemaphore(&ext->RequestSemaphore, IO_NO_INCREMENT, 1, FALSE);
    return STATUS_PENDING;
}

// Terminates to compatibility mode unless the peripheral is there already.
void ToCompatibility(ParDeviceExtension *ext) {
    if (ext->CurrentMode != kModeCompatibility) {
        ParTermination(ext);
    }
}

// Mode 3 asked for on a port without an ECP FIFO: nothing can be sent or read that way.
bool EcpModeWithoutEcp(const ParDeviceExtension *ext) {
    return ext->RequestedMode == kModeEcp && !ext->EcpPresent;
}

// Ensures the device is initialised; false, with the mapped status in *status, when the
// printer still is not.
bool EnsureInitialised(ParDeviceExtension *ext, NTSTATUS *status) {
    if (ext->Initialized) {
        return true;
    }
    const UCHAR s = ParReinitializeDevice(ext);
    if (ext->Initialized) {
        return true;
    }
    *status = ParNotInitError(s);
    return false;
}

// Answers of the codes that need no port; the output beyond what they fill is zeroed.
NTSTATUS AnswerAtOnce(ParDeviceExtension *ext, PIRP irp, ULONG code, ULONG outBytes) {
    PUCHAR out = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
    RtlZeroMemory(out, outBytes);
    switch (code) {
    case par::kIoctlStatus:
        out[0] = ParRead(ext, kRegStatus);
        break;
    case par::kIoctlSavedStatus:
        out[0] = ext->SavedStatus;
        out[1] = ParRead(ext, kRegStatus);
        break;
    case par::kIoctlGetTimeouts:
        par::WriteSerialTimeouts(ext->Timeout, out);
        break;
    case par::kIoctlDriverInfo: {
        par::DriverInfo info{};
        info.timeout = ext->Timeout;
        info.reserved = ext->Reserved;
        info.initialized = ext->Initialized;
        info.initializing = ext->Initializing;
        info.stallOverhead = ext->StallOverhead;
        info.stallStep = ext->StallStep;
        info.requestedMode = ext->RequestedMode;
        info.blockSize = ext->BlockSize;
        info.currentMode = ext->CurrentMode;
        info.infoMarker = ext->InfoMarker;
        par::WriteDriverInfo(info, out);
        break;
    }
    default:
        break;
    }
    return Complete(irp, STATUS_SUCCESS, outBytes);
}

par::ControlRequest ControlOf(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    par::ControlRequest r;
    r.code = stack->Parameters.DeviceIoControl.IoControlCode;
    r.inputBytes = stack->Parameters.DeviceIoControl.InputBufferLength;
    r.outputBytes = stack->Parameters.DeviceIoControl.OutputBufferLength;
    r.input = (r.code & 3) == METHOD_NEITHER
                  ? nullptr
                  : static_cast<const uint8_t *>(irp->AssociatedIrp.SystemBuffer);
    return r;
}

// Waits at most 35 ms by the tick clock for the printer to be not busy.
bool WaitNotBusy(ParDeviceExtension *ext) {
    LARGE_INTEGER start;
    KeQueryTickCount(&start);
    for (;;) {
        if (ParRead(ext, kRegStatus) & par::kStatusNotBusy) {
            return true;
        }
        if (ParElapsedSince(start) > 350000) {
            return false;
        }
    }
}

// The forward part of write-then-read (0x162090); false when it failed.
bool SendBeforeReply(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    if (ext->RequestedMode == kModeMce && ext->CurrentMode != kModeMce) {
        ToCompatibility(ext);
        if (!ParNegotiation(ext, kModeMce)) {
            return false;
        }
    }
    if (ext->CurrentMode == kModeMce) {
        if (!WaitNotBusy(ext) || !ParWriteMceBurst(ext, count, data)) {
            ParTermination(ext);
            return false;
        }
        return true;
    }
    if (ext->RequestedMode == kModeEcp && ext->CurrentMode != kModeEcp) {
        ToCompatibility(ext);
        if (!ParNegotiation(ext, kModeEcp)) {
            return false;
        }
    }
    if (ext->CurrentMode == kModeEcp) {
        return ParWrite_ecp(ext, count, data) == 1;
    }
    ToCompatibility(ext);
    if (!ParWriteCompat(ext, count, data)) {
        ParTermination(ext);
        return false;
    }
    return true;
}

void Finish(ParDeviceExtension *ext, PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    ParFinishRequest(ext, irp, status, information, IO_NO_INCREMENT);
}

// Executes a control request; every path completes it.
void ExecuteControl(ParDeviceExtension *ext, PIRP irp) {
    const par::ControlRequest r = ControlOf(irp);
    PUCHAR buffer = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
    NTSTATUS status = STATUS_SUCCESS;
    switch (r.code) {
    case par::kIoctlSetInformation: {
        ToCompatibility(ext);
        ext->Initialized = FALSE;
        const UCHAR s = ParInputPrimeOut(ext);
        Finish(ext, irp, ext->Initialized ? STATUS_SUCCESS : ParNotInitError(s));
        return;
    }
    case par::kIoctlQueryInformation:
        buffer[0] = par::QueryInformationByte(ParRead(ext, kRegStatus));
        Finish(ext, irp, STATUS_SUCCESS, 1);
        return;
    case par::kIoctlQueryDeviceId:
    case par::kIoctlQueryDeviceIdSize: {
        if (Check_ecp_finish(ext, TRUE)) {
            Finish(ext, irp, STATUS_ALREADY_DISCONNECTED);
            return;
        }
        if (!EnsureInitialised(ext, &status)) {
            Finish(ext, irp, status);
            return;
        }
        ULONG length = 0;
        if (r.code == par::kIoctlQueryDeviceId) {
            status = ParQueryDeviceId(ext, buffer, r.outputBytes, &length);
            Finish(ext, irp, status, NT_SUCCESS(status) ? length : 0);
            return;
        }
        status = ParQueryDeviceId(ext, nullptr, 0, &length);
        if (status == STATUS_BUFFER_TOO_SMALL || status == STATUS_SUCCESS) {
            // An empty ID fits no buffer at all: its length, 0, is the answer.
            par::StoreU32(buffer, status == STATUS_SUCCESS ? 0 : length);
            Finish(ext, irp, STATUS_SUCCESS, 4);
        } else {
            Finish(ext, irp, status);
        }
        return;
    }
    case par::kIoctlSetMode: {
        const ULONG mode = par::LoadU32(buffer);
        if (mode == kModeEcp && !ext->EcpPresent) {
            Finish(ext, irp, STATUS_INVALID_DEVICE_REQUEST); // the previous mode stays
            return;
        }
        ext->RequestedMode = mode;
        Finish(ext, irp, STATUS_SUCCESS);
        return;
    }
    case par::kIoctlGetModes:
        par::StoreU32(buffer, ext->CurrentMode);
        par::StoreU32(buffer + 4, ext->RequestedMode);
        Finish(ext, irp, STATUS_SUCCESS, 8);
        return;
    case par::kIoctlWriteRead:
        if (Check_ecp_finish(ext, TRUE)) {
            Finish(ext, irp, STATUS_ALREADY_DISCONNECTED);
            return;
        }
        if (EcpModeWithoutEcp(ext)) {
            Finish(ext, irp, STATUS_INVALID_DEVICE_REQUEST);
            return;
        }
        if (r.inputBytes != 0 && !SendBeforeReply(ext, r.inputBytes, buffer)) {
            Finish(ext, irp, STATUS_DEVICE_BUSY);
            return;
        }
        if (r.outputBytes != 0) {
            ParReadIo(ext, buffer, r.outputBytes);
            return;
        }
        Finish(ext, irp, STATUS_SUCCESS);
        return;
    case par::kIoctlBlockWrite: {
        if (Check_ecp_finish(ext, TRUE)) {
            Finish(ext, irp, STATUS_ALREADY_DISCONNECTED);
            return;
        }
        par::BlockWrite block;
        if (!par::ParseBlockWrite(buffer, &block)) {
            Finish(ext, irp, STATUS_INVALID_PARAMETER); // validated at dispatch already
            return;
        }
        ext->BlockSize = block.blockSize;
        ToCompatibility(ext);
        Finish(ext, irp,
               ParWriteCompat(ext, block.count, block.data) ? STATUS_SUCCESS : STATUS_DEVICE_BUSY);
        return;
    }
    case par::kIoctlNegotiate:
        if (Check_ecp_finish(ext, TRUE)) {
            Finish(ext, irp, STATUS_ALREADY_DISCONNECTED);
            return;
        }
        if (EcpModeWithoutEcp(ext)) {
            Finish(ext, irp, STATUS_INVALID_DEVICE_REQUEST);
            return;
        }
        ToCompatibility(ext);
        if (ext->RequestedMode != kModeCompatibility && !ParNegotiation(ext, ext->RequestedMode)) {
            ParTermination(ext);
            Finish(ext, irp, STATUS_INVALID_DEVICE_REQUEST);
            return;
        }
        if (r.outputBytes != 0) {
            buffer[0] = ext->NegotiationStatus;
            Finish(ext, irp, STATUS_SUCCESS, 1);
        } else {
            Finish(ext, irp, STATUS_SUCCESS);
        }
        return;
    case par::kIoctlTerminate:
        if (Check_ecp_finish(ext, TRUE)) {
            Finish(ext, irp, STATUS_ALREADY_DISCONNECTED);
            return;
        }
        ParTermination(ext);
        Finish(ext, irp, STATUS_SUCCESS);
        return;
    case par::kIoctlThroughput: {
        irp->IoStatus.Status = STATUS_SUCCESS;
        const ULONG rate = par_simu_tarn(ext);
        status = irp->IoStatus.Status;
        if (NT_SUCCESS(status)) {
            par::StoreU32(buffer, rate);
            Finish(ext, irp, status, 4);
        } else {
            Finish(ext, irp, status);
        }
        return;
    }
    case par::kIoctlSetOptions:
        ext->Options = par::LoadU32(buffer);
        Finish(ext, irp, STATUS_SUCCESS);
        return;
    case par::kIoctlCompatWrite: {
        if (Check_ecp_finish(ext, TRUE)) {
            Finish(ext, irp, STATUS_ALREADY_DISCONNECTED);
            return;
        }
        ToCompatibility(ext);
        ULONG sent = 0;
        const BOOLEAN ok = ParWriteCompat2(ext, r.inputBytes, buffer, &sent);
        Finish(ext, irp, ok ? STATUS_SUCCESS : STATUS_DEVICE_BUSY, sent);
        return;
    }
    case par::kIoctlSetTimeouts:
        ext->Timeout = par::TimeoutFromWriteConstant(par::SerialWriteConstant(buffer));
        Finish(ext, irp, STATUS_SUCCESS);
        return;
    default:
        Finish(ext, irp, STATUS_INVALID_PARAMETER);
        return;
    }
}

void ExecuteWrite(ParDeviceExtension *ext, PIRP irp) {
    NTSTATUS status;
    if (!EnsureInitialised(ext, &status)) {
        Finish(ext, irp, status);
        return;
    }
    if (Check_ecp_finish(ext, TRUE)) {
        Finish(ext, irp, STATUS_ALREADY_DISCONNECTED);
        return;
    }
    if (EcpModeWithoutEcp(ext)) {
        Finish(ext, irp, STATUS_INVALID_DEVICE_REQUEST);
        return;
    }
    if (ext->CurrentMode != ext->RequestedMode) {
        if (ext->RequestedMode == kModeCompatibility) {
            ParTermination(ext);
        } else {
            ToCompatibility(ext);
            if (!ParNegotiation(ext, ext->RequestedMode)) {
                ParTermination(ext);
                Finish(ext, irp, STATUS_INVALID_DEVICE_REQUEST);
                return;
            }
        }
    }
    ParWriteOutData2(ext);
}

void ExecuteRead(ParDeviceExtension *ext, PIRP irp) {
    if (EcpModeWithoutEcp(ext)) {
        Finish(ext, irp, STATUS_INVALID_DEVICE_REQUEST);
        return;
    }
    PUCHAR buffer =
        irp->MdlAddress != nullptr
            ? static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority))
            : nullptr;
    if (buffer == nullptr) {
        Finish(ext, irp, STATUS_INVALID_BUFFER_SIZE);
        return;
    }
    ParReadIo(ext, buffer, IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length);
}

// Makes irp the current request once no other one executes.
void BeginExecution(ParDeviceExtension *ext, PIRP irp) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    ext->CurrentIrp = irp;
    ext->CleanupFlagged = FALSE;
    IoReleaseCancelSpinLock(irql);
}

} // namespace

NTSTATUS ParNotInitError(UCHAR status) {
    return static_cast<NTSTATUS>(par::NotInitError(status));
}

BOOLEAN Check_ecp_finish(ParDeviceExtension *ext, BOOLEAN atExecution) {
    if (!ext->EcpPresent || ext->PrivMode == 0) {
        return FALSE;
    }
    if (ext->PrivMode == 1) {
        const bool fifoEmpty = (ParRead(ext, kRegEcr) & 0x01) != 0;
        if (!fifoEmpty) {
            return TRUE;
        }
        if (atExecution && ext->EcpWritePending) {
            ParTermination(ext);
        }
    }
    if (atExecution) {
        ext->EcpWritePending = 0;
    }
    return FALSE;
}

void ParFinishRequest(ParDeviceExtension *ext, PIRP irp, NTSTATUS status, ULONG_PTR information,
                      CCHAR boost) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    if (ext->CurrentIrp == irp) {
        ext->CurrentIrp = nullptr;
    }
    IoReleaseCancelSpinLock(irql);
    const BOOLEAN allocated = ext->PortAllocated;
    ext->PortAllocated = FALSE;
    ext->FinishedStatus = status;
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, boost);
    if (allocated) {
        ParFreePort(ext);
    }
}

NTSTATUS ParStartIo(ParDeviceExtension *ext, PIRP irp) {
    irp->IoStatus.Information = 0;
    ext->PortAllocated = FALSE;
    if (!ParAllocPort(ext)) {
        Finish(ext, irp, STATUS_DEVICE_BUSY);
        return ext->FinishedStatus;
    }
    ext->PortAllocated = TRUE;
    switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_WRITE:
        ExecuteWrite(ext, irp);
        break;
    case IRP_MJ_READ:
        ExecuteRead(ext, irp);
        break;
    default:
        ExecuteControl(ext, irp);
        break;
    }
    return ext->FinishedStatus;
}

extern "C" VOID NTAPI ParCancelRequest(PDEVICE_OBJECT, PIRP irp) {
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    Complete(irp, STATUS_CANCELLED, 0);
}

extern "C" VOID NTAPI ParallelThread(PVOID context) {
    auto *ext = static_cast<ParDeviceExtension *>(context);
    KeSetBasePriorityThread(KeGetCurrentThread(), par::WorkerIncrement(ext->ThreadPriority));
    for (;;) {
        KeWaitForSingleObject(&ext->RequestSemaphore, Executive, KernelMode, FALSE, nullptr);
        if (ext->TimeToTerminateThread) {
            PsTerminateSystemThread(STATUS_SUCCESS);
        }
        for (;;) {
            KeWaitForSingleObject(&ext->StartIoIdle, Executive, KernelMode, FALSE, nullptr);
            KIRQL irql;
            IoAcquireCancelSpinLock(&irql);
            if (IsListEmpty(&ext->WorkQueue)) {
                IoReleaseCancelSpinLock(irql);
                KeSetEvent(&ext->StartIoIdle, IO_NO_INCREMENT, FALSE);
                break;
            }
            PLIST_ENTRY entry = RemoveHeadList(&ext->WorkQueue);
            PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
            IoSetCancelRoutine(irp, nullptr);
            ext->CurrentIrp = irp;
            ext->CleanupFlagged = FALSE;
            IoReleaseCancelSpinLock(irql);
            ParStartIo(ext, irp);
            KeSetEvent(&ext->StartIoIdle, IO_NO_INCREMENT, FALSE);
        }
    }
}

NTSTATUS ParCreateSystemThread(ParDeviceExtension *ext) {
    HANDLE handle;
    NTSTATUS status = PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                           ParallelThread, ext);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    PVOID thread = nullptr;
    status = ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode,
                                       &thread, nullptr);
    if (NT_SUCCESS(status)) {
        ext->ThreadObject = thread;
    } else {
        // The thread ends at its first wake; it must be gone before a later open starts one.
        ext->TimeToTerminateThread = TRUE;
        KeReleaseSemaphore(&ext->RequestSemaphore, IO_NO_INCREMENT, 1, FALSE);
        ZwWaitForSingleObject(handle, FALSE, nullptr);
        ext->ThreadObject = nullptr;
    }
    ZwClose(handle);
    return status;
}

extern "C" {

NTSTATUS NTAPI ParCreateOpen(PDEVICE_OBJECT device, PIRP irp) {
    ParDeviceExtension *ext = ExtOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ParRaiseOpenCloseCount();
    const bool held = NT_SUCCESS(ParGetPortInfoFromPortDevice(ext));
    ext->TimeToTerminateThread = FALSE;
    ext->ThreadObject = nullptr;
    KeInitializeSemaphore(&ext->RequestSemaphore, 0, 0x7FFFFFFF);
    NTSTATUS status;
    if (stack->Parameters.Create.Options & FILE_DIRECTORY_FILE) {
        status = STATUS_NOT_A_DIRECTORY;
    } else {
        status = ParCreateSystemThread(ext);
    }
    if (NT_SUCCESS(status)) {
        ext->OpenCount++;
        ext->PortInfoHeld = held;
    } else {
        // No close follows a failed create: undo what it did.
        if (held) {
            ParReleasePortInfoToPortDevice(ext);
        }
        ParLowerOpenCloseCount();
    }
    return Complete(irp, status, 0);
}

NTSTATUS NTAPI ParClose(PDEVICE_OBJECT device, PIRP irp) {
    ParDeviceExtension *ext = ExtOf(device);
    ext->TimeToTerminateThread = TRUE;
    KeReleaseSemaphore(&ext->RequestSemaphore, IO_NO_INCREMENT, 1, FALSE);
    if (ext->ThreadObject != nullptr) {
        KeWaitForSingleObject(ext->ThreadObject, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(ext->ThreadObject);
        ext->ThreadObject = nullptr;
    }
    if (ext->OpenCount > 0 && --ext->OpenCount == 0 && ext->CurrentMode != kModeCompatibility) {
        // The termination drives the port: only with it allocated. Not granted, the next
        // request terminates first.
        if (ParAllocPortBuilt(ext, ext->Timeout)) {
            ParTermination(ext);
            ParFreePort(ext);
        }
    }
    if (ext->OpenCount == 0) {
        ext->EcpCarryCount = 0;
    }
    if (ext->PortInfoHeld) {
        ext->PortInfoHeld = FALSE;
        ParReleasePortInfoToPortDevice(ext);
    }
    Complete(irp, STATUS_SUCCESS, 0);
    ParLowerOpenCloseCount();
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ParCleanup(PDEVICE_OBJECT device, PIRP irp) {
    ParDeviceExtension *ext = ExtOf(device);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    while (!IsListEmpty(&ext->WorkQueue)) {
        PIRP queued = CONTAINING_RECORD(ext->WorkQueue.Blink, IRP, Tail.Overlay.ListEntry);
        PDRIVER_CANCEL routine = IoSetCancelRoutine(queued, nullptr);
        queued->Cancel = TRUE;
        queued->CancelIrql = irql;
        if (routine != nullptr) {
            routine(device, queued); // unlinks it and releases the lock
        } else {
            RemoveEntryList(&queued->Tail.Overlay.ListEntry);
            IoReleaseCancelSpinLock(irql);
            Complete(queued, STATUS_CANCELLED, 0);
        }
        IoAcquireCancelSpinLock(&irql);
    }
    if (ext->CurrentIrp != nullptr) {
        // A running write stops at its next block.
        ext->CurrentIrp->Cancel = TRUE;
        ext->CleanupFlagged = TRUE;
    }
    IoReleaseCancelSpinLock(irql);
    return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS NTAPI ParReadWrite(PDEVICE_OBJECT device, PIRP irp) {
    ParDeviceExtension *ext = ExtOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->IoStatus.Information = 0;
    if (Check_ecp_finish(ext, FALSE)) {
        return Complete(irp, STATUS_ALREADY_DISCONNECTED, 0);
    }
    if (stack->Parameters.Write.ByteOffset.QuadPart != 0) {
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    if (stack->Parameters.Write.Length == 0) {
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    return Queue(ext, irp);
}

NTSTATUS NTAPI ParDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    ParDeviceExtension *ext = ExtOf(device);
    const par::ControlRequest r = ControlOf(irp);
    const par::Verdict v = par::ValidateControl(r, Check_ecp_finish(ext, FALSE) != 0);
    switch (v.handling) {
    case par::Handling::Refused:
        return Complete(irp, static_cast<NTSTATUS>(v.status), 0);
    case par::Handling::AtOnce:
        return AnswerAtOnce(ext, irp, r.code, r.outputBytes);
    case par::Handling::Queued:
    default:
        return Queue(ext, irp);
    }
}

NTSTATUS NTAPI ParStartIo2(PDEVICE_OBJECT device, PIRP irp) {
    ParDeviceExtension *ext = ExtOf(device);
    const par::ControlRequest r = ControlOf(irp);
    const par::Verdict v = par::ValidateControl(r, false);
    if (v.handling == par::Handling::Refused) {
        return Complete(irp, static_cast<NTSTATUS>(v.status), 0);
    }
    if (v.handling == par::Handling::AtOnce) {
        return AnswerAtOnce(ext, irp, r.code, r.outputBytes);
    }
    // Runs on the caller's thread, after any request executing now; the driver stays
    // resident meanwhile, whether or not a handle is open.
    ParRaiseOpenCloseCount();
    KeWaitForSingleObject(&ext->StartIoIdle, Executive, KernelMode, FALSE, nullptr);
    BeginExecution(ext, irp);
    const NTSTATUS status = ParStartIo(ext, irp);
    KeSetEvent(&ext->StartIoIdle, IO_NO_INCREMENT, FALSE);
    ParLowerOpenCloseCount();
    return status;
}

NTSTATUS NTAPI ParQueryInformationFile(PDEVICE_OBJECT, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG length = stack->Parameters.QueryFile.Length;
    PVOID buffer = irp->AssociatedIrp.SystemBuffer;
    switch (stack->Parameters.QueryFile.FileInformationClass) {
    case FileStandardInformation:
        if (length < sizeof(FILE_STANDARD_INFORMATION)) {
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        }
        RtlZeroMemory(buffer, sizeof(FILE_STANDARD_INFORMATION));
        return Complete(irp, STATUS_SUCCESS, sizeof(FILE_STANDARD_INFORMATION));
    case FilePositionInformation:
        if (length < sizeof(FILE_POSITION_INFORMATION)) {
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        }
        RtlZeroMemory(buffer, sizeof(FILE_POSITION_INFORMATION));
        return Complete(irp, STATUS_SUCCESS, sizeof(FILE_POSITION_INFORMATION));
    default:
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
}

NTSTATUS NTAPI ParSetInformationFile(PDEVICE_OBJECT, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.SetFile.FileInformationClass == FileEndOfFileInformation) {
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
}

} // extern "C"
