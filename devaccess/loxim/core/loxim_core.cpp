#include "loxim_core.h"

#include <cstdio>
#include <cstring>

namespace loxim::core {

namespace {

bool StartsWith(const char *text, const char *prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

} // namespace

bool IsPacketType(uint32_t type) {
    return type == 4 || (type >= 6 && type <= 10);
}

bool IsKnownType(uint32_t type) {
    return type == kTypeParallel || type == kTypeUsb || IsPacketType(type) ||
           type == kTypePacketUsb || type == kTypeUsbLpt || type == kTypeTcpIp ||
           type == kTypeDefault;
}

uint32_t ClassifyPortName(const char *port) {
    if (!port)
        return kKindOther;
    if (StartsWith(port, "PRNUSB") || StartsWith(port, "LPTUSB") || StartsWith(port, "USBLPT"))
        return kKindUsbLpt;
    if (StartsWith(port, "LPT"))
        return kKindParallel;
    if (StartsWith(port, "USB") || StartsWith(port, "KV1USB"))
        return kKindUsb;
    size_t dots = 0;
    for (const char *p = port; *p; ++p)
        dots += *p == '.';
    return dots == 3 ? kKindIpv4 : kKindOther;
}

TypeChoice ChooseConnectionType(uint32_t requested, uint32_t kind, int64_t paramsSize,
                                uint32_t transferMode) {
    const bool packetMode = transferMode == 8 || transferMode == 9;
    const bool noParams = paramsSize < 0;
    TypeChoice c;
    c.type = requested;
    auto refuse = [](int32_t code) { return TypeChoice{code, 0, SettingsFrom::None}; };

    if (requested == kTypeChoose) {
        switch (kind) {
        case kKindParallel:
            if (noParams) {
                c.type = packetMode ? kTypePacket : kTypeParallel;
                c.settings = SettingsFrom::Registry;
            } else if (paramsSize == 36) {
                c.type = kTypeParallel;
                c.settings = SettingsFrom::Params36;
            } else if (paramsSize == 44) {
                c.type = kTypePacket;
                c.settings = SettingsFrom::Params44;
            } else if (paramsSize == 12) {
                c.type = kTypePacket;
                c.settings = SettingsFrom::Registry;
            } else {
                return refuse(kErrPortNotFound);
            }
            return c;
        case kKindUsb:
            c.type = packetMode ? kTypePacketUsb : kTypeUsb;
            return c;
        case kKindUsbLpt:
            c.type = kTypeUsbLpt;
            return c;
        case kKindIpv4:
            c.type = kTypeTcpIp;
            return c;
        default:
            c.type = kTypeDefault;
            return c;
        }
    }
    if (requested == kTypeParallel) {
        if (kind != kKindParallel)
            return refuse(kErrParam);
        if (noParams)
            c.settings = SettingsFrom::Registry;
        else if (paramsSize == 36)
            c.settings = SettingsFrom::Params36;
        else
            return refuse(kErrParam);
        return c;
    }
    if (requested == kTypeUsb || requested == kTypePacketUsb)
        return kind == kKindUsb ? c : refuse(kErrParam);
    if (IsPacketType(requested)) {
        if (kind != kKindParallel)
            return refuse(kErrParam);
        if (noParams || paramsSize == 12)
            c.settings = SettingsFrom::Registry;
        else if (paramsSize == 44)
            c.settings = SettingsFrom::Params44;
        else
            return refuse(kErrParam);
        return c;
    }
    if (requested == kTypeUsbLpt)
        return kind == kKindUsbLpt ? c : refuse(kErrParam);
    if (requested == kTypeTcpIp || requested == kTypeDefault)
        return c;
    return refuse(kErrParam);
}

int ChooseSlot(const DeviceTable &table) {
    const uint32_t count = table.openCount;
    for (uint32_t i = 0; i < count && i < kSlotCount; ++i)
        if (table.slots[i].mapping == 0)
            return static_cast<int>(i);
    return count < kSlotCount ? static_cast<int>(count) : -1;
}

void RegisterSlot(DeviceTable &table, uint32_t index, uint32_t owner, uint32_t mapping) {
    if (index >= kSlotCount)
        return;
    if (index >= table.highWater)
        table.highWater = index + 1;
    table.openCount += 1;
    table.slots[index].mapping = mapping;
    table.slots[index].owner = owner;
}

void ReleaseSlot(DeviceTable &table, uint32_t index) {
    if (index >= kSlotCount || table.slots[index].mapping == 0)
        return;
    table.slots[index].mapping = 0;
    table.slots[index].owner = 0;
    if (index + 1 == table.highWater)
        table.highWater -= 1;
    if (table.openCount > 0)
        table.openCount -= 1;
}

int SlotOfHandle(const DeviceTable &table, uint32_t handle, uint32_t owner) {
    if (handle == 0)
        return -1;
    const uint32_t index = handle - 1;
    if (index >= table.highWater || index >= kSlotCount)
        return -1;
    const Slot &slot = table.slots[index];
    if (slot.mapping == 0 || slot.owner != owner)
        return -1;
    return static_cast<int>(index);
}

uint32_t RecordHeaderLength(const char *printer, const char *port) {
    const uint64_t length = uint64_t{kRecordFixed} + (printer ? std::strlen(printer) : 0) + 1 +
                            (port ? std::strlen(port) : 0) + 1;
    return length > 0x7fffffffu ? 0 : static_cast<uint32_t>(length);
}

bool WriteRecord(uint8_t *record, size_t size, uint32_t type, const char *printer, const char *port,
                 uint32_t privateSize) {
    const uint32_t headerLength = RecordHeaderLength(printer, port);
    if (!record || headerLength == 0 || uint64_t{headerLength} + privateSize > size)
        return false;
    RecordHeader header{};
    header.headerLength = headerLength;
    header.type = type;
    header.privateSize = privateSize;
    std::memcpy(record, &header, sizeof header);
    const size_t printerLength = printer ? std::strlen(printer) : 0;
    const size_t portLength = port ? std::strlen(port) : 0;
    uint8_t *names = record + kRecordFixed;
    if (printerLength)
        std::memcpy(names, printer, printerLength);
    names[printerLength] = 0;
    if (portLength)
        std::memcpy(names + printerLength + 1, port, portLength);
    names[printerLength + 1 + portLength] = 0;
    return true;
}

bool ReadRecord(const uint8_t *record, size_t size, RecordView &out) {
    if (!record || size < kRecordFixed)
        return false;
    RecordHeader header;
    std::memcpy(&header, record, sizeof header);
    if (header.headerLength < kRecordFixed + 2 || header.headerLength > size)
        return false;
    if (header.privateSize > size - header.headerLength)
        return false;
    const char *names = reinterpret_cast<const char *>(record + kRecordFixed);
    const size_t span = header.headerLength - kRecordFixed;
    const void *end1 = std::memchr(names, 0, span);
    if (!end1)
        return false;
    const size_t printerLength = static_cast<const char *>(end1) - names;
    const char *port = names + printerLength + 1;
    const size_t rest = span - printerLength - 1;
    const void *end2 = rest ? std::memchr(port, 0, rest) : nullptr;
    if (!end2)
        return false;
    out.header = header;
    out.printer = std::string_view(names, printerLength);
    out.port = std::string_view(port, static_cast<const char *>(end2) - port);
    out.privateArea = record + header.headerLength;
    return true;
}

std::string MappingName(uint32_t type, const char *port, uint32_t serviceCode) {
    if (!port)
        return {};
    const char *prefix = nullptr;
    bool withService = false;
    if (type == kTypeDefault)
        prefix = "Devacc.";
    else if (type == kTypeParallel || type == kTypeUsb || type == kTypeUsbLpt)
        prefix = "Devacc.QUV_";
    else if (IsPacketType(type))
        prefix = "Devacc.QUVMFPI_", withService = true;
    else if (type == kTypePacketUsb)
        prefix = "Devacc.QUVMFPI_";
    else
        return {};
    std::string name = std::string(prefix) + port;
    if (withService) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%2x", serviceCode & 0xffu);
        name += hex;
    }
    if (name.size() + 1 > kMappingNameSize)
        return {};
    return name;
}

int32_t PortNumber(const char *port) {
    if (!port)
        return -1;
    for (const char *p = port; *p; ++p)
        if (*p >= '1' && *p <= '9')
            return *p - '0';
    return -1;
}

std::string JoinPath(std::string_view folder, std::string_view separator, std::string_view file,
                     size_t capacity) {
    if (folder.size() + separator.size() + file.size() + 1 > capacity)
        return {};
    std::string path;
    path.reserve(folder.size() + separator.size() + file.size());
    path.append(folder).append(separator).append(file);
    return path;
}

namespace {

// Columns of the dispatch table.
enum Column { kParallel, kUsb, kPacket, kPacketUsb, kUsbLpt, kTcpIp, kDefault, kColumns };

int ColumnOf(uint32_t type) {
    if (type == kTypeParallel)
        return kParallel;
    if (type == kTypeUsb)
        return kUsb;
    if (IsPacketType(type))
        return kPacket;
    if (type == kTypePacketUsb)
        return kPacketUsb;
    if (type == kTypeUsbLpt)
        return kUsbLpt;
    if (type == kTypeTcpIp)
        return kTcpIp;
    if (type == kTypeDefault)
        return kDefault;
    return -1;
}

struct Row {
    uint32_t code;
    Routine cells[kColumns];
};

using R = Routine;
constexpr Row kTable[] = {
    {kCodeJobAlloc,
     {R::LptAllocJobBuffer, R::Generic, R::Generic, R::Generic, R::Generic, R::Generic,
      R::Generic}},
    {kCodeJobRealloc,
     {R::LptReallocJobBuffer, R::Generic, R::Generic, R::Generic, R::Generic, R::Generic,
      R::Generic}},
    {kCodeJobFree,
     {R::LptFreeJobBuffer, R::Generic, R::Generic, R::Generic, R::Generic, R::Generic, R::Generic}},
    {kCodeJobCopyIn,
     {R::LptCopyToJobBuffer, R::Generic, R::Generic, R::Generic, R::Generic, R::Generic,
      R::Generic}},
    {kCodeJobCopyOut,
     {R::LptCopyFromJobBuffer, R::Generic, R::Generic, R::Generic, R::Generic, R::Generic,
      R::Generic}},
    {kCodeWrite,
     {R::LptWrite, R::UsbWrite, R::MfpWrite, R::Refused, R::UsbLptWrite, R::TcpWrite, R::DefWrite}},
    {kCodeRead,
     {R::LptRead, R::MfpRead, R::MfpRead, R::Refused, R::UsbLptRead, R::TcpRead, R::MfpRead}},
    {kCodeSend,
     {R::LptSendBuffer, R::UsbSendBuffer, R::MfpSendBuffer, R::Refused, R::DefSendBuffer,
      R::TcpSendBuffer, R::DefSendBuffer}},
    {kCodeSendResult,
     {R::LptGetSendResult, R::UsbGetSendResult, R::UsbLptGetSendResult, R::Refused,
      R::UsbLptGetSendResult, R::TcpGetSendResult, R::UsbLptGetSendResult}},
    {kCodeIsReady,
     {R::LptIsReady, R::UsbIsReady, R::DefIsReady, R::Refused, R::UsbLptIsReady, R::Zero,
      R::DefIsReady}},
    {kCodeDeviceId,
     {R::LptReadDeviceId, R::MfpReadDeviceId, R::MfpReadDeviceId, R::Refused, R::UsbLptReadDeviceId,
      R::TcpReadDeviceId, R::MfpReadDeviceId}},
    {kCodeProbe,
     {R::LptProbe, R::UsbProbe, R::DefProbe, R::Refused, R::UsbLptProbe, R::Zero, R::DefProbe}},
    {kCodeStatusByte,
     {R::LptReadStatusByte, R::UsbReadStatusByte, R::MfpReadStatusByte, R::Refused,
      R::UsbLptReadStatusByte, R::Refused, R::DefReadStatusByte}},
    {kCodePrinterState,
     {R::LptGetPrinterState, R::DefaultState, R::DefaultState, R::DefaultState, R::DefaultState,
      R::Zero, R::DefaultState}},
    {kCodeAuxQuery,
     {R::LptAuxQuery, R::Refused, R::Refused, R::Refused, R::Refused, R::Zero, R::Refused}},
    {kCodeAuxCommand,
     {R::LptAuxCommand, R::Refused, R::Refused, R::Refused, R::Refused, R::Zero, R::Refused}},
    {kCodeSetSettings,
     {R::LptSetDeviceSettings, R::Zero, R::Zero, R::Zero, R::Zero, R::Zero, R::Zero}},
    {kCodeNetStatus, {R::Zero, R::Zero, R::Zero, R::Zero, R::Zero, R::TcpGetStatusValue, R::Zero}},
    {kCodeNetConnect, {R::Zero, R::Zero, R::Zero, R::Zero, R::Zero, R::TcpConnect, R::Zero}},
    {kCodeNetDisconnect, {R::Zero, R::Zero, R::Zero, R::Zero, R::Zero, R::TcpDisconnect, R::Zero}},
    {kCodeWriteBackground,
     {R::Background, R::Background, R::Background, R::Background, R::Background, R::Background,
      R::Background}},
    {kCodeReadBackground,
     {R::Background, R::Background, R::Background, R::Background, R::Background, R::Background,
      R::Background}},
    {kCodePassThrough,
     {R::PassMatch, R::UsbPassThrough, R::PassMatch, R::PassMatch, R::PassMatch, R::TcpSnmpRequest,
      R::PassMatch}},
};

constexpr const char *kNames[] = {
    "0",
    "-101",
    "generic",
    "default state",
    "background thread",
    "0 or -101",
    "DefWrite",
    "MfpRead",
    "DefSendBuffer",
    "UsbLptGetSendResult",
    "DefIsReady",
    "MfpReadDeviceId",
    "DefProbe",
    "DefReadStatusByte",
    "UsbLptWrite",
    "UsbLptRead",
    "UsbLptIsReady",
    "UsbLptReadDeviceId",
    "UsbLptProbe",
    "UsbLptReadStatusByte",
    "LptAllocJobBuffer",
    "LptReallocJobBuffer",
    "LptFreeJobBuffer",
    "LptCopyToJobBuffer",
    "LptCopyFromJobBuffer",
    "LptWrite",
    "LptRead",
    "LptSendBuffer",
    "LptGetSendResult",
    "LptIsReady",
    "LptReadDeviceId",
    "LptProbe",
    "LptReadStatusByte",
    "LptGetPrinterState",
    "LptAuxQuery",
    "LptAuxCommand",
    "LptSetDeviceSettings",
    "UsbWrite",
    "UsbSendBuffer",
    "UsbGetSendResult",
    "UsbIsReady",
    "UsbProbe",
    "UsbReadStatusByte",
    "UsbPassThrough",
    "MfpWrite",
    "MfpSendBuffer",
    "MfpReadStatusByte",
    "TcpWrite",
    "TcpRead",
    "TcpSendBuffer",
    "TcpGetSendResult",
    "TcpReadDeviceId",
    "TcpGetStatusValue",
    "TcpConnect",
    "TcpDisconnect",
    "TcpSnmpRequest",
};
static_assert(sizeof kNames / sizeof kNames[0] == static_cast<size_t>(Routine::TcpSnmpRequest) + 1);

} // namespace

Routine DispatchRoutine(uint32_t code, uint32_t type) {
    const int column = ColumnOf(type);
    if (column < 0)
        return Routine::Zero;
    for (const Row &row : kTable)
        if (row.code == code)
            return row.cells[column];
    return Routine::Zero;
}

const char *RoutineName(Routine routine) {
    return kNames[static_cast<size_t>(routine)];
}

int32_t MapLptResult(uint32_t op, int32_t result) {
    if (result == 0)
        return kOk;
    switch (op) {
    case 3:
    case 4:
        return kErrParam; // close, send result
    case 5:
    case 9:
        return kErrMemory; // page alloc, realloc
    case 6:
    case 7:
    case 8:
    case 10: // page copies and free
        return result == -14 ? kErrBufferInUse : kErrJobBuffer;
    case 12: // send
        if (result == -15 || result == -4)
            return kErrSend;
        if (result == -14 || result == -7)
            return kErrBusy;
        return kErrParam;
    case 13: // write and read
        switch (result) {
        case -7:
            return kErrBusy;
        case -8:
            return kErrTransfer;
        case -19:
            return kErrTimeout;
        case -9:
            return kErrDevice;
        default:
            return kErrParam;
        }
    case 14:
        return result == -17 ? kErrStatus : kErrParam; // status byte
    case 16:                                           // device ID
        if (result == -7)
            return kErrBusy;
        return result == -19 ? kErrDevice : kErrParam;
    case 20:
    case 24:
        return result == -7 ? kErrBusy : kErrParam; // ready, aux command
    case 23:                                        // aux query
        if (result == -7)
            return kErrBusy;
        return result == -9 ? kErrDevice : kErrParam;
    default:
        return kErrParam;
    }
}

uint32_t SendPacing(bool found, uint32_t percent, uint32_t rate) {
    if (!found || percent > 1000)
        percent = 100;
    if (percent == 0)
        return 0;
    const uint64_t pacing = uint64_t{percent} * rate / 100;
    if (pacing < 200)
        return 200;
    return pacing > 0xffffffffu ? 0xffffffffu : static_cast<uint32_t>(pacing);
}

PrinterState LptPrinterState(uint32_t mode, uint32_t flags, uint8_t status) {
    const bool mode17 = mode == 1 || mode == 7;
    const bool bit0 = flags & 1, bit1 = flags & 2, bit2 = flags & 4;
    const bool reread = (mode17 && bit0 && !bit1 && (status & 0x40)) ||
                        (!(mode17 && bit0 && !bit1) && bit2 && !(status & 0x40));
    if (reread)
        return {0x1000000, 0, true};
    if ((mode17 && !bit0) || bit1)
        return {(status & 0x90) ? 0x1000000u : 0x1000100u, 1, false};
    switch (status & 0x30) {
    case 0x00:
        return {0x3010100, 1, false};
    case 0x10:
        return {0x1000000, 1, false};
    case 0x20:
        return {0x3000200, 1, false};
    default:
        return {0x3000100, 1, false};
    }
}

uint32_t PacketServiceCode(uint32_t type) {
    switch (type) {
    case 4:
        return 0x10221;
    case 6:
        return 0x10251;
    case 7:
        return 0x10253;
    case 8:
        return 0x10231;
    case 9:
        return 0x10241;
    case 10:
        return 0x10243;
    default:
        return 0;
    }
}

uint32_t PacketMode(uint32_t transferMode) {
    return (transferMode & 0xffu) == 9 ? 2 : 1;
}

int32_t MapTcpResult(int32_t result) {
    switch (result) {
    case 0:
        return kOk;
    case -19:
    case -12:
        return kErrAlreadyOpen;
    case -18:
    case -17:
    case -16:
    case -6:
    case -5:
        return kErrDevice;
    case -15:
    case -14:
    case -13:
        return kErrNetwork;
    case -11:
    case -10:
        return kErrPortNotFound;
    case -4:
        return kErrMemory;
    case -3:
    case -2:
    case -1:
        return kErrLibrary;
    default:
        return kErrParam;
    }
}

int32_t MapTcpStatus(int32_t status) {
    if (status >= 0 && status <= 4)
        return kOk;
    switch (status) {
    case -12:
        return kErrDevice;
    case -11:
    case -10:
        return kErrNetwork;
    case -9:
        return kErrNetConnect;
    case -8:
        return kErrNet8;
    case -7:
        return kErrThread;
    case -6:
        return kErrJobBuffer;
    case -5:
        return kErrBusy;
    case -3:
        return kErrMemory;
    case -2:
        return kErrPortNotFound;
    case -1:
        return kErrAlreadyOpen;
    default:
        return kErrParam;
    }
}

} // namespace loxim::core
