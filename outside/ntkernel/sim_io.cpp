// Simulated I/O manager: opens, reads, writes and control requests as a program's or a kernel
// caller's requests reach the driver, their buffers, final completion and cancellation.
#define SIM_BUILDING 1
extern "C" {
#include <ntifs.h>
}
#include "sim.h"
#include "sim_internal.h"
#include "sim_pages.h"

#include <cstring>
#include <vector>

namespace sim {

struct Io {
    ULONG id = 0;
    PIRP irp = nullptr;
    CCHAR boost = 0;
    PFILE_OBJECT file = nullptr;
    UCHAR major = 0;
    ULONG code = 0;
    bool buffered = false;
    ULONG outBytes = 0;
    std::vector<unsigned char> user; // the caller's data buffer (reads, writes)
    std::vector<unsigned char> out;  // the caller's output buffer (control requests)
    std::vector<unsigned char> in;   // METHOD_NEITHER input
    PVOID systemBuffer = nullptr;
    PMDL mdl = nullptr;
    NTSTATUS returned = STATUS_PENDING;
    bool done = false;
    IO_STATUS_BLOCK iosb{};
    ULONG order = 0;
    void (*hook)(void *) = nullptr;
    void *hookContext = nullptr;
};

namespace {

PDEVICE_OBJECT Resolve(const WCHAR *name) {
    std::wstring n = Lower(name);
    auto link = g->links.find(n);
    if (link != g->links.end()) {
        n = Lower(reinterpret_cast<const WCHAR *>(link->second.c_str()));
    }
    auto d = g->devices.find(n);
    return d == g->devices.end() ? nullptr : d->second;
}

PIRP RequestFor(PDEVICE_OBJECT device, PFILE_OBJECT file, UCHAR major) {
    PIRP irp = NewIrp(device->StackSize);
    irp->CurrentLocation--;
    irp->Tail.Overlay.CurrentStackLocation--;
    PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation;
    stack->MajorFunction = major;
    stack->DeviceObject = device;
    stack->FileObject = file;
    irp->Tail.Overlay.OriginalFileObject = file;
    irp->RequestorMode = major == IRP_MJ_INTERNAL_DEVICE_CONTROL ? KernelMode : UserMode;
    return irp;
}

Io *Track(PIRP irp, PFILE_OBJECT file, UCHAR major) {
    auto *io = new Io();
    io->id = g->nextIo++;
    io->irp = irp;
    io->file = file;
    io->major = major;
    g->issued[irp] = io;
    g->ios[io->id] = io;
    return io;
}

NTSTATUS Call(PDEVICE_OBJECT device, Io *io) {
    PIRP irp = io->irp;
    KIRQL entry = g->irql;
    PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation;
    NTSTATUS status = device->DriverObject->MajorFunction[stack->MajorFunction](device, irp);
    if (g->irql != entry)
        Violation("dispatch routine returned at another IRQL");
    io->returned = status;
    return status;
}

// A request that the driver runs to its end before returning; the create and close paths.
NTSTATUS Synchronous(PDEVICE_OBJECT device, PFILE_OBJECT file, UCHAR major, ULONG options) {
    PIRP irp = RequestFor(device, file, major);
    if (major == IRP_MJ_CREATE)
        irp->Tail.Overlay.CurrentStackLocation->Parameters.Create.Options = options;
    Io *io = Track(irp, file, major);
    Call(device, io);
    WaitUntil([io] { return io->done; }, -1);
    return io->iosb.Status;
}

} // namespace

void FinishIssued(PIRP irp) {
    auto it = g->issued.find(irp);
    Io *io = it->second;
    g->issued.erase(it);
    io->iosb = irp->IoStatus;
    if (io->buffered && io->systemBuffer != nullptr) {
        // Without an output buffer nothing is copied back; with one the count must fit it.
        if (io->outBytes != 0 && irp->IoStatus.Information > io->outBytes)
            Violation("byte count above the output length");
        if (!NT_ERROR(irp->IoStatus.Status) && io->outBytes != 0) {
            ULONG_PTR n =
                irp->IoStatus.Information < io->outBytes ? irp->IoStatus.Information : io->outBytes;
            std::memcpy(io->out.data(), io->systemBuffer, n);
        }
    }
    if (io->systemBuffer != nullptr)
        ExFreePoolWithTag(io->systemBuffer, 0);
    io->systemBuffer = nullptr;
    if (io->mdl != nullptr)
        ::operator delete(io->mdl);
    io->mdl = nullptr;
    io->done = true;
    // The request's pages turn no-access: a driver touching it now faults.
    const USHORT size = irp->Size;
    std::memset(irp, 0xDD, size);
    GuardedFree(irp, size);
}

void CompletionSeen(PIRP irp) {
    auto it = g->issued.find(irp);
    if (it != g->issued.end())
        it->second->order = ++g->completionOrder;
}

void CompletionBoost(PIRP irp, CCHAR boost) {
    auto it = g->issued.find(irp);
    if (it != g->issued.end())
        it->second->boost = boost;
}

void CompletionHook(PIRP irp) {
    auto it = g->issued.find(irp);
    if (it != g->issued.end() && it->second->hook != nullptr) {
        auto fn = it->second->hook;
        it->second->hook = nullptr;
        fn(it->second->hookContext);
    }
}

} // namespace sim

using namespace sim;

extern "C" {

PVOID NTAPI MmMapLockedPagesSpecifyCache(PMDLX mdl, KPROCESSOR_MODE, MEMORY_CACHING_TYPE, PVOID,
                                         ULONG, MM_PAGE_PRIORITY) {
    Charge();
    CheckIrqlAtMost(DISPATCH_LEVEL, "MmMapLockedPagesSpecifyCache");
    if (g->failMapping)
        return nullptr;
    return static_cast<unsigned char *>(mdl->StartVa) + mdl->ByteOffset;
}

SIMAPI NTSTATUS SimOpen(const WCHAR *name, ULONG createOptions, PFILE_OBJECT *file) {
    *file = nullptr;
    PDEVICE_OBJECT device = Resolve(name);
    if (device == nullptr)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    if ((device->Flags & DO_EXCLUSIVE) && g->openFiles[device] > 0)
        return STATUS_ACCESS_DENIED; // the system refuses before the driver sees it
    auto *f = static_cast<PFILE_OBJECT>(::operator new(sizeof(FILE_OBJECT)));
    std::memset(f, 0, sizeof *f);
    f->Type = 5;
    f->DeviceObject = device;
    g->files[f] = 1;
    NTSTATUS status = Synchronous(device, f, IRP_MJ_CREATE, createOptions);
    if (!NT_SUCCESS(status)) {
        ObfDereferenceObject(f); // no close follows a failed create
        return status;
    }
    g->openFiles[device]++;
    *file = f;
    return status;
}

SIMAPI NTSTATUS SimCleanup(PFILE_OBJECT file) {
    return Synchronous(file->DeviceObject, file, IRP_MJ_CLEANUP, 0);
}

SIMAPI NTSTATUS SimCloseFile(PFILE_OBJECT file) {
    PDEVICE_OBJECT device = file->DeviceObject;
    NTSTATUS status = Synchronous(device, file, IRP_MJ_CLOSE, 0);
    g->openFiles[device]--;
    ObfDereferenceObject(file);
    return status;
}

SIMAPI ULONG SimIssue(PDEVICE_OBJECT device, PFILE_OBJECT file, UCHAR major, ULONG code,
                      const void *in, ULONG inBytes, ULONG outBytes, LONGLONG offset) {
    if (device == nullptr)
        device = file->DeviceObject;
    if (g->failRequestAt != 0 && --g->failRequestAt == 0)
        return 0;
    PIRP irp = RequestFor(device, file, major);
    PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation;
    Io *io = Track(irp, file, major);
    io->code = code;
    if (major == IRP_MJ_READ || major == IRP_MJ_WRITE) {
        ULONG length = major == IRP_MJ_READ ? outBytes : inBytes;
        io->user.assign(length, 0xA5);
        if (major == IRP_MJ_WRITE && length != 0)
            std::memcpy(io->user.data(), in, length);
        stack->Parameters.Write.Length = length;
        stack->Parameters.Write.ByteOffset.QuadPart = offset;
        if (length != 0 && (device->Flags & DO_DIRECT_IO)) {
            // Locked, but not mapped to system space: the driver maps it.
            io->mdl = static_cast<PMDL>(::operator new(sizeof(MDL)));
            std::memset(io->mdl, 0, sizeof(MDL));
            io->mdl->Size = sizeof(MDL);
            io->mdl->StartVa = io->user.data();
            io->mdl->ByteCount = length;
            io->mdl->MdlFlags = MDL_PAGES_LOCKED;
            irp->MdlAddress = io->mdl;
        }
        irp->UserBuffer = io->user.empty() ? nullptr : io->user.data();
    } else {
        stack->Parameters.DeviceIoControl.IoControlCode = code;
        stack->Parameters.DeviceIoControl.InputBufferLength = inBytes;
        stack->Parameters.DeviceIoControl.OutputBufferLength = outBytes;
        io->outBytes = outBytes;
        io->out.assign(outBytes, 0x5A);
        if ((code & 3) == METHOD_NEITHER) {
            io->in.assign(static_cast<const unsigned char *>(in),
                          static_cast<const unsigned char *>(in) + (in ? inBytes : 0));
            stack->Parameters.DeviceIoControl.Type3InputBuffer =
                io->in.empty() ? nullptr : io->in.data();
            irp->UserBuffer = io->out.empty() ? nullptr : io->out.data();
        } else {
            io->buffered = true;
            ULONG bytes = inBytes > outBytes ? inBytes : outBytes;
            if (bytes != 0) {
                // Pool from the allocator: what the input does not fill stays poisoned.
                ULONG failAt = g->failPoolAt; // the driver's allocations alone are failed
                g->failPoolAt = 0;
                io->systemBuffer = ExAllocatePoolWithTag(NonPagedPool, bytes, 0x20206F49);
                g->failPoolAt = failAt;
                if (in != nullptr && inBytes != 0)
                    std::memcpy(io->systemBuffer, in, inBytes);
            }
            irp->AssociatedIrp.SystemBuffer = io->systemBuffer;
        }
    }
    Call(device, io);
    return io->id;
}

SIMAPI BOOLEAN SimIoResultOf(ULONG id, SimIoResult *r) {
    auto it = g->ios.find(id);
    if (it == g->ios.end())
        return FALSE;
    Io *io = it->second;
    std::memset(r, 0, sizeof *r);
    r->returned = io->returned;
    r->done = io->done;
    r->status = io->iosb.Status;
    r->information = io->iosb.Information;
    r->order = io->order;
    r->boost = io->boost;
    const std::vector<unsigned char> &src = io->buffered || !io->out.empty() ? io->out : io->user;
    r->outBytes = static_cast<ULONG>(src.size() < sizeof r->out ? src.size() : sizeof r->out);
    std::memcpy(r->out, src.data(), r->outBytes);
    return TRUE;
}

SIMAPI NTSTATUS SimWaitIo(ULONG id) {
    auto it = g->ios.find(id);
    if (it == g->ios.end())
        return STATUS_INVALID_HANDLE;
    Io *io = it->second;
    CheckIrqlAtMost(APC_LEVEL, "SimWaitIo");
    if (!WaitUntil([io] { return io->done; }, -1))
        return STATUS_TIMEOUT;
    return io->iosb.Status;
}

SIMAPI void SimCancelIo(PFILE_OBJECT file) {
    std::vector<PIRP> mine;
    for (auto &e : g->issued) {
        if (e.second->file == file && LiveIrp(e.first))
            mine.push_back(e.first);
    }
    for (PIRP irp : mine) {
        if (LiveIrp(irp))
            IoCancelIrp(irp);
    }
}

SIMAPI void SimFailMapping(BOOLEAN fail) {
    g->failMapping = fail != 0;
}

SIMAPI void SimFailRequestAt(ULONG n) {
    g->failRequestAt = n;
}

SIMAPI void SimOnCompletion(ULONG id, void (*fn)(void *), void *context) {
    auto it = g->ios.find(id);
    if (it != g->ios.end()) {
        it->second->hook = fn;
        it->second->hookContext = context;
    }
}

SIMAPI PIRP SimIrpOf(ULONG id) {
    auto it = g->ios.find(id);
    return it == g->ios.end() || it->second->done ? nullptr : it->second->irp;
}

} // extern "C"
