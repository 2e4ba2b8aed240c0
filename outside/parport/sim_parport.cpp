// Stand-in of the system parallel port driver and of a port with a printer on it.
#define SIM_BUILDING 1
extern "C" {
#include <ntddk.h>
#include <parallel.h>
}
#include "../ntkernel/sim.h"
#include "../ntkernel/sim_internal.h"

#include <cstring>
#include <deque>
#include <string>

namespace sim {

struct Port {
    SimPortConfig config;
    ULONG index;
    PDEVICE_OBJECT device;
    bool held = false;
    bool heldByOther = false;
    std::deque<PIRP> waiters;
    SimPortCounts counts{};
    UCHAR data = 0, control = 0xCC, ecr = 0x15;
    ULONG fifoCount = 0;
    LONG completionDelayMs = 0; // requests complete this much later, outside the caller
    bool ignoreCancel = false;
    // The printer's answer to a reset through nInit.
    SimResetResponse reset = SimResetNone;
    LONG resetMs = 0;
    UCHAR resetStatus = 0;
    LONGLONG nInitLowAt = -1;
    ULONG resets = 0;
};

namespace {

constexpr UCHAR kEcrEmpty = 0x01, kEcrFull = 0x02;

void Complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    CompleteIrp(irp);
}

// Completes now, or later from the timer when the port delays its completions; the
// dispatch result follows.
NTSTATUS Finish(Port *port, PIRP irp, NTSTATUS status) {
    if (port->completionDelayMs <= 0) {
        Complete(irp, status);
        return status;
    }
    IoMarkIrpPending(irp);
    Schedule(g->now + static_cast<LONGLONG>(port->completionDelayMs) * 1000000000LL,
             [irp, status] { Complete(irp, status); });
    return STATUS_PENDING;
}

NTSTATUS Grant(Port *port, PIRP irp) {
    port->held = true;
    port->counts.grants++;
    irp->CancelRoutine = nullptr;
    return Finish(port, irp, STATUS_SUCCESS);
}

void GrantNext(Port *port) {
    while (!port->held && !port->waiters.empty()) {
        PIRP irp = port->waiters.front();
        port->waiters.pop_front();
        Grant(port, irp);
    }
}

extern "C" BOOLEAN NTAPI TryAllocate(PVOID context) {
    auto *port = static_cast<Port *>(context);
    if (port->held)
        return FALSE;
    port->held = true;
    port->counts.grants++;
    return TRUE;
}

extern "C" VOID NTAPI FreePortRoutine(PVOID context) {
    auto *port = static_cast<Port *>(context);
    if (!port->held || port->heldByOther)
        Violation("port freed while not granted");
    port->held = false;
    port->counts.frees++;
    GrantNext(port);
}

extern "C" ULONG NTAPI QueryWaiters(PVOID context) {
    return static_cast<ULONG>(static_cast<Port *>(context)->waiters.size());
}

extern "C" VOID NTAPI CancelAllocate(PDEVICE_OBJECT device, PIRP irp) {
    KIRQL irql = irp->CancelIrql;
    IoReleaseCancelSpinLock(irql);
    for (Port *port : g->ports) {
        if (port->device != device)
            continue;
        if (port->ignoreCancel)
            return; // it stays queued until the holder frees the port
        for (auto it = port->waiters.begin(); it != port->waiters.end(); ++it) {
            if (*it == irp) {
                port->waiters.erase(it);
                break;
            }
        }
    }
    Complete(irp, STATUS_CANCELLED);
}

void HoldPort(Port *port, LONG ms) {
    port->held = true;
    port->heldByOther = true;
    if (ms > 0) {
        Schedule(g->now + static_cast<LONGLONG>(ms) * 1000000000LL, [port] {
            if (!port->heldByOther)
                return;
            port->held = false;
            port->heldByOther = false;
            GrantNext(port);
        });
    }
}

Port *PortOf(PDEVICE_OBJECT device) {
    for (Port *p : g->ports) {
        if (p->device == device)
            return p;
    }
    return nullptr;
}

extern "C" NTSTATUS NTAPI PortInternalControl(PDEVICE_OBJECT device, PIRP irp) {
    Port *port = PortOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->IoStatus.Information = 0;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO: {
        if (port->config.failGet)
            return Finish(port, irp, STATUS_INVALID_DEVICE_REQUEST);
        if (stack->Parameters.DeviceIoControl.OutputBufferLength <
            sizeof(PARALLEL_PORT_INFORMATION)) {
            Complete(irp, STATUS_BUFFER_TOO_SMALL);
            return STATUS_BUFFER_TOO_SMALL;
        }
        auto *info = static_cast<PPARALLEL_PORT_INFORMATION>(irp->AssociatedIrp.SystemBuffer);
        info->OriginalController.QuadPart = port->config.physical;
        info->Controller = reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(port->config.base));
        info->SpanOfController = port->config.span;
        info->TryAllocatePort = TryAllocate;
        info->FreePort = FreePortRoutine;
        info->QueryNumWaiters = QueryWaiters;
        info->Context = port;
        port->counts.infoHolds++;
        irp->IoStatus.Information = sizeof(PARALLEL_PORT_INFORMATION);
        return Finish(port, irp, STATUS_SUCCESS);
    }
    case IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO:
        if (port->counts.infoHolds <= 0)
            Violation("port information released while not held");
        port->counts.infoHolds--;
        return Finish(port, irp, STATUS_SUCCESS);
    case IOCTL_INTERNAL_PARALLEL_PORT_ALLOCATE:
        port->counts.allocRequests++;
        if (!port->held)
            return Grant(port, irp);
        IoMarkIrpPending(irp);
        irp->CancelRoutine = CancelAllocate;
        port->waiters.push_back(irp);
        return STATUS_PENDING;
    default:
        Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

Port *PortAt(ULONG_PTR address, ULONG_PTR *offset) {
    static const ULONG_PTR kRegisters[] = {0, 1, 2, 0x400, 0x402};
    for (ULONG_PTR r : kRegisters) {
        for (Port *p : g->ports) {
            if (address == p->config.base + r) {
                *offset = r;
                return p;
            }
        }
    }
    for (Port *p : g->ports) {
        if (address >= p->config.base && address < p->config.base + 0x403) {
            *offset = address - p->config.base; // a register the port does not have
            return p;
        }
    }
    return nullptr;
}

} // namespace

// nInit must stay low this long for the printer to take it as a reset.
constexpr LONGLONG kMinResetPulsePs = 50LL * 1000000; // 50 us

constexpr UCHAR kBusy = 0x5F;  // busy, selected, no fault
constexpr UCHAR kReady = 0xDF; // not busy, selected, no fault

void Reset(Port *p) {
    p->resets++;
    switch (p->reset) {
    case SimResetNone:
        return;
    case SimResetReadyAfter: {
        p->config.status = p->resetMs > 0 ? kBusy : kReady;
        Schedule(g->now + static_cast<LONGLONG>(p->resetMs) * 1000000000LL,
                 [p] { p->config.status = kReady; });
        return;
    }
    case SimResetNeverReady:
        p->config.status = kBusy;
        return;
    case SimResetStopState:
        p->config.status = p->resetStatus;
        return;
    }
}

void CheckGranted(Port *p, ULONG_PTR offset, bool read) {
    // Status and ECR reads are harmless: the driver makes them while answering at once.
    if (read && (offset == 1 || offset == 0x402))
        return;
    if (p->config.strict && (!p->held || p->heldByOther)) {
        Violation("register access while the port is not granted");
    }
}

UCHAR PortRead(ULONG_PTR address) {
    ULONG_PTR off = 0;
    Port *p = PortAt(address, &off);
    if (p == nullptr) {
        Violation("read of an I/O address no port has");
        return 0xFF;
    }
    CheckGranted(p, off, true);
    switch (off) {
    case 0:
        return p->data;
    case 1:
        return p->config.status;
    case 2:
        return p->control;
    case 0x400:
        return 0xFF;
    case 0x402: {
        if (p->config.noEcp)
            return 0xFF;
        UCHAR v = static_cast<UCHAR>(p->ecr & 0xFC);
        ULONG depth = p->config.fifoDepth ? p->config.fifoDepth : 16;
        if (p->fifoCount == 0)
            v |= kEcrEmpty;
        if (p->fifoCount >= depth && !p->config.neverFull)
            v |= kEcrFull;
        if (p->config.badReadback)
            v ^= 0x40;
        return v;
    }
    default:
        Violation("read of a register the port does not have");
        return 0xFF;
    }
}

void PortWrite(ULONG_PTR address, UCHAR value) {
    ULONG_PTR off = 0;
    Port *p = PortAt(address, &off);
    if (p == nullptr) {
        Violation("write to an I/O address no port has");
        return;
    }
    CheckGranted(p, off, false);
    switch (off) {
    case 0:
        p->data = value;
        return;
    case 1:
        return; // status is read-only
    case 2: {
        const bool wasLow = !(p->control & 0x04), low = !(value & 0x04);
        p->control = value;
        if (!wasLow && low) {
            p->nInitLowAt = g->now;
        } else if (wasLow && !low && p->nInitLowAt >= 0) {
            const bool longEnough = g->now - p->nInitLowAt >= kMinResetPulsePs;
            p->nInitLowAt = -1;
            if (longEnough)
                Reset(p);
        }
        return;
    }
    case 0x400:
        if (((p->ecr >> 5) & 7) == 6) {
            ULONG depth = p->config.fifoDepth ? p->config.fifoDepth : 16;
            if (p->fifoCount < depth)
                p->fifoCount++;
        }
        return;
    case 0x402: {
        p->ecr = value;
        UCHAR mode = (value >> 5) & 7;
        if (mode == 0 || mode == 1)
            p->fifoCount = 0;
        return;
    }
    default:
        Violation("write to a register the port does not have");
    }
}

void ResetPorts() {}

void LateGrants() {
    for (Port *port : g->ports) {
        if (port->config.grantLate && port->heldByOther && !port->waiters.empty()) {
            port->held = false;
            port->heldByOther = false;
            GrantNext(port);
        }
    }
}

Port *AddPort(const SimPortConfig &config) {
    auto *port = new Port();
    port->config = config;
    port->index = static_cast<ULONG>(g->ports.size());
    g->portDriver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = PortInternalControl;
    std::wstring name = L"\\Device\\ParallelPort" + std::to_wstring(port->index);
    UNICODE_STRING u;
    u.Buffer = const_cast<PWSTR>(reinterpret_cast<const WCHAR *>(name.c_str()));
    u.Length = u.MaximumLength = static_cast<USHORT>(name.size() * 2);
    IoCreateDevice(g->portDriver, 0, &u, FILE_DEVICE_PARALLEL_PORT, 0, FALSE, &port->device);
    port->device->StackSize = config.stackSize > 0 ? config.stackSize : 1;
    g->ports.push_back(port);
    if (config.heldMs != 0)
        HoldPort(port, config.heldMs);
    return port;
}

void PortCounts(ULONG index, SimPortCounts *out) {
    *out = index < g->ports.size() ? g->ports[index]->counts : SimPortCounts{};
}

} // namespace sim

extern "C" SIMAPI BOOLEAN SimHoldPort(ULONG index, LONG ms) {
    using namespace sim;
    if (index >= g->ports.size() || g->ports[index]->held)
        return FALSE;
    HoldPort(g->ports[index], ms);
    return TRUE;
}

extern "C" SIMAPI void SimSetPortStatus(ULONG index, UCHAR status, LONG afterMs) {
    using namespace sim;
    if (index >= g->ports.size())
        return;
    Port *port = g->ports[index];
    if (afterMs <= 0) {
        port->config.status = status;
        return;
    }
    Schedule(g->now + static_cast<LONGLONG>(afterMs) * 1000000000LL,
             [port, status] { port->config.status = status; });
}

extern "C" SIMAPI void SimPortCompletionDelay(ULONG index, LONG ms) {
    using namespace sim;
    if (index < g->ports.size())
        g->ports[index]->completionDelayMs = ms;
}

extern "C" SIMAPI void SimPortIgnoreCancel(ULONG index, BOOLEAN ignore) {
    using namespace sim;
    if (index < g->ports.size())
        g->ports[index]->ignoreCancel = ignore != 0;
}

extern "C" SIMAPI void SimPortResetResponse(ULONG index, SimResetResponse response, LONG ms,
                                            UCHAR status) {
    using namespace sim;
    if (index >= g->ports.size())
        return;
    Port *port = g->ports[index];
    port->reset = response;
    port->resetMs = ms;
    port->resetStatus = status;
}

extern "C" SIMAPI ULONG SimPortResets(ULONG index) {
    using namespace sim;
    return index < g->ports.size() ? g->ports[index]->resets : 0;
}
