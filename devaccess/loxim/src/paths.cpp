// Create and close routines of the port kinds: the common create steps, the default path, the
// USB-to-parallel path and the packet connection over USB.
#include <cstring>
#include <string>

#include "internal.h"

namespace loxim {

namespace {

// What differs between the kinds in the common create steps.
struct PathSpec {
    int32_t missingPort;     // result for a NULL or empty port name
    bool scan;               // the open-elsewhere check
    uint32_t privateSize;
    const char *library;     // nullptr: no library
    const char *entry;
};

// Private areas.
struct DefaultPrivate { uint32_t handle; };
struct UsbLptPrivate { uint32_t handle; int32_t portNumber; uint32_t openState; uint32_t reserved; };

// True when any process has a device on this port, by the port name stored in its record.
// Records are read only within their view and their header length; unreachable owners are skipped.
bool PortOpenElsewhere(const char *port) {
    const uint32_t self = GetCurrentProcessId();
    const uint32_t count = DevManage.openCount;
    uint32_t seen = 0;
    for (uint32_t i = 0; i < core::kSlotCount && seen < count; ++i) {
        const core::Slot slot = DevManage.slots[i];
        if (slot.mapping == 0) continue;
        ++seen;
        HANDLE owner = slot.owner == self ? GetCurrentProcess()
                                          : OpenProcess(PROCESS_DUP_HANDLE, FALSE, slot.owner);
        if (!owner) continue;
        HANDLE copy = nullptr;
        const BOOL duplicated = DuplicateHandle(owner, Ptr<void>(slot.mapping), GetCurrentProcess(),
                                                &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
        if (slot.owner != self) CloseHandle(owner);
        if (!duplicated) continue;
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
        if (match) return true;
    }
    return false;
}

// Common create steps 1 to 7; `open` runs the kind's open on the mapped record.
template <typename Open>
int32_t CommonCreate(const CreateArgs &a, const PathSpec &spec, Created &made, Open open) {
    if (!a.port || !a.port[0]) return spec.missingPort;
    if (spec.scan && PortOpenElsewhere(a.port)) return core::kErrAlreadyOpen;
    const int slot = core::ChooseSlot(DevManage);
    if (slot < 0) return core::kErrMemory;
    const std::string name = core::MappingName(a.type, a.port);
    const uint32_t headerLength = core::RecordHeaderLength(a.printer, a.port);
    if (name.empty() || headerLength == 0 || headerLength > 0x7fffffffu - spec.privateSize)
        return core::kErrMemory;
    const uint32_t size = headerLength + spec.privateSize;

    made.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
    if (!made.mapping) return core::kErrMemory;
    // Another device holds this name: the handle is ours to close, the record is not ours.
    if (GetLastError() == ERROR_ALREADY_EXISTS) return core::kErrAlreadyOpen;

    uint8_t *view = static_cast<uint8_t *>(MapViewOfFile(made.mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    if (!view) return core::kErrMemory;
    std::memset(view, 0, size);
    core::WriteRecord(view, size, a.type, a.printer, a.port, spec.privateSize);
    auto *header = reinterpret_cast<core::RecordHeader *>(view);

    int32_t result = core::kOk;
    if (spec.library) {
        made.module = LoadAccessLibrary(spec.library);
        FARPROC entry = made.module ? GetProcAddress(made.module, spec.entry) : nullptr;
        header->module = U32(made.module);
        header->entry = U32(reinterpret_cast<void *>(entry));
        if (!entry) result = core::kErrLibrary;
    }
    if (result == core::kOk) {
        result = open(view, reinterpret_cast<uint32_t *>(view + headerLength));
        if (result == core::kOk) {
            made.opened = true;
            made.slot = slot;
        }
    }
    UnmapViewOfFile(view);
    return result;
}

int32_t CallEntry(const uint8_t *view, uint32_t op, uint32_t handle, void *block) {
    using Entry = int32_t(__stdcall *)(uint32_t, uint32_t, void *);
    const auto *header = reinterpret_cast<const core::RecordHeader *>(view);
    return Ptr<std::remove_pointer_t<Entry>>(header->entry)(op, handle, block);
}

int32_t DefCreateDevice(const CreateArgs &a, Created &made) {
    const PathSpec spec{core::kErrParam, false, sizeof(DefaultPrivate), "jastin.DLL", "DEFPR_IO_IF"};
    return CommonCreate(a, spec, made, [&](uint8_t *view, uint32_t *area) {
        // DefOpenDevice: the library stores its device handle in the private area.
        uint32_t block[] = {U32(a.printer), U32(a.port), a.defaultArg};
        return CallEntry(view, 1, U32(area), block);
    });
}

int32_t UsbLptCreateDevice(const CreateArgs &a, Created &made) {
    const PathSpec spec{core::kErrPortNotFound, true, sizeof(UsbLptPrivate), "mirovel.DLL", "USBtoLPT_IO_IF"};
    return CommonCreate(a, spec, made, [&](uint8_t *view, uint32_t *area) {
        // UsbLptOpenDevice
        uint32_t block[] = {U32(a.port), 1};
        const int32_t result = CallEntry(view, 1, U32(area), block);
        if (result == core::kOk) {
            auto *p = reinterpret_cast<UsbLptPrivate *>(area);
            p->portNumber = core::PortNumber(a.port);
            p->openState = 1;
        }
        return result;
    });
}

// A packet connection over USB has no access library: the record is made and the open refused.
int32_t MfpUsbCreateDevice(const CreateArgs &a, Created &made) {
    const PathSpec spec{core::kErrParam, false, 12, nullptr, nullptr};
    return CommonCreate(a, spec, made, [](uint8_t *, uint32_t *) { return core::kErrParam; });
}

}  // namespace

int32_t CreateDevice(const CreateArgs &args, Created &made) {
    switch (args.type) {
    case core::kTypeDefault: return DefCreateDevice(args, made);
    case core::kTypeUsbLpt: return UsbLptCreateDevice(args, made);
    case core::kTypePacketUsb: return MfpUsbCreateDevice(args, made);
    default: return core::kErrParam;  // parallel, USB, packet and TCP/IP paths are not built
    }
}

int32_t CloseKind(const RecordMap &map) {
    switch (map.type()) {
    case core::kTypeDefault:
    case core::kTypeUsbLpt:
        // UsbLptCloseDevice
        return map.Call(2, map.privateArea()[0], nullptr);
    case core::kTypePacketUsb:
        return core::kErrParam;  // MfpUsbCloseDevice
    default:
        return core::kOk;
    }
}

}  // namespace loxim
