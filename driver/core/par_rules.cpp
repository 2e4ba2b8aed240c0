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

} // namespace par
