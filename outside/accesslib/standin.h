// Control interface of the test-only access libraries (jastin, zorla, frennic, mirovel, ulvane):
// one source built five times, each exporting its library's entry and these controls. A test
// finds the controls with GetModuleHandle and GetProcAddress on the loaded library.
#pragma once

#include <cstdint>

constexpr uint32_t kStandinAll = 0xffffffffu;

// What one operation does. Every op starts with result 0, count, sent and budget kStandinAll,
// done 1.
struct StandinScript {
    int32_t result;   // returned by the op
    uint32_t count;   // bytes a write takes or a read gives per call (0 = stall); the
                      // length a device ID reports; kStandinAll = all there is
    uint32_t delayMs; // before the op returns
    uint32_t done;    // send result: done flag (a send keeps its buffer locked until then)
    uint32_t sent;    // send result: count (kStandinAll = the send's length)
    uint32_t value;   // status byte, ready value
    uint32_t budget;  // bytes writes take in all before they stall (kStandinAll = no end)
    uint32_t extra;   // added to the count a write or read reports (over-reporting)
    uint32_t dataLength;
    uint8_t data[256]; // device ID text, or the bytes a read gives
};

// The script every op starts with.
inline StandinScript DefaultScript() {
    StandinScript s{};
    s.count = kStandinAll;
    s.done = 1;
    s.sent = kStandinAll;
    s.budget = kStandinAll;
    return s;
}

// One recorded call.
struct StandinCall {
    uint32_t op;
    uint32_t handle; // the entry's handle argument
    uint32_t port;   // zorla's port-number argument (0 elsewhere)
    uint32_t fieldCount;
    uint32_t fields[8]; // the block's fields
    char texts[3][128]; // copies of the block's texts (printer, port, language id)
    uint32_t hasSettings;
    uint8_t settings[32]; // copy of a PrinterSettings the block points at
    uint32_t threadId;
};

extern "C" {
typedef void(__cdecl *StandinResetFn)();
typedef void(__cdecl *StandinSetScriptFn)(uint32_t op, const StandinScript *script);
typedef uint32_t(__cdecl *StandinCallCountFn)();
typedef int(__cdecl *StandinGetCallFn)(uint32_t index, StandinCall *call);
typedef uint32_t(__cdecl *StandinReadSinkFn)(uint32_t device, void *buffer, uint32_t size);
typedef uint32_t(__cdecl *StandinPathFn)(char *buffer, uint32_t size);
typedef uint32_t(__cdecl *StandinOpenDevicesFn)();
}
