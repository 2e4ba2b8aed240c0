// tandrel: pure rules of the driver.
#include "par_rules.h"

namespace par {

Parameters DefaultParameters() {
    Parameters p{};
    p.threadPriority = 0;
    p.initializationTimeout = 0;
    p.transferType = 2;
    p.blockSize = 512;
    p.privMode = 1;
    p.strbBefore = 0;
    p.strbAfter = 0;
    return p;
}

bool DwordValueAcceptable(uint32_t type, uint32_t bytes) {
    return type == kRegDword && bytes == 4;
}

bool DosDeviceValueAcceptable(uint32_t type, const uint16_t *data, uint32_t bytes) {
    if (type != kRegSz || (bytes % 2) != 0 || (bytes != 0 && data == nullptr)) {
        return false;
    }
    size_t chars = bytes / 2;
    // Count up to the first zero: stored strings usually carry their terminator.
    size_t len = 0;
    while (len < chars && data[len] != 0) {
        ++len;
    }
    return len <= kMaxDosDeviceChars;
}

void ApplyParameterRules(Parameters &p) {
    if (p.initializationTimeout == 0) {
        p.initializationTimeout = 3;
    }
    // Stored as DWORDs: "below 0" is a value whose sign bit is set.
    if (static_cast<int32_t>(p.strbBefore) < 0 || p.strbBefore > 1000) {
        p.strbBefore = 0;
    }
    if (static_cast<int32_t>(p.strbAfter) < 0 || p.strbAfter > 100) {
        p.strbAfter = 0;
    }
    if (p.blockSize == 0) {
        p.blockSize = 512;
    }
}

size_t DecimalChars(uint32_t value) {
    size_t n = 1;
    while (value >= 10) {
        value /= 10;
        ++n;
    }
    return n;
}

size_t LinkNameChars(size_t baseChars, uint32_t number) {
    return 12 /* \DosDevices\ */ + baseChars + DecimalChars(number);
}

bool AppendChars(uint16_t *dst, size_t cap, size_t *len, const uint16_t *src, size_t count) {
    if (*len > cap || count > cap - *len) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        dst[*len + i] = src[i];
    }
    *len += count;
    return true;
}

bool AppendAscii(uint16_t *dst, size_t cap, size_t *len, const char *src) {
    size_t count = 0;
    while (src[count] != 0) {
        ++count;
    }
    if (*len > cap || count > cap - *len) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        dst[*len + i] = static_cast<uint8_t>(src[i]);
    }
    *len += count;
    return true;
}

bool AppendDecimal(uint16_t *dst, size_t cap, size_t *len, uint32_t value) {
    size_t digits = DecimalChars(value);
    if (*len > cap || digits > cap - *len) {
        return false;
    }
    for (size_t i = digits; i > 0; --i) {
        dst[*len + i - 1] = static_cast<uint16_t>('0' + value % 10);
        value /= 10;
    }
    *len += digits;
    return true;
}

int64_t RelativeSeconds(uint32_t seconds) {
    return -static_cast<int64_t>(seconds) * kHundredNsPerSecond;
}

namespace {

int64_t ScaleCounts(int64_t counts, int64_t frequency, int64_t unitsPerSecond) {
    if (frequency <= 0 || counts <= 0) {
        return 0;
    }
    int64_t whole = counts / frequency;
    int64_t rest = counts % frequency;
    return whole * unitsPerSecond + rest * unitsPerSecond / frequency;
}

} // namespace

int64_t CountsToNs(int64_t counts, int64_t frequency) {
    return ScaleCounts(counts, frequency, 1000000000);
}

int64_t CountsTo100Ns(int64_t counts, int64_t frequency) {
    return ScaleCounts(counts, frequency, kHundredNsPerSecond);
}

int64_t TicksTo100Ns(uint64_t ticksNow, uint64_t ticksStart, uint32_t increment) {
    return static_cast<int64_t>((ticksNow - ticksStart) * increment);
}

int64_t SecondSmallest(const int64_t *samples, size_t count) {
    size_t smallest = 0;
    for (size_t i = 1; i < count; ++i) {
        if (samples[i] < samples[smallest]) {
            smallest = i;
        }
    }
    bool have = false;
    int64_t second = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i != smallest && (!have || samples[i] < second)) {
            second = samples[i];
            have = true;
        }
    }
    return second;
}

uint32_t StallPasses(uint32_t ns, uint32_t step256, uint32_t overheadNs) {
    if (ns <= overheadNs) {
        return 0;
    }
    if (step256 == 0) {
        step256 = 1;
    }
    uint64_t passes = static_cast<uint64_t>(ns - overheadNs) * kStepScale / step256;
    return passes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(passes);
}

StallCalibration EvaluateCalibrationRun(int64_t readNs, int64_t a800, int64_t b1600,
                                        int64_t writeNs) {
    StallCalibration r{};
    int64_t d = b1600 - a800;
    if (d > 0) {
        int64_t step = d * kStepScale / 800;
        r.step256 = step > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(step);
    } else {
        d = 0;
    }
    int64_t overhead = a800 - readNs - d;
    if (overhead < 0) {
        overhead = 0;
    }
    overhead += writeNs - readNs;
    if (overhead < 0) {
        overhead = 0;
    }
    r.overheadNs = overhead > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(overhead);
    return r;
}

namespace {

bool CalibrationBefore(const StallCalibration &a, const StallCalibration &b) {
    uint32_t sa = a.step256 == 0 ? 1 : a.step256;
    uint32_t sb = b.step256 == 0 ? 1 : b.step256;
    if (sa != sb) {
        return sa < sb;
    }
    return a.overheadNs < b.overheadNs;
}

} // namespace

StallCalibration ChooseCalibration(const StallCalibration *runs, size_t count) {
    size_t first = 0;
    for (size_t i = 1; i < count; ++i) {
        if (CalibrationBefore(runs[i], runs[first])) {
            first = i;
        }
    }
    bool have = false;
    StallCalibration best{};
    for (size_t i = 0; i < count; ++i) {
        if (i != first && (!have || CalibrationBefore(runs[i], best))) {
            best = runs[i];
            have = true;
        }
    }
    if (best.step256 == 0) {
        best.step256 = 1;
    }
    return best;
}

uint32_t StepFieldNs(uint32_t step256) {
    uint32_t ns = step256 / kStepScale + (step256 % kStepScale != 0 ? 1 : 0);
    return ns == 0 ? 1 : ns;
}

int32_t MceLoopCount(int64_t t1, int64_t t2, int64_t t3, int64_t t4) {
    if (!(t2 > t1 && t4 > t3)) {
        return 0;
    }
    int64_t n = 256 * (2 * (8828 - t1 - t3) + t2 + t4) / (t2 + t4 - t1 - t3);
    int64_t count = n + n / 10;
    if (count <= 0) {
        return 0;
    }
    return count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(count);
}

bool StatusReady(uint8_t s) {
    return (s & kStatusNFault) && !(s & kStatusPError) && (s & kStatusNotBusy);
}
bool StatusOffLine(uint8_t s) {
    return (s & kStatusNFault) && !(s & kStatusNotBusy) && !(s & kStatusSelect);
}
bool StatusPowerOff(uint8_t s) {
    return !(s & kStatusNFault) && !(s & kStatusNAck) && (s & kStatusNotBusy);
}
bool StatusNotConnected(uint8_t s) {
    return (s & kStatusNFault) && (s & kStatusNotBusy) && !(s & kStatusSelect);
}
bool StatusEndsResetWait(uint8_t s) {
    return StatusReady(s) || StatusOffLine(s) || StatusPowerOff(s) || StatusNotConnected(s);
}
bool StatusInitialises(uint8_t s) {
    return StatusReady(s) || StatusOffLine(s);
}

uint32_t LoadU32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void StoreU32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

namespace {

constexpr Verdict Refuse(uint32_t status) {
    return Verdict{Handling::Refused, status};
}
constexpr Verdict kQueued{Handling::Queued, kNtSuccess};
constexpr Verdict kAtOnce{Handling::AtOnce, kNtSuccess};

bool Gated(uint32_t code) {
    return code == kIoctlQueryDeviceId || code == kIoctlQueryDeviceIdSize ||
           code == kIoctlWriteRead || code == kIoctlNegotiate || code == kIoctlTerminate;
}

Verdict ValidateSizes(const ControlRequest &r) {
    const bool haveIn = r.input != nullptr;
    switch (r.code) {
    case kIoctlQueryInformation:
        return r.outputBytes < 1 ? Refuse(kNtBufferTooSmall) : kQueued;
    case kIoctlSetInformation:
        if (r.inputBytes < 1 || !haveIn)
            return Refuse(kNtBufferTooSmall);
        return r.input[0] != 1 ? Refuse(kNtInvalidParameter) : kQueued;
    case kIoctlQueryDeviceId:
        return r.outputBytes < 1 ? Refuse(kNtBufferTooSmall) : kQueued;
    case kIoctlQueryDeviceIdSize:
        return r.outputBytes < 4 ? Refuse(kNtBufferTooSmall) : kQueued;
    case kIoctlSetTimeouts:
        if (r.inputBytes < kSerialTimeoutsBytes || !haveIn)
            return Refuse(kNtBufferTooSmall);
        return SerialWriteConstant(r.input) < kMinWriteConstant ? Refuse(kNtInvalidParameter)
                                                                : kQueued;
    case kIoctlGetTimeouts:
        return r.outputBytes < kSerialTimeoutsBytes ? Refuse(kNtBufferTooSmall) : kAtOnce;
    case kIoctlStatus:
        return r.outputBytes < 1 ? Refuse(kNtBufferTooSmall) : kAtOnce;
    case kIoctlSetMode:
        return r.inputBytes < 4 || !haveIn ? Refuse(kNtBufferTooSmall) : kQueued;
    case kIoctlGetModes:
        return r.outputBytes < 8 ? Refuse(kNtBufferTooSmall) : kQueued;
    case kIoctlWriteRead:
    case kIoctlNegotiate:
    case kIoctlTerminate:
        return kQueued;
    case kIoctlDriverInfo:
        return r.outputBytes < kDriverInfoBytes ? Refuse(kNtBufferTooSmall) : kAtOnce;
    case kIoctlBlockWrite: {
        if (r.inputBytes < kBlockWriteBytes || !haveIn)
            return Refuse(kNtBufferTooSmall);
        BlockWrite b;
        return ParseBlockWrite(r.input, &b) ? kQueued : Refuse(kNtInvalidParameter);
    }
    case kIoctlSavedStatus:
        return r.outputBytes < 2 ? Refuse(kNtBufferTooSmall) : kAtOnce;
    case kIoctlThroughput:
        return r.outputBytes < 4 ? Refuse(kNtBufferTooSmall) : kQueued;
    case kIoctlSetOptions:
        if (r.inputBytes < 4 || !haveIn)
            return Refuse(kNtBufferTooSmall);
        return LoadU32(r.input) > 3 ? Refuse(kNtInvalidParameter) : kQueued;
    case kIoctlCompatWrite:
        if (r.inputBytes == 0 || !haveIn)
            return Refuse(kNtBufferTooSmall);
        // The count sent comes back as the byte count: a buffer shorter than the input
        // could not take it.
        if (r.outputBytes != 0 && r.outputBytes < r.inputBytes)
            return Refuse(kNtInvalidParameter);
        return kQueued;
    default:
        return Refuse(kNtInvalidParameter);
    }
}

} // namespace

Verdict ValidateControl(const ControlRequest &r, bool transferInProgress) {
    Verdict v = ValidateSizes(r);
    if (transferInProgress && Gated(r.code)) {
        return Refuse(kNtAlreadyDisconnected);
    }
    return v;
}

uint32_t AtOnceBytes(uint32_t code) {
    switch (code) {
    case kIoctlStatus:
        return 1;
    case kIoctlDriverInfo:
        return kDriverInfoBytes;
    case kIoctlSavedStatus:
        return 2;
    case kIoctlGetTimeouts:
        return kSerialTimeoutsBytes;
    default:
        return 0;
    }
}

uint32_t NotInitError(uint8_t s) {
    const bool nFault = s & kStatusNFault, notBusy = s & kStatusNotBusy;
    const bool select = s & kStatusSelect, pError = s & kStatusPError, nAck = s & kStatusNAck;
    if (nFault && !notBusy && !select)
        return kNtOffLine;
    if (!notBusy && nAck && pError && select && nFault)
        return kNtNotConnected;
    if (pError)
        return kNtPaperEmpty;
    if (!nFault && !nAck && notBusy)
        return kNtPoweredOff;
    return kNtNotConnected;
}

uint8_t QueryInformationByte(uint8_t s) {
    const bool nFault = s & kStatusNFault, notBusy = s & kStatusNotBusy;
    const bool select = s & kStatusSelect, pError = s & kStatusPError, nAck = s & kStatusNAck;
    uint8_t b = 0;
    if (!nFault && !nAck && notBusy)
        b = kParPowerOff;
    else if (!notBusy && nAck && pError && select && nFault)
        b = kParPowerOff;
    else if (pError)
        b = kParPaperEmpty;
    else if (nFault && !notBusy && !select)
        b = kParOffLine;
    else if (nFault && notBusy && !select)
        b = kParNotConnected;
    if (!notBusy && nFault)
        b |= kParBusy;
    if (select)
        b |= kParSelected;
    return b;
}

void WriteDriverInfo(const DriverInfo &info, uint8_t out[kDriverInfoBytes]) {
    for (uint32_t i = 0; i < kDriverInfoBytes; ++i)
        out[i] = 0;
    StoreU32(out + 0, info.timeout);
    StoreU32(out + 4, info.reserved);
    out[8] = info.initialized ? 1 : 0;
    out[9] = info.initializing ? 1 : 0;
    StoreU32(out + 12, info.stallOverhead);
    StoreU32(out + 16, info.stallStep);
    StoreU32(out + 20, info.requestedMode);
    StoreU32(out + 24, info.blockSize);
    StoreU32(out + 28, info.currentMode);
    out[32] = info.infoMarker;
}

uint32_t TimeoutFromWriteConstant(uint32_t ms) {
    return ms / 1000;
}

uint32_t WriteConstantFromTimeout(uint32_t seconds) {
    return seconds * 1000; // seconds came from a 32-bit millisecond count
}

void WriteSerialTimeouts(uint32_t seconds, uint8_t out[kSerialTimeoutsBytes]) {
    for (uint32_t i = 0; i < kSerialTimeoutsBytes; ++i)
        out[i] = 0;
    StoreU32(out + 16, WriteConstantFromTimeout(seconds));
}

uint32_t SerialWriteConstant(const uint8_t in[kSerialTimeoutsBytes]) {
    return LoadU32(in + 16);
}

bool ParseBlockWrite(const uint8_t in[kBlockWriteBytes], BlockWrite *out) {
    uint32_t block = LoadU32(in);
    out->blockSize = block == 0 ? 512 : block;
    out->data = in + 4;
    out->count = LoadU32(in + 28);
    return out->count <= kBlockWriteData;
}

int32_t WorkerIncrement(int32_t threadPriority) {
    return threadPriority == 0 ? -2 : threadPriority;
}

uint8_t NegotiationRequestByte(uint32_t mode, uint32_t blockSize) {
    switch (mode) {
    case 0:
    case 32:
    case 68:
        return 0x18;
    case 1:
        return 0x08;
    case 3:
        return 0x10;
    case 4:
        return 0x00;
    case 5:
        return static_cast<uint8_t>(blockSize / 256 + 10);
    case 6:
        return static_cast<uint8_t>(blockSize / 256 + 2);
    case 8:
    case 64:
        return 0x28;
    case 9:
    case 65:
        return 0x38;
    case 66:
        return 0x48;
    case 67:
        return 0x58;
    case 248:
        return 0xF8;
    default:
        return static_cast<uint8_t>(mode);
    }
}

Writer WriterForMode(uint32_t mode) {
    switch (mode) {
    case 2:
        return Writer::Compat;
    case 1:
        return Writer::Burst;
    case 5:
        return Writer::AB;
    case 6:
        return Writer::AC;
    case 0:
    case 32:
        return Writer::DB;
    case 68:
        return Writer::PxDB;
    case 3:
        return Writer::Ecp;
    case 8:
        return Writer::Mce;
    default:
        return Writer::None;
    }
}

uint32_t WriteBlockSize(uint32_t mode, uint32_t blockSize, uint32_t length) {
    switch (mode) {
    case 2:
        return 1;
    case 5:
    case 6:
        return blockSize > 8 ? blockSize - 8 : 0;
    case 3:
    case 8:
    case 9:
        return length;
    default:
        return blockSize;
    }
}

MceSplit McePasses(int32_t loopCount) {
    return {static_cast<uint32_t>(loopCount / 3 + 1),
            static_cast<uint32_t>(2 * static_cast<int64_t>(loopCount) / 3 + 1)};
}

uint32_t McePadding(uint32_t count, uint8_t pad[3]) {
    if (count & 1) {
        pad[0] = pad[1] = pad[2] = 0x55;
        return 3;
    }
    pad[0] = pad[1] = 0xAA;
    return 2;
}

DbStep PlanDoubleEdge(uint32_t mode, DbState &st, uint8_t byte, bool hasNext, uint8_t next,
                      uint32_t strbBeforeUs, uint32_t strbAfterUs) {
    DbStep step{};
    const bool repeat = byte == st.lines;
    if (mode == 68) {
        if (repeat)
            step.beforeNs = st.prevRepeat && !st.strobeLow ? 1500 : 1000;
        else if (st.prevRepeat)
            step.beforeNs = st.strobeLow ? 1700 : 2200;
        else
            step.beforeNs = 1000;
    } else if (repeat) {
        step.afterNs = strbAfterUs != 0 ? strbAfterUs * 1000 : 2000;
    } else if (hasNext && next == byte && strbBeforeUs != 0) {
        step.afterNs = strbBeforeUs * 1000;
    } else {
        step.afterNs = mode == 32 ? 400 : 1000;
    }
    step.edge = repeat;
    if (repeat)
        st.strobeLow = !st.strobeLow;
    st.lines = byte;
    st.prevRepeat = repeat;
    return step;
}

uint32_t ThroughputRate(int64_t elapsed100Ns) {
    if (elapsed100Ns <= 0)
        return 0;
    return static_cast<uint32_t>(400000000LL / elapsed100Ns);
}

uint8_t AssembleNibbles(uint8_t first, uint8_t second) {
    auto half = [](uint8_t s) {
        return static_cast<uint8_t>(((s & kStatusNFault) ? 1 : 0) | ((s & kStatusSelect) ? 2 : 0) |
                                    ((s & kStatusPError) ? 4 : 0) | ((s & kStatusNotBusy) ? 0 : 8));
    };
    return static_cast<uint8_t>(half(first) | (half(second) << 4));
}

bool DeviceIdTextLength(uint8_t high, uint8_t low, uint32_t *length) {
    const uint32_t field = static_cast<uint32_t>(high) * 256 + low;
    if (field < 2) {
        return false;
    }
    *length = field - 2;
    return true;
}

bool MceDelayAfterByte(uint32_t number) {
    return number >= 1 && (number - 1) % 3 == 0;
}

} // namespace par
