// Control interface of the test-only network library double (built as BREVAN.dll for the
// dispatcher's tests, never shipped). It records every call with its block and answers as each
// code's script says. A test finds the controls with GetModuleHandle and GetProcAddress.
#pragma once

#include <cstdint>

constexpr uint32_t kDoubleAll = 0xffffffffu;

// What one code does. Every code starts with the default script (DoubleDefaultScript).
struct DoubleScript {
    int32_t result;   // returned; codes 1 and 2: the value returned (session handle, status)
    uint32_t delayMs; // code 4: the connect report after this long; others: before returning
    int32_t status;   // code 4: status of the connect report; code 5 with a callback: final
    int32_t wsaError;
    uint32_t report;     // codes 4 and 5 with a callback: 0 = no report at all
    uint32_t step;       // codes 5 and 6, one step: bytes moved per call (kDoubleAll = all asked)
    int32_t extra;       // added to the count a step reports (over-reporting)
    uint32_t progress;   // code 5 with a callback: progress reports before the final one
    uint32_t progressMs; // pause before each progress report
    uint32_t finalMs;    // pause inside the transport lock before the final report
    uint32_t snmp;       // code 3: 0 answer with the value, 1 answer NULL, 2 never answer
    int32_t errorStatus; // code 3: the answer's error status
    int32_t valueType;
    uint32_t valueLength;
    uint8_t value[64];
};

// One recorded call.
struct DoubleCall {
    int32_t code;
    uint32_t handle;
    uint32_t fields[5]; // the block's first five 32-bit fields (0 without a block)
    int32_t lengthIn;   // codes 5 and 6: the block's length
    char text[128];     // code 1: the host text; code 3: the first OID
    // code 3: the message descriptor
    int32_t pduType, version, port;
    uint32_t community;
    int32_t timeouts[4];
    int32_t errorStatus, errorIndex, varBindCount;
    int32_t varType, varLength, varInteger;
    uint32_t responseProc, responseContext;
    uint32_t threadId;
};

extern "C" {
typedef void(__cdecl *DoubleResetFn)();
typedef void(__cdecl *DoubleSetScriptFn)(int32_t code, const DoubleScript *script);
typedef uint32_t(__cdecl *DoubleCallCountFn)();
typedef int(__cdecl *DoubleGetCallFn)(uint32_t index, DoubleCall *call);
// Bytes written by code 5 (steps and jobs), in order.
typedef uint32_t(__cdecl *DoubleSinkFn)(void *buffer, uint32_t size);
// Progress reports delivered and final reports delivered so far.
typedef void(__cdecl *DoubleReportsFn)(uint32_t *progress, uint32_t *finals);
}

inline DoubleScript DoubleDefaultScript(int32_t code) {
    DoubleScript s{};
    s.result = code == 1 ? 1 : 0;
    s.status = code == 4 ? 3 : 2;
    s.report = 1;
    s.step = kDoubleAll;
    s.valueType = 4;
    return s;
}
