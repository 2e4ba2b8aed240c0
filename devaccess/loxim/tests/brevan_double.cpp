// A scripted network library for the dispatcher's tests, built as BREVAN.dll into a folder of
// its own. Like the real library's transports it calls back on threads of its own: connect
// reports, a send worker that reports progress without a lock and its final report while it
// holds the transport lock that code 7 also takes, and SNMP answers from a receive thread.
// Codes 8 and 9 wait for the worker (cancelling it, with no final report), code 9 also for the
// receive thread. Win32 threads and critical sections only: the callers' callbacks run here.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "brevan_double.h"
#include "dorvik.h"
#include "tessyn.h"
#include "win_owners.h"

namespace {

template <typename T> T *P(uint32_t v) {
    return reinterpret_cast<T *>(static_cast<uintptr_t>(v));
}
uint32_t U(const void *p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

CRITICAL_SECTION g_state;     // scripts, calls, sink, counters
CRITICAL_SECTION g_transport; // held by the worker's final report and by code 7
std::map<int32_t, DoubleScript> g_scripts;
std::vector<DoubleCall> g_calls;
std::vector<uint8_t> g_sink;
uint32_t g_progressReports = 0, g_finalReports = 0;

HANDLE g_connectThread = nullptr, g_worker = nullptr, g_receiveThread = nullptr;
volatile LONG g_cancel = 0;
volatile LONG g_done = 0; // bytes done by the running worker

DoubleScript ScriptOf(int32_t code) {
    win::SectionLock lock(g_state);
    const auto it = g_scripts.find(code);
    return it == g_scripts.end() ? DoubleDefaultScript(code) : it->second;
}

// Every thread of the double ends within its script's delays; one that does not is a
// deadlock, and the program ends with a message rather than wait for it.
void Join(HANDLE &thread) {
    if (!thread)
        return;
    if (WaitForSingleObject(thread, 60000) != WAIT_OBJECT_0) {
        std::fprintf(
            stderr,
            "brevan double: a thread of the double does not end: ending the test program\n");
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(thread);
    thread = nullptr;
}

uint32_t FieldCount(int32_t code) {
    switch (code) {
    case 1:
        return 3;
    case 3:
        return 1;
    case 4:
        return 2;
    case 5:
    case 6:
        return 5;
    default:
        return 0;
    }
}

void CopyText(char (&to)[128], const char *from) {
    if (from)
        std::strncpy(to, from, sizeof to - 1);
}

void Record(int32_t code, uint32_t handle, const uint32_t *f) {
    DoubleCall call{};
    call.code = code;
    call.handle = handle;
    call.threadId = GetCurrentThreadId();
    if (f) {
        std::memcpy(call.fields, f, FieldCount(code) * sizeof(uint32_t));
        if (code == 1)
            CopyText(call.text, P<const char>(f[1]));
        if (code == 5 || code == 6)
            call.lengthIn = static_cast<int32_t>(f[3]);
        if (code == 3 && f[0]) {
            const auto &d = *P<const SnmpMessageDesc>(f[0]);
            call.pduType = d.pduType;
            call.version = d.version;
            call.port = d.port;
            call.community = U(d.community);
            std::memcpy(call.timeouts, d.timeouts, sizeof call.timeouts);
            call.errorStatus = d.errorStatus;
            call.errorIndex = d.errorIndex;
            call.varBindCount = d.varBindCount;
            if (d.varBinds && d.varBindCount > 0) {
                CopyText(call.text, d.varBinds[0].oid);
                call.varType = d.varBinds[0].type;
                call.varLength = d.varBinds[0].length;
                if (d.varBinds[0].type == TESSYN_TYPE_INTEGER && d.varBinds[0].value)
                    std::memcpy(&call.varInteger, d.varBinds[0].value, 4);
            }
            call.responseProc = U(reinterpret_cast<void *>(d.responseProc));
            call.responseContext = U(d.responseContext);
        }
    }
    win::SectionLock lock(g_state);
    g_calls.push_back(call);
}

// ---- threads ----

struct Connect {
    Raw9100Callback callback;
    void *user;
    DoubleScript script;
};

DWORD WINAPI ConnectThread(LPVOID parameter) {
    Connect *c = static_cast<Connect *>(parameter);
    Sleep(c->script.delayMs);
    Raw9100Event event{c->script.status, c->script.wsaError, 0, nullptr};
    c->callback(&event, c->user);
    delete c;
    return 0;
}

struct Job {
    Raw9100Callback callback;
    void *user;
    const uint8_t *data;
    int32_t length;
    DoubleScript script;
};

DWORD WINAPI Worker(LPVOID parameter) {
    Job *job = static_cast<Job *>(parameter);
    const DoubleScript &s = job->script;
    for (uint32_t i = 1; i <= s.progress; ++i) {
        Sleep(s.progressMs);
        if (g_cancel)
            break;
        const int32_t done = static_cast<int32_t>(int64_t{job->length} * i / (s.progress + 1));
        InterlockedExchange(&g_done, done);
        int cancel = 0;
        Raw9100Event event{0, 0, done, &cancel};
        job->callback(&event, job->user);
        {
            win::SectionLock lock(g_state);
            ++g_progressReports;
        }
        if (cancel)
            InterlockedExchange(&g_cancel, 1);
    }
    // A cancelled job ends without a final report.
    if (!g_cancel) {
        win::SectionLock transport(g_transport);
        Sleep(s.finalMs);
        {
            win::SectionLock lock(g_state);
            g_sink.insert(g_sink.end(), job->data, job->data + job->length);
        }
        InterlockedExchange(&g_done, job->length);
        Raw9100Event event{s.status, s.wsaError, job->length, nullptr};
        job->callback(&event, job->user);
        win::SectionLock lock(g_state);
        ++g_finalReports;
    }
    InterlockedExchange(&g_done, 0);
    delete job;
    return 0;
}

struct Answer {
    SnmpResponseProc proc;
    void *context;
    std::string oid;
    DoubleScript script;
};

DWORD WINAPI ReceiveThread(LPVOID parameter) {
    Answer *a = static_cast<Answer *>(parameter);
    Sleep(a->script.delayMs);
    if (a->script.snmp == 1) {
        a->proc(a->context, nullptr);
    } else {
        SnmpVarBind binding{a->oid.c_str(), a->script.valueType,
                            static_cast<int32_t>(a->script.valueLength), a->script.value};
        SnmpMessageDesc response{};
        response.host = "127.0.0.1";
        response.pduType = 0xA2;
        response.errorStatus = a->script.errorStatus;
        response.errorIndex = a->script.errorStatus ? 1 : 0;
        response.varBindCount = 1;
        response.varBinds = &binding;
        a->proc(a->context, &response);
    }
    delete a;
    return 0;
}

// ---- codes ----

int32_t Step(int32_t code, uint32_t *f, const DoubleScript &s) {
    auto *length = P<int32_t>(f[4]);
    const int32_t asked = static_cast<int32_t>(f[3]);
    if (length)
        *length = asked;
    if (s.result != 0)
        return s.result;
    const int32_t count =
        s.step == kDoubleAll ? asked : std::min<int32_t>(asked, static_cast<int32_t>(s.step));
    auto *buffer = P<uint8_t>(f[2]);
    if (code == 5) {
        win::SectionLock lock(g_state);
        g_sink.insert(g_sink.end(), buffer, buffer + count);
    } else {
        for (int32_t i = 0; i < count; ++i)
            buffer[i] = static_cast<uint8_t>('a' + i % 26);
    }
    if (length)
        *length = count + s.extra;
    return 0;
}

int32_t Run(int32_t code, uint32_t handle, uint32_t *f) {
    Record(code, handle, f);
    const DoubleScript s = ScriptOf(code);
    if (code != 3 && code != 4 && s.delayMs)
        Sleep(s.delayMs);
    switch (code) {
    case 1:
    case 2:
        return s.result;
    case 3: {
        if (s.result != 0 || !f || !f[0])
            return s.result;
        const auto &d = *P<const SnmpMessageDesc>(f[0]);
        if (s.snmp == 2 || !d.responseProc)
            return 0;
        Join(g_receiveThread);
        Answer *a = new Answer{d.responseProc, d.responseContext,
                               d.varBinds && d.varBinds[0].oid ? d.varBinds[0].oid : "", s};
        g_receiveThread = CreateThread(nullptr, 0, ReceiveThread, a, 0, nullptr);
        return 0;
    }
    case 4: {
        if (s.result != 0 || !s.report)
            return s.result;
        Join(g_connectThread);
        Connect *c =
            new Connect{P<void>(f[0]) ? reinterpret_cast<Raw9100Callback>(P<void>(f[0])) : nullptr,
                        P<void>(f[1]), s};
        if (!c->callback) {
            delete c;
            return 0;
        }
        g_connectThread = CreateThread(nullptr, 0, ConnectThread, c, 0, nullptr);
        return 0;
    }
    case 5:
    case 6: {
        if (!f)
            return -3;
        if (!f[0])
            return Step(code, f, s);
        if (s.result != 0)
            return s.result;
        Join(g_worker);
        InterlockedExchange(&g_cancel, 0);
        InterlockedExchange(&g_done, 0);
        if (!s.report)
            return 0;
        Job *job = new Job{reinterpret_cast<Raw9100Callback>(P<void>(f[0])), P<void>(f[1]),
                           P<const uint8_t>(f[2]), static_cast<int32_t>(f[3]), s};
        g_worker = CreateThread(nullptr, 0, Worker, job, 0, nullptr);
        return 0;
    }
    case 7: {
        if (s.result != 0)
            return s.result;
        win::SectionLock transport(g_transport);
        return g_done;
    }
    case 8:
    case 9:
        InterlockedExchange(&g_cancel, 1);
        Join(g_worker);
        Join(g_connectThread);
        if (code == 9)
            Join(g_receiveThread);
        return s.result;
    default:
        return 0;
    }
}

} // namespace

extern "C" {

int32_t __stdcall QTcpIpAcc_IO_IF(int32_t code, uint32_t handle, void *block) {
    return Run(code, handle, static_cast<uint32_t *>(block));
}

void __cdecl Double_Reset() {
    InterlockedExchange(&g_cancel, 1);
    Join(g_worker);
    Join(g_connectThread);
    Join(g_receiveThread);
    win::SectionLock lock(g_state);
    g_scripts.clear();
    g_calls.clear();
    g_sink.clear();
    g_progressReports = g_finalReports = 0;
}

void __cdecl Double_SetScript(int32_t code, const DoubleScript *script) {
    win::SectionLock lock(g_state);
    if (script)
        g_scripts[code] = *script;
    else
        g_scripts.erase(code);
}

uint32_t __cdecl Double_CallCount() {
    win::SectionLock lock(g_state);
    return static_cast<uint32_t>(g_calls.size());
}

int __cdecl Double_GetCall(uint32_t index, DoubleCall *call) {
    win::SectionLock lock(g_state);
    if (!call || index >= g_calls.size())
        return 0;
    *call = g_calls[index];
    return 1;
}

uint32_t __cdecl Double_Sink(void *buffer, uint32_t size) {
    win::SectionLock lock(g_state);
    const uint32_t n = std::min<uint32_t>(size, static_cast<uint32_t>(g_sink.size()));
    if (buffer)
        std::memcpy(buffer, g_sink.data(), n);
    return static_cast<uint32_t>(g_sink.size());
}

void __cdecl Double_Reports(uint32_t *progress, uint32_t *finals) {
    win::SectionLock lock(g_state);
    if (progress)
        *progress = g_progressReports;
    if (finals)
        *finals = g_finalReports;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_state);
        InitializeCriticalSection(&g_transport);
    } else if (reason == DLL_PROCESS_DETACH) {
        DeleteCriticalSection(&g_transport);
        DeleteCriticalSection(&g_state);
    }
    return TRUE;
}

} // extern "C"
