// Helpers of the dispatcher's Wine tests: loading loxim by path, printer keys in the registry,
// the stand-in access libraries' controls, opening devices and the common fixture.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "internal.h" // the registry reader, tested white-box
#include "loxim.h"
#include "standin.h"
#include "suite_paths.h"

// Each test source uses some of these helpers.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"

namespace {

using Entry = int32_t(__stdcall *)(uint32_t, uint32_t, void *);
using Table = loxim::core::DeviceTable;

} // namespace

// The loaded dispatcher, shared by the test sources of this program.
namespace loxtest {
inline std::string g_loximPath;
inline HMODULE g_loxim = nullptr;
inline int32_t(__stdcall *g_io)(uint32_t, uint32_t, void *) = nullptr;
inline loxim::core::DeviceTable *g_table = nullptr;
inline volatile LONG *g_entryNo = nullptr;
} // namespace loxtest

namespace {

using namespace loxtest;

template <typename F> F Proc(HMODULE module, const char *name) {
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

int32_t Io(uint32_t code, uint32_t handle, void *block) {
    return g_io(code, handle, block);
}

void LoadLoxim() {
    g_loxim = LoadLibraryA(g_loximPath.c_str());
    if (!g_loxim)
        return;
    g_io = Proc<Entry>(g_loxim, "DeviceIO_IF");
    g_table = reinterpret_cast<Table *>(GetProcAddress(g_loxim, "DevManage"));
    g_entryNo = reinterpret_cast<volatile LONG *>(GetProcAddress(g_loxim, "EntryNo"));
}

// ---- registry fixtures ----

constexpr char kPrinters[] = "System\\CurrentControlSet\\Control\\Print\\Printers";

void SetLoaderFolder(const std::string &folder) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Dranvel\\Common", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
}

// A printer key with its values, removed again at the end of the test.
class Printer {
  public:
    explicit Printer(const std::string &name) : name_(name) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, Path().c_str());
        HKEY key;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, (Path() + "\\PrinterDriverData").c_str(), 0, nullptr, 0,
                        KEY_WRITE, nullptr, &key, nullptr);
        RegCloseKey(key);
    }
    ~Printer() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, Path().c_str()); }
    const char *name() const { return name_.c_str(); }
    void Text(const char *value, const std::string &text) {
        Set(false, value, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }
    // Bytes without a terminator, read as a text all the same.
    void Bytes(const char *value, const std::string &bytes) {
        Set(false, value, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    }
    void Dword(const char *value, uint32_t v) { Set(true, value, REG_DWORD, &v, sizeof v); }

  private:
    std::string Path() const { return std::string(kPrinters) + "\\" + name_; }
    void Set(bool driverData, const char *value, DWORD type, const void *data, DWORD size) {
        HKEY key;
        const std::string path = driverData ? Path() + "\\PrinterDriverData" : Path();
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_WRITE, &key),
                  ERROR_SUCCESS);
        RegSetValueExA(key, value, 0, type, static_cast<const BYTE *>(data), size);
        RegCloseKey(key);
    }
    std::string name_;
};

// ---- stand-in controls ----

struct Standin {
    HMODULE module = nullptr;
    StandinResetFn reset = nullptr;
    StandinSetScriptFn setScript = nullptr;
    StandinCallCountFn callCount = nullptr;
    StandinGetCallFn getCall = nullptr;
    StandinReadSinkFn readSink = nullptr;
    StandinPathFn path = nullptr;
    StandinOpenDevicesFn openDevices = nullptr;

    static Standin Of(const char *file) {
        Standin s;
        s.module = GetModuleHandleA(file);
        if (!s.module)
            return s;
        auto get = [&](const char *name) {
            return reinterpret_cast<void *>(GetProcAddress(s.module, name));
        };
        s.reset = reinterpret_cast<StandinResetFn>(get("Standin_Reset"));
        s.setScript = reinterpret_cast<StandinSetScriptFn>(get("Standin_SetScript"));
        s.callCount = reinterpret_cast<StandinCallCountFn>(get("Standin_CallCount"));
        s.getCall = reinterpret_cast<StandinGetCallFn>(get("Standin_GetCall"));
        s.readSink = reinterpret_cast<StandinReadSinkFn>(get("Standin_ReadSink"));
        s.path = reinterpret_cast<StandinPathFn>(get("Standin_Path"));
        s.openDevices = reinterpret_cast<StandinOpenDevicesFn>(get("Standin_OpenDevices"));
        return s;
    }
    explicit operator bool() const { return module && reset; }
    std::vector<StandinCall> Calls() const {
        std::vector<StandinCall> calls(callCount());
        for (uint32_t i = 0; i < calls.size(); ++i)
            getCall(i, &calls[i]);
        return calls;
    }
    std::vector<uint8_t> Sink(uint32_t device) const {
        std::vector<uint8_t> bytes(readSink(device, nullptr, 0));
        readSink(device, bytes.data(), static_cast<uint32_t>(bytes.size()));
        return bytes;
    }
    void Script(uint32_t op, StandinScript s) const { setScript(op, &s); }
};

// ---- opening ----

struct Opened {
    int32_t result = -1;
    uint32_t handle = 0;
};

Opened Open(uint32_t type, const char *printer, const char *port, const void *params = nullptr,
            uint32_t defaultArg = 0) {
    Opened o;
    OpenDeviceBlock b{printer, port, &o.handle, params, defaultArg, nullptr, nullptr, nullptr};
    o.result = Io(LOXIM_OPEN, type, &b);
    return o;
}

// The table and the loaded access libraries, to show that a failing open changes nothing.
struct Snapshot {
    Table table;
    bool modules[5];
    static Snapshot Take() {
        Snapshot s;
        std::memcpy(&s.table, g_table, sizeof s.table);
        const char *files[] = {"jastin.DLL", "zorla.DLL", "frennic.DLL", "mirovel.DLL",
                               "ulvane.DLL"};
        for (int i = 0; i < 5; ++i)
            s.modules[i] = GetModuleHandleA(files[i]) != nullptr;
        return s;
    }
    bool operator==(const Snapshot &o) const {
        return std::memcmp(&table, &o.table, sizeof table) == 0 &&
               std::memcmp(modules, o.modules, sizeof modules) == 0;
    }
};

bool MappingExists(const std::string &name) {
    HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    if (h)
        CloseHandle(h);
    return h != nullptr;
}

std::string AccessLibFolder() {
    return LOXIM_ACCESSLIB_DIR;
}

class Loxim : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(g_io, nullptr) << g_loximPath;
        SetLoaderFolder(AccessLibFolder());
    }
    void TearDown() override {
        // Every test leaves this process's slots closed.
        const DWORD self = GetCurrentProcessId();
        for (uint32_t i = 0; i < loxim::core::kSlotCount; ++i)
            if (g_table->slots[i].mapping && g_table->slots[i].owner == self) {
                ADD_FAILURE() << "slot " << i << " left open";
                Io(LOXIM_CLOSE, i + 1, nullptr);
            }
    }
};

} // namespace

#pragma GCC diagnostic pop
