// A scripted access library for the dispatcher's tests. STANDIN_LIBRARY picks which library this
// build is (1 jastin, 2 zorla, 3 frennic, 4 mirovel, 5 ulvane); STANDIN_NO_ENTRY leaves the
// entry out. Every call is recorded under a lock, since background threads call too.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "standin.h"

namespace {

enum class Act {
    None,
    Open,
    Close,
    Write,
    Read,
    Send,
    SendResult,
    DeviceId,
    Probe,
    Status,
    Ready,
    PassThrough,
    // zorla's own
    LptOpen,
    PageAlloc,
    PageCopyTo,
    PageCopyFrom,
    PageFill,
    PageRealloc,
    PageFree,
    LptSend,
    LptTransfer,
    Settings,
    AuxQuery,
    AuxCommand,
};

struct OpSpec {
    uint32_t op;
    Act act;
    uint32_t fields; // block fields recorded
};

#if STANDIN_LIBRARY == 1
const OpSpec kOps[] = {{1, Act::Open, 3},      {2, Act::Close, 0},  {3, Act::Write, 4},
                       {4, Act::Read, 4},      {5, Act::Send, 4},   {6, Act::SendResult, 2},
                       {10, Act::DeviceId, 4}, {11, Act::Probe, 0}, {12, Act::Status, 1}};
#elif STANDIN_LIBRARY == 2
const OpSpec kOps[] = {{2, Act::LptOpen, 3},   {3, Act::Close, 0},        {4, Act::SendResult, 2},
                       {5, Act::PageAlloc, 2}, {6, Act::PageCopyTo, 4},   {7, Act::PageCopyFrom, 4},
                       {8, Act::PageFill, 3},  {9, Act::PageRealloc, 2},  {10, Act::PageFree, 1},
                       {12, Act::LptSend, 3},  {13, Act::LptTransfer, 6}, {14, Act::Status, 1},
                       {15, Act::Probe, 0},    {16, Act::DeviceId, 3},    {20, Act::Ready, 1},
                       {21, Act::Settings, 1}, {23, Act::AuxQuery, 1},    {24, Act::AuxCommand, 0},
                       {25, Act::Settings, 1}};
#elif STANDIN_LIBRARY == 3
const OpSpec kOps[] = {{1, Act::Open, 3},         {2, Act::Close, 0},  {3, Act::Write, 4},
                       {4, Act::Read, 4},         {5, Act::Send, 4},   {6, Act::SendResult, 2},
                       {10, Act::DeviceId, 4},    {11, Act::Probe, 2}, {12, Act::Status, 2},
                       {100, Act::PassThrough, 6}};
#elif STANDIN_LIBRARY == 4
const OpSpec kOps[] = {{1, Act::Open, 2},   {2, Act::Close, 0},    {3, Act::Write, 3},
                       {4, Act::Read, 3},   {5, Act::Send, 4},     {6, Act::SendResult, 2},
                       {7, Act::Ready, 1},  {8, Act::DeviceId, 4}, {9, Act::Probe, 1},
                       {10, Act::Status, 1}};
#elif STANDIN_LIBRARY == 5
const OpSpec kOps[] = {{1, Act::Open, 7},      {2, Act::Close, 0},  {3, Act::Write, 5},
                       {4, Act::Read, 4},      {5, Act::Send, 7},   {6, Act::SendResult, 2},
                       {10, Act::DeviceId, 4}, {11, Act::Probe, 0}, {12, Act::Status, 1}};
#else
#error "STANDIN_LIBRARY must name the library"
#endif

template <typename T> T *P(uint32_t v) {
    return reinterpret_cast<T *>(static_cast<uintptr_t>(v));
}

struct PendingSend {
    HGLOBAL memory = nullptr; // locked until the scripted result says done
    const uint8_t *data = nullptr;
    uint32_t length = 0;
};

struct State {
    std::mutex lock;
    std::map<uint32_t, StandinScript> scripts;
    std::vector<StandinCall> calls;
    std::map<uint32_t, std::vector<uint8_t>> sinks; // bytes written, per device handle
    std::map<uint32_t, PendingSend> sends;          // per device handle
    std::map<uint32_t, std::vector<uint8_t>> pages; // zorla's job buffers
    uint32_t nextDevice = 0x100;
    uint32_t nextPages = 0x5000;
    uint32_t openDevices = 0;
    std::map<std::pair<uint32_t, uint32_t>, uint64_t> taken; // bytes written per op and device
};

State &S() {
    static State state;
    return state;
}

HMODULE g_module = nullptr;

StandinScript ScriptOf(uint32_t op) {
    auto it = S().scripts.find(op);
    return it == S().scripts.end() ? DefaultScript() : it->second;
}

void CopyText(char (&to)[128], uint32_t from) {
    if (!from)
        return;
    const char *text = P<const char>(from);
    std::strncpy(to, text, sizeof to - 1);
}

// Text and settings fields of each op's block, for the record.
void RecordExtras(const OpSpec &spec, const uint32_t *f, StandinCall &call) {
    auto settings = [&](uint32_t p) {
        if (!p)
            return;
        call.hasSettings = 1;
        std::memcpy(call.settings, P<void>(p), sizeof call.settings);
    };
    switch (spec.act) {
    case Act::Open:
#if STANDIN_LIBRARY == 4
        CopyText(call.texts[1], f[0]);
#else
        CopyText(call.texts[0], f[0]);
        CopyText(call.texts[1], f[1]);
#endif
#if STANDIN_LIBRARY == 5
        CopyText(call.texts[2], f[5]);
        settings(f[6]);
#endif
        break;
    case Act::LptOpen:
        CopyText(call.texts[0], f[0]);
        CopyText(call.texts[1], f[1]);
        settings(f[2]);
        break;
    case Act::Settings:
        settings(f[0]);
        break;
#if STANDIN_LIBRARY == 5
    case Act::Send:
        settings(f[6]);
        break;
#endif
    default:
        break;
    }
}

[[maybe_unused]] int32_t Run(uint32_t op, uint32_t handle, uint32_t port, void *block) {
    const OpSpec *spec = nullptr;
    for (const OpSpec &s : kOps)
        if (s.op == op)
            spec = &s;
    auto *f = static_cast<uint32_t *>(block);
    StandinScript script;
    {
        std::lock_guard<std::mutex> guard(S().lock);
        StandinCall call{};
        call.op = op;
        call.handle = handle;
        call.port = port;
        call.threadId = GetCurrentThreadId();
        if (spec && f) {
            call.fieldCount = spec->fields;
            std::memcpy(call.fields, f, spec->fields * sizeof(uint32_t));
            RecordExtras(*spec, f, call);
        }
        S().calls.push_back(call);
        script = ScriptOf(op);
    }
    if (script.delayMs)
        Sleep(script.delayMs);
    if (!spec)
        return -1;
    if (script.result != 0 && spec->act != Act::SendResult)
        return script.result;

    std::lock_guard<std::mutex> guard(S().lock);
    State &s = S();
    switch (spec->act) {
    case Act::Open: {
        const uint32_t device = s.nextDevice++;
#if STANDIN_LIBRARY == 5
        *P<uint32_t>(f[2]) = device; // the private area's first field
#else
        *P<uint32_t>(handle) = device;
#endif
        ++s.openDevices;
        return 0;
    }
    case Act::LptOpen:
        *P<uint32_t>(handle) = s.nextDevice++;
        ++s.openDevices;
        return 0;
    case Act::Close:
        if (s.openDevices)
            --s.openDevices;
        if (auto it = s.sends.find(handle); it != s.sends.end()) {
            if (it->second.memory)
                GlobalUnlock(it->second.memory);
            s.sends.erase(it);
        }
        return 0;
    case Act::Write: {
        uint32_t take = std::min(f[1], script.count);
        if (script.budget != kStandinAll) {
            const uint64_t before = s.taken[{op, handle}];
            take = before >= script.budget
                       ? 0
                       : static_cast<uint32_t>(std::min<uint64_t>(take, script.budget - before));
            s.taken[{op, handle}] = before + take;
        }
        const auto *data = P<const uint8_t>(f[0]);
        auto &sink = s.sinks[handle];
        sink.insert(sink.end(), data, data + take);
        *P<uint32_t>(f[2]) = take + script.extra;
        return 0;
    }
    case Act::Read: {
        const uint32_t give = std::min({f[1], script.count, script.dataLength});
        std::memcpy(P<void>(f[0]), script.data, give);
        *P<uint32_t>(f[2]) = give + script.extra;
        return 0;
    }
    case Act::Send: {
        PendingSend &send = s.sends[handle];
        if (send.memory)
            GlobalUnlock(send.memory);
        send.memory = P<void>(f[0]);
        const auto *base = static_cast<const uint8_t *>(GlobalLock(send.memory));
        if (!base) {
            send = PendingSend{};
            return -2;
        }
        send.data = base + f[1];
        send.length = f[2];
        return 0;
    }
    case Act::LptSend: {
        PendingSend &send = s.sends[handle];
        send.memory = nullptr;
        if (f[0]) {
            auto it = s.pages.find(f[0]);
            if (it == s.pages.end() || uint64_t{f[1]} + f[2] > it->second.size())
                return -14;
            send.data = it->second.data() + f[1];
        } else {
            send.data = P<const uint8_t>(f[1]);
        }
        send.length = f[2];
        return 0;
    }
    case Act::SendResult: {
        auto it = s.sends.find(handle);
        const uint32_t length = it == s.sends.end() ? 0 : it->second.length;
        *P<uint32_t>(f[0]) = script.done;
        *P<uint32_t>(f[1]) = script.sent == kStandinAll ? length : script.sent;
        if (script.done && it != s.sends.end()) {
            auto &sink = s.sinks[handle];
            const uint32_t sent = std::min(length, script.sent);
            sink.insert(sink.end(), it->second.data, it->second.data + sent);
            if (it->second.memory)
                GlobalUnlock(it->second.memory);
            s.sends.erase(it);
        }
        return script.result;
    }
    case Act::DeviceId: {
        const uint32_t size = f[1];
        std::memcpy(P<void>(f[0]), script.data, std::min(size, script.dataLength));
        *P<uint32_t>(f[2]) = script.count == kStandinAll ? script.dataLength : script.count;
        return 0;
    }
    case Act::Status:
        *P<uint8_t>(f[0]) = static_cast<uint8_t>(script.value);
        return 0;
    case Act::Ready:
        *P<uint32_t>(f[0]) = script.value;
        return 0;
    case Act::Probe:
    case Act::AuxCommand:
    case Act::Settings:
        return 0;
    case Act::AuxQuery:
        if (f[0] > 0xffff)
            std::memcpy(P<void>(f[0]), script.data, script.dataLength);
        return 0;
    case Act::PassThrough: {
        const uint32_t give = std::min(f[4], script.dataLength);
        if (f[3])
            std::memcpy(P<void>(f[3]), script.data, give);
        if (f[5])
            *P<uint32_t>(f[5]) = give;
        return 0;
    }
    case Act::PageAlloc: {
        const uint32_t id = s.nextPages++;
        s.pages[id].assign(size_t{f[0]} * 4096, 0);
        *P<uint32_t>(f[1]) = id;
        return 0;
    }
    case Act::PageRealloc: {
        auto it = s.pages.find(f[0]);
        if (it == s.pages.end())
            return -14;
        it->second.resize(size_t{f[1]} * 4096, 0);
        return 0;
    }
    case Act::PageFree:
        return s.pages.erase(f[0]) ? 0 : -14;
    case Act::PageCopyTo:
    case Act::PageCopyFrom: {
        auto it = s.pages.find(f[0]);
        if (it == s.pages.end() || f[2] > it->second.size())
            return -14;
        if (spec->act == Act::PageCopyTo)
            std::memcpy(it->second.data(), P<void>(f[1]), f[2]);
        else
            std::memcpy(P<void>(f[1]), it->second.data(), f[2]);
        *P<uint32_t>(f[3]) = f[2];
        return 0;
    }
    case Act::PageFill: {
        auto it = s.pages.find(f[0]);
        if (it == s.pages.end() || f[1] > it->second.size())
            return -14;
        std::fill(it->second.begin() + f[1], it->second.end(), static_cast<uint8_t>(f[2]));
        return 0;
    }
    case Act::LptTransfer:
        if (f[0]) { // write: data, length, count out
            const uint32_t take = std::min(f[1], script.count);
            auto &sink = s.sinks[handle];
            sink.insert(sink.end(), P<const uint8_t>(f[0]), P<const uint8_t>(f[0]) + take);
            *P<uint32_t>(f[2]) = take + script.extra;
        } else { // read: buffer, size, count out in fields 3 to 5
            const uint32_t give = std::min({f[4], script.count, script.dataLength});
            std::memcpy(P<void>(f[3]), script.data, give);
            *P<uint32_t>(f[5]) = give + script.extra;
        }
        return 0;
    case Act::None:
        return -1;
    }
    return -1;
}

} // namespace

#ifndef STANDIN_NO_ENTRY
#if STANDIN_LIBRARY == 1
extern "C" int32_t __stdcall DEFPR_IO_IF(uint32_t op, uint32_t handle, void *block) {
    return Run(op, handle, 0, block);
}
#elif STANDIN_LIBRARY == 2
extern "C" int32_t __stdcall Vzeklpt_IO_IF(uint32_t op, uint32_t handle, uint32_t port,
                                           void *block) {
    return Run(op, handle, port, block);
}
#elif STANDIN_LIBRARY == 3
extern "C" int32_t __stdcall USB_IO_IF(uint32_t op, uint32_t handle, void *block) {
    return Run(op, handle, 0, block);
}
#elif STANDIN_LIBRARY == 4
extern "C" int32_t __stdcall USBtoLPT_IO_IF(uint32_t op, uint32_t handle, void *block) {
    return Run(op, handle, 0, block);
}
#elif STANDIN_LIBRARY == 5
extern "C" int32_t __stdcall MFPI_IO_IF(uint32_t op, uint32_t handle, void *block) {
    return Run(op, handle, 0, block);
}
#endif
#endif

extern "C" {

void __cdecl Standin_Reset() {
    std::lock_guard<std::mutex> guard(S().lock);
    for (auto &[device, send] : S().sends)
        if (send.memory)
            GlobalUnlock(send.memory);
    S().scripts.clear();
    S().calls.clear();
    S().sinks.clear();
    S().sends.clear();
    S().taken.clear();
}

void __cdecl Standin_SetScript(uint32_t op, const StandinScript *script) {
    std::lock_guard<std::mutex> guard(S().lock);
    if (script)
        S().scripts[op] = *script;
    else
        S().scripts.erase(op);
}

uint32_t __cdecl Standin_CallCount() {
    std::lock_guard<std::mutex> guard(S().lock);
    return static_cast<uint32_t>(S().calls.size());
}

int __cdecl Standin_GetCall(uint32_t index, StandinCall *call) {
    std::lock_guard<std::mutex> guard(S().lock);
    if (!call || index >= S().calls.size())
        return 0;
    *call = S().calls[index];
    return 1;
}

uint32_t __cdecl Standin_ReadSink(uint32_t device, void *buffer, uint32_t size) {
    std::lock_guard<std::mutex> guard(S().lock);
    const auto it = S().sinks.find(device);
    if (it == S().sinks.end())
        return 0;
    const uint32_t n = std::min<uint32_t>(size, static_cast<uint32_t>(it->second.size()));
    if (buffer)
        std::memcpy(buffer, it->second.data(), n);
    return static_cast<uint32_t>(it->second.size());
}

uint32_t __cdecl Standin_Path(char *buffer, uint32_t size) {
    return GetModuleFileNameA(g_module, buffer, size);
}

uint32_t __cdecl Standin_OpenDevices() {
    std::lock_guard<std::mutex> guard(S().lock);
    return S().openDevices;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        g_module = instance;
    return TRUE;
}

} // extern "C"
