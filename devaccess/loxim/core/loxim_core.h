// Platform-neutral rules of the device access dispatcher: port-name classification, the choice
// of connection type, the layout of the shared device table and of the per-device record, slot
// bookkeeping, mapping names and the table of which routine serves which code and type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace loxim::core {

// Function codes of the entry.
enum : uint32_t {
    kCodeOpen = 1,
    kCodeClose = 2,
    kCodeJobAlloc = 3,
    kCodeJobRealloc = 4,
    kCodeJobFree = 5,
    kCodeJobCopyIn = 6,
    kCodeJobCopyOut = 7,
    kCodeWrite = 8,
    kCodeRead = 9,
    kCodeSend = 10,
    kCodeSendResult = 11,
    kCodeIsReady = 12,
    kCodeDeviceId = 13,
    kCodeProbe = 14,
    kCodeStatusByte = 15,
    kCodePrinterState = 16,
    kCodeAuxQuery = 17,
    kCodeAuxCommand = 18,
    kCodeSetSettings = 19,
    kCodeDeviceInfo = 20,
    kCodeNetStatus = 100,
    kCodeNetConnect = 102,
    kCodeNetDisconnect = 103,
    kCodeWriteBackground = 104,
    kCodeReadBackground = 105,
    kCodePassThrough = 30000,
};

// Result codes of the entry.
enum : int32_t {
    kOk = 0,
    kErrParam = -101,
    kErrPortNotFound = -102,
    kErrHandle = -103,
    kErrJobBuffer = -104,
    kErrNetConnect = -107,
    kErrLibrary = -120,
    kErrPortUnknown = -121,
    kErrOpen = -130,
    kErrAlreadyOpen = -131,
    kErrTimeout = -132,
    kErrThread = -133,
    kErrNet8 = -134,
    kErrTransfer = -135,
    kErrMemory = -140,
    kErrBufferInUse = -141,
    kErrSend = -142,
    kErrBusy = -150,
    kErrShortSend = -151,
    kErrReadPending = -153,
    kErrDevice = -160,
    kErrStatus = -180,
    kErrNetwork = -190,
};

// Port kinds, from the port name.
enum : uint32_t {
    kKindOther = 0,
    kKindParallel = 1,
    kKindUsb = 2,
    kKindUsbLpt = 4,
    kKindIpv4 = 128,
};

// Connection types.
enum : uint32_t {
    kTypeChoose = 1,
    kTypeParallel = 2,
    kTypeUsb = 3,
    kTypePacket = 4, // also 6 to 10
    kTypePacketUsb = 5,
    kTypeUsbLpt = 256,
    kTypeTcpIp = 257,
    kTypeDefault = 4096,
};

bool IsPacketType(uint32_t type);
// One of the types a record may hold (every type but 1).
bool IsKnownType(uint32_t type);

// Kind of a port name; prefixes are compared case-sensitively.
uint32_t ClassifyPortName(const char *port);

// Where the transfer settings of an open come from.
enum class SettingsFrom { None, Params36, Params44, Registry };

struct TypeChoice {
    int32_t result = kOk;
    uint32_t type = 0;
    SettingsFrom settings = SettingsFrom::None;
};

// The type choice (type 1) and the kind checks of an explicit type. paramsSize is the first
// field of the caller's ConnectionParams, or -1 without them; transferMode is the printer's
// "TransferMode" value (0 when it cannot be read).
TypeChoice ChooseConnectionType(uint32_t requested, uint32_t kind, int64_t paramsSize,
                                uint32_t transferMode);

// ---- shared device table ----

constexpr uint32_t kSlotCount = 64;

struct Slot {
    uint32_t owner;   // process id
    uint32_t mapping; // the owner's handle of the record's mapping; 0 = free
};

struct DeviceTable {
    uint32_t reserved[2];
    uint32_t openCount;
    uint32_t highWater;
    Slot slots[kSlotCount];
};
static_assert(sizeof(DeviceTable) == 528);
static_assert(offsetof(DeviceTable, slots) == 16);

// Index of the slot the next open takes, or -1 when the table is full.
int ChooseSlot(const DeviceTable &table);
// Fills a slot chosen by ChooseSlot and keeps the count and the mark.
void RegisterSlot(DeviceTable &table, uint32_t index, uint32_t owner, uint32_t mapping);
// Frees an in-use slot and keeps the count and the mark.
void ReleaseSlot(DeviceTable &table, uint32_t index);
// Slot index of a device handle usable by process `owner`, or -1.
int SlotOfHandle(const DeviceTable &table, uint32_t handle, uint32_t owner);

// ---- per-device record ----

constexpr uint32_t kRecordFixed = 28;

struct RecordHeader {
    uint32_t headerLength;
    uint32_t reserved[2];
    uint32_t type;
    uint32_t module;
    uint32_t entry;
    uint32_t privateSize;
};
static_assert(sizeof(RecordHeader) == kRecordFixed);

// Header length of a record for these names (a NULL printer name is empty), or 0 when the
// record would not fit in 32 bits.
uint32_t RecordHeaderLength(const char *printer, const char *port);

// Writes the header and the names into a zero-filled record of `size` bytes; false when the
// record does not hold header length plus private size.
bool WriteRecord(uint8_t *record, size_t size, uint32_t type, const char *printer, const char *port,
                 uint32_t privateSize);

struct RecordView {
    RecordHeader header{};
    std::string_view printer;
    std::string_view port;
    const uint8_t *privateArea = nullptr;
};

// Reads a record of which `size` bytes are readable; false when the header or the names do not
// lie within them (a foreign or damaged record).
bool ReadRecord(const uint8_t *record, size_t size, RecordView &out);

// ---- names ----

// Longest mapping name, terminator included.
constexpr size_t kMappingNameSize = 260;

// The record's mapping name for a path: "Devacc.%s", "Devacc.QUV_%s", "Devacc.QUVMFPI_%s%2x" or
// "Devacc.QUVMFPI_%s"; empty for TCP/IP (unnamed) and when the name would not fit.
std::string MappingName(uint32_t type, const char *port, uint32_t serviceCode = 0);

// Port number of a parallel, USB or USB-to-parallel port: its first digit 1 to 9, else -1.
int32_t PortNumber(const char *port);

// Joins folder and file into a path that fits in `capacity` bytes (terminator included);
// empty when it does not fit.
std::string JoinPath(std::string_view folder, std::string_view separator, std::string_view file,
                     size_t capacity);

// ---- dispatch ----

enum class Routine : uint8_t {
    Zero,         // returns 0, does nothing
    Refused,      // -101
    Generic,      // the library-free routine of the code
    DefaultState, // code 16 off parallel
    Background,   // codes 104, 105
    PassMatch,    // code 30000: 0 when the control word names the type, else -101
    // default path (jastin) and the routines other paths share
    DefWrite,
    MfpRead,
    DefSendBuffer,
    UsbLptGetSendResult,
    DefIsReady,
    MfpReadDeviceId,
    DefProbe,
    DefReadStatusByte,
    // USB-to-parallel (mirovel)
    UsbLptWrite,
    UsbLptRead,
    UsbLptIsReady,
    UsbLptReadDeviceId,
    UsbLptProbe,
    UsbLptReadStatusByte,
    // parallel (zorla)
    LptAllocJobBuffer,
    LptReallocJobBuffer,
    LptFreeJobBuffer,
    LptCopyToJobBuffer,
    LptCopyFromJobBuffer,
    LptWrite,
    LptRead,
    LptSendBuffer,
    LptGetSendResult,
    LptIsReady,
    LptReadDeviceId,
    LptProbe,
    LptReadStatusByte,
    LptGetPrinterState,
    LptAuxQuery,
    LptAuxCommand,
    LptSetDeviceSettings,
    // USB (frennic)
    UsbWrite,
    UsbSendBuffer,
    UsbGetSendResult,
    UsbIsReady,
    UsbProbe,
    UsbReadStatusByte,
    UsbPassThrough,
    // packet (ulvane)
    MfpWrite,
    MfpSendBuffer,
    MfpReadStatusByte,
    // TCP/IP (brevan)
    TcpWrite,
    TcpRead,
    TcpSendBuffer,
    TcpGetSendResult,
    TcpReadDeviceId,
    TcpGetStatusValue,
    TcpConnect,
    TcpDisconnect,
    TcpSnmpRequest,
};

// Which routine serves a code (3 to 19, 100 to 105, 30000) on a connection type. Codes outside
// the table, and types a record cannot hold, give Zero.
Routine DispatchRoutine(uint32_t code, uint32_t type);

const char *RoutineName(Routine routine);

// ---- parallel path ----

// Results of the parallel library's operations as the entry reports them.
int32_t MapLptResult(uint32_t op, int32_t result);

// Send pacing: percent (from "TransfarSpeedAdjust"; 100 when not found or above 1000) of the
// transfer rate, at least 200; a percent of 0 gives 0.
uint32_t SendPacing(bool found, uint32_t percent, uint32_t rate);

struct PrinterState {
    uint32_t state;
    uint8_t valid;
    bool reread; // the status byte is read again and the state left undetermined
};

// The printer state word of a parallel device from its transfer mode, the caller's flags and
// the status byte.
PrinterState LptPrinterState(uint32_t mode, uint32_t flags, uint8_t status);

// ---- packet path ----

// Service code of a packet connection type without ConnectionParams; 0 for other types.
uint32_t PacketServiceCode(uint32_t type);
// Mode passed at the open: 2 for transfer mode 9, else 1.
uint32_t PacketMode(uint32_t transferMode);
// The status byte as the packet path reports it.
inline uint8_t PacketStatusByte(uint8_t status) {
    return static_cast<uint8_t>((status & 0xD8) | 0x50);
}

// ---- TCP/IP path ----

// Results of the network library's calls.
int32_t MapTcpResult(int32_t result);
// Status values of the raw transport's event record.
int32_t MapTcpStatus(int32_t status);

} // namespace loxim::core
