// Simulated NT kernel and HAL: one processor in virtual time, pool, objects, registry,
// requests, events, the work queue and the error log, with the port stand-ins of parport/.
#define SIM_BUILDING 1
extern "C" {
#include <ntifs.h>
#include <parallel.h>
}
#include "sim.h"
#include "sim_internal.h"
#include "sim_pages.h"

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace sim {

State *g = nullptr;

void Violation(const char *what) {
    g->violations.push_back(what);
}

std::wstring Lower(const WCHAR *s, size_t n) {
    std::wstring out;
    for (size_t i = 0; i < n; ++i)
        out += static_cast<wchar_t>(std::towlower(s[i]));
    return out;
}
std::wstring Lower(const WCHAR *s) {
    return Lower(s, wcslen(reinterpret_cast<const wchar_t *>(s)));
}
std::wstring Lower(PCUNICODE_STRING s) {
    return Lower(s->Buffer, s->Length / sizeof(WCHAR));
}

void UpdateTick() {
    ULONGLONG ticks = g->tickBase + static_cast<ULONGLONG>(g->now / g->tickPs);
    KeTickCount.High2Time = static_cast<LONG>(ticks >> 32);
    KeTickCount.LowPart = static_cast<ULONG>(ticks);
    KeTickCount.High1Time = static_cast<LONG>(ticks >> 32);
}

// Charges the busy-loop passes the driver made since its last call.
void Charge() {
    if (g->loopCounter != nullptr) {
        LONG v = *g->loopCounter;
        ULONG passes = static_cast<ULONG>(v - g->loopSeen);
        g->loopSeen = v;
        g->now += static_cast<LONGLONG>(passes) * g->passFs / 1000;
    }
    UpdateTick();
    if (g->lateGrantDue) {
        g->lateGrantDue = false;
        LateGrants();
    }
    // Timed events fall due during busy waits too, as the clock interrupt would deliver
    // them, unless the processor is at dispatch level or above.
    if (!g->inEvents && g->irql < DISPATCH_LEVEL && !g->events.empty() &&
        g->events.begin()->first <= g->now) {
        g->inEvents = true;
        KIRQL entry = g->irql;
        g->irql = DISPATCH_LEVEL;
        RunEventsUntil(g->now);
        g->irql = entry;
        g->inEvents = false;
    }
}

void Advance(LONGLONG ps) {
    g->now += ps;
    UpdateTick();
}

// Runs timed events due by the given time, in order.
void RunEventsUntil(LONGLONG until) {
    for (;;) {
        auto it = g->events.begin();
        if (it == g->events.end() || it->first > until)
            break;
        auto fn = it->second;
        LONGLONG at = it->first;
        g->events.erase(it);
        if (at > g->now) {
            g->now = at;
            UpdateTick();
        }
        fn();
    }
    if (until > g->now) {
        g->now = until;
        UpdateTick();
    }
}

void Schedule(LONGLONG at, std::function<void()> fn) {
    g->events.emplace(at, std::move(fn));
}

void CheckResident(const char *what) {
    if (g->pageable == 1) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "%s while the driver is pageable", what);
        g->violations.push_back(buf);
    }
}

void CheckIrqlAtMost(KIRQL max, const char *what) {
    if (g->irql > max) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "%s at IRQL %d", what, g->irql);
        g->violations.push_back(buf);
    }
}

} // namespace sim

using namespace sim;

extern "C" {

volatile KSYSTEM_TIME KeTickCount;
static CONFIGURATION_INFORMATION g_config;

// ---- Pool --------------------------------------------------------------------------------------

PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T bytes, ULONG tag) {
    Charge();
    if (type == PagedPool)
        CheckIrqlAtMost(APC_LEVEL, "paged pool allocation");
    else
        CheckIrqlAtMost(DISPATCH_LEVEL, "pool allocation");
    if (g->failPoolAt != 0 && --g->failPoolAt == 0)
        return nullptr;
    if (g->failPoolTag != 0 && g->failPoolTag == tag && g->failPoolBytes == bytes &&
        --g->failPoolNth == 0) {
        g->failPoolTag = 0;
        return nullptr;
    }
    auto *p = static_cast<unsigned char *>(GuardedAlloc(bytes));
    if (p == nullptr) {
        Violation("the simulator's guarded pool is exhausted");
        return nullptr;
    }
    std::memset(p, 0xA5, bytes); // poison: callers must initialise
    g->pool[p] = {tag, bytes};
    return p;
}

PVOID NTAPI ExAllocatePool(POOL_TYPE type, SIZE_T bytes) {
    return ExAllocatePoolWithTag(type, bytes, 0x656E6F4E);
}

VOID NTAPI ExFreePoolWithTag(PVOID p, ULONG tag) {
    Charge();
    auto it = g->pool.find(p);
    if (it == g->pool.end()) {
        Violation("free of a block not allocated (or freed twice)");
        return;
    }
    if (tag != 0 && it->second.tag != tag)
        Violation("free with the wrong pool tag");
    std::memset(p, 0xDD, it->second.bytes);
    const SIZE_T bytes = it->second.bytes;
    g->pool.erase(it);
    GuardedFree(p, bytes);
}

VOID NTAPI ExFreePool(PVOID p) {
    ExFreePoolWithTag(p, 0);
}

// ---- IRQL, locks, events
// --------------------------------------------------------------------------

KIRQL FASTCALL KfRaiseIrql(KIRQL level) {
    Charge();
    KIRQL old = g->irql;
    if (level < old)
        Violation("KfRaiseIrql to a lower level");
    if (level >= DISPATCH_LEVEL)
        CheckResident("IRQL raised to dispatch level or above");
    g->irql = level;
    return old;
}

VOID FASTCALL KfLowerIrql(KIRQL level) {
    Charge();
    if (level > g->irql)
        Violation("KfLowerIrql to a higher level");
    g->irql = level;
    RunCurrentApcs();
}

KIRQL NTAPI KeGetCurrentIrql(VOID) {
    return g->irql;
}

VOID FASTCALL ExAcquireFastMutex(PFAST_MUTEX m) {
    Charge();
    CheckIrqlAtMost(APC_LEVEL, "ExAcquireFastMutex");
    if (m->Count != 1)
        Violation("fast mutex acquired while held (deadlock)");
    m->Count = 0;
    m->OldIrql = g->irql;
    g->irql = APC_LEVEL;
}

VOID FASTCALL ExReleaseFastMutex(PFAST_MUTEX m) {
    Charge();
    if (m->Count != 0)
        Violation("fast mutex released while free");
    m->Count = 1;
    g->irql = static_cast<KIRQL>(m->OldIrql);
    RunCurrentApcs();
}

VOID NTAPI KeInitializeEvent(PRKEVENT e, EVENT_TYPE type, BOOLEAN state) {
    e->Header.Type = static_cast<UCHAR>(type);
    e->Header.SignalState = state ? 1 : 0;
}

LONG NTAPI KeSetEvent(PRKEVENT e, KPRIORITY, BOOLEAN) {
    Charge();
    CheckIrqlAtMost(DISPATCH_LEVEL, "KeSetEvent");
    LONG old = e->Header.SignalState;
    e->Header.SignalState = 1;
    return old;
}

VOID NTAPI KeClearEvent(PRKEVENT e) {
    e->Header.SignalState = 0;
}
LONG NTAPI KeReadStateEvent(PRKEVENT e) {
    return e->Header.SignalState;
}

VOID NTAPI KeInitializeSemaphore(PRKSEMAPHORE s, LONG count, LONG limit) {
    s->Header.Type = 5;
    s->Header.SignalState = count;
    s->Limit = limit;
}

LONG NTAPI KeReleaseSemaphore(PRKSEMAPHORE s, KPRIORITY, LONG adjustment, BOOLEAN) {
    LONG old = s->Header.SignalState;
    s->Header.SignalState += adjustment;
    return old;
}

NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                                     PLARGE_INTEGER timeout) {
    Charge();
    auto *header = static_cast<DISPATCHER_HEADER *>(object);
    if (timeout == nullptr || timeout->QuadPart != 0) {
        CheckIrqlAtMost(APC_LEVEL, "KeWaitForSingleObject");
    }
    LONGLONG deadline = -1;
    if (timeout != nullptr) {
        if (timeout->QuadPart > 0)
            Violation("absolute wait");
        deadline = g->now + (-timeout->QuadPart) * 100000; // 100 ns in ps
    }
    if (!WaitUntil([header] { return header->SignalState > 0; }, deadline)) {
        g->lateGrantDue = true;
        return STATUS_TIMEOUT;
    }
    if (header->Type == SynchronizationEvent)
        header->SignalState = 0;
    else if (header->Type == 5)
        header->SignalState -= 1;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval) {
    Charge();
    CheckIrqlAtMost(APC_LEVEL, "KeDelayExecutionThread");
    LONGLONG ps = interval->QuadPart < 0 ? -interval->QuadPart * 100000 : 0;
    // Delays end on a clock tick.
    LONGLONG end = g->now + ps;
    end = (end / g->tickPs + 1) * g->tickPs;
    WaitUntil([] { return false; }, end);
    return STATUS_SUCCESS;
}

VOID NTAPI KeStallExecutionProcessor(ULONG us) {
    Charge();
    Advance(static_cast<LONGLONG>(us) * 1000000);
}

LARGE_INTEGER NTAPI KeQueryPerformanceCounter(PLARGE_INTEGER frequency) {
    Charge();
    Advance(g->counterReadPs);
    if (frequency != nullptr)
        frequency->QuadPart = g->counterHz;
    LARGE_INTEGER v;
    // counter = base + now * hz / 10^12, in pieces that do not overflow
    LONGLONG sec = g->now / 1000000000000LL, rest = g->now % 1000000000000LL;
    v.QuadPart = g->counterBase + sec * g->counterHz + rest / 1000 * g->counterHz / 1000000000LL;
    return v;
}

ULONG NTAPI KeQueryTimeIncrement(VOID) {
    return static_cast<ULONG>(g->tickPs / 100000);
}

// The system time advances by the clock tick, as the tick count does.
VOID NTAPI KeQuerySystemTime(PLARGE_INTEGER time) {
    Charge();
    time->QuadPart = g->systemTimeBase + g->now / g->tickPs * (g->tickPs / 100000);
}

// ---- Ports -------------------------------------------------------------------------------------

UCHAR NTAPI READ_PORT_UCHAR(PUCHAR port) {
    Charge();
    CheckIrqlAtMost(HIGH_LEVEL, "port read");
    if (g->cancelLockHeld)
        Violation("port access under the cancel spin lock");
    Advance(g->portPs);
    return PortRead(reinterpret_cast<ULONG_PTR>(port));
}

VOID NTAPI WRITE_PORT_UCHAR(PUCHAR port, UCHAR value) {
    Charge();
    if (g->cancelLockHeld)
        Violation("port access under the cancel spin lock");
    Advance(g->portPs);
    PortWrite(reinterpret_cast<ULONG_PTR>(port), value);
}

VOID NTAPI WRITE_PORT_BUFFER_UCHAR(PUCHAR port, PUCHAR buffer, ULONG count) {
    Charge();
    if (g->cancelLockHeld)
        Violation("port access under the cancel spin lock");
    for (ULONG i = 0; i < count; ++i) {
        Advance(g->portPs);
        PortWrite(reinterpret_cast<ULONG_PTR>(port), buffer[i]);
    }
}

PCONFIGURATION_INFORMATION NTAPI IoGetConfigurationInformation(VOID) {
    ++g->countReads;
    for (auto it = g->laterPorts.begin(); it != g->laterPorts.end();) {
        if (g->countReads > it->first) {
            AddPort(it->second);
            it = g->laterPorts.erase(it);
        } else {
            ++it;
        }
    }
    g_config.ParallelCount = static_cast<ULONG>(g->ports.size());
    return &g_config;
}

// ---- Paging ------------------------------------------------------------------------------------

VOID NTAPI MmResetDriverPaging(PVOID) {
    CheckIrqlAtMost(APC_LEVEL, "MmResetDriverPaging");
    g->pageable = 0;
}

PVOID NTAPI MmPageEntireDriver(PVOID address) {
    CheckIrqlAtMost(APC_LEVEL, "MmPageEntireDriver");
    g->pageable = 1;
    return address;
}

// ---- Objects -----------------------------------------------------------------------------------

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionBytes, PUNICODE_STRING name,
                              DEVICE_TYPE type, ULONG, BOOLEAN exclusive, PDEVICE_OBJECT *out) {
    Charge();
    if (name != nullptr && g->devices.count(Lower(name)))
        return STATUS_OBJECT_NAME_COLLISION;
    auto *d = static_cast<PDEVICE_OBJECT>(::operator new(sizeof(DEVICE_OBJECT)));
    std::memset(d, 0, sizeof *d);
    d->Type = 3;
    d->Size = sizeof(DEVICE_OBJECT);
    d->DriverObject = driver;
    d->DeviceType = type;
    d->StackSize = 1;
    d->Flags = DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0);
    d->DeviceExtension = extensionBytes ? ::operator new(extensionBytes) : nullptr;
    if (d->DeviceExtension)
        std::memset(d->DeviceExtension, 0, extensionBytes);
    d->NextDevice = driver->DeviceObject; // newest first
    driver->DeviceObject = d;
    if (name != nullptr) {
        g->devices[Lower(name)] = d;
        g->deviceNames[d] = Lower(name);
    }
    *out = d;
    return STATUS_SUCCESS;
}

VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT d) {
    Charge();
    PDEVICE_OBJECT *link = &d->DriverObject->DeviceObject;
    while (*link != nullptr && *link != d)
        link = &(*link)->NextDevice;
    if (*link == nullptr) {
        Violation("IoDeleteDevice of a device not in its driver's list");
        return;
    }
    *link = d->NextDevice;
    auto n = g->deviceNames.find(d);
    if (n != g->deviceNames.end()) {
        g->devices.erase(n->second);
        g->deviceNames.erase(n);
    }
    ::operator delete(d->DeviceExtension);
    std::memset(d, 0xDD, sizeof *d);
    ::operator delete(d);
}

NTSTATUS NTAPI IoGetDeviceObjectPointer(PUNICODE_STRING name, ACCESS_MASK, PFILE_OBJECT *file,
                                        PDEVICE_OBJECT *device) {
    Charge();
    auto it = g->devices.find(Lower(name));
    if (it == g->devices.end())
        return STATUS_OBJECT_NAME_NOT_FOUND;
    auto *f = static_cast<PFILE_OBJECT>(::operator new(sizeof(FILE_OBJECT)));
    std::memset(f, 0, sizeof *f);
    f->Type = 5;
    f->DeviceObject = it->second;
    g->files[f] = 1;
    *file = f;
    *device = it->second;
    return STATUS_SUCCESS;
}

LONG_PTR FASTCALL ObfDereferenceObject(PVOID object) {
    Charge();
    if (IsThread(object)) {
        auto *t = static_cast<Thread *>(object);
        if (--t->refs < 0)
            Violation("dereference of a thread without references");
        return t->refs;
    }
    auto it = g->files.find(static_cast<PFILE_OBJECT>(object));
    if (it == g->files.end()) {
        Violation("dereference of an object without references");
        return 0;
    }
    if (--it->second == 0) {
        ::operator delete(it->first);
        g->files.erase(it);
        return 0;
    }
    return it->second;
}

LONG_PTR FASTCALL ObfReferenceObject(PVOID object) {
    if (IsThread(object))
        return ++static_cast<Thread *>(object)->refs;
    auto it = g->files.find(static_cast<PFILE_OBJECT>(object));
    if (it == g->files.end())
        return 0;
    return ++it->second;
}

NTSTATUS NTAPI IoCreateUnprotectedSymbolicLink(PUNICODE_STRING link, PUNICODE_STRING target) {
    Charge();
    if (g->failLinks)
        return STATUS_INSUFFICIENT_RESOURCES;
    std::wstring l = Lower(link);
    if (g->links.count(l))
        return STATUS_OBJECT_NAME_COLLISION;
    g->links[l] = std::wstring(reinterpret_cast<const wchar_t *>(target->Buffer),
                               target->Length / sizeof(WCHAR));
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING link, PUNICODE_STRING target) {
    return IoCreateUnprotectedSymbolicLink(link, target);
}

NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING link) {
    Charge();
    if (g->links.erase(Lower(link)) == 0) {
        Violation("IoDeleteSymbolicLink of a link that does not exist");
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    return STATUS_SUCCESS;
}

// ---- Error log ---------------------------------------------------------------------------------

PVOID NTAPI IoAllocateErrorLogEntry(PVOID object, UCHAR size) {
    Charge();
    if (g->failErrorLog)
        return nullptr;
    if (size < sizeof(IO_ERROR_LOG_PACKET))
        Violation("error-log packet smaller than its header");
    auto *p = static_cast<unsigned char *>(::operator new(size));
    std::memset(p, 0xA5, size);
    g->logPending[p] = {object, size};
    return p;
}

VOID NTAPI IoWriteErrorLogEntry(PVOID entry) {
    Charge();
    auto it = g->logPending.find(static_cast<unsigned char *>(entry));
    if (it == g->logPending.end()) {
        Violation("IoWriteErrorLogEntry of an unknown packet");
        return;
    }
    SimLogEntry e{};
    e.object = it->second.object;
    e.size = it->second.size;
    std::memcpy(e.bytes, entry, e.size < sizeof e.bytes ? e.size : sizeof e.bytes);
    g->log.push_back(e);
    ::operator delete(it->first);
    g->logPending.erase(it);
}

// ---- Work queue --------------------------------------------------------------------------------

VOID NTAPI ExQueueWorkItem(PWORK_QUEUE_ITEM item, WORK_QUEUE_TYPE) {
    Charge();
    CheckIrqlAtMost(DISPATCH_LEVEL, "ExQueueWorkItem");
    g->work.push_back(item);
    StartSystemWorker();
}

// ---- Requests ----------------------------------------------------------------------------------

PIRP NTAPI IoBuildDeviceIoControlRequest(ULONG code, PDEVICE_OBJECT device, PVOID in, ULONG inBytes,
                                         PVOID out, ULONG outBytes, BOOLEAN internal,
                                         PRKEVENT event, PIO_STATUS_BLOCK iosb) {
    Charge();
    if (g->failPoolAt != 0 && --g->failPoolAt == 0)
        return nullptr;
    if (g->failBuiltAt != 0 && --g->failBuiltAt == 0)
        return nullptr;
    PIRP irp = NewIrp(device->StackSize);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.DeviceIoControl.InputBufferLength = inBytes;
    next->Parameters.DeviceIoControl.OutputBufferLength = outBytes;
    next->Parameters.DeviceIoControl.Type3InputBuffer = in;
    irp->AssociatedIrp.SystemBuffer = out != nullptr ? out : in;
    irp->UserEvent = event;
    irp->UserIosb = iosb;
    irp->Flags |= 0x80000000u; // built here: freed at final completion
    return irp;
}

NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT device, PIRP irp) {
    Charge();
    CheckIrqlAtMost(DISPATCH_LEVEL, "IoCallDriver");
    if (!LiveIrp(irp)) {
        Violation("IoCallDriver with a completed or unknown request");
        return STATUS_INVALID_PARAMETER;
    }
    if (irp->CurrentLocation <= 1) {
        Violation("IoCallDriver without a free stack location");
        return STATUS_INVALID_PARAMETER;
    }
    irp->CurrentLocation--;
    irp->Tail.Overlay.CurrentStackLocation--;
    PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation;
    stack->DeviceObject = device;
    KIRQL entry = g->irql;
    NTSTATUS status = device->DriverObject->MajorFunction[stack->MajorFunction](device, irp);
    if (g->irql != entry)
        Violation("dispatch routine returned at another IRQL");
    return status;
}

VOID FASTCALL IofCompleteRequest(PIRP irp, CCHAR boost) {
    Charge();
    CompletionBoost(irp, boost);
    CompletionHook(irp);
    CompleteIrp(irp);
}

BOOLEAN NTAPI IoCancelIrp(PIRP irp) {
    Charge();
    CheckIrqlAtMost(DISPATCH_LEVEL, "IoCancelIrp");
    if (!LiveIrp(irp)) {
        Violation("IoCancelIrp of a completed request");
        return FALSE;
    }
    if (g->cancelLockHeld)
        Violation("IoCancelIrp holding the cancel spin lock");
    g->cancelLockHeld = true;
    g->cancelLockOwner = Current();
    KIRQL old = g->irql;
    g->irql = DISPATCH_LEVEL;
    irp->Cancel = TRUE;
    PDRIVER_CANCEL routine = irp->CancelRoutine;
    irp->CancelRoutine = nullptr;
    if (routine == nullptr) {
        g->cancelLockHeld = false;
        g->irql = old;
        return FALSE;
    }
    irp->CancelIrql = old;
    routine(irp->Tail.Overlay.CurrentStackLocation->DeviceObject, irp);
    if (g->cancelLockHeld)
        Violation("cancel routine returned holding the cancel spin lock");
    return TRUE;
}

VOID NTAPI IoAcquireCancelSpinLock(PKIRQL irql) {
    Charge();
    if (g->cancelLockHeld)
        Violation("cancel spin lock acquired twice");
    CheckResident("cancel spin lock acquired");
    g->cancelLockHeld = true;
    g->cancelLockOwner = Current();
    *irql = g->irql;
    g->irql = DISPATCH_LEVEL;
}

VOID NTAPI IoReleaseCancelSpinLock(KIRQL irql) {
    Charge();
    if (!g->cancelLockHeld)
        Violation("cancel spin lock released while free");
    else if (g->cancelLockOwner != Current())
        Violation("cancel spin lock released by a thread that does not hold it");
    g->cancelLockHeld = false;
    g->cancelLockOwner = nullptr;
    g->irql = irql;
    RunCurrentApcs();
}

} // extern "C"
