// tandrel: pure rules of the driver (calibration arithmetic, registry ranges, names, status
// bits). Kernel-safe: freestanding headers only, no allocation, no Windows header.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace par {

// ---- Registry parameters ----------------------------------------------------------------------

// Registry value types as the registry stores them.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegDword = 4;

// Longest DosDevice base name, in characters (without the terminating zero).
constexpr size_t kMaxDosDeviceChars = 256;

// The parameters the driver reads from its service key, in the order it reads them.
struct Parameters {
    int32_t threadPriority;         // UseNT35Priority
    uint32_t initializationTimeout; // seconds
    uint32_t transferType;          // requested mode
    uint32_t blockSize;
    uint32_t privMode;
    uint32_t strbBefore; // microseconds
    uint32_t strbAfter;  // microseconds
};

// The values a Parameters key without any of them gives.
Parameters DefaultParameters();

// True when a stored value may be read into a 32-bit field: REG_DWORD of exactly 4 bytes.
bool DwordValueAcceptable(uint32_t type, uint32_t bytes);

// True when a stored DosDevice may be used as the link base name: REG_SZ of at most 256
// characters; bytes counts the data as stored, terminating zero included when present.
bool DosDeviceValueAcceptable(uint32_t type, const uint16_t *data, uint32_t bytes);

// The range rules, applied after every read whether it succeeded or failed: no
// initialisation time-out becomes 3 s, strobe delays out of range become 0, a block size
// of 0 becomes 512.
void ApplyParameterRules(Parameters &p);

// ---- Names ------------------------------------------------------------------------------------

// Appends the decimal form of value to dst (capacity cap characters, length *len), without a
// terminating zero. False, with dst unchanged, when it does not fit.
bool AppendDecimal(uint16_t *dst, size_t cap, size_t *len, uint32_t value);
// Appends count characters (or a zero-terminated ASCII text) to dst; false when it does not fit.
bool AppendChars(uint16_t *dst, size_t cap, size_t *len, const uint16_t *src, size_t count);
bool AppendAscii(uint16_t *dst, size_t cap, size_t *len, const char *src);

// Characters a link name "\DosDevices\" + base + number needs, without a terminating zero.
size_t LinkNameChars(size_t baseChars, uint32_t number);
// Characters of the decimal form of value.
size_t DecimalChars(uint32_t value);

// ---- Time -------------------------------------------------------------------------------------

constexpr int64_t kHundredNsPerSecond = 10000000;

// Relative system wait of the given seconds (negative 100-ns count), in 64 bits.
int64_t RelativeSeconds(uint32_t seconds);

// Converts a difference of performance-counter readings (counts >= 0) into nanoseconds or
// 100-ns units, without overflow for any difference at counter rates up to 9 GHz. A
// frequency of 0 or below gives 0.
int64_t CountsToNs(int64_t counts, int64_t frequency);
int64_t CountsTo100Ns(int64_t counts, int64_t frequency);

// Elapsed time of the tick clock, in 100-ns units.
int64_t TicksTo100Ns(uint64_t ticksNow, uint64_t ticksStart, uint32_t increment);

// ---- Stall loop calibration -------------------------------------------------------------------

// Steps of the calibrated stall loop are kept in 1/256 ns so that passes shorter than 1 ns
// keep their length.
constexpr uint32_t kStepScale = 256;

// Calibration runs tried before giving up on a measurable step.
constexpr int kMaxCalibrationRuns = 8;

// Second smallest of count samples (the smallest, the first one on a tie, is left out).
// count must be at least 2.
int64_t SecondSmallest(const int64_t *samples, size_t count);

// Passes of the stall loop for a stall of ns nanoseconds: 0 when the time is not above the
// overhead, else (ns - overhead) / step, step in 1/256 ns.
uint32_t StallPasses(uint32_t ns, uint32_t step256, uint32_t overheadNs);

// Result of one calibration run.
struct StallCalibration {
    uint32_t step256;    // ns per pass, in 1/256 ns; 0 when the run measured no step
    uint32_t overheadNs; // cost of a stall call plus one port write
};

// Evaluates one calibration run from its samples, all already in nanoseconds: readNs the
// cost of one counter read, a800/b1600 the second smallest sections of 800 and 1600 passes,
// writeNs that of one port write.
StallCalibration EvaluateCalibrationRun(int64_t readNs, int64_t a800, int64_t b1600,
                                        int64_t writeNs);

// Chooses the result of count runs (count >= 2): ordered by step, then overhead, the first
// is left out and the smallest of the rest kept. Runs whose step is 0 count as the finest
// step (one 1/256 ns), so stalls err long.
StallCalibration ChooseCalibration(const StallCalibration *runs, size_t count);

// The stall step field in whole nanoseconds: rounded up, at least 1.
uint32_t StepFieldNs(uint32_t step256);

// ---- Mce loop calibration ---------------------------------------------------------------------

// Loop count from the four timed sections (100-ns units); 0 when the sections do not grow
// with the passes or the result is not positive.
int32_t MceLoopCount(int64_t t1, int64_t t2, int64_t t3, int64_t t4);

// Count used when no attempt gives a positive one.
constexpr int32_t kMceFallbackCount = 200;

// ---- ECP probe --------------------------------------------------------------------------------

// Most FIFO writes the probe makes, and the deepest FIFO it accepts.
constexpr int kEcpProbeWrites = 65;
constexpr uint32_t kEcpMaxDepth = 64;

// ---- Status register --------------------------------------------------------------------------

constexpr uint8_t kStatusNFault = 0x08;
constexpr uint8_t kStatusSelect = 0x10;
constexpr uint8_t kStatusPError = 0x20;
constexpr uint8_t kStatusNAck = 0x40;
constexpr uint8_t kStatusNotBusy = 0x80;

bool StatusReady(uint8_t s);        // nFault set, PError clear, not busy set
bool StatusOffLine(uint8_t s);      // nFault set, not busy clear, Select clear
bool StatusPowerOff(uint8_t s);     // nFault clear, nAck clear, not busy set
bool StatusNotConnected(uint8_t s); // nFault set, not busy set, Select clear
// A status that ends the wait after a reset.
bool StatusEndsResetWait(uint8_t s);
// A status after which the device counts as initialised.
bool StatusInitialises(uint8_t s);

} // namespace par
