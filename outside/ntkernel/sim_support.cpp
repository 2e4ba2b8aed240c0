// Simulated kernel: request completion, registry, and the test-facing controls.
#define SIM_BUILDING 1
extern "C" {
#include <ntddk.h>
}
#include "sim.h"
#include "sim_internal.h"
#include "sim_pages.h"

#include <cstring>
#include <cwchar>

namespace sim {

PIRP NewIrp(CCHAR stackSize) {
    size_t bytes = sizeof(IRP) + stackSize * sizeof(IO_STACK_LOCATION);
    auto *irp = static_cast<PIRP>(GuardedAlloc(bytes));
    std::memset(irp, 0, bytes);
    irp->Type = 6;
    irp->Size = static_cast<USHORT>(bytes);
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<CHAR>(stackSize + 1);
    irp->Tail.Overlay.Thread = reinterpret_cast<PETHREAD>(Current());
    irp->Tail.Overlay.CurrentStackLocation =
        reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stackSize;
    g->irps.insert(irp);
    g->completions.erase(irp); // a new request at a freed one's address
    return irp;
}

void RunOneWorkItem() {
    PWORK_QUEUE_ITEM item = g->work.front();
    g->work.pop_front();
    // Worker threads run at passive level.
    KIRQL entry = g->irql;
    g->irql = PASSIVE_LEVEL;
    item->WorkerRoutine(item->Parameter);
    if (g->irql != PASSIVE_LEVEL)
        Violation("work item returned at another IRQL");
    if (g->cancelLockHeld)
        Violation("work item returned holding the cancel spin lock");
    g->irql = entry;
}

bool LiveIrp(PIRP irp) {
    return g->irps.count(irp) != 0;
}

void CompleteIrp(PIRP irp) {
    if (!LiveIrp(irp)) {
        Violation("completion of a completed or unknown request");
        return;
    }
    if (irp->CancelRoutine != nullptr)
        Violation("request completed with its cancel routine set");
    CheckIrqlAtMost(DISPATCH_LEVEL, "IoCompleteRequest");
    if (irp->IoStatus.Status == STATUS_PENDING)
        Violation("request completed with STATUS_PENDING");
    while (irp->CurrentLocation <= irp->StackCount) {
        PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation;
        irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
        PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        PVOID context = stack->Context;
        UCHAR control = stack->Control;
        irp->CurrentLocation++;
        irp->Tail.Overlay.CurrentStackLocation++;
        NTSTATUS status = irp->IoStatus.Status;
        bool invoke =
            routine != nullptr && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                   (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                                   (irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
        if (invoke) {
            PDEVICE_OBJECT device = irp->CurrentLocation <= irp->StackCount
                                        ? irp->Tail.Overlay.CurrentStackLocation->DeviceObject
                                        : nullptr;
            KIRQL entry = g->irql;
            NTSTATUS r = routine(device, irp, context);
            if (g->irql != entry)
                Violation("completion routine returned at another IRQL");
            if (r == STATUS_MORE_PROCESSING_REQUIRED)
                return;
        } else if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
            irp->Tail.Overlay.CurrentStackLocation->Control |= SL_PENDING_RETURNED;
        }
    }
    // Final completion: the request leaves the driver now; the I/O manager's own work runs
    // as an APC in the thread that issued it.
    g->completions[irp]++;
    g->irps.erase(irp);
    CompletionSeen(irp);
    DeliverApc(reinterpret_cast<Thread *>(irp->Tail.Overlay.Thread), [irp] {
        if (g->issued.count(irp)) {
            FinishIssued(irp);
            return;
        }
        if (irp->UserIosb != nullptr)
            *irp->UserIosb = irp->IoStatus;
        if (irp->UserEvent != nullptr)
            irp->UserEvent->Header.SignalState = 1;
        if (irp->Flags & 0x80000000u) {
            const USHORT size = irp->Size;
            std::memset(irp, 0xDD, size);
            GuardedFree(irp, size);
        }
    });
}

namespace {

std::wstring KeyPath(ULONG relativeTo, PCWSTR path) {
    std::wstring p;
    switch (relativeTo & 0xFFFF) {
    case RTL_REGISTRY_DEVICEMAP:
        p = L"\\registry\\machine\\hardware\\devicemap\\";
        break;
    case RTL_REGISTRY_SERVICES:
        p = L"\\registry\\machine\\system\\currentcontrolset\\services\\";
        break;
    default:
        break;
    }
    return Lower(
        reinterpret_cast<const WCHAR *>((p + reinterpret_cast<const wchar_t *>(path)).c_str()));
}

} // namespace

} // namespace sim

using namespace sim;

extern "C" {

NTSTATUS NTAPI RtlCheckRegistryKey(ULONG relativeTo, PWSTR path) {
    Charge();
    CheckIrqlAtMost(PASSIVE_LEVEL, "RtlCheckRegistryKey");
    return g->registry.count(KeyPath(relativeTo, path)) ? STATUS_SUCCESS
                                                        : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS NTAPI RtlQueryRegistryValues(ULONG relativeTo, PCWSTR path,
                                      PRTL_QUERY_REGISTRY_TABLE table, PVOID context, PVOID) {
    Charge();
    CheckIrqlAtMost(PASSIVE_LEVEL, "RtlQueryRegistryValues");
    auto key = g->registry.find(KeyPath(relativeTo, path));
    if (key == g->registry.end()) {
        if (!(relativeTo & RTL_REGISTRY_OPTIONAL))
            return STATUS_OBJECT_NAME_NOT_FOUND;
        if (!g->optionalDefaults)
            return STATUS_SUCCESS;
    }
    for (; table->QueryRoutine != nullptr || table->Name != nullptr; ++table) {
        const RegValue *value = nullptr;
        if (key != g->registry.end() && table->Name != nullptr) {
            auto v = key->second.find(Lower(table->Name));
            if (v != key->second.end())
                value = &v->second;
        }
        ULONG type;
        PVOID data;
        ULONG bytes;
        if (value != nullptr) {
            type = value->type;
            data = const_cast<unsigned char *>(value->data.data());
            bytes = static_cast<ULONG>(value->data.size());
        } else if (table->Flags & RTL_QUERY_REGISTRY_REQUIRED) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        } else if (table->DefaultType == REG_NONE) {
            continue;
        } else {
            type = table->DefaultType;
            data = table->DefaultData;
            bytes = table->DefaultLength;
            if (bytes == 0 && type == REG_SZ)
                bytes = static_cast<ULONG>((wcslen(static_cast<wchar_t *>(data)) + 1) * 2);
        }
        if (table->Flags & RTL_QUERY_REGISTRY_DIRECT) {
            if (type == REG_SZ) {
                auto *s = static_cast<PUNICODE_STRING>(table->EntryContext);
                ULONG n = bytes < s->MaximumLength ? bytes : s->MaximumLength;
                std::memcpy(s->Buffer, data, n);
                s->Length = static_cast<USHORT>(n >= 2 ? n - 2 : 0);
            } else {
                // No type check, as the system has none here: the data goes over the field.
                std::memcpy(table->EntryContext, data, bytes);
            }
            continue;
        }
        NTSTATUS status = table->QueryRoutine(const_cast<PWSTR>(table->Name), type, data, bytes,
                                              context, table->EntryContext);
        if (!NT_SUCCESS(status))
            return status;
    }
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlWriteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR name, ULONG type,
                                     PVOID data, ULONG bytes) {
    Charge();
    CheckIrqlAtMost(PASSIVE_LEVEL, "RtlWriteRegistryValue");
    if ((relativeTo & 0xFFFF) == RTL_REGISTRY_DEVICEMAP && g->failDeviceMap)
        return STATUS_ACCESS_DENIED;
    RegValue v;
    v.type = type;
    v.data.assign(static_cast<unsigned char *>(data), static_cast<unsigned char *>(data) + bytes);
    g->registry[KeyPath(relativeTo, path)][Lower(name)] = v;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlDeleteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR name) {
    Charge();
    auto key = g->registry.find(KeyPath(relativeTo, path));
    if (key == g->registry.end() || key->second.erase(Lower(name)) == 0) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    return STATUS_SUCCESS;
}

// ---- Controls of the tests ---------------------------------------------------------------------

SIMAPI void SimReset() {
    if (g != nullptr) {
        // Objects of the previous test are dropped with its state; their memory is leaked on
        // purpose so that a stale pointer never reaches reused memory.
        ResetPorts();
    }
    g = new State();
    g->tickBase = 0xFFFFF000ULL;                 // near 2^32 ticks
    g->counterBase = 10000000LL * 3600 * 24 * 7; // a week of uptime
    g->driver = static_cast<DRIVER_OBJECT *>(::operator new(sizeof(DRIVER_OBJECT)));
    std::memset(g->driver, 0, sizeof(DRIVER_OBJECT));
    g->portDriver = static_cast<DRIVER_OBJECT *>(::operator new(sizeof(DRIVER_OBJECT)));
    std::memset(g->portDriver, 0, sizeof(DRIVER_OBJECT));
    UpdateTick();
    ResetThreads();
}

SIMAPI PDRIVER_OBJECT SimDriverObject() {
    return g->driver;
}
SIMAPI LONGLONG SimNowPs() {
    return g->now;
}

SIMAPI void SimSetCosts(ULONG portAccessPs, ULONG counterReadPs, ULONG loopPassFs) {
    g->portPs = portAccessPs;
    g->counterReadPs = counterReadPs;
    g->passFs = loopPassFs;
}

SIMAPI void SimSetTimeIncrement(ULONG units) {
    g->tickPs = units > 0 ? static_cast<LONGLONG>(units) * 100000 : 1000000000LL;
}

SIMAPI void SimSetClock(LONGLONG counterHz, LONGLONG uptimeMs) {
    g->counterHz = counterHz;
    g->counterBase = uptimeMs / 1000 * counterHz + uptimeMs % 1000 * counterHz / 1000;
    g->tickBase = static_cast<ULONGLONG>(uptimeMs);
    UpdateTick();
}

SIMAPI void SimWatchLoopCounter(volatile LONG *counter) {
    g->loopCounter = counter;
    g->loopSeen = *counter;
}

SIMAPI ULONG SimPoolBlocks(ULONG tag) {
    ULONG n = 0;
    for (auto &b : g->pool)
        n += (tag == 0 || b.second.tag == tag) ? 1 : 0;
    return n;
}

SIMAPI void SimFailPoolAt(ULONG n) {
    g->failPoolAt = n;
}

SIMAPI void SimFailPoolAllocation(ULONG tag, ULONG bytes, ULONG nth) {
    g->failPoolTag = nth != 0 ? tag : 0;
    g->failPoolBytes = bytes;
    g->failPoolNth = nth;
}

SIMAPI BOOLEAN SimAccessible(const void *address) {
    return Accessible(address) ? TRUE : FALSE;
}

SIMAPI void SimFailBuiltRequestAt(ULONG n) {
    g->failBuiltAt = n;
}

SIMAPI void SimRegCreateKey(const WCHAR *key) {
    g->registry[Lower(key)];
}

SIMAPI void SimRegSet(const WCHAR *key, const WCHAR *name, ULONG type, const void *data,
                      ULONG bytes) {
    RegValue v;
    v.type = type;
    v.data.assign(static_cast<const unsigned char *>(data),
                  static_cast<const unsigned char *>(data) + bytes);
    g->registry[Lower(key)][Lower(name)] = v;
}

SIMAPI BOOLEAN SimRegGet(const WCHAR *key, const WCHAR *name, ULONG *type, void *data,
                         ULONG *bytes) {
    auto k = g->registry.find(Lower(key));
    if (k == g->registry.end())
        return FALSE;
    auto v = k->second.find(Lower(name));
    if (v == k->second.end())
        return FALSE;
    *type = v->second.type;
    ULONG n = static_cast<ULONG>(v->second.data.size());
    if (data != nullptr)
        std::memcpy(data, v->second.data.data(), n < *bytes ? n : *bytes);
    *bytes = n;
    return TRUE;
}

SIMAPI void SimSetOptionalKeyDefaults(BOOLEAN applied) {
    g->optionalDefaults = applied != 0;
}
SIMAPI void SimFailDeviceMapWrites(BOOLEAN fail) {
    g->failDeviceMap = fail != 0;
}

SIMAPI PDEVICE_OBJECT SimFindDevice(const WCHAR *name) {
    auto it = g->devices.find(Lower(name));
    return it == g->devices.end() ? nullptr : it->second;
}

SIMAPI BOOLEAN SimLinkTarget(const WCHAR *link, WCHAR *target, ULONG chars) {
    auto it = g->links.find(Lower(link));
    if (it == g->links.end() || it->second.size() + 1 > chars)
        return FALSE;
    std::memcpy(target, it->second.c_str(), (it->second.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

SIMAPI ULONG SimLinkCount() {
    return static_cast<ULONG>(g->links.size());
}
SIMAPI void SimFailLinks(BOOLEAN fail) {
    g->failLinks = fail != 0;
}

SIMAPI LONG SimFileReferences() {
    LONG n = 0;
    for (auto &f : g->files)
        n += f.second;
    return n;
}

SIMAPI ULONG SimLogCount() {
    return static_cast<ULONG>(g->log.size());
}
SIMAPI BOOLEAN SimLogAt(ULONG i, SimLogEntry *entry) {
    if (i >= g->log.size())
        return FALSE;
    *entry = g->log[i];
    return TRUE;
}
SIMAPI void SimFailErrorLog(BOOLEAN fail) {
    g->failErrorLog = fail != 0;
}

SIMAPI PIRP SimNewRequest(PDEVICE_OBJECT device, UCHAR major) {
    PIRP irp = NewIrp(device->StackSize);
    irp->CurrentLocation--;
    irp->Tail.Overlay.CurrentStackLocation--;
    irp->Tail.Overlay.CurrentStackLocation->MajorFunction = major;
    irp->Tail.Overlay.CurrentStackLocation->DeviceObject = device;
    return irp;
}

SIMAPI BOOLEAN SimRequestLive(PIRP irp) {
    return LiveIrp(irp);
}

SIMAPI ULONG SimCompletions(PIRP irp) {
    auto it = g->completions.find(irp);
    return it == g->completions.end() ? 0 : it->second;
}

SIMAPI ULONG SimQueuedWork() {
    return static_cast<ULONG>(g->work.size());
}

SIMAPI void SimHoldWorkQueue(BOOLEAN held) {
    g->workHeld = held != 0;
}

SIMAPI void SimRunUntilIdle() {
    // Every other thread and every timed event runs until all wait for ever.
    g->workHeld = false;
    CheckIrqlAtMost(APC_LEVEL, "SimRunUntilIdle");
    Thread *self = Current();
    WaitUntil([self] { return !OthersCanRun(self) && g->events.empty() && !ThreadsDue(self); }, -1);
}

SIMAPI ULONG SimViolationCount() {
    return static_cast<ULONG>(g->violations.size());
}
SIMAPI const char *SimViolationAt(ULONG i) {
    return i < g->violations.size() ? g->violations[i].c_str() : nullptr;
}
SIMAPI LONG SimPageableState() {
    return g->pageable;
}

SIMAPI void SimDefaultPort(SimPortConfig *c) {
    std::memset(c, 0, sizeof *c);
    c->base = 0x378;
    c->span = 8;
    c->physical = 0x378;
    c->stackSize = 1;
    c->fifoDepth = 16;
    c->status = 0xDF;
}

SIMAPI ULONG SimAddPort(const SimPortConfig *config) {
    AddPort(*config);
    return static_cast<ULONG>(g->ports.size() - 1);
}

SIMAPI void SimAddPortLater(const SimPortConfig *config, ULONG calls) {
    g->laterPorts.emplace_back(calls, *config);
}

SIMAPI void SimPortCountsOf(ULONG index, SimPortCounts *counts) {
    PortCounts(index, counts);
}

} // extern "C"
