// Opening and closing devices, the device information copy and the access-library loader.
#include <cstring>
#include <string>
#include <string_view>

#include "internal.h"

namespace loxim {

namespace {

constexpr size_t kPathSize = 1024;

// Folder of a module's file, up to and including its last backslash; empty when unknown.
std::string ModuleFolder(HMODULE module) {
    char path[kPathSize];
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return {};
    const std::string_view view(path, length);
    const size_t slash = view.rfind('\\');
    if (slash == std::string_view::npos)
        return {};
    return std::string(view.substr(0, slash + 1));
}

HMODULE LoadFrom(const std::string &path) {
    return path.empty() ? nullptr : LoadLibraryA(path.c_str());
}

void Undo(Created &made) {
    if (made.opened && made.view)
        CloseKind(made.view);
    made.view = RecordMap();
    made.module.reset();
    made.mapping.reset();
    made = Created{};
}

int64_t ParamsSize(const void *params) {
    if (!params)
        return -1;
    uint32_t size;
    std::memcpy(&size, params, sizeof size);
    return size;
}

} // namespace

HMODULE LoadAccessLibrary(const char *file) {
    // 1. the host program's folder
    const std::string host = ModuleFolder(nullptr);
    if (!host.empty())
        if (HMODULE m = LoadFrom(core::JoinPath(host, "", file, kPathSize)))
            return m;
    // 2. the folder named in the registry
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Dranvel\\Common", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        char folder[kPathSize];
        DWORD length = sizeof folder - 1;
        const LONG status = RegQueryValueExA(key, nullptr, nullptr, nullptr,
                                             reinterpret_cast<BYTE *>(folder), &length);
        RegCloseKey(key);
        if (status == ERROR_SUCCESS) {
            folder[length < sizeof folder ? length : sizeof folder - 1] = 0;
            const std::string_view dir(folder, std::strlen(folder));
            if (!dir.empty())
                if (HMODULE m = LoadFrom(core::JoinPath(dir, "\\", file, kPathSize)))
                    return m;
        }
    }
    // 3. this library's folder
    const std::string own = ModuleFolder(g_self);
    if (!own.empty())
        if (HMODULE m = LoadFrom(core::JoinPath(own, "", file, kPathSize)))
            return m;
    // 4. the system's search order
    return LoadLibraryA(file);
}

int32_t OpenDevice(uint32_t type, OpenDeviceBlock *block) {
    if (!block || !block->deviceHandle)
        return core::kErrParam;
    TableLock lock;
    if (!lock)
        return core::kErrMemory;

    const char *printer = block->printerName;
    const char *port = block->portName;
    char portValue[81];
    if (!port) {
        if (!printer)
            return core::kErrParam;
        if (!ReadPrinterRegText(printer, false, "Port", portValue, 80) || !portValue[0])
            return core::kErrPortNotFound;
        port = portValue;
    }
    const uint32_t kind = core::ClassifyPortName(port);
    uint32_t transferMode = 0;
    if (printer &&
        !ReadPrinterRegValue(printer, true, "TransferMode", &transferMode, sizeof transferMode))
        transferMode = 0;
    const core::TypeChoice choice =
        core::ChooseConnectionType(type, kind, ParamsSize(block->params), transferMode);
    if (choice.result != core::kOk)
        return choice.result;

    PrinterSettings settings{};
    const PrinterSettings *given = nullptr;
    switch (choice.settings) {
    case core::SettingsFrom::Params36:
        std::memcpy(&settings, static_cast<const uint8_t *>(block->params) + 4, sizeof settings);
        given = &settings;
        break;
    case core::SettingsFrom::Params44:
        std::memcpy(&settings, static_cast<const uint8_t *>(block->params) + 12, sizeof settings);
        given = &settings;
        break;
    case core::SettingsFrom::Registry:
        ReadPrinterSettings(printer, settings);
        given = &settings;
        break;
    case core::SettingsFrom::None:
        break;
    }

    const CreateArgs args{choice.type, printer, port, given, block->params, block->defaultArg};
    Created made;
    const int32_t result = CreateDevice(args, made);
    if (result != core::kOk) {
        Undo(made);
        return result;
    }

    if (block->info && block->headerLength && block->privateSize) {
        const RecordMap &map = made.view;
        const uint32_t size =
            map ? map.record().header.headerLength + map.record().header.privateSize : 0;
        void *copy = size ? GlobalAlloc(GPTR, size) : nullptr;
        if (!copy) {
            Undo(made);
            return core::kErrMemory;
        }
        std::memcpy(copy, map.base(), size);
        *block->info = copy;
        *block->headerLength = map.record().header.headerLength;
        *block->privateSize = map.record().header.privateSize;
    }

    made.view.KeepFor(static_cast<uint32_t>(made.slot));
    made.view = RecordMap();
    // The slot holds the mapping and the record the module from here on, until the close.
    made.module.release();
    core::RegisterSlot(DevManage, static_cast<uint32_t>(made.slot), GetCurrentProcessId(),
                       U32(made.mapping.release()));
    *block->deviceHandle = static_cast<uint32_t>(made.slot) + 1;
    return core::kOk;
}

int32_t CloseDevice(uint32_t slot) {
    TableLock lock;
    if (!lock)
        return core::kErrMemory;
    if (core::SlotOfHandle(DevManage, slot + 1, GetCurrentProcessId()) != static_cast<int>(slot))
        return core::kErrHandle;
    // A background request still calls the library.
    if (g_busy[slot].load() > 0)
        return core::kErrBusy;
    const HANDLE mapping = SlotMapping(slot);
    HMODULE module;
    {
        RecordMap map(slot);
        if (!map)
            return core::kErrParam;
        const int32_t result = CloseKind(map);
        if (result != core::kOk)
            return result;
        module = Ptr<HINSTANCE__>(map.record().header.module);
    }
    // The kept view goes after the kind's close, before its library.
    DropSlotView(slot);
    if (module)
        FreeLibrary(module);
    CloseHandle(mapping);
    core::ReleaseSlot(DevManage, slot);
    return core::kOk;
}

int32_t CopyDeviceInfo(uint32_t slot, DeviceInfoRequestBlock *block) {
    if (!block || !block->info || !block->headerLength || !block->privateSize)
        return core::kErrParam;
    RecordMap map(slot);
    if (!map)
        return core::kErrParam;
    const core::RecordHeader &header = map.record().header;
    if (header.headerLength == 0)
        return core::kErrMemory;
    const uint32_t size = header.headerLength + header.privateSize;
    HGLOBAL memory = GlobalAlloc(GHND, size);
    void *copy = memory ? GlobalLock(memory) : nullptr;
    if (!copy) {
        if (memory)
            GlobalFree(memory);
        return core::kErrMemory;
    }
    std::memcpy(copy, map.base(), size);
    *block->info = copy;
    *block->headerLength = header.headerLength;
    *block->privateSize = header.privateSize;
    return core::kOk;
}

} // namespace loxim
