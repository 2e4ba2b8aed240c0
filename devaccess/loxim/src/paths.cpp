// Create and close routines of the port kinds: the common create steps and each kind's open.
#include <cstring>
#include <string>

#include "internal.h"

namespace loxim {

namespace {

// What differs between the kinds in the common create steps.
struct PathSpec {
    int32_t missingPort; // result for a NULL or empty port name
    bool scan;           // the open-elsewhere check
    uint32_t privateSize;
    const char *library; // nullptr: no library
    const char *entry;
    uint32_t serviceCode = 0; // packet mapping names
};

struct DefaultPrivate {
    uint32_t handle;
};
using UsbLptPrivate = UsbPrivate;

// True when any process has a device on this port, by the port name stored in its record.
// Records are read only within their view and their header length; unreachable owners are skipped.
bool PortOpenElsewhere(const char *port) {
    const uint32_t self = GetCurrentProcessId();
    const uint32_t count = DevManage.openCount;
    uint32_t seen = 0;
    for (uint32_t i = 0; i < core::kSlotCount && seen < count; ++i) {
        const core::Slot slot = DevManage.slots[i];
        if (slot.mapping == 0)
            continue;
        ++seen;
        HANDLE owner = slot.owner == self ? GetCurrentProcess()
                                          : OpenProcess(PROCESS_DUP_HANDLE, FALSE, slot.owner);
        if (!owner)
            continue;
        HANDLE copy = nullptr;
        const BOOL duplicated = DuplicateHandle(owner, Ptr<void>(slot.mapping), GetCurrentProcess(),
                                                &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
        if (slot.owner != self)
            CloseHandle(owner);
        if (!duplicated)
            continue;
        bool match = false;
        if (void *view = MapViewOfFile(copy, FILE_MAP_READ, 0, 0, 0)) {
            MEMORY_BASIC_INFORMATION info{};
            RecordView record;
            if (VirtualQuery(view, &info, sizeof info) &&
                core::ReadRecord(static_cast<const uint8_t *>(view), info.RegionSize, record))
                match = record.port == port;
            UnmapViewOfFile(view);
        }
        CloseHandle(copy);
        if (match)
            return true;
    }
    return false;
}

// Common create steps 1 to 7; `open` runs the kind's open on a view of the record.
template <typename Open>
int32_t CommonCreate(const CreateArgs &a, const PathSpec &spec, Created &made, Open open) {
    if (!a.port || !a.port[0])
        return spec.missingPort;
    if (spec.scan && PortOpenElsewhere(a.port))
        return core::kErrAlreadyOpen;
    const int slot = core::ChooseSlot(DevManage);
    if (slot < 0)
        return core::kErrMemory;
    const bool unnamed = a.type == core::kTypeTcpIp;
    const std::string name = core::MappingName(a.type, a.port, spec.serviceCode);
    const uint32_t headerLength = core::RecordHeaderLength(a.printer, a.port);
    if ((name.empty() && !unnamed) || headerLength == 0 ||
        headerLength > 0x7fffffffu - spec.privateSize)
        return core::kErrMemory;
    const uint32_t size = headerLength + spec.privateSize;

    SetLastError(ERROR_SUCCESS);
    made.mapping.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                          unnamed ? nullptr : name.c_str()));
    if (!made.mapping)
        return core::kErrMemory;
    // Another device holds this name: the handle is ours to close, the record is not ours.
    if (!unnamed && GetLastError() == ERROR_ALREADY_EXISTS)
        return core::kErrAlreadyOpen;

    // The one view of the record: written here, used by the kind's open, then kept by the slot.
    made.view = RecordMap::Map(made.mapping.get());
    if (!made.view.Mapped())
        return core::kErrMemory;
    uint8_t *view = made.view.base();
    std::memset(view, 0, size);
    core::WriteRecord(view, size, a.type, a.printer, a.port, spec.privateSize);
    auto *header = reinterpret_cast<core::RecordHeader *>(view);

    int32_t result = core::kOk;
    if (spec.library) {
        made.module.reset(LoadAccessLibrary(spec.library));
        FARPROC entry = made.module ? GetProcAddress(made.module.get(), spec.entry) : nullptr;
        header->module = U32(made.module.get());
        header->entry = U32(reinterpret_cast<void *>(entry));
        if (!entry)
            result = core::kErrLibrary;
    }
    if (result == core::kOk) {
        result =
            made.view.Reread() ? open(made.view, static_cast<uint32_t>(slot)) : core::kErrMemory;
        if (result == core::kOk) {
            made.opened = true;
            made.slot = slot;
        }
    }
    return result;
}

// Settings of a kind that takes them, copied into its private area before the library loads.
bool HasSettings(const CreateArgs &a) {
    return a.settings != nullptr;
}

int32_t DefCreateDevice(const CreateArgs &a, Created &made) {
    const PathSpec spec{core::kErrParam, false, sizeof(DefaultPrivate), "jastin.DLL",
                        "DEFPR_IO_IF"};
    return CommonCreate(a, spec, made, [&](const RecordMap &map, uint32_t) -> int32_t {
        // DefOpenDevice: the library stores its device handle in the private area.
        uint32_t block[] = {U32(a.printer), U32(a.port), a.defaultArg};
        return map.Call(1, U32(map.privateArea()), block);
    });
}

int32_t UsbLptCreateDevice(const CreateArgs &a, Created &made) {
    const PathSpec spec{core::kErrPortNotFound, true, sizeof(UsbLptPrivate), "mirovel.DLL",
                        "USBtoLPT_IO_IF"};
    return CommonCreate(a, spec, made, [&](const RecordMap &map, uint32_t) -> int32_t {
        // UsbLptOpenDevice
        uint32_t block[] = {U32(a.port), 1};
        const int32_t result = map.Call(1, U32(map.privateArea()), block);
        if (result == core::kOk) {
            auto *p = reinterpret_cast<UsbLptPrivate *>(map.privateArea());
            p->portNumber = core::PortNumber(a.port);
            p->openState = 1;
        }
        return result;
    });
}

// A packet connection over USB has no access library: the record is made and the open refused.
int32_t MfpUsbCreateDevice(const CreateArgs &a, Created &made) {
    const PathSpec spec{core::kErrParam, false, 12, nullptr, nullptr};
    return CommonCreate(a, spec, made, [](const RecordMap &, uint32_t) { return core::kErrParam; });
}

int32_t LptCreateDevice(const CreateArgs &a, Created &made) {
    if (!HasSettings(a) || !a.port || !a.port[0])
        return core::kErrParam;
    const PathSpec spec{core::kErrParam, true, sizeof(LptPrivate), "zorla.DLL", "Vzeklpt_IO_IF"};
    return CommonCreate(a, spec, made, [&](const RecordMap &map, uint32_t) -> int32_t {
        auto &p = *reinterpret_cast<LptPrivate *>(map.privateArea());
        p.settings = *a.settings;
        const int32_t result = LptOpenDevice(map, a.printer, a.port);
        if (result != core::kOk)
            return result;
        // Job buffers: the library's unless the printer says otherwise; global memory without
        // a printer name.
        uint32_t mode = 0;
        if (a.printer && a.printer[0] &&
            !ReadPrinterRegValue(a.printer, true, "ZEKMBufferVXDMemUse", &mode, sizeof mode))
            mode = 1;
        p.bufferMode = mode;
        return core::kOk;
    });
}

int32_t UsbCreateDevice(const CreateArgs &a, Created &made) {
    const PathSpec spec{core::kErrPortNotFound, true, sizeof(UsbPrivate), "frennic.DLL",
                        "USB_IO_IF"};
    return CommonCreate(a, spec, made, [&](const RecordMap &map, uint32_t slot) -> int32_t {
        // UsbOpenDevice
        uint32_t block[] = {U32(a.printer), U32(a.port), 1};
        const int32_t result = map.Call(1, U32(map.privateArea()), block);
        if (result == core::kOk) {
            auto &p = *reinterpret_cast<UsbPrivate *>(map.privateArea());
            p.portNumber = core::PortNumber(a.port);
            p.openState = 1;
            UsbCacheOpened(slot);
        }
        return result;
    });
}

constexpr char kDefaultLanguageId[] = "DRANVEL|TOLVA-W|5";

int32_t MfpCreateDevice(const CreateArgs &a, Created &made) {
    uint32_t serviceCode = core::PacketServiceCode(a.type);
    const char *languageId = nullptr;
    if (a.params) {
        // Both forms (12 and 44 bytes) begin with the service code and the language-id text.
        const auto *params = static_cast<const ConnectionParams12 *>(a.params);
        serviceCode = params->serviceCode;
        languageId = params->languageId;
    }
    char registryId[33];
    if (!languageId) {
        languageId = ReadPrinterRegText(a.printer, true, "PrinterLanguageID", registryId, 32)
                         ? registryId
                         : kDefaultLanguageId;
    }
    if (!HasSettings(a) || serviceCode == 0 || !a.port || !a.port[0])
        return core::kErrParam;
    PathSpec spec{core::kErrParam, false, sizeof(MfpPrivate), "ulvane.DLL", "MFPI_IO_IF"};
    spec.serviceCode = serviceCode;
    return CommonCreate(a, spec, made, [&](const RecordMap &map, uint32_t) -> int32_t {
        auto &p = *reinterpret_cast<MfpPrivate *>(map.privateArea());
        p.settings = *a.settings;
        // MfpOpenDevice: the library stores its handle in the private area's first field.
        uint32_t block[] = {U32(a.printer),  U32(a.port),
                            U32(&p),         core::PacketMode(p.settings.transferMode),
                            serviceCode,     U32(languageId),
                            U32(&p.settings)};
        const int32_t result = map.Call(1, 1, block);
        if (result != core::kOk)
            return result;
        uint32_t mode = 0;
        if (!a.printer || !a.printer[0] ||
            !ReadPrinterRegValue(a.printer, true, "ZEKMBufferVXDMemUse", &mode, sizeof mode))
            mode = 0;
        p.bufferMode = mode;
        return core::kOk;
    });
}

// The host text must fit the session's host field; the mapping has no name.
int32_t TcpCreateDevice(const CreateArgs &a, Created &made) {
    if (!a.port || !a.port[0] || strnlen(a.port, 256) >= 256)
        return core::kErrParam;
    const PathSpec spec{core::kErrParam, false, 4, "BREVAN.DLL", "QTcpIpAcc_IO_IF"};
    return CommonCreate(a, spec, made, [&](const RecordMap &map, uint32_t) -> int32_t {
        return TcpOpenDevice(map, a.port);
    });
}

} // namespace

int32_t CreateDevice(const CreateArgs &args, Created &made) {
    switch (args.type) {
    case core::kTypeDefault:
        return DefCreateDevice(args, made);
    case core::kTypeUsbLpt:
        return UsbLptCreateDevice(args, made);
    case core::kTypePacketUsb:
        return MfpUsbCreateDevice(args, made);
    case core::kTypeParallel:
        return LptCreateDevice(args, made);
    case core::kTypeUsb:
        return UsbCreateDevice(args, made);
    case core::kTypeTcpIp:
        return TcpCreateDevice(args, made);
    default:
        if (core::IsPacketType(args.type))
            return MfpCreateDevice(args, made);
        return core::kErrParam;
    }
}

int32_t CloseKind(const RecordMap &map) {
    switch (map.type()) {
    case core::kTypeDefault:
    case core::kTypeUsbLpt:
        // UsbLptCloseDevice
        return map.Call(2, map.privateArea()[0], nullptr);
    case core::kTypePacketUsb:
        return core::kErrParam; // MfpUsbCloseDevice
    case core::kTypeParallel:
        return LptCloseDevice(map);
    case core::kTypeTcpIp:
        return TcpCloseDevice(map);
    case core::kTypeUsb: {
        // UsbCloseDevice
        const uint32_t handle = map.privateArea()[0];
        if (handle == 0 || handle == 0xffffffffu)
            return core::kErrHandle;
        return map.Call(2, handle, nullptr);
    }
    default:
        if (core::IsPacketType(map.type()))
            return map.Call(2, map.privateArea()[0], nullptr); // MfpCloseDevice
        return core::kOk;
    }
}

} // namespace loxim
