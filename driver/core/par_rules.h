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

// ---- Requests ---------------------------------------------------------------------------------

// NT status values the request rules answer with.
constexpr uint32_t kNtSuccess = 0;
constexpr uint32_t kNtPending = 0x00000103;
constexpr uint32_t kNtPaperEmpty = 0x8000000E;
constexpr uint32_t kNtPoweredOff = 0x8000000F;
constexpr uint32_t kNtOffLine = 0x80000010;
constexpr uint32_t kNtDeviceBusy = 0x80000011;
constexpr uint32_t kNtAlreadyDisconnected = 0x80000025;
constexpr uint32_t kNtInvalidParameter = 0xC000000D;
constexpr uint32_t kNtInvalidDeviceRequest = 0xC0000010;
constexpr uint32_t kNtBufferTooSmall = 0xC0000023;
constexpr uint32_t kNtNotConnected = 0xC000009D;
constexpr uint32_t kNtNotADirectory = 0xC0000103;
constexpr uint32_t kNtCancelled = 0xC0000120;
constexpr uint32_t kNtInvalidBufferSize = 0xC0000206;

// Control codes of the device.
constexpr uint32_t kIoctlQueryInformation = 0x160004;
constexpr uint32_t kIoctlSetInformation = 0x160008;
constexpr uint32_t kIoctlQueryDeviceId = 0x16000C;
constexpr uint32_t kIoctlQueryDeviceIdSize = 0x160010;
constexpr uint32_t kIoctlSetTimeouts = 0x1B001C;
constexpr uint32_t kIoctlGetTimeouts = 0x1B0020;
constexpr uint32_t kIoctlStatus = 0x162084;
constexpr uint32_t kIoctlSetMode = 0x162088;
constexpr uint32_t kIoctlGetModes = 0x16208C;
constexpr uint32_t kIoctlWriteRead = 0x162090;
constexpr uint32_t kIoctlDriverInfo = 0x162094;
constexpr uint32_t kIoctlBlockWrite = 0x162098;
constexpr uint32_t kIoctlNegotiate = 0x16209C;
constexpr uint32_t kIoctlTerminate = 0x1620A3;
constexpr uint32_t kIoctlSavedStatus = 0x1620A4;
constexpr uint32_t kIoctlThroughput = 0x1620A8;
constexpr uint32_t kIoctlSetOptions = 0x1620C0;
constexpr uint32_t kIoctlCompatWrite = 0x1620C4;

// What the dispatch routine does with a control request.
enum class Handling {
    Refused, // completed with the verdict's status
    AtOnce,  // answered by the dispatch routine without the port
    Queued,  // executed by the worker with the port allocated
};

struct Verdict {
    Handling handling;
    uint32_t status; // the refusal's status; kNtSuccess otherwise
};

// A control request as the dispatch routine sees it. input is the system buffer holding the
// input (null when there is none).
struct ControlRequest {
    uint32_t code;
    uint32_t inputBytes;
    uint32_t outputBytes;
    const uint8_t *input;
};

// Validates a control request: sizes and values first, then, for the codes that drain the
// ECP FIFO first, the completion gate (transferInProgress), which overrides a size error.
Verdict ValidateControl(const ControlRequest &r, bool transferInProgress);

// Bytes the at-once codes fill, the rest of the output being zeroed.
uint32_t AtOnceBytes(uint32_t code);

// Status of a printer that is not ready, from its status register.
uint32_t NotInitError(uint8_t s);

// The 1-byte answer of IOCTL_PAR_QUERY_INFORMATION.
uint8_t QueryInformationByte(uint8_t s);

constexpr uint8_t kParPowerOff = 0x10;
constexpr uint8_t kParPaperEmpty = 0x04;
constexpr uint8_t kParOffLine = 0x08;
constexpr uint8_t kParNotConnected = 0x20;
constexpr uint8_t kParBusy = 0x40;
constexpr uint8_t kParSelected = 0x80;

// The driver information record, 36 bytes little-endian.
struct DriverInfo {
    uint32_t timeout;
    uint32_t reserved;
    uint8_t initialized;
    uint8_t initializing;
    uint32_t stallOverhead;
    uint32_t stallStep;
    uint32_t requestedMode;
    uint32_t blockSize;
    uint32_t currentMode;
    uint8_t infoMarker;
};
constexpr uint32_t kDriverInfoBytes = 36;
void WriteDriverInfo(const DriverInfo &info, uint8_t out[kDriverInfoBytes]);

// Serial time-out record: five 32-bit values, the write constant (ms) last.
constexpr uint32_t kSerialTimeoutsBytes = 20;
constexpr uint32_t kMinWriteConstant = 100;
// Timeout in whole seconds from a write constant, and the write constant reported for it.
uint32_t TimeoutFromWriteConstant(uint32_t ms);
uint32_t WriteConstantFromTimeout(uint32_t seconds);
void WriteSerialTimeouts(uint32_t seconds, uint8_t out[kSerialTimeoutsBytes]);
uint32_t SerialWriteConstant(const uint8_t in[kSerialTimeoutsBytes]);

// Block-write record: block size, 24 data bytes, count of them to send.
constexpr uint32_t kBlockWriteBytes = 32;
constexpr uint32_t kBlockWriteData = 24;
struct BlockWrite {
    uint32_t blockSize; // 0 already made 512
    uint32_t count;
    const uint8_t *data;
};
// False when the count exceeds the data the record carries.
bool ParseBlockWrite(const uint8_t in[kBlockWriteBytes], BlockWrite *out);

// Little-endian 32-bit values in request buffers.
uint32_t LoadU32(const uint8_t *p);
void StoreU32(uint8_t *p, uint32_t v);

// The worker's base priority increment: the stored priority, -2 when it is 0.
int32_t WorkerIncrement(int32_t threadPriority);

// ---- Transfer modes ---------------------------------------------------------------------------

// The extensibility byte a negotiation into mode places on the data lines.
uint8_t NegotiationRequestByte(uint32_t mode, uint32_t blockSize);

// The forward writer of a current mode.
enum class Writer { None, Compat, Burst, AB, AC, DB, PxDB, Ecp, Mce };
Writer WriterForMode(uint32_t mode);

// Bytes a write request hands its mode's writer at a time; 0 when the block size leaves no
// data in a block (a write then fails). length is the request's length.
uint32_t WriteBlockSize(uint32_t mode, uint32_t blockSize, uint32_t length);

// Passes of the Mce loop before (a) and after (b) each strobe edge.
struct MceSplit {
    uint32_t a, b;
};
MceSplit McePasses(int32_t loopCount);
// Padding after count bytes of an Mce block: three 0x55 after an odd count, two 0xAA after an
// even one; returns how many and fills pad.
uint32_t McePadding(uint32_t count, uint8_t pad[3]);

// One byte of a double-edge block: a data change or an nStrobe edge, and the stalls around it.
struct DbStep {
    bool edge;         // toggle nStrobe (the byte repeats the one on the lines)
    uint32_t beforeNs; // stall before the port write
    uint32_t afterNs;  // stall after it
};
// Double-edge state carried from byte to byte.
struct DbState {
    uint8_t lines;   // byte on the data lines
    bool strobeLow;  // nStrobe's bit in the strobe state
    bool prevRepeat; // the previous byte was sent as an edge
};
// Plans the next byte of a block in mode 0, 32 or 68 and updates the state. hasNext and next
// describe the byte after it in the same block; strobe delays are in microseconds.
DbStep PlanDoubleEdge(uint32_t mode, DbState &state, uint8_t byte, bool hasNext, uint8_t next,
                      uint32_t strbBeforeUs, uint32_t strbAfterUs);

// Throughput probe's rate in tenths of KiB per second of 4096 bytes sent in elapsed 100-ns
// units; 0 when no time elapsed.
uint32_t ThroughputRate(int64_t elapsed100Ns);

// Polls of the block writers' ready waits, in 64 bits: Timeout x 100 and Timeout x 10,000.
inline uint64_t AbReadyPolls(uint32_t timeout) {
    return static_cast<uint64_t>(timeout) * 100;
}
inline uint64_t AcReadyPolls(uint32_t timeout) {
    return static_cast<uint64_t>(timeout) * 10000;
}

// ---- Reverse channel --------------------------------------------------------------------------

// The byte two nibble-mode status reads carry: bits 0-2 from nFault, Select and PError, bit 3
// from busy (the inverse of the not-busy bit), the first status giving the low half.
uint8_t AssembleNibbles(uint8_t first, uint8_t second);

// An IEEE 1284 device ID's text length from its big-endian length field, which counts its two
// bytes; false for a field below 2 (a malformed ID).
bool DeviceIdTextLength(uint8_t high, uint8_t low, uint32_t *length);

// Mce replies: the bytes dropped at the start of each read (the reply's header).
constexpr uint32_t kMceHeaderBytes = 2;
// Mce device-ID reads: a 1-ms delay follows the byte with this 1-based number (1, 4, 7, ...).
bool MceDelayAfterByte(uint32_t number);

// ECP reverse bytes kept across a turnaround: the FIFO the probe accepts at its deepest
// (recorded depth kEcpMaxDepth holds one byte more), plus one.
constexpr uint32_t kEcpCarryBytes = kEcpMaxDepth + 2;

} // namespace par
