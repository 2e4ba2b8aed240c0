// Stand-in of the system parallel port driver and of a port with a printer on it.
#define SIM_BUILDING 1
extern "C" {
#include <ntddk.h>
#include <parallel.h>
}
#include "../ntkernel/sim.h"
#include "../ntkernel/sim_internal.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

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
    // Register accesses.
    SimAccessCounts access{};
    bool tracing = false;
    std::vector<SimAccess> trace;
    // The peripheral model.
    SimPeripheralConfig per{};
    enum Phase { Compat, Neg, EcpSetup, Fwd, Term23, Term27, Stuck, MceTurn } phase = Compat;
    ULONG mode = 2; // decoded from the request byte
    UCHAR requestByte = 0;
    bool latched = false;                           // event 3 seen
    UCHAR st = 0;                                   // status lines outside compatibility mode
    std::deque<std::pair<LONGLONG, UCHAR>> pending; // timed status changes, in order
    LONGLONG stuckUntil = 0;
    bool dbStarted = false;
    UCHAR lines = 0;
    bool eob = false;
    bool mceReverse = false; // Mce: turned to reverse
    int turnStep = 0;
    bool readyArmed = false; // ready follows once the host has seen nAck low
    ULONG compatBytes = 0;
    LONGLONG busyUntil = -1;
    LONGLONG pulseUntil = -1; // Busy and nAck low after a latched byte
    std::deque<UCHAR> fifo;   // ECP FIFO mode
    LONGLONG fifoDrainedAt = 0;
    std::vector<UCHAR> taken, requests, addresses;
    std::vector<ULONG> blocks;
    LONGLONG lastDataPs = -1, lastStrobePs = -1;
    bool lastWasData = false;
    ULONG violations = 0;
    std::string firstViolation;
    // Reverse channel.
    std::deque<UCHAR> replyNibble, replyEcp, replyMce, idReply;
    std::vector<UCHAR> deviceId;
    bool hasDeviceId = false;
    bool idSession = false; // the nibble session answers the device-ID request
    bool xflag = false;     // Select between nibbles
    int half = 0;           // nibble of the byte shown next
    bool presenting = false;
    ULONG nibbles = 0;
    std::deque<UCHAR> rfifo;  // ECP reverse bytes in the FIFO
    bool ecpFilling = false;  // events 40 to 47
    LONGLONG ecpNextAt = 0;   // next reply byte enters the FIFO
    LONGLONG driveFrom = -1;  // the peripheral drives the data lines from then
    LONGLONG driveUntil = -1; // until then (-1 for as long as it fills)
    ULONG lost = 0;
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

namespace {

constexpr LONGLONG kNsPs = 1000;
constexpr LONGLONG kMsPs = 1000000000LL;

// Status change after the configured latency (never when it is -1).
void Answer(Port *p, UCHAR v, LONGLONG extraPs = 0) {
    if (p->per.latencyNs < 0)
        return;
    const LONGLONG at = g->now + p->per.latencyNs * kNsPs + extraPs;
    if (at <= g->now && p->pending.empty()) {
        p->st = v;
        return;
    }
    p->pending.emplace_back(at, v);
}

bool ReplyReady(const Port *p);

void Settle(Port *p) {
    while (!p->pending.empty() && p->pending.front().first <= g->now) {
        p->st = p->pending.front().second;
        p->pending.pop_front();
    }
    if (p->phase == Port::Stuck && g->now >= p->stuckUntil)
        p->phase = Port::Compat;
    // FIFO bytes drain at the set rate.
    if (!p->fifo.empty() && p->per.fifoDrainNs >= 0) {
        const LONGLONG per = p->per.fifoDrainNs * kNsPs;
        while (!p->fifo.empty() && (per == 0 || g->now - p->fifoDrainedAt >= per)) {
            p->taken.push_back(p->fifo.front());
            p->fifo.pop_front();
            p->fifoDrainedAt = per == 0 ? g->now : p->fifoDrainedAt + per;
        }
    }
    if (p->fifo.empty())
        p->fifoDrainedAt = g->now;
    // ECP reverse bytes enter the FIFO at the set rate while it has room.
    if (p->ecpFilling && ReplyReady(p)) {
        const ULONG depth = p->config.fifoDepth ? p->config.fifoDepth : 16;
        const LONGLONG per = p->per.ecpReverseNs > 0 ? p->per.ecpReverseNs * kNsPs : 0;
        while (!p->replyEcp.empty() && p->rfifo.size() < depth && p->ecpNextAt <= g->now) {
            p->rfifo.push_back(p->replyEcp.front());
            p->replyEcp.pop_front();
            p->ecpNextAt += per;
        }
        if (p->ecpNextAt < g->now)
            p->ecpNextAt = g->now; // a full FIFO does not bank time
    }
}

ULONG DecodeRequest(const Port *p, UCHAR b) {
    const ULONG bs = p->per.blockSize ? p->per.blockSize : 512;
    if (b == 0x18)
        return 0;
    if (b == 0x08)
        return 1;
    if (b == 0x10)
        return 3;
    if (b == 0x28)
        return 8;
    if (b == 0x00 || (b == 0x04 && p->hasDeviceId))
        return 4; // nibble mode, the device ID

    if (b == static_cast<UCHAR>(bs / 256 + 10))
        return 5;
    if (b == static_cast<UCHAR>(bs / 256 + 2))
        return 6;
    return 0xFF;
}

ULONG MinGapNs(const Port *p) {
    if (p->per.minGapNs)
        return p->per.minGapNs;
    if (p->phase == Port::Compat)
        return 500;
    switch (p->mode) {
    case 1:
        return 1000;
    case 5:
    case 6:
        return 500;
    case 0:
        return 400;
    case 8:
        return p->per.mceMinNs;
    default:
        return 0;
    }
}

void CheckGap(Port *p, LONGLONG since, const char *what) {
    if (since < 0)
        return;
    const LONGLONG min = static_cast<LONGLONG>(MinGapNs(p)) * kNsPs;
    const LONGLONG tol = static_cast<LONGLONG>(p->per.toleranceNs) * kNsPs;
    const LONGLONG gap = g->now - since;
    if (min > 0 && gap < min - tol) {
        if (p->violations++ == 0) {
            char text[128];
            std::snprintf(text, sizeof text, "%s after %lld ps in mode %lu (at least %lld)", what,
                          static_cast<long long>(gap), static_cast<unsigned long>(p->mode),
                          static_cast<long long>(min - tol));
            p->firstViolation = text;
        }
    }
}

bool Checked(const Port *p) {
    return p->phase == Port::Compat || (p->phase == Port::Fwd && p->mode != 3);
}

void Take(Port *p, UCHAR b) {
    p->taken.push_back(b);
}

bool ReplyReady(const Port *p) {
    return p->taken.size() >= p->per.replyAfterBytes;
}

// The queue a nibble session or an Mce reverse read sends from.
std::deque<UCHAR> *NibbleSource(Port *p) {
    if (p->phase != Port::Fwd)
        return nullptr;
    if (p->mode == 4)
        return p->idSession ? &p->idReply : &p->replyNibble;
    if (p->mode == 8 && p->mceReverse)
        return &p->replyMce;
    return nullptr;
}

bool NibbleData(Port *p) {
    std::deque<UCHAR> *q = NibbleSource(p);
    return p->per.claimNoData || (q != nullptr && !q->empty() && ReplyReady(p));
}

// Status lines showing a nibble: nFault, Select, PError and inverted Busy carry bits 0-3, nAck
// low.
UCHAR NibbleLines(UCHAR n) {
    return static_cast<UCHAR>(((n & 1) ? 0x08 : 0) | ((n & 2) ? 0x10 : 0) | ((n & 4) ? 0x20 : 0) |
                              ((n & 8) ? 0 : 0x80));
}

// Between nibbles: not busy, nAck high, AckDataReq high; XFlag and nDataAvail are filled in
// as the status is read.
constexpr UCHAR kNibbleIdle = 0xE0;

bool Driving(const Port *p) {
    return p->driveFrom >= 0 && g->now >= p->driveFrom &&
           (p->driveUntil < 0 || g->now < p->driveUntil);
}

void ReverseLost(Port *p) {
    p->lost += static_cast<ULONG>(p->rfifo.size());
    p->rfifo.clear();
}

void PeripheralData(Port *p, UCHAR value) {
    Settle(p);
    if (!(p->control & 0x20) && Driving(p))
        Violation("host drives the data lines while the peripheral does");
    if (((p->ecr >> 5) & 7) == 3 && !p->config.noEcp) {
        p->addresses.push_back(value); // ECP address/command FIFO
        return;
    }
    if (p->phase == Port::Fwd && p->mode == 0) {
        if (p->lastWasData)
            CheckGap(p, p->lastDataPs, "data change");
        if (p->dbStarted && value != p->lines)
            Take(p, value);
        p->lines = value;
    }
    p->lastDataPs = g->now;
    p->lastWasData = true;
}

void PeripheralControl(Port *p, UCHAR old, UCHAR v) {
    Settle(p);
    const bool edge = ((old ^ v) & 0x01) != 0;
    const bool fell = edge && (v & 0x01);
    const bool autoFdFell = (v & 0x02) && !(old & 0x02);
    const bool autoFdRose = !(v & 0x02) && (old & 0x02);
    if (edge && Checked(p)) {
        if (p->lastWasData)
            CheckGap(p, p->lastDataPs, "strobe edge after a data change");
        CheckGap(p, p->lastStrobePs, "strobe phase");
    }
    if (edge) {
        p->lastStrobePs = g->now;
        p->lastWasData = false;
    }
    if ((old & 0x20) && !(v & 0x20)) { // direction forward
        if (Driving(p))
            Violation("host drives the data lines while the peripheral does");
        ReverseLost(p);
    }
    if (p->phase == Port::Fwd && p->mode == 3) {
        const bool nInitFell = (old & 0x04) && !(v & 0x04);
        const bool nInitRose = !(old & 0x04) && (v & 0x04);
        if ((v & 0x20) && nInitFell && !p->ecpFilling) { // events 38 and 39
            if (!p->per.noEvent40 && p->per.latencyNs >= 0) {
                const LONGLONG at = g->now + p->per.latencyNs * kNsPs;
                Answer(p, static_cast<UCHAR>(p->st & ~0x20)); // event 40: nAckReverse low
                p->ecpFilling = true;
                p->ecpNextAt = at;
                p->driveFrom = at;
                p->driveUntil = -1;
            }
            return;
        }
        if (nInitRose && p->ecpFilling) { // event 47: the peripheral stops
            Settle(p);
            p->ecpFilling = false;
            if (p->per.noEvent49) {
                p->driveUntil = g->now; // lines released, PError never raised
            } else {
                p->driveUntil = g->now + (p->per.latencyNs > 0 ? p->per.latencyNs : 0) * kNsPs;
                Answer(p, static_cast<UCHAR>(p->st | 0x20)); // event 49
            }
            return;
        }
    }
    switch (p->phase) {
    case Port::Compat:
        if ((v & 0x0F) == 0x06 && (old & 0x08)) { // event 1
            p->phase = Port::Neg;
            p->latched = false;
            p->st = p->config.status;
            p->pending.clear();
            if (!p->per.noEvent2)
                Answer(p, 0xB8); // event 2: nAck low, PError, Select, nFault high
        } else if (fell) {
            Take(p, p->data);
            if (p->per.ackPulseNs >= 0)
                p->pulseUntil = g->now + (p->per.ackPulseNs ? p->per.ackPulseNs : 400) * kNsPs;
            if (p->per.busyAfterByte > 0 &&
                ++p->compatBytes == static_cast<ULONG>(p->per.busyAfterByte))
                p->busyUntil = p->per.busyMs < 0 ? LLONG_MAX : g->now + p->per.busyMs * kMsPs;
        }
        return;
    case Port::Neg:
        if (v & 0x08) { // nSelectIn low: the host gave up
            p->phase = Port::Compat;
            p->pending.clear();
            return;
        }
        if (fell) { // event 3
            p->requestByte = p->data;
            p->requests.push_back(p->data);
            p->latched = true;
        } else if (p->latched && (v & 0x03) == 0 && (old & 0x03)) { // event 4
            if (p->per.refuse && p->per.refused == p->requestByte)
                return;
            p->mode = DecodeRequest(p, p->requestByte);
            p->phase = p->mode == 3 ? Port::EcpSetup : Port::Fwd;
            p->dbStarted = false;
            p->eob = false;
            if (p->mode == 4) {
                p->idSession = p->requestByte == 0x04;
                if (p->idSession)
                    p->idReply.assign(p->deviceId.begin(), p->deviceId.end());
                // XFlag: set accepts the device-ID request, clear the plain nibble request.
                p->xflag = p->idSession != (p->per.nibbleRefuse != 0);
                p->half = 0;
                p->presenting = false;
                Answer(p, kNibbleIdle); // events 5 and 6
                return;
            }
            Answer(p, p->per.faultNegotiated ? 0xD0 : 0xD8); // events 5 and 6
        }
        return;
    case Port::EcpSetup:
        if (autoFdFell) { // event 30
            p->phase = Port::Fwd;
            if (!p->per.noEvent31)
                Answer(p, 0xF8); // event 31: PError high
            return;
        }
        break;
    default:
        break;
    }
    if ((p->phase == Port::Fwd || p->phase == Port::EcpSetup) && (v & 0x08) && !(old & 0x08) &&
        !(v & 0x02)) { // event 22, or the first step of an Mce turnaround
        p->pending.clear();
        p->presenting = false;
        if (p->ecpFilling) {
            p->ecpFilling = false;
            p->driveUntil = g->now;
        }
        if (p->phase == Port::Fwd && p->mode == 8 && p->mceReverse) {
            p->phase = Port::MceTurn;
            p->turnStep = 1;
            if (p->per.mceTurnUnanswered != 1)
                Answer(p, 0x18); // not busy and nAck clear, Select and nFault set
            return;
        }
        if (p->mode == 8 && p->per.mceTurnUnanswered == 1) {
            p->phase = Port::Term23;
            return;
        }
        if (p->per.noEvent23) {
            p->phase = Port::Stuck;
            p->stuckUntil = g->now + 500 * kMsPs;
            p->st = 0x58;
        } else {
            p->phase = Port::Term23;
            Answer(p, 0x08); // events 23 and 24
        }
        return;
    }
    switch (p->phase) {
    case Port::Fwd:
        switch (p->mode) {
        case 1:
            if (edge)
                Take(p, p->data);
            return;
        case 5:
        case 6:
            if (autoFdFell) {
                Answer(p, 0x98); // nAck low
                p->readyArmed = true;
            } else if (autoFdRose) {
                p->blocks.push_back(static_cast<ULONG>(p->taken.size()));
                if (!p->per.neverPErrorLow)
                    Answer(p, 0xD8); // PError low: block taken
            } else if ((p->mode == 5 && edge) || (p->mode == 6 && fell)) {
                Take(p, p->data);
            }
            return;
        case 0:
            if (edge) {
                if (!p->dbStarted)
                    p->dbStarted = true;
                Take(p, p->data);
                p->lines = p->data;
            }
            return;
        case 4:
        nibble : {
            std::deque<UCHAR> *q = NibbleSource(p);
            if (autoFdFell) { // event 7: HostBusy low
                if (!NibbleData(p) || p->per.claimNoData || q == nullptr || q->empty())
                    return; // nothing to send: event 8 never comes
                if (++p->nibbles == p->per.nibbleStallAt)
                    return;
                const UCHAR n = p->half == 0 ? (q->front() & 0x0F) : (q->front() >> 4);
                p->presenting = true;
                Answer(p, NibbleLines(n));            // event 9 and 8: the nibble, PtrClk low
            } else if (autoFdRose && p->presenting) { // event 10: HostBusy high
                p->presenting = false;
                if (p->half == 1)
                    q->pop_front();
                p->half ^= 1;
                Answer(p, kNibbleIdle); // event 11: PtrClk high
            }
            return;
        }
        case 8:
            if (p->mceReverse)
                goto nibble;
            if (autoFdFell) {
                p->blocks.push_back(static_cast<ULONG>(p->taken.size()));
                p->eob = true;
                if (!p->per.noEndOfBlock)
                    Answer(p, 0x98);
            } else if (p->eob && autoFdRose) {
                p->eob = false;
                Answer(p, 0xD8);
            } else if (edge && !p->eob) {
                Take(p, p->data);
            }
            return;
        default:
            return;
        }
    case Port::Term23:
        if (autoFdFell && !(v & 0x08) && p->mode == 8) { // Mce turnaround to reverse
            p->phase = Port::MceTurn;
            p->turnStep = 2;
            if (p->per.mceTurnUnanswered != 2)
                Answer(p, 0x88); // not busy set
            return;
        }
        if (autoFdFell) { // event 25
            if (p->per.noEvent27) {
                p->phase = Port::Stuck;
                p->stuckUntil = g->now + 500 * kMsPs;
            } else {
                p->phase = Port::Term27;
                Answer(p, 0x48); // event 27: nAck high
            }
        }
        return;
    case Port::Term27:
        if (autoFdRose) // event 28
            p->phase = Port::Compat;
        return;
    case Port::MceTurn:
        if (p->turnStep == 1 && autoFdFell) {
            p->turnStep = 2;
            if (p->per.mceTurnUnanswered != 2)
                Answer(p, 0x98); // not busy set
        } else if (p->turnStep == 2 && autoFdRose) {
            p->phase = Port::Fwd;
            p->mceReverse = !p->mceReverse;
            p->half = 0;
            p->presenting = false;
            if (p->per.mceTurnUnanswered != 3)
                Answer(p, p->mceReverse ? kNibbleIdle : 0xD8); // nAck set
        }
        return;
    default:
        return;
    }
}

UCHAR PeripheralStatus(Port *p) {
    Settle(p);
    if (p->phase == Port::Compat) {
        UCHAR s = p->config.status;
        if (p->busyUntil > g->now)
            s = static_cast<UCHAR>(s & ~0x80);
        if (p->pulseUntil > g->now)
            s = static_cast<UCHAR>(s & ~0xC0); // busy, nAck low
        return s;
    }
    UCHAR s = static_cast<UCHAR>((p->st & 0xF8) | (p->config.status & 0x07));
    if (p->phase == Port::Fwd && !p->presenting && p->pending.empty()) {
        if (NibbleSource(p) != nullptr) {
            // Between nibbles: XFlag, and nDataAvail low while reply bytes remain.
            s = static_cast<UCHAR>(s & ~0x18);
            if (p->mode == 4 && p->xflag)
                s |= 0x10;
            if (p->mode == 8)
                s |= 0x10;
            if (!NibbleData(p))
                s |= 0x08;
        } else if (p->mode == 8 && !p->replyMce.empty() && ReplyReady(p)) {
            s = static_cast<UCHAR>(s & ~0x08); // reverse data waits
        } else if (p->mode == 3 && (!p->replyEcp.empty() || !p->rfifo.empty()) && ReplyReady(p)) {
            s = static_cast<UCHAR>(s & ~0x08);
        }
    }
    if (p->readyArmed && p->pending.empty() && !(p->st & 0x40)) {
        p->readyArmed = false;
        if (p->per.faultInReady)
            Answer(p, 0xF0, 1000 * kNsPs);
        else if (p->per.readyNs >= 0)
            Answer(p, 0xF8, p->per.readyNs * kNsPs + 1);
    }
    return s;
}

void FifoWrite(Port *p, UCHAR value) {
    Settle(p);
    const ULONG depth = p->config.fifoDepth ? p->config.fifoDepth : 16;
    if (p->fifo.size() >= depth) {
        if (p->violations++ == 0)
            p->firstViolation = "FIFO overrun";
        return;
    }
    if (p->fifo.empty())
        p->fifoDrainedAt = g->now;
    p->fifo.push_back(value);
    Settle(p);
}

void Count(Port *p, ULONG_PTR off, UCHAR value, bool write) {
    const int r = off == 0 ? 0 : off == 1 ? 1 : off == 2 ? 2 : off == 0x400 ? 3 : 4;
    (write ? p->access.writes : p->access.reads)[r]++;
    p->access.total++;
    if (p->tracing) {
        SimAccess a{};
        a.ps = g->now;
        Thread *t = Current();
        a.thread = t != nullptr ? t->id : 0;
        a.reg = static_cast<USHORT>(off);
        a.value = value;
        a.write = write;
        a.irql = g->irql;
        p->trace.push_back(a);
    }
}

} // namespace

void CheckGranted(Port *p, ULONG_PTR offset, bool read) {
    // Status and ECR reads are harmless: the driver makes them while answering at once.
    if (read && (offset == 1 || offset == 0x402))
        return;
    if (p->config.strict && (!p->held || p->heldByOther)) {
        Violation("register access while the port is not granted");
    }
}

UCHAR PortReadRegister(Port *p, ULONG_PTR off);

UCHAR PortRead(ULONG_PTR address) {
    ULONG_PTR off = 0;
    Port *p = PortAt(address, &off);
    if (p == nullptr) {
        Violation("read of an I/O address no port has");
        return 0xFF;
    }
    CheckGranted(p, off, true);
    UCHAR v = PortReadRegister(p, off);
    Count(p, off, v, false);
    return v;
}

UCHAR PortReadRegister(Port *p, ULONG_PTR off) {
    switch (off) {
    case 0:
        return p->data;
    case 1:
        return p->per.enabled ? PeripheralStatus(p) : p->config.status;
    case 2:
        return p->control;
    case 0x400:
        if (((p->ecr >> 5) & 7) == 3 && (p->control & 0x20) && p->per.enabled) {
            Settle(p);
            if (p->rfifo.empty())
                return 0xFF;
            const UCHAR b = p->rfifo.front();
            p->rfifo.pop_front();
            return b;
        }
        return 0xFF;
    case 0x402: {
        if (p->config.noEcp)
            return 0xFF;
        if (p->per.enabled)
            Settle(p);
        if (((p->ecr >> 5) & 7) == 3)
            p->fifoCount =
                static_cast<ULONG>((p->control & 0x20) ? p->rfifo.size() : p->fifo.size());
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
    Count(p, off, value, true);
    switch (off) {
    case 0:
        p->data = value;
        if (p->per.enabled)
            PeripheralData(p, value);
        return;
    case 1:
        return; // status is read-only
    case 2: {
        const bool wasLow = !(p->control & 0x04), low = !(value & 0x04);
        const UCHAR old = p->control;
        p->control = value;
        if (p->per.enabled)
            PeripheralControl(p, old, value);
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
        if (((p->ecr >> 5) & 7) == 3 && p->per.enabled) {
            FifoWrite(p, value);
            p->fifoCount = static_cast<ULONG>(p->fifo.size());
            return;
        }
        if (((p->ecr >> 5) & 7) == 6) {
            ULONG depth = p->config.fifoDepth ? p->config.fifoDepth : 16;
            if (p->fifoCount < depth)
                p->fifoCount++;
        }
        return;
    case 0x402: {
        if (((p->ecr >> 5) & 7) == 3 && ((value >> 5) & 7) != 3)
            ReverseLost(p);
        p->ecr = value;
        UCHAR mode = (value >> 5) & 7;
        if (mode == 0 || mode == 1) {
            p->fifoCount = 0;
            p->fifo.clear();
        }
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

extern "C" SIMAPI void SimSetPeripheral(ULONG index, const SimPeripheralConfig *config) {
    using namespace sim;
    if (index >= g->ports.size())
        return;
    Port *p = g->ports[index];
    if (!p->per.enabled || !config->enabled) {
        p->phase = Port::Compat; // the lines' state stays while it stays enabled
        p->mode = 2;
        p->pending.clear();
        p->fifo.clear();
        p->rfifo.clear();
        p->ecpFilling = false;
        p->mceReverse = false;
    }
    p->per = *config;
    p->nibbles = 0;
    p->lost = 0;
    p->driveFrom = p->driveUntil = -1;
    p->taken.clear();
    p->requests.clear();
    p->addresses.clear();
    p->blocks.clear();
    p->violations = 0;
    p->firstViolation.clear();
    p->compatBytes = 0;
    p->busyUntil = -1;
    p->pulseUntil = -1;
    p->lastDataPs = p->lastStrobePs = -1;
}

extern "C" SIMAPI ULONG SimPeripheralStream(ULONG index, SimStream which, void *out, ULONG cap) {
    using namespace sim;
    if (index >= g->ports.size())
        return 0;
    Port *p = g->ports[index];
    Settle(p);
    if (which == SimStreamBlocks) {
        const ULONG n = static_cast<ULONG>(p->blocks.size());
        if (out != nullptr)
            std::memcpy(out, p->blocks.data(), (n < cap ? n : cap) * sizeof(ULONG));
        return n;
    }
    const std::vector<UCHAR> &v = which == SimStreamData       ? p->taken
                                  : which == SimStreamRequests ? p->requests
                                                               : p->addresses;
    const ULONG n = static_cast<ULONG>(v.size());
    if (out != nullptr)
        std::memcpy(out, v.data(), n < cap ? n : cap);
    return n;
}

extern "C" SIMAPI ULONG SimPeripheralPhase(ULONG index) {
    using namespace sim;
    if (index >= g->ports.size())
        return 0;
    Port *p = g->ports[index];
    Settle(p);
    switch (p->phase) {
    case Port::Compat:
    case Port::Stuck:
        return 2;
    case Port::Fwd:
        return p->mode;
    default:
        return 0x100;
    }
}

extern "C" SIMAPI ULONG SimTimingViolations(ULONG index, char *first, ULONG cap) {
    using namespace sim;
    if (index >= g->ports.size())
        return 0;
    Port *p = g->ports[index];
    if (first != nullptr && cap > 0) {
        std::strncpy(first, p->firstViolation.c_str(), cap - 1);
        first[cap - 1] = 0;
    }
    return p->violations;
}

extern "C" SIMAPI void SimPortAccesses(ULONG index, SimAccessCounts *counts, BOOLEAN reset) {
    using namespace sim;
    if (index >= g->ports.size()) {
        *counts = SimAccessCounts{};
        return;
    }
    *counts = g->ports[index]->access;
    if (reset)
        g->ports[index]->access = SimAccessCounts{};
}

extern "C" SIMAPI void SimTraceEnable(ULONG index, BOOLEAN on) {
    using namespace sim;
    if (index >= g->ports.size())
        return;
    g->ports[index]->tracing = on != 0;
    g->ports[index]->trace.clear();
}

extern "C" SIMAPI BOOLEAN SimTraceAt(ULONG index, ULONG i, SimAccess *access) {
    using namespace sim;
    if (index >= g->ports.size() || i >= g->ports[index]->trace.size())
        return FALSE;
    *access = g->ports[index]->trace[i];
    return TRUE;
}

extern "C" SIMAPI void SimPeripheralReply(ULONG index, SimReply kind, const void *bytes,
                                          ULONG count) {
    using namespace sim;
    if (index >= g->ports.size())
        return;
    Port *p = g->ports[index];
    const auto *b = static_cast<const UCHAR *>(bytes);
    switch (kind) {
    case SimReplyNibble:
        p->replyNibble.assign(b, b + count);
        return;
    case SimReplyDeviceId:
        p->deviceId.assign(b, b + count);
        p->hasDeviceId = true;
        return;
    case SimReplyEcp:
        p->replyEcp.assign(b, b + count);
        return;
    case SimReplyMce:
        p->replyMce.assign(b, b + count);
        return;
    }
}

extern "C" SIMAPI ULONG SimPeripheralReplyLeft(ULONG index, SimReply kind) {
    using namespace sim;
    if (index >= g->ports.size())
        return 0;
    Port *p = g->ports[index];
    Settle(p);
    switch (kind) {
    case SimReplyNibble:
        return static_cast<ULONG>(p->replyNibble.size());
    case SimReplyDeviceId:
        return static_cast<ULONG>(p->idReply.size());
    case SimReplyEcp:
        return static_cast<ULONG>(p->replyEcp.size() + p->rfifo.size());
    case SimReplyMce:
        return static_cast<ULONG>(p->replyMce.size());
    }
    return 0;
}

extern "C" SIMAPI ULONG SimPeripheralLost(ULONG index) {
    using namespace sim;
    return index < g->ports.size() ? g->ports[index]->lost : 0;
}
