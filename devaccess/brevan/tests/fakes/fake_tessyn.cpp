// A fake tessyn.dll: scripted results, a call log with copies of what each call was given, and
// a response procedure called on a thread of its own.
//   FAKE_OPEN_PORT, FAKE_POST, FAKE_CLOSE_PORT: results (defaults 0x10005, 0, 1);
//   FAKE_CLOSE_CALLS=1: Tessyn_ClosePort calls the last response procedure with the answer
//   "55" on another thread and waits for it, as the real close waits for its threads.
#include <cinttypes>
#include <string>

#include "fake_log.h"
#include "tessyn.h"

namespace {

HMODULE g_module;
SnmpResponseProc g_proc;
void *g_context;

std::string Pointer(const void *p) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%" PRIxPTR, reinterpret_cast<uintptr_t>(p));
    return text;
}

// One response, as the real transport builds it: an OCTET STRING (kind 0) or an INTEGER
// (kind 1) in one binding, or no info at all (kind 2, a time-out).
struct Response {
    int kind;
    std::string text;
    int32_t number;
    SnmpResponseProc proc;
    void *context;
};

DWORD WINAPI Respond(void *param) {
    auto *r = static_cast<Response *>(param);
    SnmpVarBind bind{"1.3.6.1.4.1.7341.1.1.1.1.2.10.0", TESSYN_TYPE_NULL, 0, nullptr};
    if (r->kind == 0) {
        bind.type = TESSYN_TYPE_OCTET_STRING;
        bind.length = static_cast<int32_t>(r->text.size());
        bind.value = r->text.c_str();
    } else if (r->kind == 1) {
        bind.type = TESSYN_TYPE_INTEGER;
        bind.length = 4;
        bind.value = &r->number;
    }
    SnmpMessageDesc info{};
    info.host = "127.0.0.1";
    info.port = 161;
    info.pduType = 0xA2;
    info.varBindCount = 1;
    info.varBinds = &bind;
    r->proc(r->context, r->kind == 2 ? nullptr : &info);
    return 0;
}

int RespondAndWait(Response response) {
    if (!response.proc)
        return -1;
    HANDLE thread = CreateThread(nullptr, 0, Respond, &response, 0, nullptr);
    if (!thread)
        return -1;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return 0;
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        g_module = instance;
    return TRUE;
}

extern "C" {

int32_t TESSYN_CALL Tessyn_OpenPort(int32_t kind, int32_t localPort) {
    fake::Log("tessyn.OpenPort kind=%d local=%d module=%s", kind, localPort,
              fake::ModulePath(g_module).c_str());
    return fake::Scripted("OPEN_PORT", 0x10005);
}

int32_t TESSYN_CALL Tessyn_PostSnmpMessage(int32_t handle, const SnmpMessageDesc *d) {
    if (!d) {
        fake::Log("tessyn.Post handle=%d desc=(null)", handle);
        return fake::Scripted("POST", -3);
    }
    std::string binds;
    for (int32_t i = 0; i < d->varBindCount && d->varBinds; ++i) {
        const SnmpVarBind &b = d->varBinds[i];
        binds += " oid=" + fake::Text(b.oid) + " type=" + std::to_string(b.type) +
                 " length=" + std::to_string(b.length) + " value=" + Pointer(b.value);
    }
    fake::Log("tessyn.Post handle=%d desc=set host=%s port=%d pdu=%d version=%d community=%s "
              "timeouts=%d,%d,%d,%d errorStatus=%d errorIndex=%d requestId=%d count=%d%s proc=%s "
              "context=%s",
              handle, fake::Text(d->host).c_str(), d->port, d->pduType, d->version,
              fake::Text(d->community).c_str(), d->timeouts[0], d->timeouts[1], d->timeouts[2],
              d->timeouts[3], d->errorStatus, d->errorIndex, d->requestId, d->varBindCount,
              binds.c_str(), Pointer(reinterpret_cast<const void *>(d->responseProc)).c_str(),
              Pointer(d->responseContext).c_str());
    g_proc = d->responseProc;
    g_context = d->responseContext;
    return fake::Scripted("POST", 0);
}

int32_t TESSYN_CALL Tessyn_ClosePort(int32_t handle) {
    fake::Log("tessyn.ClosePort handle=%d", handle);
    if (fake::Scripted("CLOSE_CALLS", 0) == 1) {
        RespondAndWait({0, "55", 0, g_proc, g_context});
        fake::Log("tessyn.ClosePort waited");
    }
    return fake::Scripted("CLOSE_PORT", 1);
}

// Calls the last posted response procedure on a thread of its own and waits for it: kind 0
// answers the text as an OCTET STRING, 1 the number as an INTEGER, 2 a time-out (no info).
// 0, or -1 when nothing was posted.
int Fake_Respond(int kind, const char *text, int32_t number) {
    return RespondAndWait({kind, text ? text : "", number, g_proc, g_context});
}

} // extern "C"
