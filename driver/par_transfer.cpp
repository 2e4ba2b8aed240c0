// tandrel: IEEE 1284 negotiation and termination, the forward writers of every mode, the
// Mce turnarounds and the throughput probe.
#include "par_transfer.h"

namespace {

constexpr UCHAR kStrobe = 0x01;  // set: nStrobe low
constexpr UCHAR kAutoFd = 0x02;  // set: nAutoFd low
constexpr UCHAR kReverse = 0x20; // direction
constexpr UCHAR kEcrEmpty = 0x01, kEcrFull = 0x02;
constexpr LONGLONG k35Ms = 350000; // 100-ns units

// The control register as the driver last left it (read once while the port is held).
UCHAR Ctl(ParDeviceExtension *ext) {
    if (!ext->ControlKnown) {
        ext->Control = ParRead(ext, kRegControl);
        ext->ControlKnown = TRUE;
    }
    return ext->Control;
}

void SetCtl(ParDeviceExtension *ext, UCHAR value) {
    if (ext->ControlKnown && ext->Control == value) {
        return;
    }
    ParWrite(ext, kRegControl, value);
    ext->Control = value;
    ext->ControlKnown = TRUE;
}

UCHAR Status(ParDeviceExtension *ext) {
    return ParRead(ext, kRegStatus);
}

void StallNs(ParDeviceExtension *ext, ULONG ns) {
    ParStallExecution(ns, ext->StallStepFine, ext->StallOverhead, &MceTmp);
}

void StallUs(ULONG us) {
    KeStallExecutionProcessor(us);
}

// Raises to the transfer level for byte loops; delays lower it to passive meanwhile.
struct Level {
    KIRQL old = PASSIVE_LEVEL;
    bool raised = false;
    void Raise() {
        if (!raised) {
            KeRaiseIrql(kParTimingIrql, &old);
            raised = true;
        }
    }
    void Lower() {
        if (raised) {
            KeLowerIrql(old);
            raised = false;
        }
    }
    ~Level() { Lower(); }
};

void Delay100Ns(LONGLONG units) {
    LARGE_INTEGER d;
    d.QuadPart = -units;
    KeDelayExecutionThread(KernelMode, FALSE, &d);
}

// A delay at passive level, the transfer level raised again afterwards when it was.
void Delay(Level &level, LONGLONG units) {
    const bool was = level.raised;
    level.Lower();
    Delay100Ns(units);
    if (was) {
        level.Raise();
    }
}

void DelayMs(LONGLONG ms) {
    Delay100Ns(ms * 10000);
}

// Polls the status up to count times, stalling us microseconds after each miss, until
// (status & mask) == want; the last status read in *last.
bool PollStatus(ParDeviceExtension *ext, UCHAR mask, UCHAR want, ULONG count, ULONG us,
                UCHAR *last) {
    for (ULONG i = 0; i < count; ++i) {
        const UCHAR s = Status(ext);
        *last = s;
        if ((s & mask) == want) {
            return true;
        }
        if (us != 0) {
            StallUs(us);
        }
    }
    return false;
}

// Waits by the tick clock at most limit (100-ns units) until (status & mask) == want.
bool WaitStatus(ParDeviceExtension *ext, UCHAR mask, UCHAR want, LONGLONG limit, UCHAR *last) {
    LARGE_INTEGER start;
    KeQueryTickCount(&start);
    for (;;) {
        const UCHAR s = Status(ext);
        *last = s;
        if ((s & mask) == want) {
            return true;
        }
        if (ParElapsedSince(start) > limit) {
            return false;
        }
    }
}

constexpr UCHAR kReadyLines = par::kStatusNotBusy | par::kStatusNAck | par::kStatusPError;

// The block writers' ready wait: up to polls polls, each after a delay of delay100Ns, and
// never longer than Timeout seconds by the tick clock. Ends early when nFault drops and
// watchFault is set.
bool ReadyWait(ParDeviceExtension *ext, ULONGLONG polls, LONGLONG delay100Ns, bool watchFault) {
    LARGE_INTEGER start;
    KeQueryTickCount(&start);
    const LONGLONG limit = static_cast<LONGLONG>(ext->Timeout) * par::kHundredNsPerSecond;
    for (ULONGLONG i = 0; i < polls; ++i) {
        Delay100Ns(delay100Ns);
        const UCHAR s = Status(ext);
        if (watchFault && !(s & par::kStatusNFault)) {
            return false;
        }
        if ((s & kReadyLines) == kReadyLines) {
            return true;
        }
        if (ParElapsedSince(start) > limit) {
            return false;
        }
    }
    return false;
}

// Sends count bytes in compatibility mode, each after a busy check, the first one's already
// made by the caller when firstChecked. *sent counts the bytes strobed.
bool CompatBytes(ParDeviceExtension *ext, ULONG count, const UCHAR *data, bool firstChecked,
                 ULONG *sent) {
    Level level;
    level.Raise();
    const UCHAR c = Ctl(ext) & ~kReverse;
    for (ULONG i = 0; i < count; ++i) {
        if (!(i == 0 && firstChecked) && !(Status(ext) & par::kStatusNotBusy)) {
            bool ready = false;
            for (int poll = 0; poll < 100 && !ready; ++poll) {
                Delay(level, 100000); // 10 ms
                ready = (Status(ext) & par::kStatusNotBusy) != 0;
            }
            if (!ready) {
                return false;
            }
        }
        SetCtl(ext, c & 0xDE);
        ParWrite(ext, kRegData, data[i]);
        StallUs(1);
        SetCtl(ext, c | kStrobe);
        StallUs(1);
        SetCtl(ext, c & 0xDE);
        StallUs(1);
        SetCtl(ext, c & 0xDE); // c with nStrobe high: the lines as they already are
        *sent = i + 1;
    }
    return true;
}

// Step 3b of a write request: true when the printer is (or became) not busy. *status gets the
// last status read.
bool WaitWriteReady(ParDeviceExtension *ext, UCHAR *status) {
    UCHAR s = Status(ext);
    *status = s;
    if (!(s & par::kStatusNFault) || (s & par::kStatusNotBusy)) {
        return true;
    }
    if (ext->Options & 1) {
        return WaitStatus(ext, par::kStatusNotBusy, par::kStatusNotBusy, k35Ms, status);
    }
    for (int poll = 0; poll < 300; ++poll) {
        DelayMs(10);
        s = Status(ext);
        *status = s;
        if (s & par::kStatusNotBusy) {
            return true;
        }
    }
    return false;
}

void DoubleEdge(ParDeviceExtension *ext, ULONG mode, ULONG count, const UCHAR *data) {
    if (count == 0) {
        return;
    }
    Level level;
    level.Raise();
    par::DbState st{};
    UCHAR g;
    ULONG i = 0;
    if (ext->FirstBytePending) {
        ParWrite(ext, kRegData, data[0]);
        StallUs(1);
        g = static_cast<UCHAR>((Ctl(ext) & 0xDF) | kStrobe);
        SetCtl(ext, g);
        if (mode != 68) {
            StallUs(1);
            if (count > 1 && data[1] == data[0] && ext->StrbAfter != 0) {
                StallUs(ext->StrbAfter);
            }
        }
        ext->FirstBytePending = 0;
        st.lines = data[0];
        i = 1;
    } else {
        st.lines = ext->LastByte;
        g = Ctl(ext);
    }
    st.strobeLow = (g & kStrobe) != 0;
    for (; i < count; ++i) {
        const bool hasNext = i + 1 < count;
        const par::DbStep step = par::PlanDoubleEdge(
            mode, st, data[i], hasNext, hasNext ? data[i + 1] : 0, ext->StrbBefore, ext->StrbAfter);
        if (step.beforeNs != 0) {
            StallNs(ext, step.beforeNs);
        }
        if (step.edge) {
            g ^= kStrobe;
            SetCtl(ext, g);
        } else {
            ParWrite(ext, kRegData, data[i]);
        }
        if (step.afterNs % 1000 == 0 && step.afterNs != 0) {
            StallUs(step.afterNs / 1000);
        } else if (step.afterNs != 0) {
            StallNs(ext, step.afterNs);
        }
    }
    ext->LastByte = st.lines;
}

} // namespace

BOOLEAN ParNegotiation(ParDeviceExtension *ext, ULONG mode) {
    const UCHAR request = par::NegotiationRequestByte(mode, ext->BlockSize);
    if (mode == 9) {
        DelayMs(35);
    }
    const UCHAR c6 = Ctl(ext) & 0xC0;
    UCHAR s = 0;
    ParWrite(ext, kRegData, request);
    StallUs(1);
    SetCtl(ext, c6 | 0x06);                          // event 1
    if (PollStatus(ext, 0x78, 0x38, 3500, 10, &s)) { // event 2
        SetCtl(ext, c6 | 0x07);                      // event 3: the request byte latched
        StallNs(ext, 500);
        SetCtl(ext, c6 | 0x04); // event 4
        StallNs(ext, 500);
        if (PollStatus(ext, par::kStatusNAck, par::kStatusNAck, 35000, 1, &s)) { // event 6
            ext->CurrentMode = mode;
            if (mode == 0 || mode == 32 || mode == 68) {
                ext->FirstBytePending = 1;
            }
            if (mode == 5 || mode == 6) {
                ext->NegotiationStatus = s;
            }
            if (mode != kModeEcp) {
                return TRUE;
            }
            SetCtl(ext, c6 | 0x06); // event 30
            if (WaitStatus(ext, par::kStatusPError, par::kStatusPError, k35Ms, &s)) {
                return TRUE; // event 31
            }
        } else if (mode == 5 || mode == 6) {
            SetCtl(ext, c6 | 0x07);
            PollStatus(ext, par::kStatusPError, 0, 1000, 0, &s);
            SetCtl(ext, c6 | 0x05);
        }
    }
    SetCtl(ext, 0xCC); // compatibility idle
    return FALSE;
}

void ParTermination(ParDeviceExtension *ext) {
    if (ext->CurrentMode == kModeCompatibility) {
        if (ext->EcpPresent == 1) {
            ParWrite(ext, kRegEcr, 0x34);
        }
        return;
    }
    ext->FirstBytePending = 0;
    const ULONG old = ext->CurrentMode;
    ext->CurrentMode = kModeCompatibility;
    const UCHAR c = Ctl(ext) & ~kReverse, c6 = c & 0xC0;
    const UCHAR event22 = static_cast<UCHAR>((c & kStrobe) | c6 | 0x0C);
    UCHAR s = 0;
    SetCtl(ext, event22);
    bool settle = true;
    if (!PollStatus(ext, 0xD8, 0x08, 3500, 10, &s)) { // events 23/24
        SetCtl(ext, event22);
        Delay100Ns(par::kHundredNsPerSecond);
        SetCtl(ext, c6 | 0x0C);
        DelayMs(35);
        settle = false;
    } else {
        StallNs(ext, 500);
        SetCtl(ext, c6 | 0x0E);                                                   // event 25
        if (!PollStatus(ext, par::kStatusNAck, par::kStatusNAck, 3500, 10, &s)) { // event 27
            SetCtl(ext, c6 | 0x0C);
            Delay100Ns(par::kHundredNsPerSecond);
            ext->Initialized = FALSE;
            DelayMs(35);
            settle = false;
        } else {
            StallNs(ext, 500);
            StallUs(1);
            SetCtl(ext, c6 | 0x0C); // event 28
            StallUs(1);
        }
    }
    if (settle && !(ext->Options & 2)) {
        DelayMs(old == 0 || old == 32 ? 35 : 3);
    }
    ext->EcpReverse = 0;
    if (ext->EcpPresent == 1) {
        DelayMs(35);
        ParWrite(ext, kRegEcr, 0x34);
    }
}

BOOLEAN ParWriteCompat(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    ULONG sent = 0;
    return CompatBytes(ext, count, data, false, &sent);
}

BOOLEAN ParWriteCompat2(ParDeviceExtension *ext, ULONG count, const UCHAR *data, ULONG *sent) {
    *sent = 0;
    Level level;
    level.Raise();
    const UCHAR c = Ctl(ext) & ~kReverse;
    for (ULONG i = 0; i < count; ++i) {
        UCHAR s = Status(ext);
        if (!(s & par::kStatusNotBusy)) {
            level.Lower();
            const bool ready = WaitStatus(ext, par::kStatusNotBusy, par::kStatusNotBusy,
                                          par::kHundredNsPerSecond, &s);
            level.Raise();
            if (!ready) {
                return FALSE;
            }
        }
        ParWrite(ext, kRegData, data[i]);
        StallNs(ext, 1000);
        SetCtl(ext, c | kStrobe);
        StallNs(ext, 500);
        SetCtl(ext, c & ~kStrobe);
        *sent = i + 1;
    }
    return TRUE;
}

void ParWriteBurst(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    Level level;
    level.Raise();
    UCHAR g = Ctl(ext) & ~kReverse;
    for (ULONG i = 0; i < count; ++i) {
        ParWrite(ext, kRegData, data[i]);
        StallUs(1);
        g ^= kStrobe;
        SetCtl(ext, g);
        StallUs(1);
    }
}

ULONG ParWriteAB(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    const UCHAR c6 = Ctl(ext) & 0xC0;
    UCHAR g = c6 | 0x06, s = 0;
    SetCtl(ext, g);
    if (PollStatus(ext, par::kStatusNAck, 0, 500, 1, &s)) {
        ext->SavedStatus = s;
    }
    if (!ReadyWait(ext, par::AbReadyPolls(ext->Timeout), 100000, false)) {
        SetCtl(ext, c6 | 0x04);
        return 5;
    }
    {
        Level level;
        level.Raise();
        for (ULONG i = 0; i < count; ++i) {
            ParWrite(ext, kRegData, data[i]);
            StallNs(ext, 500);
            g ^= kStrobe;
            SetCtl(ext, g);
            StallNs(ext, 500);
        }
    }
    SetCtl(ext, static_cast<UCHAR>((Ctl(ext) & 0xC1) | 0x04));
    if (PollStatus(ext, par::kStatusPError, 0, 10000, 1, &s)) {
        return 0;
    }
    return s;
}

ULONG ParWriteAC(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    const UCHAR c6 = Ctl(ext) & 0xC0;
    UCHAR s = Status(ext);
    if (!(s & par::kStatusNFault)) {
        SetCtl(ext, c6 | 0x04);
        return 5;
    }
    const UCHAR g = c6 | 0x06;
    SetCtl(ext, g);
    if (PollStatus(ext, par::kStatusNAck, 0, 500, 1, &s)) {
        ext->SavedStatus = s;
    }
    if (!ReadyWait(ext, par::AcReadyPolls(ext->Timeout), 1000, true)) {
        SetCtl(ext, c6 | 0x04);
        return 5;
    }
    {
        Level level;
        level.Raise();
        for (ULONG i = 0; i < count; ++i) {
            ParWrite(ext, kRegData, data[i]);
            StallNs(ext, 500);
            SetCtl(ext, g | kStrobe);
            StallNs(ext, 500);
            SetCtl(ext, g);
            StallNs(ext, 500);
        }
    }
    SetCtl(ext, static_cast<UCHAR>((Ctl(ext) & 0xC1) | 0x04));
    if (PollStatus(ext, par::kStatusPError, 0, 10000, 1, &s)) {
        return 0;
    }
    DelayMs(10);
    return s;
}

void ParWriteDB(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    DoubleEdge(ext, ext->CurrentMode == 32 ? 32 : 0, count, data);
}

void ParWrite_PX_DB(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    DoubleEdge(ext, 68, count, data);
}

LONG ParWrite_ecp(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    if (ext->EcpPresent != 1) {
        return 0; // no FIFO to place anything in
    }
    Level level;
    level.Raise();
    const UCHAR ctl = Ctl(ext);
    if ((ctl & kReverse) || (ParRead(ext, kRegEcr) & 0x60) != 0x60) {
        ParWrite(ext, kRegEcr, 0x34);
        SetCtl(ext, ctl & 0xDC);
        ParWrite(ext, kRegEcr, 0x74); // ECP FIFO mode
    }
    const ULONG depth = ext->EcpFifoDepth > 0 ? ext->EcpFifoDepth : 1;
    ULONG placed = 0;
    while (placed < count) {
        const ULONG left = count - placed;
        const ULONG k = depth < left ? depth : left;
        UCHAR ecr = ParRead(ext, kRegEcr);
        for (int poll = 1; ecr & kEcrFull; ++poll) {
            if (poll >= 400) {
                ext->EcpWritePending = 1;
                return -static_cast<LONG>(placed);
            }
            if (poll >= 11) {
                Delay(level, 100000);
            }
            ecr = ParRead(ext, kRegEcr);
        }
        if (ecr & kEcrEmpty) {
            WRITE_PORT_BUFFER_UCHAR(ext->Controller + kRegEcpFifo,
                                    const_cast<PUCHAR>(data + placed), k);
            placed += k;
        } else {
            ParWrite(ext, kRegEcpFifo, data[placed]);
            placed += 1;
        }
    }
    ext->EcpWritePending = 1;
    for (int poll = 0; poll < 500; ++poll) {
        Delay(level, 100000);
        if (ParRead(ext, kRegEcr) & kEcrEmpty) {
            ext->EcpWritePending = 0;
            return 1;
        }
    }
    return -static_cast<LONG>(placed);
}

BOOLEAN ParWriteMceBurst(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    const par::MceSplit split = par::McePasses(ext->MceLoopCount);
    UCHAR pad[3];
    const ULONG padding = par::McePadding(count, pad);
    {
        Level level;
        level.Raise();
        UCHAR g = Ctl(ext) & ~kReverse;
        for (ULONG i = 0; i < count + padding; ++i) {
            ParWrite(ext, kRegData, i < count ? data[i] : pad[i - count]);
            for (ULONG n = 0; n < split.a; ++n) {
                MceTmp = MceTmp + 1;
            }
            g ^= kStrobe;
            SetCtl(ext, g);
            for (ULONG n = 0; n < split.b; ++n) {
                MceTmp = MceTmp + 1;
            }
        }
    }
    return ParEndOfBlock(ext);
}

BOOLEAN ParEndOfBlock(ParDeviceExtension *ext) {
    StallUs(4);
    const UCHAR c = Ctl(ext) & ~kReverse;
    UCHAR s = 0;
    SetCtl(ext, c | kAutoFd);
    if (!WaitStatus(ext, par::kStatusNAck, 0, k35Ms, &s)) {
        return FALSE;
    }
    SetCtl(ext, c & 0xFC);
    return WaitStatus(ext, par::kStatusNAck, par::kStatusNAck, k35Ms, &s);
}

namespace {

BOOLEAN Turnaround(ParDeviceExtension *ext, UCHAR firstMask, UCHAR firstWant) {
    Level level;
    level.Raise();
    const UCHAR c = Ctl(ext) & ~kReverse;
    UCHAR s = 0;
    SetCtl(ext, c | 0x0C);
    if (!WaitStatus(ext, firstMask, firstWant, k35Ms, &s)) {
        return FALSE;
    }
    SetCtl(ext, 0x06);
    if (!WaitStatus(ext, par::kStatusNotBusy, par::kStatusNotBusy, k35Ms, &s)) {
        return FALSE;
    }
    SetCtl(ext, 0x04);
    return WaitStatus(ext, par::kStatusNAck, par::kStatusNAck, k35Ms, &s);
}

} // namespace

BOOLEAN ParFwd2Rev(ParDeviceExtension *ext) {
    return Turnaround(ext, par::kStatusNotBusy | par::kStatusNAck, 0);
}

BOOLEAN ParRev2Fwd(ParDeviceExtension *ext) {
    return Turnaround(ext, 0xD8, 0x18);
}

void ParWriteOutData2(ParDeviceExtension *ext) {
    PIRP irp = ext->CurrentIrp;
    const ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
    const UCHAR *data = irp->MdlAddress != nullptr
                            ? static_cast<const UCHAR *>(
                                  MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority))
                            : nullptr;
    const ULONG mode = ext->CurrentMode;
    const bool ecp = mode == kModeEcp;
    // Every failure outside ECP leaves the peripheral in compatibility mode.
    auto fail = [&](NTSTATUS status, ULONG sent) {
        if (!ecp) {
            ParTermination(ext);
        }
        ParFinishRequest(ext, irp, status, sent, IO_NO_INCREMENT);
    };
    if (data == nullptr || length == 0) {
        fail(STATUS_INVALID_BUFFER_SIZE, 0);
        return;
    }
    const par::Writer writer = par::WriterForMode(mode);
    if (writer == par::Writer::None) {
        fail(STATUS_INVALID_DEVICE_REQUEST, 0);
        return;
    }
    const ULONG block = par::WriteBlockSize(mode, ext->BlockSize, length);
    if (block == 0) {
        fail(STATUS_INVALID_PARAMETER, 0); // a block size that leaves no data in a block
        return;
    }
    auto offLine = [&](ULONG sent) {
        ext->Initialized = TRUE;
        fail(STATUS_DEVICE_OFF_LINE, sent);
    };
    ULONG sent = 0;
    bool cancelled = false;
    while (sent < length) {
        if (irp->Cancel) {
            cancelled = true;
            break;
        }
        if (mode != kModeEcp && mode != 5 && mode != 6) {
            UCHAR s = 0;
            const bool ready = WaitWriteReady(ext, &s);
            if (!(s & par::kStatusNFault)) {
                offLine(sent);
                return;
            }
            if (!ready) {
                fail(STATUS_DEVICE_BUSY, sent);
                return;
            }
        }
        const ULONG n = length - sent <= block ? length - sent : block;
        const UCHAR *p = data + sent;
        bool ok = true;
        switch (writer) {
        case par::Writer::Compat: {
            ULONG done = 0;
            ok = CompatBytes(ext, n, p, true, &done);
            break;
        }
        case par::Writer::Burst:
            ParWriteBurst(ext, n, p);
            break;
        case par::Writer::AB:
            ok = ParWriteAB(ext, n, p) == 0;
            break;
        case par::Writer::AC:
            ok = ParWriteAC(ext, n, p) == 0;
            break;
        case par::Writer::DB:
            ParWriteDB(ext, n, p);
            break;
        case par::Writer::PxDB:
            ParWrite_PX_DB(ext, n, p);
            break;
        case par::Writer::Ecp: {
            const LONG r = ParWrite_ecp(ext, n, p);
            if (r != 1) {
                ParFinishRequest(ext, irp,
                                 ext->EcpWritePending ? STATUS_ALREADY_DISCONNECTED
                                                      : STATUS_DEVICE_OFF_LINE,
                                 sent + static_cast<ULONG>(-r), IO_NO_INCREMENT);
                return;
            }
            break;
        }
        case par::Writer::Mce:
            ok = ParWriteMceBurst(ext, n, p) != FALSE;
            break;
        case par::Writer::None:
            break;
        }
        if (!ok) {
            fail(STATUS_DEVICE_OFF_LINE, sent);
            return;
        }
        sent += n;
    }
    if (cancelled) {
        fail(STATUS_CANCELLED, 0);
        return;
    }
    if (!ecp) {
        if (!(Status(ext) & par::kStatusNFault)) {
            offLine(sent);
            return;
        }
        ParTermination(ext);
    }
    ext->Initialized = TRUE;
    ParFinishRequest(ext, irp, STATUS_SUCCESS, length, IO_PARALLEL_INCREMENT);
}

// ---- Throughput probe ---------------------------------------------------------------------------

namespace {

void Data(ParDeviceExtension *ext, UCHAR v) {
    ParWrite(ext, kRegData, v);
}

} // namespace

void sumi_ParWriteCompat(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    Level level;
    level.Raise();
    for (ULONG i = 0; i < count; ++i) {
        Status(ext);
        StallUs(2);
        const UCHAR c = ParRead(ext, kRegControl) & 0xDF;
        Data(ext, c & 0xDE);
        Data(ext, data[0]);
        StallUs(1);
        Data(ext, (c & 0xDE) | 1);
        StallUs(1);
        Data(ext, c & 0xDE);
        StallUs(1);
        Data(ext, c & 0xDF);
        StallUs(2);
    }
}

void sumi_ParWriteBurst(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    Level level;
    level.Raise();
    const ULONG ns = ext->CurrentMode == 0 ? 2000 : 500;
    UCHAR g = Ctl(ext) & 0xDF;
    for (ULONG i = 0; i < count; ++i) {
        Data(ext, data[0]);
        StallNs(ext, ns);
        g ^= 1;
        Data(ext, g);
        StallNs(ext, ns);
        StallUs(2);
    }
}

void sumi_ParWriteAB(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    Level level;
    level.Raise();
    UCHAR g = (Ctl(ext) & 0xC0) | 6;
    Data(ext, g);
    for (ULONG i = 0; i < count; ++i) {
        Data(ext, data[0]);
        StallNs(ext, 500);
        g ^= 1;
        Data(ext, g);
        StallUs(1);
        StallNs(ext, 500);
    }
}

void sumi_ParWriteAC(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    Level level;
    level.Raise();
    const UCHAR c6 = Ctl(ext) & 0xC0;
    Data(ext, c6 + 6);
    for (ULONG i = 0; i < count; ++i) {
        Data(ext, data[0]);
        StallUs(1);
        StallNs(ext, 500);
        Data(ext, c6 | 7);
        StallNs(ext, 500);
        Data(ext, c6 + 6);
        StallNs(ext, 500);
    }
}

void sumi_ParWriteecp(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    if (count == 0) {
        return;
    }
    Level level;
    level.Raise();
    UCHAR c = Ctl(ext) & 0xDF;
    Data(ext, data[0]);
    StallUs(2);
    c |= 1;
    Data(ext, c);
    StallUs(2);
    UCHAR last = data[0];
    for (ULONG i = 1; i < count; ++i) {
        const UCHAR b = data[0];
        if (b == last) {
            c ^= 1;
            Data(ext, c);
            ParRead(ext, kRegControl);
            StallUs(2);
        } else {
            Data(ext, b);
            StallUs(1);
            last = b;
        }
        StallNs(ext, 1000);
        StallUs(1);
    }
}

ULONG par_simu_tarn(ParDeviceExtension *ext) {
    constexpr ULONG kProbeBytes = 4096;
    UCHAR scratch[4] = {};
    PIRP irp = ext->CurrentIrp;
    LARGE_INTEGER start, end;
    KeQuerySystemTime(&start);
    irp->IoStatus.Status = STATUS_SUCCESS;
    switch (ext->CurrentMode) {
    case 0:
    case 32:
    case kModeEcp:
        // A negotiated double-edge or ECP peripheral would take the data writes: back to
        // compatibility first, so none reaches it.
        ParTermination(ext);
        sumi_ParWriteecp(ext, kProbeBytes, scratch);
        break;
    case 1:
        sumi_ParWriteBurst(ext, kProbeBytes, scratch);
        break;
    case kModeCompatibility:
        sumi_ParWriteCompat(ext, kProbeBytes, scratch);
        break;
    case 5:
        sumi_ParWriteAB(ext, kProbeBytes, scratch);
        break;
    case 6:
        sumi_ParWriteAC(ext, kProbeBytes, scratch);
        break;
    default:
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        return 0;
    }
    KeQuerySystemTime(&end);
    return par::ThroughputRate(end.QuadPart - start.QuadPart);
}

// ---- Reverse channel ----------------------------------------------------------------------------

namespace {

constexpr LONGLONG k3S = 30000000; // 100-ns units

// A control value written as it is, whatever the register holds.
void PutCtl(ParDeviceExtension *ext, UCHAR value) {
    ParWrite(ext, kRegControl, value);
    ext->Control = value;
    ext->ControlKnown = TRUE;
}

// Waits by the tick clock at most limit until (ECR & mask) == want.
bool WaitEcr(ParDeviceExtension *ext, UCHAR mask, UCHAR want, LONGLONG limit) {
    LARGE_INTEGER start;
    KeQueryTickCount(&start);
    for (;;) {
        if ((ParRead(ext, kRegEcr) & mask) == want) {
            return true;
        }
        if (ParElapsedSince(start) > limit) {
            return false;
        }
    }
}

// Moves up to length carried ECP bytes to buffer; the count moved.
ULONG TakeCarried(ParDeviceExtension *ext, PUCHAR buffer, ULONG length) {
    const ULONG n = ext->EcpCarryCount < length ? ext->EcpCarryCount : length;
    for (ULONG i = 0; i < n; ++i) {
        buffer[i] = ext->EcpCarry[i];
    }
    for (ULONG i = n; i < ext->EcpCarryCount; ++i) {
        ext->EcpCarry[i - n] = ext->EcpCarry[i];
    }
    ext->EcpCarryCount -= n;
    return n;
}

} // namespace

NTSTATUS ParEnterNibbleMode(PUCHAR, BOOLEAN deviceId, ParDeviceExtension *ext) {
    if (Check_ecp_finish(ext, TRUE)) {
        return STATUS_ALREADY_DISCONNECTED;
    }
    ParTermination(ext);
    DelayMs(35);
    ext->CurrentMode = kModeCompatibility;
    const UCHAR request = deviceId ? 0x04 : 0x00;
    UCHAR s = 0;
    PutCtl(ext, 0xCC);
    StallUs(1);
    ParWrite(ext, kRegData, request);
    StallUs(1);
    PutCtl(ext, 0xC6); // event 1
    const UCHAR event2 = par::kStatusPError | par::kStatusSelect | par::kStatusNFault;
    if (WaitStatus(ext, event2 | par::kStatusNAck, event2, k35Ms, &s)) {
        PutCtl(ext, 0xC7); // event 3
        StallUs(1);
        PutCtl(ext, 0xC4);                                                    // event 4
        if (WaitStatus(ext, par::kStatusNAck, par::kStatusNAck, k35Ms, &s)) { // event 6
            s = Status(ext);
            const bool xflag = (s & par::kStatusSelect) != 0;
            if (xflag == (deviceId != 0)) {
                ext->CurrentMode = 4;
                return STATUS_SUCCESS;
            }
            ParTerminateNibbleMode(ext->Controller, ext);
            return STATUS_INVALID_DEVICE_REQUEST;
        }
    }
    PutCtl(ext, 0xCC);
    DelayMs(35);
    return STATUS_INVALID_DEVICE_REQUEST;
}

NTSTATUS ParNibbleModeRead(ParDeviceExtension *ext, PUCHAR buffer, ULONG length, ULONG *count) {
    Level level;
    level.Raise();
    const bool mce = ext->CurrentMode == kModeMce;
    const bool mceId = ext->RequestedMode == kModeMce && ext->MceDeviceId;
    ULONG stored = 0, received = 0;
    UCHAR s = 0;
    while (stored < length && !(Status(ext) & par::kStatusNFault)) {
        UCHAR half[2];
        for (UCHAR &h : half) {
            PutCtl(ext, 0xC6);                                      // event 7
            if (!WaitStatus(ext, par::kStatusNAck, 0, k35Ms, &s)) { // event 8
                PutCtl(ext, 0xC4);
                return STATUS_IO_DEVICE_ERROR;
            }
            h = Status(ext);
            PutCtl(ext, 0xC4);                                                     // event 10
            if (!WaitStatus(ext, par::kStatusNAck, par::kStatusNAck, k35Ms, &s)) { // event 11
                return STATUS_IO_DEVICE_ERROR;
            }
        }
        const UCHAR byte = par::AssembleNibbles(half[0], half[1]);
        ++received;
        if (!mce || received > par::kMceHeaderBytes) {
            buffer[stored++] = byte;
        }
        if (mceId && par::MceDelayAfterByte(received)) {
            Delay(level, 10000); // 1 ms
        }
    }
    *count = stored;
    return STATUS_SUCCESS;
}

void ParTerminateNibbleMode(PUCHAR, ParDeviceExtension *ext) {
    ext->CurrentMode = kModeCompatibility;
    UCHAR s = 0;
    PutCtl(ext, 0xCC); // event 22
    if (!WaitStatus(ext, par::kStatusNAck, 0, k35Ms, &s)) {
        PutCtl(ext, 0x0C);
        StallUs(1);
        PutCtl(ext, 0x0C);
        DelayMs(35);
        return;
    }
    PutCtl(ext, 0xCE);                                              // event 25
    WaitStatus(ext, par::kStatusNAck, par::kStatusNAck, k35Ms, &s); // event 27
    PutCtl(ext, 0xCC);                                              // event 28
    if (!(ext->Options & 2)) {
        DelayMs(35);
    }
}

NTSTATUS ParQueryDeviceId(ParDeviceExtension *ext, PUCHAR buffer, ULONG size, ULONG *idLength) {
    *idLength = 0;
    if (Check_ecp_finish(ext, TRUE)) {
        return STATUS_ALREADY_DISCONNECTED;
    }
    NTSTATUS status = ParEnterNibbleMode(ext->Controller, TRUE, ext);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (ext->RequestedMode == kModeMce) {
        ext->MceDeviceId = 1;
    }
    UCHAR field[2];
    ULONG got = 0;
    uint32_t length = 0;
    status = ParNibbleModeRead(ext, field, 2, &got);
    if (!NT_SUCCESS(status) || got < 2 || !par::DeviceIdTextLength(field[0], field[1], &length)) {
        status = STATUS_IO_DEVICE_ERROR; // short, or a length field below its own two bytes
    } else {
        *idLength = length;
        if (size < length) {
            status = STATUS_BUFFER_TOO_SMALL;
        } else {
            got = 0;
            status = ParNibbleModeRead(ext, buffer, length, &got);
            if (!NT_SUCCESS(status) || got < length) {
                status = STATUS_IO_DEVICE_ERROR;
            }
        }
    }
    ParTerminateNibbleMode(ext->Controller, ext);
    if (ext->RequestedMode == kModeMce) {
        ext->MceDeviceId = 0;
    }
    PutCtl(ext, 0xCC);
    return status;
}

BOOLEAN ParEcpFwd2Rev(ParDeviceExtension *ext) {
    if (ext->EcpReverse) {
        return TRUE;
    }
    if (!WaitEcr(ext, kEcrEmpty, kEcrEmpty, k3S)) {
        return FALSE;
    }
    ParWrite(ext, kRegEcr, 0x34);
    const UCHAR g = static_cast<UCHAR>((Ctl(ext) & 0xDD) | kReverse);
    PutCtl(ext, g);
    ParWrite(ext, kRegEcr, 0x74);
    PutCtl(ext, g & ~0x04); // events 38 and 39
    UCHAR s = 0;
    if (!WaitStatus(ext, par::kStatusPError, 0, k3S, &s)) { // event 40
        return FALSE;
    }
    ext->EcpReverse = 1;
    return TRUE;
}

NTSTATUS ParEcpModeRead(ParDeviceExtension *ext, PUCHAR buffer, ULONG length, ULONG *count) {
    ULONG n = 0;
    while (n < length && WaitEcr(ext, kEcrEmpty, 0, k35Ms)) {
        buffer[n++] = ParRead(ext, kRegEcpFifo);
    }
    *count = n;
    return STATUS_SUCCESS;
}

BOOLEAN ParEcpRev2Fwd(ParDeviceExtension *ext) {
    if (!ext->EcpReverse) {
        return TRUE;
    }
    ext->EcpReverse = 0;
    // nReverseRequest rises with the direction still reverse: the peripheral drives the data
    // lines until it answers, and what it already sent stays readable in the FIFO.
    const UCHAR c = Ctl(ext);
    PutCtl(ext, c | 0x04); // event 47
    UCHAR s = 0;
    if (!WaitStatus(ext, par::kStatusPError, par::kStatusPError, k35Ms, &s)) { // event 49
        return FALSE;
    }
    while (ext->EcpCarryCount < par::kEcpCarryBytes && !(ParRead(ext, kRegEcr) & kEcrEmpty)) {
        ext->EcpCarry[ext->EcpCarryCount++] = ParRead(ext, kRegEcpFifo);
    }
    PutCtl(ext, (c & 0xDF) | 0x04);
    ParWrite(ext, kRegEcr, 0x34);
    return TRUE;
}

void ParReadIo(ParDeviceExtension *ext, PUCHAR buffer, ULONG length) {
    PIRP irp = ext->CurrentIrp;
    if (Check_ecp_finish(ext, TRUE)) {
        ParFinishRequest(ext, irp, STATUS_ALREADY_DISCONNECTED, 0, IO_NO_INCREMENT);
        return;
    }
    const ULONG carried = TakeCarried(ext, buffer, length);
    PUCHAR rest = buffer + carried;
    const ULONG left = length - carried;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG got = 0;
    if (left == 0 && length != 0) {
        // The carried bytes fill the request.
    } else if (ext->CurrentMode == kModeMce) {
        if (!(Status(ext) & par::kStatusNFault)) {
            if (!ParFwd2Rev(ext)) {
                status = STATUS_INVALID_DEVICE_REQUEST;
            } else {
                status = ParNibbleModeRead(ext, rest, left, &got);
                if (!NT_SUCCESS(status)) {
                    got = 0;
                }
                if (!ParRev2Fwd(ext) || !NT_SUCCESS(status)) {
                    status = STATUS_INVALID_DEVICE_REQUEST;
                }
            }
        }
    } else if (ext->RequestedMode == kModeEcp) {
        if (ext->CurrentMode != kModeEcp) {
            if (ext->CurrentMode != kModeCompatibility) {
                ParTermination(ext);
            }
            if (!ParNegotiation(ext, kModeEcp)) {
                ParTermination(ext);
                status = STATUS_INVALID_DEVICE_REQUEST;
            }
        }
        if (NT_SUCCESS(status) && !(Status(ext) & par::kStatusNFault)) {
            if (!ParEcpFwd2Rev(ext)) {
                status = STATUS_INVALID_DEVICE_REQUEST;
            } else {
                ParEcpModeRead(ext, rest, left, &got);
                if (!ParEcpRev2Fwd(ext)) {
                    status = STATUS_INVALID_DEVICE_REQUEST;
                }
            }
            if (!NT_SUCCESS(status)) {
                // A half-turned port goes back to compatibility before the next request.
                ParTermination(ext);
            }
        }
    } else {
        if (ext->CurrentMode != kModeCompatibility) {
            ParTermination(ext);
        }
        status = ParEnterNibbleMode(ext->Controller, FALSE, ext);
        if (!NT_SUCCESS(status)) {
            DelayMs(50);
            status = ParEnterNibbleMode(ext->Controller, FALSE, ext);
        }
        if (NT_SUCCESS(status)) {
            status = ParNibbleModeRead(ext, rest, left, &got);
            if (NT_SUCCESS(status)) {
                ParTerminateNibbleMode(ext->Controller, ext);
            } else {
                got = 0;
            }
        }
    }
    ParFinishRequest(ext, irp, status, carried + got,
                     NT_SUCCESS(status) ? IO_PARALLEL_INCREMENT : IO_NO_INCREMENT);
}
